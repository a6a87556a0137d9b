// libbramwickzumi across processes: another process's event reaching a stock
// listener on this process's main loop, another process's sets reaching a UI
// object through its bridge (the zumi command's among them), and asynchronous
// calls: their results, order, cancellation and lifetimes.

#include <gdk/gdk.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <zumi/zumi.h>

#include "BusFixture.h"
#include "TrackedGdkLock.h"

namespace zumi::testing {
namespace {

namespace zk = veltra::kesh::zumi;

// A factory-made handler and a peer; the GLib main loop runs on this thread
// only while a test waits in runMainLoopUntil.
class LibraryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        installTrackedGdkLock();  // GDK's own, but one that counts the threads waiting for it
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        gdk_threads_init();  // makes the GDK threads lock real, as in an application
#pragma GCC diagnostic pop
    }
    static bool runMainLoopUntil(const std::function<bool()>& done) {
        return waitFor([&] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            return done();
        });
    }
    Peer peer;
    const std::string name = serviceName("library");
    zk::ZumiHandlerSharedPtr handler = zk::ZumiHandlerFactory::getZumiHandler(name.c_str());
};

struct ConfigKeys : zk::VimoDynamicConfigUpdateEventListener {
    void onDynamicConfigUpdated(std::list<std::string>& updated) override {
        keys = updated;
        onMainThread = std::this_thread::get_id() == mainThread;
        ++calls;
    }
    const std::thread::id mainThread = std::this_thread::get_id();
    std::list<std::string> keys;
    bool onMainThread = false;
    int calls = 0;
};

// Records the first integer of each event (-1 for none), then runs action.
struct Listener : zk::SystemEventListener {
    void onEvent(const char*, const char*, const zk::SystemEventDataList& data) override {
        numbers.push_back(data.empty() ? -1 : data.front().getIntValue());
        if (action) action();
    }
    std::vector<int> numbers;
    std::function<void()> action;
};

class AStockListener : public LibraryTest {};

TEST_F(AStockListener, ReceivesAnotherProcesssEventWithParametersOnTheMainLoopUntilUnsubscribed) {
    ASSERT_EQ("0", peer.request(std::string("open ") + ConfigKeys::DC_UPDATE_EVENT_SOURCE));
    ConfigKeys listener;
    Listener probe;
    handler->subscribe(ConfigKeys::DC_UPDATE_EVENT_SOURCE, ConfigKeys::EVENT_DYNAMIC_CONFIG_UPDATED, &listener);
    handler->subscribe(ConfigKeys::DC_UPDATE_EVENT_SOURCE, "probe", &probe);
    // The count is read first, then as many keys as it announces.
    ASSERT_EQ("0", peer.request("emit dynamicConfigUpdated i:2 s:alpha s:beta s:ignored"));
    ASSERT_TRUE(runMainLoopUntil([&] { return listener.calls == 1; }));
    EXPECT_EQ((std::list<std::string>{"alpha", "beta"}), listener.keys);
    EXPECT_TRUE(listener.onMainThread);
    // The probe, sent after the late event by the same sender, arrives after it would have.
    EXPECT_TRUE(handler->unsubscribe(ConfigKeys::DC_UPDATE_EVENT_SOURCE, ConfigKeys::EVENT_DYNAMIC_CONFIG_UPDATED,
                                     &listener));
    peer.requestAll({"emit dynamicConfigUpdated i:1 s:late", "emit probe"});
    ASSERT_TRUE(runMainLoopUntil([&] { return probe.numbers.size() == 1; }));
    EXPECT_EQ(1, listener.calls);
    EXPECT_TRUE(handler->unsubscribe(ConfigKeys::DC_UPDATE_EVENT_SOURCE, "probe", &probe));
}

std::string show(int value) { return std::to_string(value); }
std::string show(const std::string& value) { return value; }
std::string show(const zk::ZumiHashListArrayPtr& reply) {
    if (!reply) return "no reply";
    return std::to_string(reply->length()) + " hashes, sent " + std::to_string((*reply)[reply->length() - 1].getInt("sent"));
}
// A result as text: the value ("done" for none), or "! " and the failure's message.
template <typename Get>
std::string outcome(Get get) {
    try {
        if constexpr (std::is_void_v<decltype(get())>) {
            get();
            return "done";
        } else {
            return show(get());
        }
    } catch (const std::exception& e) {
        return std::string("! ") + e.what();
    }
}
template <typename T>
std::string outcomeOf(const zk::ZumiResult<T>& r) { return outcome([&]() -> decltype(auto) { return r.get(); }); }
template <typename T>
std::string outcomeOf(std::future<T> f) {
    if (f.wait_for(kPatience) != std::future_status::ready) return "no result in time";
    return outcome([&] { return f.get(); });
}

