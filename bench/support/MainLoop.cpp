#include "support/MainLoop.h"

#include <gdk/gdk.h>

#include <atomic>

namespace zumi {
namespace bench {

void initGdkThreads() {
    static bool done = [] {
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gdk_threads_init();
        G_GNUC_END_IGNORE_DEPRECATIONS
        return true;
    }();
    (void)done;
}

namespace {

std::atomic<bool> g_asleep{false};

gint pollTellingSleep(GPollFD* fds, guint count, gint timeout) {
    // A zero timeout only looks; any other is the loop with nothing to do.
    if (timeout != 0) g_asleep.store(true, std::memory_order_release);
    gint ready = g_poll(fds, count, timeout);
    g_asleep.store(false, std::memory_order_release);
    return ready;
}

}  // namespace

MainLoopThread::MainLoopThread(bool watchSleep)
    : m_loop(g_main_loop_new(nullptr, FALSE)), m_watchSleep(watchSleep) {
    if (m_watchSleep) g_main_context_set_poll_func(nullptr, pollTellingSleep);
    m_thread = std::thread([this] { g_main_loop_run(m_loop); });
    // Deliveries only count once the loop owns the context.
    while (!g_main_loop_is_running(m_loop)) std::this_thread::yield();
}

MainLoopThread::~MainLoopThread() {
    g_main_loop_quit(m_loop);
    g_main_context_wakeup(nullptr);
    m_thread.join();
    g_main_loop_unref(m_loop);
    if (m_watchSleep) g_main_context_set_poll_func(nullptr, nullptr);
}

bool MainLoopThread::isAsleep() { return g_asleep.load(std::memory_order_acquire); }

void timeCallsToSleepingLoop(benchmark::State& state, const std::function<void()>& call,
                             const std::function<size_t()>& delivered) {
    using Clock = std::chrono::steady_clock;
    MainLoopThread mainLoop(true);
    size_t calls = 0;
    for (auto _ : state) {
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        while (delivered() != calls || !MainLoopThread::isAsleep()) {
            if (Clock::now() > deadline) {
                state.SkipWithError("the main loop did not come back to poll");
                return;
            }
        }
        // The flag is raised just before the system call: give the thread
        // the few microseconds it takes to be asleep inside it.
        const auto settled = Clock::now() + std::chrono::microseconds(20);
        while (Clock::now() < settled) {
        }
        const auto start = Clock::now();
        call();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        ++calls;
    }
    if (!waitFor([&] { return delivered() == calls; }, std::chrono::seconds(10))) {
        state.SkipWithError("not every call reached the main loop");
    }
}

namespace {
gboolean tick(gpointer) { return G_SOURCE_CONTINUE; }
}  // namespace

bool runMainLoopUntil(const std::function<size_t()>& count, size_t target,
                      std::chrono::milliseconds quiet) {
    // A periodic wake-up, so that a blocking iteration notices the quiet
    // deadline even when nothing arrives.
    guint timer = g_timeout_add(50, tick, nullptr);
    size_t seen = count();
    auto lastProgress = std::chrono::steady_clock::now();
    while (seen < target) {
        g_main_context_iteration(nullptr, TRUE);
        auto now = std::chrono::steady_clock::now();
        size_t current = count();
        if (current != seen) {
            seen = current;
            lastProgress = now;
        } else if (now - lastProgress > quiet) {
            break;
        }
    }
    g_source_remove(timer);
    return seen >= target;
}

void drainMainLoop() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace bench
}  // namespace zumi
