#ifndef ZUMI_BUS_DBUS_CALLERPOOL_H
#define ZUMI_BUS_DBUS_CALLERPOOL_H

// The client side of a connection: a few anonymous sd-bus connections on
// which application threads (and callbacks) make their synchronous calls to
// other services, so that an outgoing call never touches, and never waits
// for, the connection that serves incoming requests.
//
// Threads: any. A call leases one bus for its whole length; m_lock guards
// only the free list (never held during a call). Up to kMaxBuses calls run at
// once; one more waits for a bus to come back. Leaf lock: nothing is taken
// while m_lock is held.

#include <pthread.h>
#include <stdint.h>

#include <errno.h>

#include <string>
#include <vector>

#include <systemd/sd-bus.h>

#include "dbus/BusNames.h"
#include "platform/ZumiBus.h"

namespace zumi {
namespace bus {

// Connects to ZUMI_BUS_ADDRESS (address, when not empty) or the session bus.
// ZUMI_ERR_NO_BUS when the bus cannot be reached. A monitor bus hands every
// message to sd_bus_process's caller and answers nothing on its own.
ZumiStatus openBus(const std::string& address, sd_bus** out, bool monitor = false);

// The bus address and call timeout this process uses (ZUMI_BUS_ADDRESS,
// ZUMI_CALL_TIMEOUT_MS; 25 s by default).
std::string configuredAddress();
uint64_t configuredTimeoutUsec();
// CLOCK_MONOTONIC in microseconds, the clock of every deadline here.
uint64_t monotonicNowUsec();

class CallerPool {
public:
    static constexpr size_t kMaxBuses = 8;

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
        if (lease.bus == nullptr) return ZUMI_ERR_DISCONNECTED;
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
        if (lease.bus == nullptr) return ZUMI_ERR_DISCONNECTED;
        sd_bus_message* message = nullptr;
        if (sd_bus_message_new_method_call(lease.bus, &message, "org.freedesktop.DBus",
                                           "/org/freedesktop/DBus", "org.freedesktop.DBus",
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
        explicit Lease(CallerPool& pool) : pool(pool), bus(pool.lease()) {}
        ~Lease() {
            sd_bus_message_unref(reply);
            if (bus != nullptr) pool.giveBack(bus);
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        CallerPool& pool;
        sd_bus* bus;
        sd_bus_message* reply = nullptr;
    };

    sd_bus* lease();
    void giveBack(sd_bus* bus);
    ZumiStatus finishCall(sd_bus* bus, sd_bus_message* message, sd_bus_message** reply,
                          uint64_t timeoutUsec);

    pthread_mutex_t m_lock;
    pthread_cond_t m_returned;
    std::string m_address;
    uint64_t m_timeoutUsec = 0;
    std::vector<sd_bus*> m_idle;
    size_t m_open = 0;      // leased + idle
    bool m_closed = false;
};

// Turns a failed sd-bus operation (a negative errno) into a status:
// ZUMI_ERR_NO_MEMORY, ZUMI_ERR_DISCONNECTED for a connection that broke, or
// ZUMI_ERR_FAILED.
ZumiStatus statusFromErrno(int result);

// Turns the outcome of a method call into a status.
ZumiStatus statusFromCallError(int result, const sd_bus_error* error, bool timedOut);

}  // namespace bus
}  // namespace zumi

#endif