// Runs body from a GDK-threads idle callback, that is with the GDK lock held.
void underGdkLock(std::function<void()>& body) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    gdk_threads_add_idle(
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        &body);
#pragma GCC diagnostic pop
}

// A value as a set records it: an integer as it is, an array as "N hashes"
// (or "null"), which the UI object then releases.
std::string described(int value) { return std::to_string(value); }
std::string described(ZumiHasharrayHandleStruct* value) {
    std::string text = value ? std::to_string(ZumiHasharrayGetHashCount(value)) + " hashes" : "null";
    ZumiHasharrayDestroy(value);
    return text;
}

// Answers 42 (an integer) or null (an array); records each set as
// "name=value", marked when it came off the main loop.
template <typename T>
class RecordingUIObject : public zk::ZumiPropertyPublisherUI<T> {
public:
    void getValue(const char*, T* value) override { *value = T(42 * std::is_same<T, int>::value); }
    void setValue(const char* name, T value) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sets.push_back(std::string(name) + "=" + described(value) +
                         (std::this_thread::get_id() == m_mainThread ? "" : " off the main loop"));
    }
    std::vector<std::string> sets() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sets;
    }

private:
    const std::thread::id m_mainThread = std::this_thread::get_id();
    mutable std::mutex m_mutex;
    std::vector<std::string> m_sets;
};
typedef RecordingUIObject<int> UIObject;

typedef std::map<std::string, std::pair<bool, bool>> Access;
class AUIObjectOnTheBus : public LibraryTest {};

