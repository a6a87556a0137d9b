// The UI bridge on the test double: what a remote set costs the bus thread,
// and how fast the main loop hands deferred sets to the UI object.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>

#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiPropertyPublisherToUIBridge.h>

#include "FakeBusCore.h"
#include "support/MainLoop.h"

using veltra::kesh::zumi::createNewBridge;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;
using veltra::kesh::zumi::ZumiPropertyPublisherToUIBridge;
using veltra::kesh::zumi::ZumiPropertyPublisherUI;
using zumi::testing::FakeBusCore;

namespace {

const char PROPERTY[] = "level";

// Deliveries arrive in order; a value that is not the one after the last
// counts as out of order.
class CountingUi : public ZumiPropertyPublisherUI<int> {
public:
    void getValue(const char*, int* value) override { *value = m_last; }
    void setValue(const char*, int value) override {
        if (value != m_last + 1) m_outOfOrder.fetch_add(1, std::memory_order_relaxed);
        m_last = value;
        m_delivered.fetch_add(1, std::memory_order_release);
    }
    int m_last = 0;
    std::atomic<size_t> m_delivered{0};
    std::atomic<size_t> m_outOfOrder{0};
};

struct BridgeSetup {
    BridgeSetup() {
        zumi::bench::initGdkThreads();
        FakeBusCore::instance().reset();
        handler = ZumiHandlerFactory::getZumiHandler("com.zumi.bench.bridge");
        bridge = createNewBridge<int>(handler, &ui, {{PROPERTY, {true, true}}});
    }
    ~BridgeSetup() { bridge->detachFromUI(); }
    CountingUi ui;
    ZumiHandlerSharedPtr handler;
    std::shared_ptr<ZumiPropertyPublisherToUIBridge<int>> bridge;
};

// setValue as the bus thread calls it: record, map entry, idle source.
// Argument 1: the main loop delivers on its own thread meanwhile; 0: it is
// drained between batches, untimed (see EventBench.cpp).
void BM_Double_BridgeSetValue(benchmark::State& state) {
    BridgeSetup setup;
    int value = 0;
    {
        std::unique_ptr<zumi::bench::MainLoopThread> mainLoop;
        if (state.range(0) == 1) mainLoop = std::make_unique<zumi::bench::MainLoopThread>();
        for (auto _ : state) {
            setup.bridge->setValue(PROPERTY, ++value);
            if ((value & 8191) == 0 && !mainLoop) {
                state.PauseTiming();
                zumi::bench::drainMainLoop();
                state.ResumeTiming();
            }
        }
        if (!mainLoop) zumi::bench::drainMainLoop();
        if (!zumi::bench::waitFor(
                [&] { return setup.ui.m_delivered.load() == static_cast<size_t>(value); },
                std::chrono::seconds(60))) {
            state.SkipWithError("not every set reached the UI object");
        } else if (setup.ui.m_outOfOrder.load() != 0) {
            state.SkipWithError("sets reached the UI object out of order");
        }
    }
}

// setValue with the loop asleep before each, as for sets that come one at a
// time to an idle application.
void BM_Double_BridgeSetValueToSleepingLoop(benchmark::State& state) {
    BridgeSetup setup;
    int value = 0;
    zumi::bench::timeCallsToSleepingLoop(
        state, [&] { setup.bridge->setValue(PROPERTY, ++value); },
        [&] { return setup.ui.m_delivered.load(); });
    if (setup.ui.m_outOfOrder.load() != 0) state.SkipWithError("sets reached the UI object out of order");
}

// The main loop's side alone: 10,000 sets are queued (not timed), then the
// loop runs until the UI object has them all.
void BM_Double_DeferredSetDelivery(benchmark::State& state) {
    const int batch = 10000;
    BridgeSetup setup;
    int value = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < batch; ++i) setup.bridge->setValue(PROPERTY, ++value);
        state.ResumeTiming();
        if (!zumi::bench::runMainLoopUntil([&] { return setup.ui.m_delivered.load(); },
                                           static_cast<size_t>(value),
                                           std::chrono::seconds(5))) {
            state.SkipWithError("not every set reached the UI object");
            break;
        }
    }
    if (setup.ui.m_outOfOrder.load() != 0) state.SkipWithError("sets arrived out of order");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * batch);
}

}  // namespace

BENCHMARK(BM_Double_BridgeSetValue)->Arg(1)->Arg(0)->UseRealTime();
BENCHMARK(BM_Double_BridgeSetValueToSleepingLoop)->UseManualTime();
BENCHMARK(BM_Double_DeferredSetDelivery)->UseRealTime()->Unit(benchmark::kMillisecond);
