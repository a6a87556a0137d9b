#ifndef ZUMI_ASYNC_MAINLOOPWATCHDOG_H
#define ZUMI_ASYNC_MAINLOOPWATCHDOG_H

// Finds frozen user interfaces: a guard placed around each synchronous remote
// operation. Made on the thread that owns the GLib default main context and
// lasting longer than the threshold (ZumiAsync::setMainLoopWatchdogThreshold,
// 100 ms by default), the operation logs one W line naming the service, the
// property (or event) and how long the loop was blocked. On any other thread
// it costs one GLib ownership test.
//
// Threads: any. Locks: none; the threshold is an atomic.

#include <chrono>

namespace veltra {
namespace kesh {
namespace zumi {

class MainLoopWatchdog {
public:
    MainLoopWatchdog(const char* service, const char* property);
    ~MainLoopWatchdog();
    MainLoopWatchdog(const MainLoopWatchdog&) = delete;
    MainLoopWatchdog& operator=(const MainLoopWatchdog&) = delete;

private:
    const char* const m_service;
    const char* const m_property;
    bool m_watching = false;
    std::chrono::steady_clock::time_point m_start;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