TEST_F(AUIObjectOnTheBus, ReceivesAnotherProcesssSetsInOrderOnItsMainLoopAndAnswersItsReads) {
    ASSERT_EQ("0", peer.request("open -"));
    UIObject numbers;
    auto bridge = zk::createNewBridge<int>(handler, &numbers, Access{{"count", {true, true}}, {"shown", {true, false}}});
    peer.requestAll({"setint " + name + " count 1", "setint " + name + " count 2"});
    EXPECT_TRUE(numbers.sets().empty()) << "a set reached the UI object outside its main loop";
    EXPECT_EQ("9", peer.request("setint " + name + " shown 3")) << "offered for reading only";
    EXPECT_EQ("0 42", peer.request("getint " + name + " count"));
    EXPECT_TRUE(runMainLoopUntil([&] { return numbers.sets().size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{"count=1", "count=2"}), numbers.sets());
    bridge->detachFromUI();
    EXPECT_EQ("8 -1", peer.request("getint " + name + " count")) << "no longer published";
}

// A plain publisher: released by the handler once its connection is closed.
struct Seven : zk::ZumiHandler::ZumiPropertyPublisher<int> {
    void getValue(const char*, int* value) override { *value = 7; }
    void setValue(const char*, int) override {}
    bool isReadable(const char*) const override { return true; }
    bool isWritable(const char*) const override { return false; }
};

// A bridged property that the peer reads while this process's main loop holds
// the GDK lock: the bridge's read waits for it on the bus thread.
class ABridgedReadUnderOurGdkLock : public LibraryTest {
protected:
    void SetUp() override {
        ASSERT_EQ("0", peer.request("open " + source));
        handler->publishIntegerProperty("plain", plain);
    }
    void TearDown() override {
        if (reader.joinable()) reader.join();
        if (bridge) bridge->detachFromUI();
    }
    // Called with the GDK lock held: returns once the peer's read waits for it.
    void startPeerRead() {
        reader = std::thread([this] { readAnswer = peer.request("getint " + name + " count"); });
        ASSERT_TRUE(waitFor([] { return gdkLockWaiters() > 0; }));
    }
    // The scene's own lambda drops the last reference; afterwards the
    // connection has been closed, and nothing of it runs any more.
    void expectClosedAfterTheReadEnded() {
        Watchdog dog(std::chrono::seconds(30), "closing the handler deadlocked against a bridged read");
        ASSERT_TRUE(runMainLoopUntil([&] { return plainWatch.expired(); }));
        reader.join();
        EXPECT_EQ("258 -1", readAnswer) << "the read ends with the detached bridge's refusal";
        EXPECT_EQ("5 -1", peer.request("getint " + name + " plain")) << "the connection is closed";
    }

    const std::string source = serviceName("sender");
    UIObject numbers;
    std::shared_ptr<zk::ZumiPropertyPublisherToUIBridge<int>> bridge =
        zk::createNewBridge<int>(handler, &numbers, Access{{"count", {true, true}}});
    std::shared_ptr<zk::ZumiHandler::ZumiPropertyPublisher<int>> plain = std::make_shared<Seven>();
    std::weak_ptr<zk::ZumiHandler::ZumiPropertyPublisher<int>> plainWatch = plain;
    std::thread reader;
    std::string readAnswer;
};

TEST_F(ABridgedReadUnderOurGdkLock, DoesNotDeadlockTheLastReleaseOfItsHandlerInAGdkIdleCallback) {
    std::function<void()> dropAll = [&] {
        startPeerRead();
        bridge->detachFromUI();
        bridge.reset();
        plain.reset();
        handler.reset();
    };
    underGdkLock(dropAll);
    expectClosedAfterTheReadEnded();
}

TEST_F(ABridgedReadUnderOurGdkLock, DoesNotDeadlockALastUnsubscribeThatReleasesItsHandlerDuringDelivery) {
    Listener last;
    zk::ZumiHandler* protectedHandler = handler.get();
    last.action = [&] {
        startPeerRead();
        bridge->detachFromUI();
        bridge.reset();
        protectedHandler->unsubscribe(source.c_str(), "bye", &last);  // the delivery lets go of the handler
    };
    handler->subscribe(source.c_str(), "bye", &last);
    plain.reset();
    handler.reset();
    ASSERT_EQ("0", peer.request("emit bye"));
    expectClosedAfterTheReadEnded();
}

// A read of this process's own bridged property made with the GDK lock held
// ends: at once where the library knows the lock is held (a listener), at the
// call timeout where it cannot (the application's own GDK-threads callback).
TEST_F(ABridgedReadUnderOurGdkLock, OfOurOwnFailsInsteadOfWaitingForever) {
    setenv("ZUMI_CALL_TIMEOUT_MS", "300", 1);
    const std::string own = serviceName("own");
    zk::ZumiHandlerSharedPtr ownHandler = zk::ZumiHandlerFactory::getZumiHandler(own.c_str());
    unsetenv("ZUMI_CALL_TIMEOUT_MS");
    auto ownBridge = zk::createNewBridge<int>(ownHandler, &numbers, Access{{"count", {true, true}}});
    auto readOwn = [&] { return outcome([&] { return ownHandler->getIntProperty(own.c_str(), "count"); }); };
    Watchdog dog(std::chrono::seconds(30), "a read of our own bridged property did not end");
    Listener listener;
    std::string fromListener, fromIdle;
    listener.action = [&] { fromListener = readOwn(); };
    handler->subscribe(source.c_str(), "read", &listener);
    ASSERT_EQ("0", peer.request("emit read"));
    std::function<void()> fromOurIdle = [&] { fromIdle = readOwn(); };
    underGdkLock(fromOurIdle);
    ASSERT_TRUE(runMainLoopUntil([&] { return !fromListener.empty() && !fromIdle.empty(); }));
    const std::string headline = "Could not retrieve the request property. --source: " + own + " --property: count";
    EXPECT_EQ("! " + headline + " --errorCode: 6 --error: this thread holds the GDK lock, which the UI bridge serving "
                         "this property in this process needs to answer",
              fromListener);
    EXPECT_EQ("! " + headline + " --errorCode: 6 --error: " + ZumiGetErrorString(ZUMI_ERR_TIMEOUT), fromIdle);
    EXPECT_EQ(42, ownHandler->getIntProperty(own.c_str(), "count")) << "the abandoned read left the bridge usable";
    EXPECT_TRUE(handler->unsubscribe(source.c_str(), "read", &listener));
    ownBridge->detachFromUI();
}

// An integer and a string share the name x. The integer's bridge fails on
// its second name and takes back its x: the string x stays published and
// another process still reads it, while the integer x is gone.
TEST_F(AUIObjectOnTheBus, TakesBackOnlyItsOwnTypeWhenPublishingFailsOrItDetaches) {
    ASSERT_EQ("0", peer.request("open -"));
    struct Text : zk::ZumiPropertyPublisherUI<const char*> {
        void getValue(const char*, const char** value) override { *value = "kept"; }
        void setValue(const char*, const char*) override {}
    } text;
    UIObject numbers;
    auto texts = zk::createNewBridge<const char*>(handler, &text, Access{{"x", {true, false}}});
    EXPECT_THROW(zk::createNewBridge<int>(handler, &numbers, Access{{"x", {true, true}}, {"\xff", {true, true}}}),
                 zk::ZumiException)
        << "the bus took a property name that is not UTF-8";
    EXPECT_EQ("8 -1", peer.request("getint " + name + " x"));
    EXPECT_EQ("0 kept", peer.request("getstr " + name + " x"));

    auto integers = zk::createNewBridge<int>(handler, &numbers, Access{{"x", {true, false}}});
    EXPECT_EQ("0 42", peer.request("getint " + name + " x"));
    integers->detachFromUI();
    EXPECT_EQ("0 kept", peer.request("getstr " + name + " x"));
    EXPECT_EQ("8 -1", peer.request("getint " + name + " x"));
    texts->detachFromUI();
}

// The library's accessor takes every access as a set and never answers, so
// the bus must offer its arrays for writing only: else a read would come back
// as an empty array and reach the UI object as a set of null.
TEST_F(AUIObjectOnTheBus, HasItsArraysListedReadAndWrittenTruthfullyByTheZumiCommand) {
    RecordingUIObject<ZumiHasharrayHandleStruct*> arrays;
    auto bridge = zk::createNewBridge<ZumiHasharrayHandleStruct*>(
        handler, &arrays, Access{{"inbox", {false, true}}, {"table", {true, true}}});
    EXPECT_EQ("inbox  hash    write-only\ntable  hash    write-only\n", zumi({"list", name}).out);
    Outcome get = zumi({"get", name, "table"});
    EXPECT_EQ(1, get.status);
    EXPECT_EQ("zumi: Could not retrieve the request property. --source: " + name +
                  " --property: table --errorCode: 9 --error: The property does not allow this access\n",
              get.err);
    Outcome set = zumi({"set", name, "inbox", "[{\"a\": 1}, {}]"});
    EXPECT_EQ(0, set.status) << set.err;
    EXPECT_EQ("", set.out) << "no array came back, so none is printed";
    EXPECT_TRUE(runMainLoopUntil([&] { return !arrays.sets().empty(); }));
    EXPECT_EQ(std::vector<std::string>{"inbox=2 hashes"}, arrays.sets());
    bridge->detachFromUI();
}

// ---- Asynchronous calls --------------------------------------------------------

// A peer serving `service`; the results that callbacks received, in order,
// marked when one came off the main loop.
class AnAsynchronousCall : public LibraryTest {
protected:
    void SetUp() override { peer.requestAll({"open " + service, "int n 7 rw", "str s hello rw", "int ro 1 r", "hash h 0", "hash bad 20"}); }
    template <typename T>
    zk::ZumiAsync::Callback<T> record(int index = -1) {
        return [this, index](const zk::ZumiResult<T>& r) {
            std::lock_guard<std::mutex> lock(m_mutex);
            results.push_back((index >= 0 ? std::to_string(index) + " " : "") + outcomeOf(r) +
                              (std::this_thread::get_id() == m_mainThread ? "" : " off the main loop"));
        };
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return results.size();
    }
    const char* svc() const { return service.c_str(); }
    const std::string service = serviceName("async");
    std::vector<std::string> results;

private:
    std::mutex m_mutex;
    const std::thread::id m_mainThread = std::this_thread::get_id();
};

TEST_F(AnAsynchronousCall, DeliversEveryOperationsValueOrTheSynchronousFormsFailureOnTheMainLoopAndThroughAFuture) {
    using A = zk::ZumiAsync;
    ZumiHasharrayHandleStruct* sent = ZumiHasharrayNew(handler->getUnderlyingZumiHandle());
    int index = 0;
    ZumiHasharrayAddHash(sent, &index);
    ZumiHasharrayPutInt(sent, index, "number", 5);
    const std::string nobody = serviceName("nobody");
    struct Row {
        std::function<void()> async;
        std::function<std::string()> sync, future;
    };
    // The synchronous twin of a hash-array send is the wrapper's publish, whose reply is on its handler.
    auto publish = [&](const char* property) {
        auto array = handler->createNewHashArray();
        (*array)[array->addNewHash()].putInt("number", 5);
        auto reply = array->publishSynchronously(svc(), property, false);
        EXPECT_EQ(handler, reply->getZumiHandler());
        return show(reply);
    };
    int row = 0;  // each result tagged with its row: only calls to one service keep their order
// An operation in its three forms: with a callback, synchronous, and through a future.
#define FORMS(T, operation, ...)                                                    \
    Row{[&] { A::operation(handler, __VA_ARGS__, record<T>(row++)); },              \
        [&] { return outcome([&] { return handler->operation(__VA_ARGS__); }); },   \
        [&] { return outcomeOf(A::operation##Future(handler, __VA_ARGS__)); }}
    const Row rows[] = {
        FORMS(int, getIntProperty, svc(), "n"),
        FORMS(int, getIntProperty, nobody.c_str(), "n"),
        FORMS(std::string, getStringProperty, svc(), "s"),
        FORMS(std::string, getStringProperty, svc(), "n"),
        FORMS(void, setIntProperty, svc(), "n", 7),
        FORMS(void, setIntProperty, svc(), "ro", -3),
        FORMS(void, setStringProperty, svc(), "s", "hello"),
        FORMS(void, setStringProperty, svc(), "missing", "bye"),
        {[&] { A::getHashProperty(handler, svc(), "h", record<zk::ZumiHashListArrayPtr>(row++)); },
         [&] {
             ZumiHasharrayHandleStruct* raw = nullptr;
             handler->getHashProperty(svc(), "h", raw);
             return show(zk::ZumiHashListArrayPtr(new zk::VimoZumiHashListArray(handler, raw)));
         },
         [&] { return outcomeOf(A::getHashPropertyFuture(handler, svc(), "h")); }},
        {[&] { A::setHashProperty(handler, svc(), "h", sent, record<zk::ZumiHashListArrayPtr>(row++)); },
         [&] { return publish("h"); },
         [&] { return outcomeOf(A::setHashPropertyFuture(handler, svc(), "h", sent)); }},
        {[&] { A::setHashProperty(handler, svc(), "bad", sent, record<zk::ZumiHashListArrayPtr>(row++)); },
         [&] { return publish("bad"); },
         [&] { return outcomeOf(A::setHashPropertyFuture(handler, svc(), "bad", sent)); }},
        FORMS(void, sendEvent, "ping"),
        FORMS(void, sendEvent, "not an event"),
    };
#undef FORMS
    for (const Row& r : rows) r.async();  // all pending at once
    ASSERT_TRUE(runMainLoopUntil([&] { return count() == std::size(rows); }));
    std::sort(results.begin(), results.end(), [](const std::string& a, const std::string& b) { return std::stoi(a) < std::stoi(b); });
    for (std::string& r : results) r.erase(0, r.find(' ') + 1);
    std::vector<std::string> synchronous, futures;
    for (const Row& r : rows) synchronous.push_back(outcome(r.sync));
    std::thread([&] { for (const Row& r : rows) futures.push_back(r.future()); }).join();
    EXPECT_EQ(synchronous, results);
    EXPECT_EQ(synchronous, futures);
    EXPECT_EQ("! Could not retrieve the request property. --source: " + nobody +
                  " --property: n --errorCode: 5 --error: " + ZumiGetErrorString(5),
              results[1]);
    EXPECT_EQ("2 hashes, sent 1", results[9]) << "a copy was sent, the caller's array is unchanged";
    EXPECT_EQ(1, ZumiHasharrayGetHashCount(sent));
    EXPECT_EQ(ZUMI_OK, ZumiHasharrayPutInt(sent, 0, "still", 1)) << "the caller's array stays writable";
    ZumiHasharrayDestroy(sent);
}

// Sets and gets alternate on a property whose service holds every answer
// until all of them wait: each get sees the set made just before it.
TEST_F(AnAsynchronousCall, ToOneServiceDeliversAThousandPendingResultsInCallOrder) {
    const int calls = 1000;
    peer.requestAll({"hold n"});
    for (int i = 0; i < calls; ++i) {
        if (i % 2 == 0) {
            zk::ZumiAsync::setIntProperty(handler, svc(), "n", i, record<void>(i));
        } else {
            zk::ZumiAsync::getIntProperty(handler, svc(), "n", record<int>(i));
        }
    }
    EXPECT_EQ(0u, count());
    peer.requestAll({"release n"});
    ASSERT_TRUE(runMainLoopUntil([&] { return count() == calls; }));
    for (int i = 0; i < calls; ++i) {
        EXPECT_EQ(std::to_string(i) + " " + (i % 2 == 0 ? "done" : std::to_string(i - 1)), results[i]);
    }
}

// The handler is the test's only strong reference; pending calls keep it
// alive until their results are delivered or they are cancelled.
TEST_F(AnAsynchronousCall, CancelledBeforeItsReplyNeverCallsBackAndLetsGoOfItsHandlerAsADeliveredOneDoes) {
    peer.requestAll({"hold n"});
    std::weak_ptr<zk::ZumiHandler> weak = handler;
    zk::ZumiPendingCall cancelled = zk::ZumiAsync::getIntProperty(handler, svc(), "n", record<int>(0));
    zk::ZumiPendingCall timedOut = zk::ZumiAsync::getIntProperty(handler, svc(), "n", record<int>(1), std::chrono::milliseconds(200));
    zk::ZumiPendingCall answered = zk::ZumiAsync::getIntProperty(handler, svc(), "n", record<int>(2));
    handler.reset();
    EXPECT_TRUE(cancelled.cancel());
    EXPECT_FALSE(cancelled.pending());
    EXPECT_FALSE(cancelled.cancel()) << "cancelled once only";
    ASSERT_TRUE(runMainLoopUntil([&] { return count() == 1; }));
    EXPECT_TRUE(answered.pending());
    peer.requestAll({"release n"});
    ASSERT_TRUE(runMainLoopUntil([&] { return count() == 2 && weak.expired(); }));
    EXPECT_EQ("1 ! Could not retrieve the request property. --source: " + service +
                  " --property: n --errorCode: 6 --error: " + ZumiGetErrorString(6),
              results[0]);
    EXPECT_EQ("2 7", results[1]);
    EXPECT_FALSE(answered.cancel()) << "already delivered";
    EXPECT_FALSE(timedOut.pending());
}

// Every call is either cancelled (and never calls back) or delivered once,
// whichever thread wins; a last call, delivered after all others, proves that
// no cancelled result is still on its way.
TEST_F(AnAsynchronousCall, CancelledFromAnotherThreadWhileItsReplyArrivesIsDeliveredOnceOrNever) {
    const int calls = 300;
    std::vector<zk::ZumiPendingCall> pending;
    std::vector<int> delivered(calls, 0);
    for (int i = 0; i < calls; ++i) {
        pending.push_back(zk::ZumiAsync::getIntProperty(handler, svc(), "n", [&delivered, i](const zk::ZumiResult<int>&) { ++delivered[i]; }));
    }
    std::vector<char> cancelled(calls, 0);
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        for (int i = 0; i < calls; ++i) {
            cancelled[i] = pending[i].cancel();
            if (i % 16 == 0) usleep(100);
        }
        done = true;
    });
    EXPECT_TRUE(runMainLoopUntil([&] { return done.load(); }));
    canceller.join();
    bool last = false;
    zk::ZumiAsync::getIntProperty(handler, svc(), "n", [&](const zk::ZumiResult<int>&) { last = true; });
    ASSERT_TRUE(runMainLoopUntil([&] { return last; }));
    int cancelledCount = 0;
    for (int i = 0; i < calls; ++i) {
        EXPECT_EQ(cancelled[i] ? 0 : 1, delivered[i]) << "call " << i;
        cancelledCount += cancelled[i];
    }
    RecordProperty("cancelled", cancelledCount);
}

// A GTK handler holds the GDK lock; this process's bridge answers a read
// under that lock on the bus thread: the call must not wait for it.
TEST_F(AnAsynchronousCall, ToABridgedPropertyOfThisProcessNeverWaitsForTheGdkLockItsCallerHolds) {
    UIObject numbers;
    auto bridge = zk::createNewBridge<int>(handler, &numbers, Access{{"count", {true, true}}});
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    gdk_threads_enter();
    zk::ZumiAsync::getIntProperty(handler, name.c_str(), "count", record<int>());
    zk::ZumiAsync::setIntProperty(handler, name.c_str(), "count", 5, record<void>());
    gdk_threads_leave();
#pragma GCC diagnostic pop
    ASSERT_TRUE(runMainLoopUntil([&] { return count() == 2 && numbers.sets().size() == 1; }));
    EXPECT_EQ((std::vector<std::string>{"42", "done"}), results);
    bridge->detachFromUI();
}

TEST_F(AnAsynchronousCall, InFlightWhenItsServiceIsKilledFailsAsTheSynchronousCallWould) {
    peer.requestAll({"hold n"});
    for (int i = 0; i < 4; ++i) zk::ZumiAsync::getIntProperty(handler, svc(), "n", record<int>(i));
    zk::ZumiAsync::setStringProperty(handler, svc(), "s", "x", record<void>(4));
    peer.kill();
    ASSERT_TRUE(runMainLoopUntil([&] { return count() == 5; }));
    std::sort(results.begin(), results.end());  // the daemon fails them in an order of its own
    const std::string fields = " --errorCode: 5 --error: " + std::string(ZumiGetErrorString(5));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::to_string(i) + " ! Could not retrieve the request property. --source: " + service + " --property: n" + fields, results[i]);
    }
    EXPECT_EQ("4 ! Could not set the request property. --source: " + service + " --property: s --value: x" + fields, results[4]);
}

