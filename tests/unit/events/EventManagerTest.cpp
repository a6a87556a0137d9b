// Subscriptions through a factory-made handler, events injected by the test
// double from a thread of their own and delivered on a real GLib main loop.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>

#include <zumi/ZumiEventQueue.h>
#include <zumi/ZumiException.h>
#include <zumi/ZumiHandlerFactory.h>

#include "EventTestSupport.h"
#include "FailingAllocation.h"
#include "TrackedGdkLock.h"
#include "ZumiTest.h"
#include "handler/VimoZumiHandler.h"

namespace {

using namespace veltra::kesh::zumi;
using namespace zumi::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char SOURCE[] = "com.example.sender";
const char HANDLE_TAG[] =
    "void veltra::kesh::zumi::VimoSystemEventManager::handleZumiEvent(const string&, const "
    "string&, const SystemEventDataList&)";
const char UNSUBSCRIBE_TAG[] =
    "virtual bool veltra::kesh::zumi::VimoSystemEventManager::unsubscribe(const char*, const "
    "char*, const veltra::kesh::zumi::SystemEventListener*)";
const char INFORMING[] = "D %s:%s:Informing %d subscribers of source %s and event %s:";

class ASubscribedHandler : public ZumiTest {
protected:
    void SetUp() override {
        ZumiTest::SetUp();
        handler = ZumiHandlerFactory::getZumiHandler("com.example.listener");
        watch = handler;
        logs().clear();
    }
    void TearDown() override {
        drainMainLoop();
        handler.reset();
        EXPECT_TRUE(watch.expired()) << "a subscription was left behind";
        ZumiTest::TearDown();
    }
    // Sends the event and runs the main loop until it has been handled.
    void deliver(const char* event, std::vector<int> ints = {},
                 std::vector<std::string> strings = {}) {
        const size_t handled = logs().withFormat(INFORMING).size() + noSubscriberLines();
        emitFromBusThread(SOURCE, event, ints, strings);
        ASSERT_TRUE(runMainLoopUntil([&] {
            return logs().withFormat(INFORMING).size() + noSubscriberLines() > handled;
        }));
    }
    size_t noSubscriberLines() {
        return logs().withFormat("D %s:%s:No subscribers for source %s and event %s:").size();
    }

    ZumiHandlerSharedPtr handler;
    std::weak_ptr<ZumiHandler> watch;
    std::vector<std::string> journal;
    JournalListener first{"first", journal};
    JournalListener second{"second", journal};
};

// first throws from every onEvent: logged, and the next listener still informed.
TEST_F(ASubscribedHandler, SharesOneBusSubscriptionPerPairAndInformsInSubscriptionOrder) {
    first.action = [] { throw 42; };
    // Not a palindrome, so that listeners added at the wrong end show.
    JournalListener third("third", journal);
    handler->subscribe(SOURCE, "ping", &first);
    handler->subscribe(SOURCE, "ping", &second);
    handler->subscribe(SOURCE, "ping", &first);
    handler->subscribe(SOURCE, "ping", &third);
    handler->subscribe(SOURCE, "pong", &second);
    ASSERT_EQ(2u, bus().count("ZumiSubscribeExt"));
    EXPECT_EQ(handler->getUnderlyingZumiHandle(), bus().calls("ZumiSubscribeExt")[0].handle);

    deliver("ping", {7});
    EXPECT_THAT(journal, ElementsAre("first:ping:7", "second:ping:7", "first:ping:7", "third:ping:7"));
    const std::string thrown = "During listener callback, unexpected exception was thrown. "
                               "Exception details unavailable.";
    const std::string logLine = logged(
        "E", "kesh_error_vimoSystemEventManager_handleZumiEvent_callback_exception", thrown);
    EXPECT_THAT(logs().texts("E %s:%s:" + thrown + ":"), ElementsAre(logLine, logLine));

    JournalListener stranger("stranger", journal);
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &first));
    EXPECT_FALSE(handler->unsubscribe(SOURCE, "ping", &stranger));
    EXPECT_FALSE(handler->unsubscribe(SOURCE, "never", &first));
    EXPECT_EQ(0u, bus().count("ZumiUnsubscribeExt"));

    journal.clear();
    deliver("ping");
    EXPECT_THAT(journal, ElementsAre("second:ping:", "first:ping:", "third:ping:"));
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &third));
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &second));
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &first));
    EXPECT_FALSE(handler->unsubscribe(SOURCE, "ping", &first));
    EXPECT_EQ(1u, bus().count("ZumiUnsubscribeExt"));
    EXPECT_FALSE(bus().isSubscribed(handler->getUnderlyingZumiHandle(), SOURCE, "ping"));
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "pong", &second));
}

