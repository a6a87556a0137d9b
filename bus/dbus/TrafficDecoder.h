#ifndef ZUMI_BUS_DBUS_TRAFFICDECODER_H
#define ZUMI_BUS_DBUS_TRAFFICDECODER_H

// Turns the messages a D-Bus monitor connection sees into the contract's
// traffic records (ZumiTraffic, libzumi/ZumiBus.h): a request to a service
// (BusNames.h) is held until its reply or error comes and then becomes one
// record with its status, value and latency; a request whose answer never
// passes the daemon (the caller gave up and its own library timed it out)
// becomes a record with ZUMI_ERR_TIMEOUT once expiryUsec has passed. Events
// become records at once, marked spoofed when the sender does not own the
// source it names at that moment; the decoder follows name ownership through
// the daemon's NameOwnerChanged signals, read in order with everything else.
//
// Calls of org.freedesktop.DBus.Properties on our object (StandardProperties.h)
// are shown in the same terms: a Get as a read, a Set as a write, each with
// the status its standard error stands for, and a GetAll as a listing and a
// read of each property it returned. A read or write that comes back refused
// does not tell the property's type: it takes the type that an earlier
// answered call showed for that property, else integer.
//
// Callers are named in the library's terms: the service the calling process
// owns (a service's outgoing calls travel on anonymous buses of the same
// process, so the process id links them), else "program[pid]", else the
// unique bus name.
//
// Threads: one thread at a time (the monitor's).

#include <sys/types.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <systemd/sd-bus.h>

#include "core/HashArray.h"
#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

// One record and everything its view points at.
struct TrafficRecord {
    ZumiTraffic view{};
    std::string caller, service, name, text;
    std::vector<int> ints;
    std::vector<std::string> strings;
    std::vector<const char*> stringViews;
    std::unique_ptr<HashArray> array, reply;

    // Points the view's texts, arrays and parameters at the members.
    void seal();
};

class TrafficDecoder {
public:
    // The process id behind a unique bus name, 0 when unknown.
    typedef std::function<pid_t(const std::string& uniqueName)> PidLookup;

    TrafficDecoder(PidLookup lookup, uint64_t expiryUsec);

    // Name ownership known before the first message (from ListNames).
    void setOwner(const std::string& name, const std::string& owner);

    // monotonicUsec times latencies and expiry; realtimeUsec stamps records.
    void feed(sd_bus_message* message, uint64_t monotonicUsec, int64_t realtimeUsec);
    // Turns requests older than expiryUsec into timed-out records.
    void expire(uint64_t monotonicUsec);
    // When the oldest unanswered request expires; UINT64_MAX when none waits.
    uint64_t nextExpiry() const;

    bool pop(std::unique_ptr<TrafficRecord>* out);

private:
    struct Pending {
        std::unique_ptr<TrafficRecord> record;
        std::string member;
        uint64_t startUsec = 0;
    };
    typedef std::pair<std::string, uint64_t> CallKey;  // (sender, cookie)

    typedef std::pair<std::string, std::string> PropertyKey;  // (service, property)

    void request(sd_bus_message* message, uint64_t monotonicUsec, int64_t realtimeUsec);
    void answer(sd_bus_message* message, uint64_t monotonicUsec);
    // org.freedesktop.DBus.Properties (TrafficStandard.cpp).
    std::unique_ptr<TrafficRecord> standardRequest(sd_bus_message* message, const char* member,
                                                   const char* sender, int64_t realtimeUsec);
    void standardAnswer(sd_bus_message* message, Pending pending);
    // Waits for the answer to the call `key`; member names the call, with
    // kStandardPrefix for those of Properties.
    void hold(const CallKey& key, std::unique_ptr<TrafficRecord> record, const std::string& member,
              uint64_t monotonicUsec);
    static constexpr const char* kStandardPrefix = "Properties.";
    int typeOf(const TrafficRecord& record) const;
    void learnType(const TrafficRecord& record);
    void event(sd_bus_message* message, int64_t realtimeUsec);
    void ownerChanged(sd_bus_message* message, int64_t realtimeUsec);
    std::unique_ptr<TrafficRecord> start(int kind, const std::string& sender, int64_t realtimeUsec);
    std::string describe(const std::string& unique, pid_t* pid);
    pid_t pidOf(const std::string& unique);
    void emit(std::unique_ptr<TrafficRecord> record);

    PidLookup m_lookup;
    uint64_t m_expiryUsec;
    std::map<std::string, std::string> m_owners;  // well-known name -> unique owner
    std::map<std::string, pid_t> m_pids;          // unique name -> process id
    std::map<CallKey, Pending> m_pending;
    std::map<PropertyKey, int> m_types;           // ZUMI_TYPE_INT or _STRING, from answers
    std::deque<std::pair<uint64_t, CallKey>> m_arrivals;  // (start, key), oldest first
    std::deque<std::unique_ptr<TrafficRecord>> m_ready;
};

}  // namespace bus
}  // namespace zumi

#endif
