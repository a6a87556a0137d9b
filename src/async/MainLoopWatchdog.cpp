#include "async/MainLoopWatchdog.h"

#include <glib.h>

#include <atomic>

#include <zumi/ZumiAsync.h>

#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

namespace {

std::atomic<long long> g_thresholdMs{100};

}  // namespace

void ZumiAsync::setMainLoopWatchdogThreshold(std::chrono::milliseconds threshold) {
    g_thresholdMs.store(threshold.count() < 0 ? 0 : static_cast<long long>(threshold.count()));
}

std::chrono::milliseconds ZumiAsync::mainLoopWatchdogThreshold() {
    return std::chrono::milliseconds(g_thresholdMs.load());
}

MainLoopWatchdog::MainLoopWatchdog(const char* service, const char* property)
    : m_service(service), m_property(property) {
    if (g_thresholdMs.load() > 0 && g_main_context_is_owner(g_main_context_default())) {
        m_watching = true;
        m_start = std::chrono::steady_clock::now();
    }
}

MainLoopWatchdog::~MainLoopWatchdog() {
    if (!m_watching) return;
    const long long blocked = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - m_start)
                                  .count();
    if (blocked > g_thresholdMs.load()) {
        util::logLine(util::LogLevel::W, "ZumiHandler.watchdog",
                      "W %s:%s:The main loop was blocked for %lld ms by a synchronous call to "
                      "service %s, property %s; use ZumiAsync there.:",
                      blocked, util::logText(m_service), util::logText(m_property));
    }
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
