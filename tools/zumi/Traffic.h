#ifndef ZUMI_TOOLS_TRAFFIC_H
#define ZUMI_TOOLS_TRAFFIC_H

// One operation seen on the bus, as zumi monitor prints it and zumi record
// writes it: a get, set or listing with its caller, value, status and
// latency; an event with its parameters; a service that came or went; and,
// in recordings only, a property's value when recording started. It converts
// from the bus library's monitoring record, to and from one JSON object (the
// recording format, docs/recording-format.md) and to one line of text.
//
// Threads: plain values; the caller's thread.

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Args.h"
#include "BusExtras.h"
#include "Json.h"
#include <libzumi/ZumiBus.h>

namespace zumi {
namespace tool {

struct Operation {
    enum Kind { Get, Set, List, Event, ServiceUp, ServiceDown, Property };

    Kind kind = Get;
    int64_t timeUsec = 0;     // wall clock, microseconds since the epoch
    double offset = 0;        // seconds since the recording started (recordings only)
    long long latencyUsec = -1;
    std::string caller;
    int callerPid = 0;
    std::string service;      // the service asked, or the event's source
    std::string name;         // property or event
    PropertyType type = PropertyType::Int;
    ZumiStatus status = ZUMI_OK;
    bool hasValue = false;    // number, text or hashes, by type
    int number = 0;
    std::string text;
    HashList hashes;
    bool hasReply = false;    // a hash-array set: the service's reply
    HashList reply;
    std::vector<int> ints;    // event parameters
    std::vector<std::string> strings;
    bool spoofed = false;
    bool readable = true;     // Property: the access the service listed
    bool writable = true;

    bool isPropertyCall() const { return kind == Get || kind == Set; }
};

// A record or a line that is not an operation; the text says what is wrong.
class RecordingError : public std::runtime_error {
public:
    explicit RecordingError(const std::string& what) : std::runtime_error(what) {}
};

Operation fromTraffic(const ZumiTraffic& traffic);

// The recording's object for the operation; with offset when withOffset.
nlohmann::json toJson(const Operation& operation, bool withOffset);
// Throws RecordingError for an object that is not one; an unknown "op" is
// reported by returning false, so that newer recordings still play.
bool fromJson(const nlohmann::json& object, Operation* operation);

// The object on one line. Bytes that are not UTF-8 (the bus carries any
// non-NUL byte) become U+FFFD rather than failing the line.
std::string dumpLine(const nlohmann::json& object);

// The value of a get, set or property as a line shows it: a number, a JSON
// string literal, a hash array's JSON.
std::string valueText(const Operation& operation);

// One line for people: local time, caller, operation, value, status, latency.
std::string toLine(const Operation& operation);

// The filters of monitor and record: several of each kind allowed. Services
// restrict everything to those services (an event by its source); properties
// and events, when either is given, keep only the properties and events named.
struct Filter {
    std::set<std::string> services, properties, events;
    static Filter fromArgs(const Args& args);
    bool accepts(const Operation& operation) const;
};

// The filters' options and their help text (with --count and --duration).
std::vector<OptionSpec> withFilterOptions(std::vector<OptionSpec> options);
extern const char* const FILTER_HELP;

// "2026-01-31T23:59:59.123456Z" for microseconds since the epoch.
std::string isoTime(int64_t usec);

// The property type's name in recordings and lines ("int", "string", "hash").
PropertyType typeFromName(const std::string& name);

}  // namespace tool
}  // namespace zumi

#endif
