// Events between processes: parameters, order, unsubscription, and only the
// current owner of a source counting as its sender.

#include <systemd/sd-bus.h>

#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi {
namespace testing {
namespace {

// Records each event as "source event ints... | texts..." and checks what
// the contract promises about reading parameters.
struct Recorder {
    std::mutex lock;
    std::vector<std::string> events;
    ZumiHandle expectedHandle = nullptr;
    bool paramsBehaved = true;
    // Run inside the callback, on the dispatch thread.
    std::function<void(ZumiHandle, const char*)> inside;

    size_t count() {
        std::lock_guard<std::mutex> guard(lock);
        return events.size();
    }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> guard(lock);
        return events;
    }
};

void record(ZumiHandle handle, const char* eventName, ZumiEventHandle event, void* data) {
    Recorder* recorder = static_cast<Recorder*>(data);
    std::ostringstream line;
    line << ZumiGetEventSource(event) << ' ' << eventName;
    int number = 0;
    while (ZumiGetIntParam(event, &number) == ZUMI_OK) line << ' ' << number;
    int untouched = 12345;
    bool behaved = ZumiGetIntParam(event, &untouched) == ZUMI_ERR_NO_MORE_PARAMS && untouched == 12345;
    line << " |";
    const char* text = nullptr;
    while (ZumiGetStringParam(event, &text) == ZUMI_OK) line << ' ' << text;
    const char* still = "unchanged";
    behaved = behaved && ZumiGetStringParam(event, &still) == ZUMI_ERR_NO_MORE_PARAMS &&
              std::string(still) == "unchanged";
    {
        std::lock_guard<std::mutex> guard(recorder->lock);
        recorder->events.push_back(line.str());
        recorder->paramsBehaved = recorder->paramsBehaved && behaved &&
                                  handle == recorder->expectedHandle;
    }
    if (recorder->inside) recorder->inside(handle, eventName);
}

class ASubscriber : public ::testing::Test {
protected:
    void SetUp() override {
        source = serviceName("events");
        ASSERT_EQ("0", peer.request("open " + source));
        handle = openOrFail("");
        recorder.expectedHandle = handle;
    }
    void TearDown() override {
        if (handle != nullptr) {
            EXPECT_EQ(0u, ZumiClose(handle));
        }
        EXPECT_TRUE(recorder.paramsBehaved);
    }
    ZumiStatus subscribe(const std::string& event) {
        return ZumiSubscribeExt(handle, source.c_str(), event.c_str(), record, &recorder);
    }
    bool waitForEvents(size_t count) {
        return waitFor([&] { return recorder.count() >= count; });
    }

    Peer peer;
    std::string source;
    ZumiHandle handle = nullptr;
    Recorder recorder;
};

TEST_F(ASubscriber, ReceivesEveryEventWithItsParametersInTheOrderSent) {
    ASSERT_EQ(0u, subscribe("changed"));
    ASSERT_EQ("0", peer.request("emit changed i:1 i:-2 s:first s:second"));
    ASSERT_EQ("0", peer.request("emit changed"));
    ASSERT_EQ("0", peer.request("burst changed 300"));
    ASSERT_TRUE(waitForEvents(302)) << recorder.count();
    std::vector<std::string> events = recorder.snapshot();
    EXPECT_EQ(source + " changed 1 -2 | first second", events[0]);
    EXPECT_EQ(source + " changed |", events[1]);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(source + " changed " + std::to_string(i) + " |", events[2 + i]);
    }
}

TEST_F(ASubscriber, ReceivesNothingOfAPairItUnsubscribed) {
    ASSERT_EQ(0u, subscribe("dropped"));
    ASSERT_EQ(0u, subscribe("marker"));
    EXPECT_EQ(ZUMI_ERR_ALREADY_REGISTERED, subscribe("marker"));
    ASSERT_EQ(0u, ZumiUnsubscribeExt(handle, source.c_str(), "dropped", nullptr));
    EXPECT_EQ(ZUMI_ERR_NOT_SUBSCRIBED, ZumiUnsubscribeExt(handle, source.c_str(), "dropped", nullptr));
    ASSERT_EQ("0", peer.request("emit dropped i:1"));
    ASSERT_EQ("0", peer.request("emit other i:2"));
    ASSERT_EQ("0", peer.request("emit marker i:3"));
    ASSERT_TRUE(waitForEvents(1));
    // Events of one sender arrive in order: had "dropped" come, it came first.
    EXPECT_EQ(std::vector<std::string>{source + " marker 3 |"}, recorder.snapshot());
}

