// An event's way through the library on the bus thread, on the test double:
// the event callback reads the source and the parameters, copies them and
// queues them to the main loop, which runs on a thread of its own meanwhile
// and delivers to a listener, as in an application.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include <zumi/SystemEventListener.h>
#include <zumi/ZumiHandlerFactory.h>

#include "FakeBusCore.h"
#include "FakeHandles.h"
#include "support/MainLoop.h"

using veltra::kesh::zumi::SystemEventDataList;
using veltra::kesh::zumi::SystemEventListener;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;
using zumi::testing::FakeBusCore;
using zumi::testing::FakeEvent;

namespace {

const char SOURCE[] = "com.zumi.bench.Source";
const char EVENT[] = "changed";

class CheckingListener : public SystemEventListener {
public:
    void onEvent(const char*, const char*, const SystemEventDataList& data) override {
        // (2, "a", "b") arrives whole, or the figure measured the wrong thing.
        bool whole = data.size() == 3 && data.front().getIntValue() == 2 &&
                     data.back().getStringValue() == "b";
        if (!whole) m_broken.fetch_add(1, std::memory_order_relaxed);
        m_received.fetch_add(1, std::memory_order_release);
    }
    std::atomic<size_t> m_received{0};
    std::atomic<size_t> m_broken{0};
};

// A handler subscribed to SOURCE's EVENT on the test double, and an event
// (2, "a", "b") to hand to the manager's bus callback as the bus thread does.
struct EventSetup {
    EventSetup() {
        zumi::bench::initGdkThreads();
        FakeBusCore& bus = FakeBusCore::instance();
        bus.reset();
        handler = ZumiHandlerFactory::getZumiHandler("com.zumi.bench.events");
        try {
            handler->subscribe(SOURCE, EVENT, &listener);
            subscribed = true;
        } catch (const std::exception& e) {
            error = e.what();
            return;
        }
        std::lock_guard<std::recursive_mutex> lock(bus.m_mutex);
        auto it = bus.m_subscriptions.find(
            std::make_tuple(handler->getUnderlyingZumiHandle(), std::string(SOURCE), std::string(EVENT)));
        if (it == bus.m_subscriptions.end()) {
            error = "subscribe made no bus subscription";
            return;
        }
        subscription = it->second;
        raw.source = SOURCE;
        raw.ints = {2};
        raw.strings = {"a", "b"};
    }
    ~EventSetup() {
        if (subscribed) handler->unsubscribe(SOURCE, EVENT, &listener);
    }
    void fire() {
        raw.nextInt = 0;
        raw.nextString = 0;
        subscription.callback(handler->getUnderlyingZumiHandle(), EVENT, &event, subscription.data);
    }
    size_t received() const { return listener.m_received.load(); }

    ZumiHandlerSharedPtr handler;
    CheckingListener listener;
    FakeBusCore::Subscription subscription;
    FakeEvent raw;
    ZumiEventHandleStruct event{&raw};
    bool subscribed = false;
    std::string error;
};

void BM_Double_EventReadCopyQueue(benchmark::State& state) {
    EventSetup setup;
    if (!setup.error.empty()) {
        state.SkipWithError(setup.error.c_str());
        return;
    }
    size_t sent = 0;
    // Argument 1: the main loop delivers on its own thread meanwhile, as
    // in an application. 0: nobody runs it while the clock runs; the
    // queue is drained between batches, untimed. The difference is what
    // the two threads cost each other (the context lock, the wake-up).
    std::unique_ptr<zumi::bench::MainLoopThread> mainLoop;
    if (state.range(0) == 1) mainLoop = std::make_unique<zumi::bench::MainLoopThread>();
    for (auto _ : state) {
        setup.fire();
        if ((++sent & 8191) == 0 && !mainLoop) {
            state.PauseTiming();
            zumi::bench::drainMainLoop();
            state.ResumeTiming();
        }
    }
    if (!mainLoop) zumi::bench::drainMainLoop();
    if (!zumi::bench::waitFor([&] { return setup.received() == sent; }, std::chrono::seconds(60))) {
        state.SkipWithError("not every queued event was delivered");
    } else if (setup.listener.m_broken.load() != 0) {
        state.SkipWithError("an event arrived with the wrong parameters");
    }
}

// One event at a time to an idle application: the loop asleep before each.
void BM_Double_EventReadCopyQueueToSleepingLoop(benchmark::State& state) {
    EventSetup setup;
    if (!setup.error.empty()) {
        state.SkipWithError(setup.error.c_str());
        return;
    }
    zumi::bench::timeCallsToSleepingLoop(state, [&] { setup.fire(); }, [&] { return setup.received(); });
    if (setup.listener.m_broken.load() != 0) {
        state.SkipWithError("an event arrived with the wrong parameters");
    }
}

}  // namespace

BENCHMARK(BM_Double_EventReadCopyQueue)->Arg(1)->Arg(0)->UseRealTime();
BENCHMARK(BM_Double_EventReadCopyQueueToSleepingLoop)->UseManualTime();