TEST_F(ASubscribedHandler, ReadsTheLastIntegerAsTheCountOfTheStringsThatFollow) {
    handler->subscribe(SOURCE, "ping", &first);
    deliver("ping", {1}, {"a", "b"});
    deliver("ping", {5}, {"a", "b"});
    deliver("ping", {3, 0}, {"a"});
    EXPECT_THAT(journal, ElementsAre("first:ping:1,'a'", "first:ping:5,'a','b'", "first:ping:3,0"));

    // What a faulty bus might hand over: no source drops the event, a NULL
    // text is read as empty.
    FakeEvent noSource;
    noSource.ints = {1};
    FakeEvent nullText;
    nullText.source = SOURCE;
    nullText.ints = {1};
    nullText.strings = {nullptr};
    std::thread bus([&] {
        FakeBusCore::instance().emitRaw(SOURCE, "ping", noSource);
        FakeBusCore::instance().emitRaw(SOURCE, "ping", nullText);
    });
    bus.join();
    ASSERT_TRUE(runMainLoopUntil([&] { return journal.size() == 4; }));
    EXPECT_EQ("first:ping:1,''", journal.back());
    EXPECT_EQ(1u, logs().withFormat("W %s:%s:Zumi event recieved with NULL source or event name, "
                                    "event dropped.:")
                      .size());
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &first));
}

TEST_F(ASubscribedHandler, KeepsAStalePairAfterAFailedUnsubscriptionUntilARetrySucceeds) {
    handler->subscribe(SOURCE, "ping", &first);
    bus().failNext("ZumiUnsubscribeExt", ZUMI_ERR_TIMEOUT);
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &first));
    EXPECT_THAT(
        logs().texts(
            "E %s:%s:source=%s,event=%s,zumiStatus=%s Could not unsubscribe from zumi event.:"),
        ElementsAre(logged("E", "kesh_error_vimoSystemEventManager_unsubscribe_zumiError",
                           std::string("source=com.example.sender,event=ping,zumiStatus=") +
                               ZumiGetErrorString(ZUMI_ERR_TIMEOUT) +
                               " Could not unsubscribe from zumi event.")));

    handler.reset();
    EXPECT_FALSE(watch.expired()) << "a stale pair keeps the handler protected";
    deliver("ping");
    EXPECT_THAT(journal, IsEmpty());

    handler = ZumiHandlerFactory::getZumiHandler("com.example.listener");
    EXPECT_EQ(watch.lock(), handler);
    handler->subscribe(SOURCE, "ping", &second);
    EXPECT_EQ(1u, bus().count("ZumiSubscribeExt"));
    deliver("ping");
    EXPECT_THAT(journal, ElementsAre("second:ping:"));
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &second));
    EXPECT_EQ(2u, bus().count("ZumiUnsubscribeExt"));
}

