// Remote property access through the library, from this process to a peer
// process that publishes through the library too: the figures that
// Baselines.cpp's plain sd-bus calls judge.
#include <benchmark/benchmark.h>

#include <string>

#include <zumi/ZumiException.h>
#include <zumi/ZumiHandlerFactory.h>

#include "support/BenchNames.h"
#include "support/Helpers.h"
#include "bus/PeerClient.h"

namespace zumi {
namespace bench {
namespace {

using veltra::kesh::zumi::ZumiException;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

// Runs op once per iteration, after one untimed call that opens whatever
// the first call opens lazily; the first exception ends the benchmark as an
// error rather than a figure.
template <typename Op>
void measure(benchmark::State& state, Op op) {
    ZumiHandlerSharedPtr handler = peerClient(state);
    if (!handler) return;
    try {
        op(*handler);
        for (auto _ : state) op(*handler);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

void BM_Zumi_GetInt(benchmark::State& state) {
    measure(state, [](veltra::kesh::zumi::ZumiHandler& h) {
        benchmark::DoNotOptimize(h.getIntProperty(PEER_SERVICE, INT_PROPERTY));
    });
}

void BM_Zumi_SetInt(benchmark::State& state) {
    int value = 0;
    measure(state, [&](veltra::kesh::zumi::ZumiHandler& h) {
        h.setIntProperty(PEER_SERVICE, INT_PROPERTY, ++value);
    });
}

void BM_Zumi_GetString(benchmark::State& state) {
    measure(state, [](veltra::kesh::zumi::ZumiHandler& h) {
        std::string text = h.getStringProperty(PEER_SERVICE, STRING_PROPERTY);
        benchmark::DoNotOptimize(text.data());
    });
}

void BM_Zumi_SetString(benchmark::State& state) {
    measure(state, [](veltra::kesh::zumi::ZumiHandler& h) {
        h.setStringProperty(PEER_SERVICE, STRING_PROPERTY, "bench-value");
    });
}

}  // namespace

BENCHMARK(BM_Zumi_GetInt)->UseRealTime();
BENCHMARK(BM_Zumi_SetInt)->UseRealTime();
BENCHMARK(BM_Zumi_GetString)->UseRealTime();
BENCHMARK(BM_Zumi_SetString)->UseRealTime();

}  // namespace bench
}  // namespace zumi