TEST_F(ASubscriber, IgnoresEventsThatAnotherSenderForgesForTheSource) {
    // A named subscriber, so that the forger can find its unique name and
    // send it the signal directly, past every match rule of the daemon.
    const std::string victim = serviceName("victim");
    ZumiHandle named = openOrFail(victim);
    recorder.expectedHandle = named;
    ASSERT_EQ(0u, ZumiSubscribeExt(named, source.c_str(), "alarm", record, &recorder));
    sd_bus* forger = openRawBus();
    sd_bus_message* reply = nullptr;
    const char* unique = nullptr;
    ASSERT_GE(sd_bus_call_method(forger, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s",
                                 victim.c_str()), 0);
    ASSERT_GE(sd_bus_message_read(reply, "s", &unique), 0);
    // Zero integers, zero texts.
    const uint8_t params[8] = {0};
    sd_bus_message* signal = nullptr;
    ASSERT_GE(sd_bus_message_new_signal(forger, &signal, "/com/tessal/zumi", "com.tessal.Zumi", "Event"), 0);
    ASSERT_GE(sd_bus_message_set_destination(signal, unique), 0);
    ASSERT_GE(sd_bus_message_append(signal, "ss", source.c_str(), "alarm"), 0);
    ASSERT_GE(sd_bus_message_append_array(signal, 'y', params, sizeof params), 0);
    ASSERT_GE(sd_bus_send(forger, signal, nullptr), 0);
    sd_bus_message_unref(signal);
    sd_bus_message_unref(reply);
    sd_bus_flush(forger);
    // The forger's bus is still open: its signal was surely read before the
    // real one, which is sent only after the forger's flush.
    ASSERT_EQ("0", peer.request("emit alarm i:7"));
    ASSERT_TRUE(waitForEvents(1));
    sd_bus_flush_close_unref(forger);
    EXPECT_EQ(std::vector<std::string>{source + " alarm 7 |"}, recorder.snapshot());
    EXPECT_EQ(0u, ZumiClose(named));
}

TEST_F(ASubscriber, FollowsTheSourceToItsNextOwner) {
    ASSERT_EQ(0u, subscribe("hello"));
    ASSERT_EQ("0", peer.request("emit hello i:1"));
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_EQ("0", peer.request("close"));
    Peer next;
    ASSERT_EQ("0", next.request("open " + source));
    ASSERT_EQ("0", next.request("emit hello i:2"));
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(source + " hello 2 |", recorder.snapshot()[1]);
}

TEST_F(ASubscriber, MayUnsubscribeAndCloseFromInsideItsCallback) {
    std::atomic<int> unsubscribed{-1};
    std::atomic<int> closed{-1};
    recorder.inside = [&](ZumiHandle h, const char*) {
        unsubscribed = static_cast<int>(ZumiUnsubscribeExt(h, source.c_str(), "once", nullptr));
        closed = static_cast<int>(ZumiClose(h));
    };
    ASSERT_EQ(0u, subscribe("once"));
    ASSERT_EQ("0", peer.request("emit once"));
    ASSERT_TRUE(waitFor([&] { return closed.load() >= 0; }));
    EXPECT_EQ(0, unsubscribed.load());
    EXPECT_EQ(0, closed.load());
    handle = nullptr;
}

TEST(APublisher, SendsEventsThatAnotherProcessReceives) {
    const std::string source = serviceName("sender");
    ZumiHandle handle = openOrFail(source);
    Peer peer;
    ASSERT_EQ("0", peer.request("open -"));
    ASSERT_EQ("0", peer.request("sub " + source + " news"));
    const int ints[] = {3, 2};
    const char* texts[] = {"a b", "c"};
    EXPECT_EQ(0u, ZumiSendEventWithParams(handle, "news", ints, 2, texts, 2));
    EXPECT_EQ(0u, ZumiCreateAndSendEvent(handle, "news"));
    EXPECT_EQ(source + " news 3 2 | a b c", peer.nextEvent());
    EXPECT_EQ(source + " news |", peer.nextEvent());
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, ZumiCreateAndSendEvent(handle, ""));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, ZumiCreateAndSendEvent(handle, nullptr));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, ZumiSendEventWithParams(handle, "news", nullptr, 1, nullptr, 0));
    EXPECT_EQ(0u, ZumiClose(handle));
}

}  // namespace
}  // namespace testing
}  // namespace zumi

namespace zumi {
namespace testing {
namespace {

TEST(APublisher, ReachesSubscribersInItsOwnProcessIncludingItself) {
    const std::string source = serviceName("selfish");
    ZumiHandle publisher = openOrFail(source);
    ZumiHandle other = openOrFail("");
    Recorder own, others;
    own.expectedHandle = publisher;
    others.expectedHandle = other;
    ASSERT_EQ(0u, ZumiSubscribeExt(publisher, source.c_str(), "echo", record, &own));
    ASSERT_EQ(0u, ZumiSubscribeExt(other, source.c_str(), "echo", record, &others));
    const int ints[] = {1};
    const char* texts[] = {"x"};
    ASSERT_EQ(0u, ZumiSendEventWithParams(publisher, "echo", ints, 1, texts, 1));
    EXPECT_TRUE(waitFor([&] { return own.count() == 1 && others.count() == 1; }));
    EXPECT_EQ(0u, ZumiClose(other));
    EXPECT_EQ(0u, ZumiClose(publisher));
    EXPECT_EQ(std::vector<std::string>{source + " echo 1 | x"}, own.snapshot());
    EXPECT_EQ(own.snapshot(), others.snapshot());
    EXPECT_TRUE(own.paramsBehaved && others.paramsBehaved);
}

}  // namespace
}  // namespace testing
}  // namespace zumi
