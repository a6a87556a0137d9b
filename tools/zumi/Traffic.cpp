#include "Traffic.h"

#include <stdio.h>
#include <time.h>

#include <map>

namespace zumi {
namespace tool {

using nlohmann::json;

namespace {

const std::map<Operation::Kind, std::string>& opNames() {
    static const std::map<Operation::Kind, std::string> names = {
        {Operation::Get, "get"},           {Operation::Set, "set"},
        {Operation::List, "list"},         {Operation::Event, "event"},
        {Operation::ServiceUp, "service-up"}, {Operation::ServiceDown, "service-down"},
        {Operation::Property, "property"}};
    return names;
}

std::string localTime(int64_t usec) {
    time_t seconds = static_cast<time_t>(usec / 1000000);
    struct tm local;
    localtime_r(&seconds, &local);
    char text[32];
    snprintf(text, sizeof text, "%02d:%02d:%02d.%06d", local.tm_hour, local.tm_min, local.tm_sec,
             static_cast<int>(usec % 1000000));
    return text;
}

std::string accessName(bool readable, bool writable) {
    return readable ? (writable ? "read-write" : "read-only") : (writable ? "write-only" : "none");
}

json valueToJson(const Operation& op) {
    switch (op.type) {
        case PropertyType::Int: return op.number;
        case PropertyType::String: return op.text;
        case PropertyType::Hash: return toJson(op.hashes);
    }
    return nullptr;
}

void valueFromJson(const json& value, Operation* op) {
    switch (op->type) {
        case PropertyType::Int:
            if (!value.is_number_integer()) throw RecordingError("an int value must be an integer");
            op->number = value.get<int>();
            break;
        case PropertyType::String:
            if (!value.is_string()) throw RecordingError("a string value must be a JSON string");
            op->text = value.get<std::string>();
            break;
        case PropertyType::Hash: op->hashes = hashListFromJson(value); break;
    }
    op->hasValue = true;
}

template <typename T>
T field(const json& object, const char* key, T fallback) {
    auto found = object.find(key);
    return found == object.end() || found->is_null() ? fallback : found->get<T>();
}

}  // namespace

std::string valueText(const Operation& op) {
    switch (op.type) {
        case PropertyType::Int: return std::to_string(op.number);
        case PropertyType::String: return quoteString(op.text);
        case PropertyType::Hash: return writeHashList(op.hashes);
    }
    return "";
}

std::string isoTime(int64_t usec) {
    time_t seconds = static_cast<time_t>(usec / 1000000);
    struct tm utc;
    gmtime_r(&seconds, &utc);
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", utc.tm_year + 1900, utc.tm_mon + 1,
             utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(usec % 1000000));
    return text;
}

PropertyType typeFromName(const std::string& name) {
    if (name == "int") return PropertyType::Int;
    if (name == "string") return PropertyType::String;
    if (name == "hash") return PropertyType::Hash;
    throw RecordingError("unknown property type '" + name + "'");
}

Operation fromTraffic(const ZumiTraffic& traffic) {
    static const Operation::Kind kinds[] = {Operation::Get,   Operation::Set,       Operation::List,
                                            Operation::Event, Operation::ServiceUp, Operation::ServiceDown};
    Operation op;
    op.kind = kinds[traffic.kind];
    op.timeUsec = traffic.timeUsec;
    op.latencyUsec = traffic.latencyUsec;
    op.caller = traffic.caller;
    op.callerPid = traffic.callerPid;
    op.service = traffic.service;
    op.name = traffic.name;
    op.type = traffic.type == ZUMI_TYPE_STRING      ? PropertyType::String
              : traffic.type == ZUMI_TYPE_HASHARRAY ? PropertyType::Hash
                                                    : PropertyType::Int;
    op.status = traffic.status;
    op.hasValue = traffic.hasValue != 0;
    op.number = traffic.intValue;
    op.text = traffic.text;
    if (traffic.array != nullptr) op.hashes = readHashArray(traffic.array);
    op.hasReply = traffic.reply != nullptr;
    if (op.hasReply) op.reply = readHashArray(traffic.reply);
    op.ints.assign(traffic.ints, traffic.ints + traffic.intCount);
    op.strings.assign(traffic.strings, traffic.strings + traffic.stringCount);
    op.spoofed = traffic.spoofed != 0;
    return op;
}

json toJson(const Operation& op, bool withOffset) {
    json object = json::object();
    if (withOffset) object["t"] = static_cast<double>(static_cast<long long>(op.offset * 1e6 + 0.5)) / 1e6;
    object["op"] = opNames().at(op.kind);
    if (op.timeUsec != 0) object["time"] = isoTime(op.timeUsec);
    if (op.kind != Operation::Property) {
        object["caller"] = op.caller;
        if (op.callerPid != 0) object["pid"] = op.callerPid;
    }
    if (op.kind == Operation::Event) {
        object["source"] = op.service;
        object["event"] = op.name;
        object["ints"] = op.ints;
        object["strings"] = op.strings;
        object["spoofed"] = op.spoofed;
        return object;
    }
    object["service"] = op.service;
    if (op.kind == Operation::ServiceUp || op.kind == Operation::ServiceDown) return object;
    if (op.kind != Operation::List) {
        object["property"] = op.name;
        object["type"] = typeName(op.type);
    }
    if (op.kind == Operation::Property) object["access"] = accessName(op.readable, op.writable);
    if (op.hasValue) object["value"] = valueToJson(op);
    if (op.hasReply) object["reply"] = toJson(op.reply);
    object["status"] = op.status;
    object["error"] = ZumiGetErrorString(op.status);
    if (op.latencyUsec >= 0) object["latency_ms"] = static_cast<double>(op.latencyUsec) / 1000.0;
    return object;
}

bool fromJson(const json& object, Operation* op) {
    if (!object.is_object()) throw RecordingError("a line must be a JSON object");
    try {
        const std::string kind = field<std::string>(object, "op", "");
        bool known = false;
        for (const auto& name : opNames()) {
            if (name.second == kind) {
                op->kind = name.first;
                known = true;
            }
        }
        if (!known) return false;
        op->offset = field<double>(object, "t", 0.0);
        if (op->offset < 0) throw RecordingError("\"t\" must not be negative");
        op->caller = field<std::string>(object, "caller", "");
        op->callerPid = field<int>(object, "pid", 0);
        if (op->kind == Operation::Event) {
            op->service = field<std::string>(object, "source", "");
            op->name = field<std::string>(object, "event", "");
            op->ints = field<std::vector<int>>(object, "ints", {});
            op->strings = field<std::vector<std::string>>(object, "strings", {});
            op->spoofed = field<bool>(object, "spoofed", false);
            if (op->service.empty() || op->name.empty()) throw RecordingError("an event needs \"source\" and \"event\"");
            return true;
        }
        op->service = field<std::string>(object, "service", "");
        if (op->service.empty()) throw RecordingError("\"service\" is missing");
        if (op->kind == Operation::ServiceUp || op->kind == Operation::ServiceDown) return true;
        op->status = field<ZumiStatus>(object, "status", ZUMI_OK);
        const double latency = field<double>(object, "latency_ms", -1.0);
        op->latencyUsec = latency < 0 ? -1 : static_cast<long long>(latency * 1000.0 + 0.5);
        if (op->kind == Operation::List) return true;
        op->name = field<std::string>(object, "property", "");
        if (op->name.empty()) throw RecordingError("\"property\" is missing");
        op->type = typeFromName(field<std::string>(object, "type", ""));
        const std::string access = field<std::string>(object, "access", "read-write");
        op->readable = access == "read-write" || access == "read-only";
        op->writable = access == "read-write" || access == "write-only";
        if (object.contains("value") && !object["value"].is_null()) valueFromJson(object["value"], op);
        if (object.contains("reply") && !object["reply"].is_null()) {
            op->reply = hashListFromJson(object["reply"]);
            op->hasReply = true;
        }
        return true;
    } catch (const JsonError& e) {
        throw RecordingError(e.what());
    } catch (const json::exception& e) {
        throw RecordingError(std::string("a field has the wrong kind of value (") + e.what() + ")");
    }
}

std::string dumpLine(const json& object) {
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string toLine(const Operation& op) {
    std::string line = localTime(op.timeUsec) + " " + op.caller + " " + opNames().at(op.kind);
    if (op.kind == Operation::Event) {
        line += " " + op.service + " " + op.name;
        for (int number : op.ints) line += " " + std::to_string(number);
        for (const std::string& text : op.strings) line += " " + quoteString(text);
        if (op.spoofed) line += " SPOOFED (the sender does not own " + op.service + ")";
        return line;
    }
    line += " " + op.service;
    if (op.kind == Operation::ServiceUp || op.kind == Operation::ServiceDown) return line;
    if (op.kind != Operation::List) line += std::string(" ") + op.name + " " + typeName(op.type);
    if (op.hasValue) line += " = " + valueText(op);
    if (op.hasReply) line += " reply " + writeHashList(op.reply);
    line += " [" + std::to_string(op.status) + " " + ZumiGetErrorString(op.status) + "]";
    if (op.latencyUsec >= 0) {
        char latency[32];
        snprintf(latency, sizeof latency, " %.3f ms", static_cast<double>(op.latencyUsec) / 1000.0);
        line += latency;
    }
    return line;
}

std::vector<OptionSpec> withFilterOptions(std::vector<OptionSpec> options) {
    for (const char* name : {"service", "property", "event", "count", "duration"}) options.push_back({name, true});
    return options;
}

const char* const FILTER_HELP =
    "  --service NAME    only operations on the service NAME, and its events\n"
    "  --property NAME   only operations on properties called NAME\n"
    "  --event NAME      only events called NAME\n"
    "                    (each may be given several times; with --property or\n"
    "                    --event, only the properties and events named are kept)\n"
    "  --count N         stop after N operations\n"
    "  --duration SECS   stop after SECS seconds\n";

Filter Filter::fromArgs(const Args& args) {
    Filter filter;
    for (const char* kind : {"service", "property", "event"}) {
        for (const std::string& value : args.values(kind)) {
            if (value.empty()) throw UsageError(std::string("--") + kind + " needs a name");
        }
    }
    std::vector<std::string> services = args.values("service"), properties = args.values("property"),
                             events = args.values("event");
    filter.services.insert(services.begin(), services.end());
    filter.properties.insert(properties.begin(), properties.end());
    filter.events.insert(events.begin(), events.end());
    return filter;
}

bool Filter::accepts(const Operation& op) const {
    if (!services.empty() && services.count(op.service) == 0) return false;
    if (properties.empty() && events.empty()) return true;
    if (op.kind == Operation::Event) return events.count(op.name) != 0;
    if (op.isPropertyCall() || op.kind == Operation::Property) return properties.count(op.name) != 0;
    return false;
}

}  // namespace tool
}  // namespace zumi