// ---- Refusals by the bus's policy ---------------------------------------------

// The private bus's policy refuses the "forbidden" names to everyone, and
// integer writes to the "guarded" services. Each refusal says so, with the
// daemon's words, in every form of the call, and a handler that may not own
// its name is never created.
TEST_F(LibraryTest, RefusedByTheBusPolicyFailsWithTheDaemonsWordsInEveryFormAndAtTheHandlersCreation) {
    const std::string refused = "--errorCode: 22 --error: The bus's policy does not allow this: ";
    const std::string forbidden = serviceName("forbidden");
    std::string created;
    try {
        zk::ZumiHandlerFactory::getZumiHandler(forbidden.c_str());
    } catch (const zk::ZumiException& e) {
        created = e.what();
    }
    EXPECT_EQ(0u, created.find("Could not register zumi handle. " + refused)) << created;
    EXPECT_NE(std::string::npos, created.find("is not allowed to own the service \"" + forbidden)) << created;
    EXPECT_EQ("22", peer.request("open " + forbidden));
    EXPECT_NE("", peer.errorLineWith("W zumi_test_service:zumi.bus:The bus's policy does not allow this: "));

    const std::string guarded = serviceName("guarded");
    Peer server;
    server.requestAll({"open " + guarded, "int n 7 rw"});
    const std::string set = "Could not set the request property. --source: " + guarded + " --property: n --value: 8 ";
    const std::string synchronous = outcome([&] { handler->setIntProperty(guarded.c_str(), "n", 8); });
    EXPECT_EQ(0u, synchronous.find("! " + set + refused + "Rejected send message")) << synchronous;
    std::string async;
    zk::ZumiAsync::setIntProperty(handler, guarded.c_str(), "n", 8, [&](const zk::ZumiResult<void>& r) { async = outcomeOf(r); });
    ASSERT_TRUE(runMainLoopUntil([&] { return !async.empty(); }));
    EXPECT_EQ(synchronous.substr(0, synchronous.find(" matched rules")), async.substr(0, async.find(" matched rules")));
    EXPECT_EQ("7", outcome([&] { return handler->getIntProperty(guarded.c_str(), "n"); })) << "reads stay allowed";

    Outcome command = zumi({"set", guarded, "n", "8"});
    EXPECT_EQ(1, command.status);
    EXPECT_EQ(0u, command.err.find("zumi: " + set + refused + "Rejected send message")) << command.err;
    EXPECT_EQ("0 7", server.request("getint " + guarded + " n"));
}

}  // namespace
}  // namespace zumi::testing
