// Sending a hash array synchronously to the peer's hash-array property:
// 1, 100 and 10,000 hashes of one integer each. The total must grow
// linearly, so the cost per hash stays flat past the fixed cost of a call.
// Beside the caller's CPU time, the counters tell the processor time per hash
// that the peer (decoding, serving) and the daemon (reading, checking and
// passing on the message) spent meanwhile.
#include <benchmark/benchmark.h>

#include <time.h>

#include <memory>

#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiHashListArray.h>

#include "support/BenchNames.h"
#include "support/BusStats.h"
#include "support/Helpers.h"
#include "bus/PeerClient.h"

namespace zumi {
namespace bench {
namespace {

using veltra::kesh::zumi::ZumiHandlerSharedPtr;
using veltra::kesh::zumi::ZumiHashListArray;

// The processor time another process has used so far, in nanoseconds; 0 when
// it cannot be read.
double cpuNanoseconds(int pid) {
    clockid_t clock;
    timespec now;
    if (pid <= 0 || clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &now) != 0) return 0;
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

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
        HelperProcess* peer = sharedHelper(state, "peer", "bench_zumi_peer", {});
        const int peerPid = peer != nullptr ? peer->pid() : -1;
        const int daemonPid = processIdOf("org.freedesktop.DBus");
        const double peerBefore = cpuNanoseconds(peerPid), daemonBefore = cpuNanoseconds(daemonPid);
        for (auto _ : state) {
            // Kept writable (false): the sent array is swapped for a clone,
            // as an application that goes on using it needs.
            std::shared_ptr<ZumiHashListArray> reply =
                array->publishSynchronously(PEER_SERVICE, TABLE_PROPERTY, false);
            benchmark::DoNotOptimize(reply.get());
        }
        const double hashes = static_cast<double>(state.range(0));
        state.counters["peer_cpu_ns_per_hash"] = benchmark::Counter(
            (cpuNanoseconds(peerPid) - peerBefore) / hashes, benchmark::Counter::kAvgIterations);
        state.counters["daemon_cpu_ns_per_hash"] = benchmark::Counter(
            (cpuNanoseconds(daemonPid) - daemonBefore) / hashes, benchmark::Counter::kAvgIterations);
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