TEST_F(ASubscribedHandler, LetsGoOfItselfWhenTheOnlySubscriptionFailsButNotWhileAnotherStands) {
    bus().failNext("ZumiSubscribeExt", ZUMI_ERR_NO_SERVICE);
    EXPECT_EQ(ZumiGetErrorString(ZUMI_ERR_NO_SERVICE),
              thrownMessage<ZumiException>([&] { handler->subscribe(SOURCE, "ping", &first); }));
    handler.reset();
    EXPECT_TRUE(watch.expired());

    handler = ZumiHandlerFactory::getZumiHandler("com.example.listener");
    watch = handler;
    handler->subscribe(SOURCE, "ping", &first);
    bus().failNext("ZumiSubscribeExt", ZUMI_ERR_NO_SERVICE);
    EXPECT_THROW(handler->subscribe(SOURCE, "pong", &first), ZumiException);
    handler.reset();
    ASSERT_FALSE(watch.expired());
    handler = watch.lock();
    EXPECT_FALSE(handler->unsubscribe(SOURCE, "pong", &first));
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &first));
}

// Memory may run out at any allocation of a subscription: it then happens
// whole or leaves nothing (no bus subscription, the handler unprotected).
// Inside a delivery the same holds for an unsubscription: the listener either
// goes or goes on receiving. Log lines are off while allocations fail, as the
// test's capture of them allocates too.
TEST_F(ASubscribedHandler, LeavesNothingHalfDoneWhereverMemoryRunsOut) {
    const unsigned int mask = g_tessal_log_mask;
    auto outOfMemoryAt = [&](int nth, const std::function<void()>& body) {
        g_tessal_log_mask = 0;
        failAllocation(nth);
        bool threw = false;
        try {
            body();
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        failAllocation(0);
        g_tessal_log_mask = mask;
        return threw;
    };
    for (int nth = 1; outOfMemoryAt(nth, [&] { handler->subscribe(SOURCE, "ping", &first); });
         ++nth) {
        EXPECT_FALSE(bus().isSubscribed(handler->getUnderlyingZumiHandle(), SOURCE, "ping")) << nth;
        handler.reset();
        ASSERT_TRUE(watch.expired()) << "still protected after allocation " << nth << " failed";
        handler = ZumiHandlerFactory::getZumiHandler("com.example.listener");
        watch = handler;
    }
    handler->subscribe(SOURCE, "ping", &second);
    for (int nth = 1;; ++nth) {
        bool threw = false;
        first.action = [&] {
            threw = outOfMemoryAt(nth, [&] { handler->unsubscribe(SOURCE, "ping", &first); });
        };
        deliver("ping");
        first.action = nullptr;
        journal.clear();
        deliver("ping");
        if (!threw) break;
        EXPECT_THAT(journal, ElementsAre("first:ping:", "second:ping:")) << nth;
        journal.clear();
    }
    EXPECT_THAT(journal, ElementsAre("second:ping:"));
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &second));
    EXPECT_FALSE(bus().isSubscribed(handler->getUnderlyingZumiHandle(), SOURCE, "ping"));
}

