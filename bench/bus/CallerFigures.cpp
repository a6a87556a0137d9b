// Many callers at once: CALLERS threads of this process reading the peer's
// integer through one handler, against CALLERS processes doing the same
// through a handler each (bench_zumi_caller). Each iteration is one round of
// CALLS_PER_ROUND calls per caller, all started together; its time is the
// round's 99th percentile latency. Failed calls are counted as "lost".
#include <benchmark/benchmark.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <zumi/ZumiHandlerFactory.h>

#include "bus/PeerClient.h"
#include "support/BenchNames.h"
#include "support/TimedGet.h"
#include "support/Helpers.h"

namespace zumi {
namespace bench {
namespace {

double g_medianNs = 0;
// The round's p99 in seconds; failed calls (LOST_CALL) are counted apart.
double p99Seconds(std::vector<uint32_t>* latencies, int64_t* lost) {
    *lost += std::count(latencies->begin(), latencies->end(), LOST_CALL);
    auto half = latencies->begin() + static_cast<long>(latencies->size() / 2);
    std::nth_element(latencies->begin(), half, latencies->end());
    g_medianNs += *half;
    auto at = latencies->begin() + static_cast<long>(latencies->size() * 99 / 100);
    std::nth_element(latencies->begin(), at, latencies->end());
    return *at / 1e9;
}

void BM_Zumi_ManyThreadsP99(benchmark::State& state) {
    veltra::kesh::zumi::ZumiHandlerSharedPtr handler = peerClient(state);
    if (!handler) return;
    int64_t lost = 0;
    auto round = [&] {
        std::vector<uint32_t> latencies(CALLERS * CALLS_PER_ROUND);
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < CALLERS; ++t) {
            threads.emplace_back([&, t] {
                while (!go.load()) std::this_thread::yield();
                for (int i = 0; i < CALLS_PER_ROUND; ++i) {
                    latencies[static_cast<size_t>(t * CALLS_PER_ROUND + i)] = timedGet(*handler);
                }
            });
        }
        go.store(true);
        for (std::thread& thread : threads) thread.join();
        return p99Seconds(&latencies, &lost);
    };
    // Untimed: the caller pool grows to the demand, one bus per caller that
    // found none idle, which under load takes more than one round.
    for (int i = 0; i < 3; ++i) round();
    lost = 0;
    g_medianNs = 0;
    for (auto _ : state) state.SetIterationTime(round());
    state.counters["lost"] = static_cast<double>(lost);
    state.counters["p50_us"] = g_medianNs / 1e3 / static_cast<double>(state.iterations());
}

void BM_Baseline_ManyProcessesP99(benchmark::State& state) {
    if (!sharedHelper(state, "peer", "bench_zumi_peer", {})) return;
    std::vector<HelperProcess*> callers;
    for (int i = 0; i < CALLERS; ++i) {
        HelperProcess* caller = sharedHelper(state, "caller" + std::to_string(i), "bench_zumi_caller", {});
        if (caller == nullptr) return;
        callers.push_back(caller);
    }
    int64_t lost = 0;
    bool failed = false;
    auto round = [&] {
        std::vector<uint32_t> latencies(CALLERS * CALLS_PER_ROUND);
        for (HelperProcess* caller : callers) kill(caller->pid(), SIGUSR1);
        for (size_t i = 0; i < callers.size(); ++i) {
            failed |= !callers[i]->readExactly(&latencies[i * CALLS_PER_ROUND],
                                               CALLS_PER_ROUND * sizeof(uint32_t), std::chrono::seconds(30));
        }
        return p99Seconds(&latencies, &lost);
    };
    round();
    lost = 0;
    g_medianNs = 0;
    for (auto _ : state) state.SetIterationTime(round());
    state.counters["p50_us"] = g_medianNs / 1e3 / static_cast<double>(state.iterations());
    if (failed) state.SkipWithError("a caller process did not answer");
    state.counters["lost"] = static_cast<double>(lost);
}

}  // namespace

BENCHMARK(BM_Zumi_ManyThreadsP99)->UseManualTime()->Iterations(4);
BENCHMARK(BM_Baseline_ManyProcessesP99)->UseManualTime()->Iterations(4);

}  // namespace bench
}  // namespace zumi
