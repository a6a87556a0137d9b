#ifndef ZUMI_BUS_DBUS_CALLERPOOL_H
#define ZUMI_BUS_DBUS_CALLERPOOL_H

// The client side of a connection: anonymous sd-bus connections on which
// application threads (and callbacks) make their synchronous calls to other
// services, so that an outgoing call never touches, and never waits for, the
// connection that serves incoming requests.
//
// The pool follows demand: a call leases an idle bus, or opens one more when
// none is idle, up to kMaxBuses at once (so sixteen threads calling at once
// do not queue); only a call beyond that bound waits for a bus to come back.
// A bus left idle for kIdleUsec is closed when the pool is next used, down to
// one. A bus whose daemon went away is dropped rather than reused, and the
// next call opens a fresh one: while the bus is away that fails at once with
// ZUMI_ERR_BUS_LOST, and the first call after the daemon is back succeeds.
//
// Threads: any. A call leases one bus for its whole length. Idle buses sit in
// atomic slots; m_lock only serves a caller that waits at the bound. Leaf
// lock: nothing is taken while m_lock is held.

#include <errno.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include <systemd/sd-bus.h>

#include "dbus/BusLink.h"
#include "dbus/BusNames.h"
#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

class CallerPool {
public:
    static constexpr size_t kMaxBuses = 32;
    static constexpr uint64_t kIdleUsec = 10u * 1000u * 1000u;

    CallerPool();
    ~CallerPool();
    CallerPool(const CallerPool&) = delete;
    CallerPool& operator=(const CallerPool&) = delete;

    // Opens the first bus, so that a connection that opens can also call.
    ZumiStatus start(const std::string& address, uint64_t timeoutUsec);
    // Closes the idle buses; a bus still leased is closed when it comes back.
    void close();

    // A method call to kInterface on `service`: append adds the arguments
    // (an sd-bus result), read takes the reply apart (a status). A reply holds
    // a reference to its bus, whose count is not atomic: it is read and
    // released while the bus is still leased to this call, never after.
    // timeoutUsec 0 means the configured timeout.
    template <typename Append, typename Read>
    ZumiStatus call(const char* service, const char* member, Append append, Read read,
                    uint64_t timeoutUsec = 0) {
        Lease lease(*this);
        if (lease.bus == nullptr) return lease.status;
        sd_bus_message* message = nullptr;
        int r = sd_bus_message_new_method_call(lease.bus, &message, service, kObjectPath,
                                               kInterface, member);
        if (r >= 0) r = append(message);
        if (r < 0) {
            sd_bus_message_unref(message);
            return r == -EINVAL ? ZUMI_ERR_INVALID_ARGUMENT : ZUMI_ERR_FAILED;
        }
        ZumiStatus status = finishCall(lease.bus, message, &lease.reply,
                                       timeoutUsec == 0 ? m_timeoutUsec : timeoutUsec);
        return status == ZUMI_OK ? static_cast<ZumiStatus>(read(lease.reply)) : status;
    }

    // The same for a call to the daemon itself (service discovery).
    template <typename Read>
    ZumiStatus callDaemon(const char* member, Read read) {
        Lease lease(*this);
        if (lease.bus == nullptr) return lease.status;
        sd_bus_message* message = nullptr;
        if (sd_bus_message_new_method_call(lease.bus, &message, kDaemon, kDaemonPath, kDaemon,
                                           member) < 0) {
            return ZUMI_ERR_FAILED;
        }
        ZumiStatus status = finishCall(lease.bus, message, &lease.reply, m_timeoutUsec);
        return status == ZUMI_OK ? static_cast<ZumiStatus>(read(lease.reply)) : status;
    }

    uint64_t timeoutUsec() const { return m_timeoutUsec; }

private:
    // One bus for one call, and the reply, released in that order of need:
    // the reply first, then the bus goes back to the pool.
    struct Lease {
        explicit Lease(CallerPool& pool) : pool(pool), bus(pool.lease(&status)) {}
        ~Lease() {
            sd_bus_message_unref(reply);
            if (bus != nullptr) pool.giveBack(bus);
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        CallerPool& pool;
        ZumiStatus status = ZUMI_OK;  // why bus is null
        sd_bus* bus;
        sd_bus_message* reply = nullptr;
    };

    // A bus, or null with *status saying why.
    sd_bus* lease(ZumiStatus* status);
    void giveBack(sd_bus* bus);
    ZumiStatus finishCall(sd_bus* bus, sd_bus_message* message, sd_bus_message** reply,
                          uint64_t timeoutUsec);

    // An idle bus waits in a slot, taken by an exchange: callers on the hot
    // path never wait for one another, not even for a thread preempted
    // while it held a lock.
    struct Slot {
        std::atomic<sd_bus*> bus{nullptr};
        std::atomic<uint64_t> since{0};  // when it came back
    };
    bool takeIdle(sd_bus** bus);
    void putIdle(sd_bus* bus);
    void trimIdle(uint64_t now);
    void dropOne();  // a bus is gone: counted, and a waiting caller told

    std::mutex m_lock;  // only for callers waiting at the bound
    std::condition_variable m_returned;
    std::string m_address;
    uint64_t m_timeoutUsec = 0;
    Slot m_slots[kMaxBuses];
    std::atomic<size_t> m_open{0};  // leased + idle + being opened
    std::atomic<unsigned> m_waiting{0};
    std::atomic<bool> m_closed{false};
    std::atomic<uint64_t> m_trimmedUsec{0};
};

// Turns a failed sd-bus operation (a negative errno) into a status:
// ZUMI_ERR_NO_MEMORY, ZUMI_ERR_BUS_LOST for a daemon that went away, or
// ZUMI_ERR_FAILED.
ZumiStatus statusFromErrno(int result);

// Turns the outcome of a method call into a status.
ZumiStatus statusFromCallError(int result, const sd_bus_error* error, bool timedOut);
// The same for a call of this process's own: a refusal by the bus's policy
// is also kept for ZumiGetLastRefusal and logged (W), with the daemon's words.
ZumiStatus statusOfOwnCall(int result, const sd_bus_error* error, bool timedOut);
void noteDaemonRefusal(const sd_bus_error* error);

}  // namespace bus
}  // namespace zumi

#endif
