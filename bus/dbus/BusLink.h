#ifndef ZUMI_BUS_DBUS_BUSLINK_H
#define ZUMI_BUS_DBUS_BUSLINK_H

// Reaching the daemon: opening an sd-bus connection within a deadline, the
// pace of reconnecting, and the log lines that tell when the bus went away
// and came back.
//
// Threads: any. noteBusLost/noteBusBack share one leaf lock.

#include <stdint.h>

#include <string>

#include <systemd/sd-bus.h>

#include <libzumi/ZumiBus.h>
#include "dbus/BusLog.h"

namespace zumi {
namespace bus {

// CLOCK_MONOTONIC in microseconds, the clock of every deadline here.
uint64_t monotonicNowUsec();
// A poll timeout for waiting until untilUsec: 0 once it has passed, else the
// milliseconds left, rounded up so that the wait never ends early, and at most
// capMs.
int millisecondsUntil(uint64_t untilUsec, int capMs = 60000);

// Where the system bus listens when DBUS_SYSTEM_BUS_ADDRESS does not say.
extern const char* const kSystemBusAddress;

// The bus a process uses, from its environment: ZUMI_BUS_ADDRESS when set
// and not empty; else ZUMI_BUS ("system" or "session") chooses; else the
// session bus when DBUS_SESSION_BUS_ADDRESS names one, else the system bus,
// as a daemon started at boot has no session. The system bus is at
// DBUS_SYSTEM_BUS_ADDRESS, or its usual socket. "" is the session bus found
// the way sd-bus finds it ($XDG_RUNTIME_DIR/bus).
std::string chooseBusAddress(const char* zumiAddress, const char* zumiBus, const char* sessionAddress,
                             const char* systemAddress);
// The bus address and call timeout this process uses (the choice above,
// ZUMI_CALL_TIMEOUT_MS; 25 s by default).
std::string configuredAddress();
uint64_t configuredTimeoutUsec();

// Connects to `address` (the session bus when empty) and waits until the
// daemon has answered the greeting, at most timeoutUsec: a daemon that
// accepts the socket but never answers costs the timeout, not forever.
// ZUMI_ERR_NO_BUS when nothing listens, ZUMI_ERR_TIMEOUT when the daemon
// stayed silent, or when cancelFd (if >= 0) became readable meanwhile; it is
// not read. A monitor bus hands every message to sd_bus_process's caller and
// answers nothing on its own.
ZumiStatus openBus(const std::string& address, uint64_t timeoutUsec, int cancelFd, sd_bus** out,
                   bool monitor = false);

// Whether a failed sd-bus operation (a negative errno) means that the daemon
// is gone.
bool isConnectionLoss(int result);

// The waits between reconnection attempts: the first try at once, then
// doubling from 5 ms up to kMaxUsec, so that a daemon restarted at once is
// met within a few milliseconds, a long outage costs little more than one
// try a second, and a daemon is found at most kMaxUsec after it returns
// (recovery stays under a second).
class Backoff {
public:
    static constexpr uint64_t kMaxUsec = 800000;
    uint64_t next();  // the wait before the next try
    void reset() { m_tries = 0; }

private:
    unsigned m_tries = 0;
};

// One W line when the first connection of this process loses the bus, one I
// line with the time away when the last of them has it back. A connection
// closed while it reconnects is counted back without a line.
void noteBusLost();
void noteBusBack(bool closed = false);

}  // namespace bus
}  // namespace zumi

#endif
