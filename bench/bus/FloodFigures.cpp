// The event flood between two fresh processes (bench_zumi_flood): a sender
// sends FLOOD_COUNT events as fast as it may while the receiver's main loop
// is busy for FLOOD_BUSY_MS. Reported: the peak resident memory of both, the
// longest single send, the drops, and whether every event is accounted for
// (delivered plus the drops the W lines told equals sent).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "support/BenchNames.h"
#include "support/HelperProcess.h"
#include "support/Helpers.h"

namespace zumi {
namespace bench {
namespace {

void BM_Zumi_EventFlood(benchmark::State& state) {
    if (!requireBus(state)) return;
    const std::string count = std::to_string(FLOOD_COUNT);
    FloodReceiverReport received;
    FloodSenderReport sent;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        HelperProcess receiver("bench_zumi_flood",
                               {"receive", FLOOD_SENDER, count, std::to_string(FLOOD_BUSY_MS)});
        if (!receiver.waitReady(std::chrono::seconds(20))) {
            state.SkipWithError("the flood's receiver did not get ready");
            return;
        }
        HelperProcess sender("bench_zumi_flood", {"send", FLOOD_SENDER, count});
        if (!sender.waitReady(std::chrono::seconds(20)) ||
            !sender.readExactly(&sent, sizeof sent, std::chrono::seconds(120)) ||
            !receiver.readExactly(&received, sizeof received, std::chrono::seconds(120))) {
            state.SkipWithError("the flood's processes did not report");
            return;
        }
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
    }
    state.counters["receiver_peak_mib"] = received.peakKiB / 1024.0;
    state.counters["sender_peak_mib"] = sent.peakKiB / 1024.0;
    state.counters["worst_send_ms"] = sent.worstSendUs / 1000.0;
    state.counters["sent"] = sent.sent;
    state.counters["send_failed"] = sent.failed;
    state.counters["delivered"] = received.delivered;
    state.counters["dropped"] = received.dropped;
    state.counters["told"] = received.told;
    state.counters["reordered"] = received.reordered;
    // Zero when every event sent was either delivered or told as dropped.
    state.counters["unaccounted"] =
        static_cast<double>(sent.sent) - static_cast<double>(received.delivered + received.told);
}

}  // namespace

// A flood takes seconds; three of them give a worst case without tripling the
// whole run's length.
BENCHMARK(BM_Zumi_EventFlood)->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);

}  // namespace bench
}  // namespace zumi
