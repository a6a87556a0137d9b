// The floor of every figure that hands work from the bus thread to the main
// loop: one raw g_idle_add from another thread while the main loop runs on
// its own thread, as the bridge's setValue and the event callback each do
// once per call. GLib wakes the running loop for every source added, which
// no design that adds one source per call can avoid.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "support/MainLoop.h"

namespace {

gboolean countIdle(gpointer data) {
    static_cast<std::atomic<size_t>*>(data)->fetch_add(1, std::memory_order_release);
    return G_SOURCE_REMOVE;
}

void BM_Baseline_RawIdleAdd(benchmark::State& state) {
    std::atomic<size_t> delivered{0};
    size_t added = 0;
    {
        zumi::bench::MainLoopThread mainLoop;
        for (auto _ : state) {
            g_idle_add(countIdle, &delivered);
            ++added;
        }
        if (!zumi::bench::waitFor([&] { return delivered.load(std::memory_order_acquire) == added; },
                                  std::chrono::seconds(60))) {
            state.SkipWithError("not every idle source ran");
        }
    }
}

// The same call with the loop asleep before each: what waking an idle loop
// costs the calling thread.
void BM_Baseline_RawIdleAddToSleepingLoop(benchmark::State& state) {
    std::atomic<size_t> delivered{0};
    zumi::bench::timeCallsToSleepingLoop(
        state, [&] { g_idle_add(countIdle, &delivered); },
        [&] { return delivered.load(std::memory_order_acquire); });
}

}  // namespace

BENCHMARK(BM_Baseline_RawIdleAdd)->UseRealTime();
BENCHMARK(BM_Baseline_RawIdleAddToSleepingLoop)->UseManualTime();
