#ifndef ZUMI_BENCH_MAINLOOP_H
#define ZUMI_BENCH_MAINLOOP_H

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
    MainLoopThread();
    ~MainLoopThread();
    MainLoopThread(const MainLoopThread&) = delete;
    MainLoopThread& operator=(const MainLoopThread&) = delete;

private:
    GMainLoop* m_loop;
    std::thread m_thread;
};

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
