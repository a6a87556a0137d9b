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
// ZUMI_ERR_NO_BUS when the bus cannot be reached.
ZumiStatus openBus(const std::string& address, sd_bus** out);

// The bus address and call timeout this process uses (ZUMI_BUS_ADDRESS,
// ZUMI_CALL_TIMEOUT_MS; 25 s by default).
std::string configuredAddress();
uint64_t configuredTimeoutUsec();

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
    // (an sd-bus result); on ZUMI_OK *reply holds the reply, which the caller
    // releases with sd_bus_message_unref.
    // timeoutUsec 0 means the configured timeout.
    template <typename Append>
    ZumiStatus call(const char* service, const char* member, Append append, sd_bus_message** reply,
                    uint64_t timeoutUsec = 0) {
        sd_bus* bus = lease();
        if (bus == nullptr) return ZUMI_ERR_DISCONNECTED;
        sd_bus_message* message = nullptr;
        int r = sd_bus_message_new_method_call(bus, &message, service, kObjectPath, kInterface,
                                               member);
        if (r >= 0) r = append(message);
        if (r < 0) {
            sd_bus_message_unref(message);
            giveBack(bus);
            return r == -EINVAL ? ZUMI_ERR_INVALID_ARGUMENT : ZUMI_ERR_FAILED;
        }
        ZumiStatus status =
            finishCall(bus, message, reply, timeoutUsec == 0 ? m_timeoutUsec : timeoutUsec);
        giveBack(bus);
        return status;
    }

    // The same for a call to the daemon itself (service discovery).
    ZumiStatus callDaemon(const char* member, const char* service, sd_bus_message** reply);
    uint64_t timeoutUsec() const { return m_timeoutUsec; }

private:
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

// Turns the outcome of a method call into a status.
ZumiStatus statusFromCallError(int result, const sd_bus_error* error, bool timedOut);

}  // namespace bus
}  // namespace zumi

#endif
