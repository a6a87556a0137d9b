#include "support/MainLoop.h"

#include <gdk/gdk.h>

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

MainLoopThread::MainLoopThread() : m_loop(g_main_loop_new(nullptr, FALSE)) {
    m_thread = std::thread([this] { g_main_loop_run(m_loop); });
    // Deliveries only count once the loop owns the context.
    while (!g_main_loop_is_running(m_loop)) std::this_thread::yield();
}

MainLoopThread::~MainLoopThread() {
    g_main_loop_quit(m_loop);
    g_main_context_wakeup(nullptr);
    m_thread.join();
    g_main_loop_unref(m_loop);
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