// The manager's own lines, in order, each with the tag of the operation that
// writes it; several carry spellings that other programs match as they are.
// Null arguments are refused before any bus call.
TEST_F(ASubscribedHandler, RefusesNullArgumentsAndLogsThePairsLifeWithEachOperationsTagInOrder) {
    const std::string subscribeTag =
        "virtual void veltra::kesh::zumi::VimoSystemEventManager::subscribe(const char*, const "
        "char*, const veltra::kesh::zumi::SystemEventListener*)";
    const std::string factoryTag =
        "static veltra::kesh::zumi::ZumiHandlerFactory::ZumiHandlerSharedPtr "
        "veltra::kesh::zumi::ZumiHandlerFactory::getZumiHandler(const char*)";
    const std::string callbackTag =
        "static void veltra::kesh::zumi::VimoSystemEventManager::zumiEventCallback(ZumiHandle, "
        "const char*, ZumiEventHandle, void*)";
    const std::string idleTag =
        "static gboolean "
        "veltra::kesh::zumi::VimoSystemEventManager::glibSerilizationFunction(gpointer)";
    const std::string unprotectTag =
        "virtual void veltra::kesh::zumi::VimoSystemEventManager::attemptUnprotectHandler()";
    const std::string pair = "source:com.example.sender and event:ping";
    const std::pair<std::function<void()>, std::string> refusals[] = {
        {[&] { handler->subscribe(nullptr, "ping", &first); }, "subscribe called with NULL source or event"},
        {[&] { handler->unsubscribe(SOURCE, nullptr, &first); }, "unsubscribe called with NULL source or event"},
        {[&] { handler->subscribe(SOURCE, "ping", nullptr); }, "listener argument was NULL"},
    };
    for (const auto& r : refusals) EXPECT_EQ(r.second, thrownMessage<std::invalid_argument>(r.first));
    EXPECT_EQ(0u, bus().count("ZumiSubscribeExt"));

    handler->subscribe(SOURCE, "ping", &first);
    deliver("ping", {1}, {"a"});
    EXPECT_FALSE(handler->unsubscribe(SOURCE, "ping", &second));
    EXPECT_FALSE(handler->unsubscribe(SOURCE, "never", &first));
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &first));

    EXPECT_THAT(
        logs().texts(),
        ElementsAre(
            logged("W", "kesh.warn.vimoSystemEventManager.subscribe.sourceOrEventNull",
                   "Subscribe called with NULL source or event, subscribe ignored."),
            logged("W", "kesh.warn.vimoSystemEventManager.unsubscribe.sourceOrEventNull",
                   "Unsubscribe called with NULL source or event, unsubscribe ignored."),
            logged("D", subscribeTag, "Protecting ZumiHandler"),
            logged("D", factoryTag,
                         "Returning cached ZumiHandler for zumiId: com.example.listener"),
            logged("D", subscribeTag,
                         "Creating new subscriber list and adding subscriber for " + pair),
            logged("D", callbackTag,
                         "Zumi event recieved for sourceName:com.example.sender and "
                         "eventName:ping"),
            logged("D", idleTag,
                         "source com.example.sender, event ping scheduled to run on the main "
                         "thread"),
            logged("D", HANDLE_TAG,
                         "Informing 1 subscribers of source com.example.sender and event ping"),
            logged("D", UNSUBSCRIBE_TAG,
                         "Unsubscribe called for listener that is not subscribed to " + pair),
            logged("D", UNSUBSCRIBE_TAG,
                   "Unsubscribe called for source and event that aren't subscribed, "
                   "source:com.example.sender and event:never"),
            logged("D", UNSUBSCRIBE_TAG, "Removing subscriber for " + pair),
            logged("D", UNSUBSCRIBE_TAG,
                         "No more subscribers, removing subscriber list for " + pair),
            logged("D", unprotectTag, "Unprotecting ZumiHandler")));
}

TEST_F(ASubscribedHandler, DropsEventsQueuedBeforeItsListenersLeftOrItWasDestroyed) {
    handler->subscribe(SOURCE, "ping", &first);
    emitFromBusThread(SOURCE, "ping");
    handler->unsubscribe(SOURCE, "ping", &first);
    ASSERT_TRUE(runMainLoopUntil([&] { return noSubscriberLines() == 1; }));

    handler->subscribe(SOURCE, "ping", &first);
    for (int i = 0; i < 3; ++i) emitFromBusThread(SOURCE, "ping", {i});
    handler->unsubscribe(SOURCE, "ping", &first);
    handler.reset();
    ASSERT_TRUE(watch.expired());
    const char dropped[] =
        "D %s:%s:source %s, event %s dropped, its VimoSystemEventManager is gone:";
    ASSERT_TRUE(runMainLoopUntil([&] { return logs().withFormat(dropped).size() == 3; }));
    EXPECT_THAT(journal, IsEmpty());

    // The next manager's events travel in the copies the dropped ones left.
    handler = ZumiHandlerFactory::getZumiHandler("com.example.listener");
    handler->subscribe(SOURCE, "ping", &first);
    deliver("ping", {7});
    EXPECT_THAT(journal, ElementsAre("first:ping:7"));
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &first));
}

