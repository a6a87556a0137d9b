// An event's way through the library on the bus thread, on the test double:
// the event callback reads the source and the parameters, copies them and
// queues them to the main loop, which runs on a thread of its own meanwhile
// and delivers to a listener, as in an application.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
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

void BM_Double_EventReadCopyQueue(benchmark::State& state) {
    zumi::bench::initGdkThreads();
    FakeBusCore& bus = FakeBusCore::instance();
    bus.reset();
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler("com.zumi.bench.events");
    CheckingListener listener;
    try {
        handler->subscribe(SOURCE, EVENT, &listener);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    FakeBusCore::Subscription subscription;
    {
        std::lock_guard<std::recursive_mutex> lock(bus.m_mutex);
        auto it = bus.m_subscriptions.find(
            std::make_tuple(handler->getUnderlyingZumiHandle(), std::string(SOURCE), std::string(EVENT)));
        if (it == bus.m_subscriptions.end()) {
            state.SkipWithError("subscribe made no bus subscription");
            return;
        }
        subscription = it->second;
    }
    FakeEvent raw;
    raw.source = SOURCE;
    raw.ints = {2};
    raw.strings = {"a", "b"};
    ZumiEventHandleStruct event{&raw};
    ZumiHandle connection = handler->getUnderlyingZumiHandle();
    size_t sent = 0;
    {
        // Argument 1: the main loop delivers on its own thread meanwhile, as
        // in an application. 0: nobody runs it while the clock runs; the
        // queue is drained between batches, untimed. The difference is what
        // the two threads cost each other (the context lock, the wake-up).
        std::unique_ptr<zumi::bench::MainLoopThread> mainLoop;
        if (state.range(0) == 1) mainLoop = std::make_unique<zumi::bench::MainLoopThread>();
        for (auto _ : state) {
            raw.nextInt = 0;
            raw.nextString = 0;
            subscription.callback(connection, EVENT, &event, subscription.data);
            if ((++sent & 8191) == 0 && !mainLoop) {
                state.PauseTiming();
                zumi::bench::drainMainLoop();
                state.ResumeTiming();
            }
        }
        if (!mainLoop) zumi::bench::drainMainLoop();
        if (!zumi::bench::waitFor([&] { return listener.m_received.load() == sent; },
                                  std::chrono::seconds(60))) {
            state.SkipWithError("not every queued event was delivered");
        } else if (listener.m_broken.load() != 0) {
            state.SkipWithError("an event arrived with the wrong parameters");
        }
    }
    handler->unsubscribe(SOURCE, EVENT, &listener);
}

}  // namespace

BENCHMARK(BM_Double_EventReadCopyQueue)->Arg(1)->Arg(0)->UseRealTime();
