// Events from the peer process to listeners on this process's main loop,
// through the library on both ends; judged against plain sd-bus signals
// (Baselines.cpp) and against the single-listener figure.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include <zumi/SystemEventListener.h>
#include <zumi/ZumiHandlerFactory.h>

#include "support/BenchNames.h"
#include "support/BusStats.h"
#include "support/Helpers.h"
#include "support/MainLoop.h"
#include "support/SequenceCount.h"

namespace zumi {
namespace bench {
namespace {

using veltra::kesh::zumi::SystemEventDataList;
using veltra::kesh::zumi::SystemEventListener;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

// Runs on the main loop (this benchmark thread); a sequence number not above
// the previous one is reordered.
class TickListener : public SystemEventListener {
public:
    void onEvent(const char*, const char*, const SystemEventDataList& data) override {
        m_count.note(data.empty() ? -1 : data.front().getIntValue());
    }
    void reset() { m_count = SequenceCount(); }
    SequenceCount m_count;
};

// A receiving handler with `listeners` listeners on (peer, tick); they are
// unsubscribed before it goes, so no other figure receives its events.
class Receiver {
public:
    Receiver(const char* id, size_t listeners) : m_listeners(listeners) {
        m_handler = ZumiHandlerFactory::getZumiHandler(id);
        for (auto& l : m_listeners) m_handler->subscribe(PEER_SERVICE, TICK_EVENT, &l);
    }
    ~Receiver() {
        for (auto& l : m_listeners) m_handler->unsubscribe(PEER_SERVICE, TICK_EVENT, &l);
        // Events still queued would otherwise run in the next figure's loop.
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }
    size_t delivered() const {
        size_t n = 0;
        for (const auto& l : m_listeners) n += l.m_count.received;
        return n;
    }
    // Asks the peer for `count` events and runs the main loop until every
    // listener has them all, or until nothing came for two seconds.
    bool blast(int count) {
        for (auto& l : m_listeners) l.reset();
        m_handler->setIntProperty(PEER_SERVICE, BLAST_PROPERTY, count);
        return runMainLoopUntil([this] { return delivered(); }, m_listeners.size() * count,
                                std::chrono::seconds(2));
    }
    ZumiHandlerSharedPtr m_handler;
    std::vector<TickListener> m_listeners;
};

bool peer(benchmark::State& state) {
    initGdkThreads();
    return sharedHelper(state, "peer", "bench_zumi_peer", {}) != nullptr;
}

void BM_Zumi_EventThroughput(benchmark::State& state) {
    if (!peer(state)) return;
    size_t lost = 0, reordered = 0;
    try {
        Receiver receiver("com.zumi.bench.Receiver", 1);
        for (auto _ : state) {
            receiver.blast(THROUGHPUT_COUNT);
            lost += THROUGHPUT_COUNT - receiver.m_listeners[0].m_count.received;
            reordered += receiver.m_listeners[0].m_count.reordered;
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * THROUGHPUT_COUNT);
    state.counters["lost"] = lost;
    state.counters["reordered"] = reordered;
}

// Time per event reaching all N listeners of one pair (manual time: a run of
// 2,000 events divided by 2,000). "subscriptions" counts the match rules the
// daemon gained for the receiver: one pair, one, whatever N.
void BM_Zumi_EventFanOut(benchmark::State& state) {
    if (!peer(state)) return;
    const int events = 2000;
    const char* id = "com.zumi.bench.FanOut";
    try {
        ZumiHandlerSharedPtr keep = ZumiHandlerFactory::getZumiHandler(id);
        const int rulesBefore = matchRulesOf(id);
        Receiver receiver(id, static_cast<size_t>(state.range(0)));
        const int rulesAfter = matchRulesOf(id);
        for (auto _ : state) {
            auto start = std::chrono::steady_clock::now();
            if (!receiver.blast(events)) {
                state.SkipWithError("events were lost");
                break;
            }
            std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            state.SetIterationTime(took.count() / events);
        }
        if (rulesBefore >= 0 && rulesAfter >= 0) state.counters["subscriptions"] = rulesAfter - rulesBefore;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

}  // namespace

BENCHMARK(BM_Zumi_EventThroughput)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zumi_EventFanOut)->Arg(1)->Arg(10)->Arg(100)->UseManualTime()->Iterations(3)
    ->Unit(benchmark::kMicrosecond);

}  // namespace bench
}  // namespace zumi
