#ifndef ZUMI_BENCH_MAINLOOP_H
#define ZUMI_BENCH_MAINLOOP_H

#include <benchmark/benchmark.h>
#include <glib.h>

#include <chrono>
#include <functional>
#include <thread>

namespace zumi {
namespace bench {

// Makes the GDK threads lock real, as an application of the device does at
// start; without it the lock the library takes around deliveries costs
// nothing and the figures would flatter it. Call before any main loop runs.
void initGdkThreads();

// The GLib default main loop on a thread of its own, for the figures that
// measure the bus thread's side while deliveries run concurrently, as they
// do in an application. Stopped (and joined) by the destructor.
class MainLoopThread {
public:
    // With watchSleep, the loop tells through isAsleep() when it blocks in
    // poll with nothing to do.
    explicit MainLoopThread(bool watchSleep = false);
    ~MainLoopThread();
    MainLoopThread(const MainLoopThread&) = delete;
    MainLoopThread& operator=(const MainLoopThread&) = delete;

    // True while the loop waits in poll for something to happen.
    static bool isAsleep();

private:
    GMainLoop* m_loop;
    bool m_watchSleep;
    std::thread m_thread;
};

// Times `call` once per iteration of `state` (registered with
// UseManualTime) with the loop asleep before each, as when events come one at
// a time to an idle application: before every call it waits, untimed, until
// delivered() counts every earlier call and the loop blocks in poll again, so
// that each call pays for waking it. Skips the benchmark if the loop falls
// behind for a second.
void timeCallsToSleepingLoop(benchmark::State& state, const std::function<void()>& call,
                             const std::function<size_t()>& delivered);

// Iterates the default main context on the calling thread until count()
// reaches target, or until count() stood still for `quiet`. Returns whether
// the target was reached.
bool runMainLoopUntil(const std::function<size_t()>& count, size_t target,
                      std::chrono::milliseconds quiet);

// Dispatches everything pending on the default main context, without
// blocking.
void drainMainLoop();

// Waits (without running a main loop) until done() holds or the deadline
// passes. Returns done().
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds deadline);

}  // namespace bench
}  // namespace zumi

#endif
