#ifndef ZUMI_TOOLS_WATCH_H
#define ZUMI_TOOLS_WATCH_H

// What zumi monitor, record and replay share: stopping cleanly on SIGINT and
// SIGTERM, and watching the bus through the bus library's monitor with the
// reconnection that a restart of the bus daemon needs.
//
// Threads: everything runs on the command's (main) thread; the signal
// handlers only set a flag that the loops poll several times a second.

#include <stdint.h>

#include <functional>
#include <ostream>

#include "Args.h"
#include <libzumi/ZumiBus.h>

namespace zumi {
namespace tool {

// Installs the handlers for its lifetime; the old ones come back after.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    static bool requested();
    // Sleeps up to seconds; false when a stop was asked for meanwhile.
    static bool sleep(double seconds);
};

// Seconds on the monotonic clock.
double monotonicSeconds();
// Microseconds since the epoch on the wall clock, as operations are stamped.
int64_t realtimeUsec();

struct WatchLimits {
    long count = 0;        // stop after this many operations kept (0: no limit)
    double duration = 0;   // stop after this many seconds (0: no limit)
    double every = 0;      // call the tick this often (0: never)
};

// --count and --duration, checked.
WatchLimits watchLimits(const Args& args);

// Opens a monitor (a ZumiException when the bus cannot be watched at all),
// then hands every record to keep, which answers whether it counted. Notes
// on err, headed by `name` ("zumi monitor"): "watching the bus" once the
// monitor sees everything; "lost the bus, reconnecting" when the daemon goes
// away, after which it tries to open a new monitor, waiting 0.1 s before the
// first attempt and twice as long after each failure, at most 2 s; then
// "watching the bus again". `opened` runs once, when the first monitor
// watches and before any record is read.
void watchBus(const char* name, const WatchLimits& limits, std::ostream& err,
              const std::function<bool(const ZumiTraffic&)>& keep, const std::function<void()>& tick,
              const std::function<void()>& opened = [] {});

}  // namespace tool
}  // namespace zumi

#endif
