#include "Recording.h"

namespace zumi {
namespace tool {

const char* const RECORDING_FORMAT = "zumi-recording";

void writeRecordingHeader(std::ostream& out, int64_t startUsec) {
    const nlohmann::json header = {
        {"format", RECORDING_FORMAT}, {"version", RECORDING_VERSION}, {"started", isoTime(startUsec)}};
    out << dumpLine(header) << std::endl;
}

std::vector<Operation> readRecording(std::istream& in, const std::string& name, std::string* started) {
    std::vector<Operation> operations;
    bool headerSeen = false;
    long number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        const std::string where = name + ":" + std::to_string(number) + ": ";
        nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        if (object.is_discarded()) throw RecordingError(where + "not a JSON value");
        if (!headerSeen) {
            if (!object.is_object() || object.value("format", std::string()) != RECORDING_FORMAT) {
                throw RecordingError(where + "not a zumi recording (the first line names no \"format\": \"" +
                                     RECORDING_FORMAT + "\")");
            }
            const nlohmann::json version = object.value("version", nlohmann::json());
            if (!version.is_number_integer() || version.get<int>() < 1) {
                throw RecordingError(where + "the recording's \"version\" is not a positive integer");
            }
            if (version.get<int>() > RECORDING_VERSION) {
                throw RecordingError(where + "recording version " + std::to_string(version.get<int>()) +
                                     " is newer than this zumi reads (" + std::to_string(RECORDING_VERSION) + ")");
            }
            if (started != nullptr) *started = object.value("started", std::string());
            headerSeen = true;
            continue;
        }
        Operation operation;
        try {
            if (fromJson(object, &operation)) operations.push_back(std::move(operation));
        } catch (const RecordingError& e) {
            throw RecordingError(where + e.what());
        }
    }
    if (!headerSeen) throw RecordingError(name + ": empty, not a zumi recording");
    return operations;
}

}  // namespace tool
}  // namespace zumi
