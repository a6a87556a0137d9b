#ifndef ZUMI_BENCH_BUS_PEERCLIENT_H
#define ZUMI_BENCH_BUS_PEERCLIENT_H

#include <benchmark/benchmark.h>

#include <exception>

#include <zumi/ZumiHandlerFactory.h>

#include "support/BenchNames.h"
#include "support/Helpers.h"

namespace zumi {
namespace bench {

// The publishing peer started (once per run) and this process's handler, or
// null with the benchmark skipped.
inline veltra::kesh::zumi::ZumiHandlerSharedPtr peerClient(benchmark::State& state) {
    if (!sharedHelper(state, "peer", "bench_zumi_peer", {})) return nullptr;
    try {
        return veltra::kesh::zumi::ZumiHandlerFactory::getZumiHandler(CLIENT_SERVICE);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return nullptr;
    }
}

}  // namespace bench
}  // namespace zumi

#endif
