#include "Watch.h"

#include <signal.h>
#include <time.h>

#include <algorithm>

#include "BusExtras.h"

namespace zumi {
namespace tool {

namespace {

volatile sig_atomic_t g_stop = 0;
struct sigaction g_oldInt, g_oldTerm;

void onStopSignal(int) { g_stop = 1; }

// How long one wait for traffic lasts: the longest a stop goes unnoticed.
constexpr int kPollMs = 100;

}  // namespace

double monotonicSeconds() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int64_t realtimeUsec() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

StopSignals::StopSignals() {
    g_stop = 0;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &g_oldInt);
    sigaction(SIGTERM, &action, &g_oldTerm);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &g_oldInt, nullptr);
    sigaction(SIGTERM, &g_oldTerm, nullptr);
}

bool StopSignals::requested() { return g_stop != 0; }

bool StopSignals::sleep(double seconds) {
    const double end = monotonicSeconds() + seconds;
    for (double now = monotonicSeconds(); now < end && !requested(); now = monotonicSeconds()) {
        double step = std::min(end - now, kPollMs / 1000.0);
        struct timespec pause = {static_cast<time_t>(step), static_cast<long>((step - static_cast<time_t>(step)) * 1e9)};
        nanosleep(&pause, nullptr);
    }
    return !requested();
}

WatchLimits watchLimits(const Args& args) {
    WatchLimits limits;
    if (args.has("count")) {
        limits.count = parseInt(args.value("count"), "--count");
        if (limits.count <= 0) throw UsageError("--count must be at least 1");
    }
    if (args.has("duration")) {
        limits.duration = parseSeconds(args.value("duration"), "--duration");
        if (limits.duration <= 0) throw UsageError("--duration must be more than 0 seconds");
    }
    return limits;
}

void watchBus(const char* name, const WatchLimits& limits, std::ostream& err,
              const std::function<bool(const ZumiTraffic&)>& keep, const std::function<void()>& tick,
              const std::function<void()>& opened) {
    ZumiMonitorHandle monitor = nullptr;
    ZumiStatus status = ZumiMonitorOpen(&monitor);
    if (status != ZUMI_OK) throwBusFailure("Could not monitor the bus.", {}, status);
    try {
        opened();
    } catch (...) {
        ZumiMonitorClose(monitor);
        throw;
    }
    err << name << ": watching the bus" << std::endl;
    const double start = monotonicSeconds();
    double nextTick = start + limits.every;
    long kept = 0;
    while (!StopSignals::requested()) {
        const double now = monotonicSeconds();
        if (limits.duration > 0 && now - start >= limits.duration) break;
        if (limits.every > 0 && now >= nextTick) {
            tick();
            nextTick += limits.every;
        }
        const ZumiTraffic* traffic = nullptr;
        status = ZumiMonitorNext(monitor, kPollMs, &traffic);
        if (status == ZUMI_OK) {
            if (keep(*traffic) && ++kept == limits.count) break;
            continue;
        }
        if (status == ZUMI_ERR_TIMEOUT) continue;
        ZumiMonitorClose(monitor);
        monitor = nullptr;
        err << name << ": lost the bus, reconnecting" << std::endl;
        for (double backoff = 0.1; StopSignals::sleep(backoff); backoff = std::min(2.0, backoff * 2)) {
            if (ZumiMonitorOpen(&monitor) == ZUMI_OK) break;
        }
        if (monitor == nullptr) break;
        err << name << ": watching the bus again" << std::endl;
    }
    ZumiMonitorClose(monitor);
}

}  // namespace tool
}  // namespace zumi
