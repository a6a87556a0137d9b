// Asynchronous remote access through the library, against the peer process
// of PropertyFigures.cpp: throughput with many gets in flight from one thread
// (judged against the sequential synchronous get of the same run), and the
// main loop's responsiveness while a get waits 2 s for its answer (judged
// against the same loop with nothing pending).
#include <benchmark/benchmark.h>
#include <glib.h>

#include <algorithm>
#include <chrono>
#include <string>

#include <zumi/ZumiAsync.h>

#include "bus/PeerClient.h"
#include "support/BenchNames.h"
#include "support/MainLoop.h"

namespace zumi {
namespace bench {
namespace {

namespace zk = veltra::kesh::zumi;
typedef std::chrono::steady_clock Clock;

constexpr int kInFlight = 64;

// state.range(0) gets per iteration, kInFlight of them pending at every
// moment: each result, delivered on the main loop this thread runs, starts
// the next get.
void BM_Zumi_AsyncGetIntInFlight(benchmark::State& state) {
    initGdkThreads();
    zk::ZumiHandlerSharedPtr handler = peerClient(state);
    if (!handler) return;
    const int total = static_cast<int>(state.range(0));
    int started = 0, done = 0, failed = 0;
    std::function<void()> startOne = [&] {
        ++started;
        zk::ZumiAsync::getIntProperty(handler, PEER_SERVICE, INT_PROPERTY, [&](const zk::ZumiResult<int>& r) {
            ++done;
            failed += r.ok() ? 0 : 1;
            if (started < total) startOne();
        });
    };
    for (auto _ : state) {
        started = done = 0;
        for (int i = 0; i < kInFlight && started < total; ++i) startOne();
        if (!runMainLoopUntil([&] { return static_cast<size_t>(done); }, total, std::chrono::seconds(10))) {
            state.SkipWithError("results stopped arriving");
            break;
        }
    }
    state.counters["failed"] = failed;
}

// The worst gap between the firings of a 10 ms timer on the main loop, from
// its start until `finished`; the iteration time is that gap.
template <typename Start>
void worstTimerGap(benchmark::State& state, Start start) {
    initGdkThreads();
    for (auto _ : state) {
        Clock::time_point last = Clock::now();
        double worst = 0;
        GSource* timer = g_timeout_source_new(10);
        struct Gap {
            Clock::time_point* last;
            double* worst;
        } gap{&last, &worst};
        g_source_set_callback(timer, [](gpointer data) -> gboolean {
            Gap& g = *static_cast<Gap*>(data);
            const Clock::time_point now = Clock::now();
            *g.worst = std::max(*g.worst, std::chrono::duration<double>(now - *g.last).count());
            *g.last = now;
            return G_SOURCE_CONTINUE;
        }, &gap, nullptr);
        g_source_attach(timer, nullptr);
        bool finished = false;
        if (!start(&finished)) break;
        while (!finished) g_main_context_iteration(nullptr, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
        state.SetIterationTime(worst);
    }
}

void BM_Zumi_AsyncSlowGetLoopGap(benchmark::State& state) {
    zk::ZumiHandlerSharedPtr handler = peerClient(state);
    if (!handler) return;
    std::string error;
    worstTimerGap(state, [&](bool* finished) {
        zk::ZumiAsync::getIntProperty(handler, PEER_SERVICE, SLOW_PROPERTY, [finished, &error](const zk::ZumiResult<int>& r) {
            if (!r.ok()) error = "the slow get failed";
            *finished = true;
        });
        return true;
    });
    if (!error.empty()) state.SkipWithError(error.c_str());
}

// The same loop for as long as the peer takes, with nothing pending.
void BM_Baseline_IdleLoopGap(benchmark::State& state) {
    worstTimerGap(state, [](bool* finished) {
        g_timeout_add(SLOW_ANSWER_MS, [](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        }, finished);
        return true;
    });
}

}  // namespace

BENCHMARK(BM_Zumi_AsyncGetIntInFlight)->Arg(1024)->UseRealTime();
BENCHMARK(BM_Zumi_AsyncSlowGetLoopGap)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_IdleLoopGap)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace bench
}  // namespace zumi
