// zumi record: the decoded traffic of the bus into a file, as JSON lines
// (Recording.h), after the values that the recorded services' properties
// have when recording starts.

#include <errno.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include <zumi/zumi.h>

#include "Commands.h"
#include "Recording.h"
#include "Watch.h"

namespace zumi {
namespace tool {

using veltra::kesh::zumi::ZumiException;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

namespace {

void readValue(ZumiHandle handle, Operation* op) {
    const char* service = op->service.c_str();
    const char* property = op->name.c_str();
    switch (op->type) {
        case PropertyType::Int:
            op->status = ZumiGetIntProperty(handle, service, property, &op->number);
            break;
        case PropertyType::String: {
            char* text = nullptr;
            op->status = ZumiGetStringProperty(handle, service, property, &text);
            if (op->status == ZUMI_OK && text != nullptr) op->text = text;
            ZumiFreeString(text);
            break;
        }
        case PropertyType::Hash: {
            ZumiHasharrayHandleStruct* raw = nullptr;
            op->status = ZumiAccessHasharrayProperty(handle, service, property, nullptr, &raw);
            HashArrayPtr reply(raw);  // ours whatever the status
            if (op->status == ZUMI_OK && reply) op->hashes = readHashArray(reply.get());
            break;
        }
    }
    op->hasValue = op->status == ZUMI_OK;
}

// Every property of the services that pass the filter, with its value when
// it can be read. A service that leaves meanwhile is left out.
std::vector<Operation> startValues(ZumiHandle handle, const Filter& filter) {
    std::vector<Operation> values;
    for (const std::string& service : listServices(handle)) {
        std::vector<PropertyInfo> properties;
        try {
            properties = listProperties(handle, service);
        } catch (const ZumiException&) {
            continue;
        }
        for (const PropertyInfo& info : properties) {
            Operation op;
            op.kind = Operation::Property;
            op.service = service;
            op.name = info.name;
            op.type = info.type;
            op.readable = info.readable;
            op.writable = info.writable;
            if (!filter.accepts(op)) continue;
            if (info.readable) {
                readValue(handle, &op);
            } else {
                op.status = ZUMI_ERR_ACCESS_DENIED;
            }
            values.push_back(std::move(op));
        }
    }
    return values;
}

int runRecord(const Args& args, std::ostream& out, std::ostream& err) {
    args.expectPositionals({"FILE"}, 1);
    const Filter filter = Filter::fromArgs(args);
    const WatchLimits limits = watchLimits(args);
    const std::string& path = args.positionals()[0];
    std::ofstream file;
    std::ostream* sink = &out;
    if (path != "-") {
        file.open(path, std::ios::out | std::ios::trunc);
        if (!file) throw std::runtime_error("cannot write " + path + ": " + strerror(errno));
        sink = &file;
    }
    StopSignals signals;
    // Open while recording, so that the monitor can still tell that the
    // reads of the start values came from this process.
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(CLIENT_ID);
    int64_t start = 0;
    long recorded = 0;
    auto write = [&](Operation& op) {
        op.offset = op.timeUsec > start ? static_cast<double>(op.timeUsec - start) / 1e6 : 0.0;
        *sink << dumpLine(toJson(op, true)) << std::endl;  // flushed: an interrupted recording keeps its lines
    };
    watchBus(
        "zumi record", limits, err,
        [&](const ZumiTraffic& traffic) {
            // This process's only traffic: reading the start values.
            if (traffic.callerPid == getpid()) return false;
            Operation op = fromTraffic(traffic);
            if (!filter.accepts(op)) return false;
            write(op);
            ++recorded;
            return true;
        },
        [] {},
        [&] {
            start = realtimeUsec();
            writeRecordingHeader(*sink, start);
            for (Operation& op : startValues(handler->getUnderlyingZumiHandle(), filter)) {
                op.timeUsec = start;
                write(op);
            }
        });
    if (!*sink) throw std::runtime_error("could not write " + path);
    err << "zumi record: " << recorded << " operations recorded" << std::endl;
    return 0;
}

}  // namespace

const Command& recordCommand() {
    static const Command command{
        "record", "record the bus traffic into a file",
        "Usage: zumi record [--service NAME]... [--property NAME]... [--event NAME]...\n"
        "                   [--count N] [--duration SECS] FILE\n"
        "\n"
        "Records the traffic that zumi monitor shows into FILE ('-' for standard\n"
        "output) until interrupted (SIGINT or SIGTERM, exit status 0): JSON lines,\n"
        "a header, the value of every property of the recorded services when\n"
        "recording starts, then one line per operation with its time from the\n"
        "start. The format is versioned and documented in docs/recording-format.md;\n"
        "zumi replay plays it back.\n"
        "\n"
        "Options:\n" +
            std::string(FILTER_HELP) + "  -h, --help        show this help\n",
        withFilterOptions({}), runRecord};
    return command;
}

}  // namespace tool
}  // namespace zumi