// The queue toward the main loop is the process's: a limit of 3 lets the
// first three events in, drops the next two, and makes room again as the main
// loop delivers. The drops are told once, by the delivery that empties the
// queue, and only the drops since the last such line.
TEST_F(ASubscribedHandler, DropsEventsPastTheQueueLimitAndTellsTheCountOnceTheQueueHasDrained) {
    struct RestoreLimit {
        ~RestoreLimit() { ZumiEventQueue::setLimit(ZumiEventQueue::DEFAULT_LIMIT); }
    } restore;
    EXPECT_THROW(ZumiEventQueue::setLimit(0), std::invalid_argument);
    ZumiEventQueue::setLimit(3);
    const char full[] = "W %s:%s:%llu events dropped, the main loop's queue was full (limit %llu).:";
    std::vector<size_t> toldBeforeEachDelivery;
    first.action = [&] { toldBeforeEachDelivery.push_back(logs().withFormat(full).size()); };
    handler->subscribe(SOURCE, "ping", &first);
    const uint64_t droppedBefore = ZumiEventQueue::getDroppedCount();
    auto fill = [&](int from, int to) {
        for (int i = from; i < to; ++i) emitFromBusThread(SOURCE, "ping", {i});
    };

    fill(0, 5);
    EXPECT_EQ(3u, ZumiEventQueue::getQueuedCount());
    EXPECT_EQ(2u, ZumiEventQueue::getDroppedCount() - droppedBefore);
    ASSERT_TRUE(runMainLoopUntil([&] { return journal.size() == 3; }));
    fill(5, 9);
    ASSERT_TRUE(runMainLoopUntil([&] { return journal.size() == 6; }));
    fill(9, 10);
    ASSERT_TRUE(runMainLoopUntil([&] { return journal.size() == 7; }));

    EXPECT_THAT(journal, ElementsAre("first:ping:0", "first:ping:1", "first:ping:2", "first:ping:5",
                                     "first:ping:6", "first:ping:7", "first:ping:9"));
    const std::string tag = "kesh.warn.vimoSystemEventManager.eventQueue.dropped";
    EXPECT_THAT(logs().texts(full),
                ElementsAre(logged("W", tag, "2 events dropped, the main loop's queue was full (limit 3)."),
                            logged("W", tag, "1 events dropped, the main loop's queue was full (limit 3).")));
    EXPECT_THAT(toldBeforeEachDelivery, ElementsAre(0, 0, 0, 1, 1, 1, 2));
    EXPECT_EQ(3u, ZumiEventQueue::getDroppedCount() - droppedBefore);
    EXPECT_EQ(0u, ZumiEventQueue::getQueuedCount());
    EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &first));
}

// ---- Listeners that change subscriptions from inside onEvent ----------------

TEST_F(ASubscribedHandler, MadeWithoutTheFactoryEndsItsSubscriptionsWhenDestroyed) {
    handler.reset();
    auto direct = std::make_unique<VimoZumiHandler>("com.example.listener");
    direct->subscribe(SOURCE, "ping", &first);
    direct->subscribe(SOURCE, "pong", &first);
    // The factory's handler for the identifier carries the subscriptions.
    ZumiHandle carrier = bus().calls("ZumiSubscribeExt").at(0).handle;
    EXPECT_NE(direct->getUnderlyingZumiHandle(), carrier);
    deliver("ping");
    EXPECT_THAT(journal, ElementsAre("first:ping:"));

    logs().clear();
    bus().failNext("ZumiUnsubscribeExt", ZUMI_ERR_TIMEOUT);
    const ZumiHandle own = direct->getUnderlyingZumiHandle();
    const size_t before = bus().calls().size();
    direct.reset();
    // Its own connection is closed before its manager goes: no event callback
    // can reach the manager once it is being destroyed.
    std::vector<std::string> teardown;
    const std::vector<Call> calls = bus().calls();
    for (auto call = calls.begin() + before; call != calls.end(); ++call) {
        if ((call->function == "ZumiClose" && call->handle == own) ||
            call->function == "ZumiUnsubscribeExt") {
            teardown.push_back(call->function);
        }
    }
    EXPECT_THAT(teardown, ElementsAre("ZumiClose", "ZumiUnsubscribeExt", "ZumiUnsubscribeExt"));
    ASSERT_EQ(2u, logs().lines().size());
    EXPECT_EQ(logged("D", "virtual veltra::kesh::zumi::VimoSystemEventManager::~VimoSystemEventManager()",
                     "VimoSysteMEventManager destructed with 2 zumi events subscribed to, "
                     "unsubscribing"),
              logs().lines()[0].text);
    EXPECT_THAT(logs().lines()[1].text,
                ::testing::MatchesRegex(logged("E", "kesh_error_vimoSystemEventManager_destructor_"
                                                    "unsubscribe_failed",
                                               "source=com\\.example\\.sender,event=p(ing|ong) "
                                               "Could not unsubscribe from zumi event in "
                                               "VimoSystemEventManager destructor\\.")));
    EXPECT_EQ(0u, bus().openConnections()) << "the carrier is released with the manager";
}

