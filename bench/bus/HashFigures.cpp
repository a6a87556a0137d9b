// Sending a hash array synchronously to the peer's hash-array property:
// 1, 100 and 10,000 hashes of one integer each. The total must grow
// linearly, so the cost per hash stays flat past the fixed cost of a call.
#include <benchmark/benchmark.h>

#include <memory>

#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiHashListArray.h>

#include "support/BenchNames.h"
#include "support/Helpers.h"
#include "bus/PeerClient.h"

namespace zumi {
namespace bench {
namespace {

using veltra::kesh::zumi::ZumiHandlerSharedPtr;
using veltra::kesh::zumi::ZumiHashListArray;

void BM_Zumi_PublishSynchronously(benchmark::State& state) {
    ZumiHandlerSharedPtr handler = peerClient(state);
    if (!handler) return;
    try {
        std::shared_ptr<ZumiHashListArray> array = handler->createNewHashArray();
        for (int64_t i = 0; i < state.range(0); ++i) {
            int index = array->addNewHash();
            (*array)[index].putInt("value", static_cast<int>(i));
        }
        array->publishSynchronously(PEER_SERVICE, TABLE_PROPERTY, false);  // untimed first call
        for (auto _ : state) {
            // Kept writable (false): the sent array is swapped for a clone,
            // as an application that goes on using it needs.
            std::shared_ptr<ZumiHashListArray> reply =
                array->publishSynchronously(PEER_SERVICE, TABLE_PROPERTY, false);
            benchmark::DoNotOptimize(reply.get());
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_Zumi_PublishSynchronously)->Arg(1)->Arg(100)->Arg(10000)->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace bench
}  // namespace zumi
