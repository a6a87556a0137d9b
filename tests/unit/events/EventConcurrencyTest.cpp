// Subscriptions changing on application threads and from inside onEvent,
// handlers created and destroyed, while a bus thread floods events and the
// main loop (this test's thread) delivers them. Run under TSan and ASan.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <zumi/ZumiHandlerFactory.h>

#include "EventTestSupport.h"
#include "ZumiTest.h"

namespace {

using namespace veltra::kesh::zumi;
using namespace zumi::testing;

const char SOURCE[] = "com.example.sender";
const int FLOOD = 2000;
const int ROUNDS = 150;

// Counts deliveries; checks that the flood's sequence numbers arrive in the
// order they were sent.
struct CountingListener : SystemEventListener {
    void onEvent(const char*, const char*, const SystemEventDataList& data) override {
        if (!data.empty()) outOfOrder += data.front().getIntValue() <= last ? 1 : 0;
        if (!data.empty()) last = data.front().getIntValue();
        ++calls;
    }
    std::atomic<int> calls{0};
    int last = -1, outOfOrder = 0;  // main loop only
};

// On every third flood event, flips a helper listener in or out of the
// flood pair from inside onEvent; the helper counts calls while it is out.
struct Toggler : SystemEventListener {
    struct Helper : SystemEventListener {
        void onEvent(const char*, const char*, const SystemEventDataList&) override {
            ++(*in ? calls : callsWhileRemoved);
        }
        const bool* in = nullptr;
        int calls = 0, callsWhileRemoved = 0;
    };
    explicit Toggler(ZumiHandler& handler) : handler(handler) { helper.in = &helperIn; }
    void onEvent(const char*, const char*, const SystemEventDataList& data) override {
        if (data.front().getIntValue() % 3 != 0) return;
        helperIn = !helperIn;
        if (helperIn) {
            handler.subscribe(SOURCE, "flood", &helper);
        } else if (!handler.unsubscribe(SOURCE, "flood", &helper)) {
            ++failures;
        }
    }
    ZumiHandler& handler;
    Helper helper;
    bool helperIn = false;
    int failures = 0;
};

using AnEventManagerUnderLoad = ZumiTest;

TEST_F(AnEventManagerUnderLoad, DeliversEveryEventInOrderWhileSubscriptionsAndHandlersChurn) {
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler("com.example.busy");
    std::weak_ptr<ZumiHandler> watch = handler;
    CountingListener counter;
    Toggler toggler(*handler);
    handler->subscribe(SOURCE, "flood", &counter);
    // Before the helper, so that it is the one removed when it follows.
    handler->subscribe(SOURCE, "flood", &toggler);

    std::atomic<int> running{4};
    std::atomic<int> wrongResults{0};
    CountingListener churned;
    std::vector<std::thread> threads;
    // Application threads: subscribe and unsubscribe on the busy handler,
    // and on handlers of their own that come and go with their subscription.
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            const std::string side = "side" + std::to_string(t);
            const std::string own = "com.example.own" + std::to_string(t);
            for (int i = 0; i < ROUNDS; ++i) {
                handler->subscribe(SOURCE, "flood", &churned);
                handler->subscribe(SOURCE, side.c_str(), &churned);
                ZumiHandlerFactory::getZumiHandler(own.c_str())->subscribe(SOURCE, "flood",
                                                                           &churned);
                if (!handler->unsubscribe(SOURCE, side.c_str(), &churned)) ++wrongResults;
                if (!handler->unsubscribe(SOURCE, "flood", &churned)) ++wrongResults;
                if (!ZumiHandlerFactory::getZumiHandler(own.c_str())
                         ->unsubscribe(SOURCE, "flood", &churned)) {
                    ++wrongResults;
                }
            }
            --running;
        });
    }
    // The bus thread.
    threads.emplace_back([&] {
        for (int i = 0; i < FLOOD; ++i) {
            FakeBusCore::instance().emit(SOURCE, "flood", {i});
            if (i % 10 == 0) FakeBusCore::instance().emit(SOURCE, "side0");
        }
        --running;
    });
    // A thread that keeps destroying a handler with events queued for it.
    threads.emplace_back([&] {
        CountingListener doomed;
        for (int i = 0; i < ROUNDS; ++i) {
            ZumiHandlerSharedPtr shortLived = ZumiHandlerFactory::getZumiHandler("com.example.doomed");
            shortLived->subscribe(SOURCE, "doom", &doomed);
            FakeBusCore::instance().emit(SOURCE, "doom", {i});
            shortLived->unsubscribe(SOURCE, "doom", &doomed);
        }
        --running;
    });

    EXPECT_TRUE(runMainLoopUntil([&] { return running == 0 && counter.calls == FLOOD; },
                                 std::chrono::seconds(60)));
    for (std::thread& thread : threads) thread.join();
    drainMainLoop();

    EXPECT_EQ(FLOOD, counter.calls);
    EXPECT_EQ(0, counter.outOfOrder);
    EXPECT_EQ(0, wrongResults);
    EXPECT_EQ(0, toggler.failures);
    EXPECT_EQ(0, toggler.helper.callsWhileRemoved);
    EXPECT_GT(toggler.helper.calls, 0);

    handler->unsubscribe(SOURCE, "flood", &counter);
    handler->unsubscribe(SOURCE, "flood", &toggler);
    if (toggler.helperIn) handler->unsubscribe(SOURCE, "flood", &toggler.helper);
    handler.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(0u, bus().openConnections());
}

}  // namespace
