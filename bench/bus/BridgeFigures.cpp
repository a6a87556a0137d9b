// A remote set that reaches a UI object through a bridge on the peer's main
// loop: timed from the set until the UI object has the value (it reports it
// on a pipe). Judged against the plain remote integer set.
#include <benchmark/benchmark.h>

#include <chrono>

#include <zumi/ZumiHandlerFactory.h>

#include "support/BenchNames.h"
#include "support/Helpers.h"

namespace zumi {
namespace bench {
namespace {

using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

void BM_Zumi_BridgeRemoteSet(benchmark::State& state) {
    HelperProcess* ui = sharedHelper(state, "ui-peer", "bench_zumi_ui_peer", {});
    if (!ui) return;
    try {
        ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(CLIENT_SERVICE);
        int value = 0;
        // One untimed set first: whatever the first call opens lazily.
        auto setAndWait = [&] {
            handler->setIntProperty(UI_PEER_SERVICE, UI_PROPERTY, ++value);
            int reached = 0;
            return ui->readExactly(&reached, sizeof(reached), std::chrono::seconds(5)) &&
                   reached == value;
        };
        if (!setAndWait()) {
            state.SkipWithError("a set did not reach the UI object");
            return;
        }
        for (auto _ : state) {
            if (!setAndWait()) {
                state.SkipWithError("a set did not reach the UI object");
                break;
            }
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

}  // namespace

BENCHMARK(BM_Zumi_BridgeRemoteSet)->UseRealTime();

}  // namespace bench
}  // namespace zumi