using AListenerInsideOnEvent = ASubscribedHandler;

// During the first ping, first removes second (later in the list) and adds
// third to ping and pong: second is not called any more, third only from
// the next event on.
TEST_F(AListenerInsideOnEvent, ChangesTheListenersFromTheNextEventOnAndSkipsARemovedOne) {
    JournalListener third("third", journal);
    first.action = [&] {
        if (journal.size() > 1) return;
        EXPECT_TRUE(handler->unsubscribe(SOURCE, "ping", &second));
        handler->subscribe(SOURCE, "ping", &third);
        handler->subscribe(SOURCE, "pong", &third);
    };
    handler->subscribe(SOURCE, "ping", &first);
    handler->subscribe(SOURCE, "ping", &second);
    deliver("ping", {1});
    deliver("ping", {2});
    deliver("pong");
    EXPECT_THAT(journal,
                ElementsAre("first:ping:1", "first:ping:2", "third:ping:2", "third:pong:"));
    EXPECT_EQ(2u, bus().count("ZumiSubscribeExt"));
    handler->unsubscribe(SOURCE, "ping", &first);
    handler->unsubscribe(SOURCE, "ping", &third);
    handler->unsubscribe(SOURCE, "pong", &third);
}

// The delivery runs under the GDK lock, which a bridged read on the bus
// thread may be waiting for: the connection is closed later, outside it.
TEST_F(AListenerInsideOnEvent, RemovingItselfLastEndsTheSubscriptionAndFreesTheHandlerAfterward) {
    first.action = [&] { EXPECT_TRUE(watch.lock()->unsubscribe(SOURCE, "ping", &first)); };
    handler->subscribe(SOURCE, "ping", &first);
    handler->subscribe(SOURCE, "ping", &first);
    handler->subscribe(SOURCE, "ping", &second);
    second.action = [&] { EXPECT_TRUE(watch.lock()->unsubscribe(SOURCE, "ping", &second)); };
    bool closedUnderGdkLock = true;
    bus().hooks.close = [&](ZumiHandle closed) {
        closedUnderGdkLock = gdkLockHeldByThisThread();
        return ZumiStatus(bus().closeConnection(closed) ? ZUMI_OK : ZUMI_ERR_DISCONNECTED);
    };
    handler.reset();
    emitFromBusThread(SOURCE, "ping");
    ASSERT_TRUE(runMainLoopUntil([&] { return bus().count("ZumiClose") == 1; }));
    EXPECT_FALSE(closedUnderGdkLock);
    EXPECT_TRUE(watch.expired());
    EXPECT_THAT(journal, ElementsAre("first:ping:", "first:ping:", "second:ping:"));
    EXPECT_EQ(1u, bus().count("ZumiUnsubscribeExt"));
    EXPECT_EQ(0u, bus().openConnections());
}

}  // namespace
