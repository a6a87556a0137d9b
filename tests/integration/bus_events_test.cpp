// Events between processes and within one: parameters, order, unsubscription,
// and only the current owner of a source counting as its sender.

#include <systemd/sd-bus.h>

#include <atomic>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

// Records each event as "source event ints... | texts..." and checks what
// the contract promises about reading parameters past their end.
struct Recorder {
    std::mutex lock;
    std::vector<std::string> events;
    ZumiHandle expectedHandle = nullptr;
    bool paramsBehaved = true;
    std::function<void(ZumiHandle)> inside;  // run in the callback, on the dispatch thread

    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> guard(lock);
        return events;
    }
    bool waitForEvents(size_t count) { return waitFor([&] { return snapshot().size() >= count; }); }
};

void record(ZumiHandle handle, const char* eventName, ZumiEventHandle event, void* data) {
    Recorder* recorder = static_cast<Recorder*>(data);
    std::ostringstream line;
    line << ZumiGetEventSource(event) << ' ' << eventName;
    int number = 0, untouched = 12345;
    while (ZumiGetIntParam(event, &number) == ZUMI_OK) line << ' ' << number;
    line << " |";
    const char *text = nullptr, *still = "unchanged";
    while (ZumiGetStringParam(event, &text) == ZUMI_OK) line << ' ' << text;
    const bool behaved = ZumiGetIntParam(event, &untouched) == ZUMI_ERR_NO_MORE_PARAMS && untouched == 12345 &&
                         ZumiGetStringParam(event, &still) == ZUMI_ERR_NO_MORE_PARAMS &&
                         std::string(still) == "unchanged" && handle == recorder->expectedHandle;
    {
        std::lock_guard<std::mutex> guard(recorder->lock);
        recorder->events.push_back(line.str());
        recorder->paramsBehaved = recorder->paramsBehaved && behaved;
    }
    if (recorder->inside) recorder->inside(handle);
}

class ASubscriber : public PeerServiceTest {
protected:
    void TearDown() override {
        PeerServiceTest::TearDown();
        EXPECT_TRUE(recorder.paramsBehaved);
    }
    ZumiStatus subscribe(ZumiHandle handle, const char* event) {
        recorder.expectedHandle = handle;
        return ZumiSubscribeExt(handle, service.c_str(), event, record, &recorder);
    }
    Recorder recorder;
};

TEST_F(ASubscriber, ReceivesTheEventsOfItsPairsWithParametersInOrderFromTheSourcesCurrentOwner) {
    for (const char* event : {"changed", "dropped"}) ASSERT_EQ(0u, subscribe(client, event));
    EXPECT_EQ(ZUMI_ERR_ALREADY_REGISTERED, subscribe(client, "changed"));
    ASSERT_EQ(0u, ZumiUnsubscribeExt(client, service.c_str(), "dropped", nullptr));
    EXPECT_EQ(ZUMI_ERR_NOT_SUBSCRIBED, ZumiUnsubscribeExt(client, service.c_str(), "dropped", nullptr));
    peer.requestAll({"emit changed i:1 i:-2 s:first s:second", "emit dropped i:1", "emit other i:2",
                     "emit changed", "burst changed 300"});
    ASSERT_TRUE(recorder.waitForEvents(302));
    // Events of one sender arrive in order: had "dropped" come, it came before these.
    std::vector<std::string> events = recorder.snapshot();
    EXPECT_EQ(service + " changed 1 -2 | first second", events[0]);
    EXPECT_EQ(service + " changed |", events[1]);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(service + " changed " + std::to_string(i) + " |", events[2 + i]);

    ASSERT_EQ("0", peer.request("close"));
    Peer next;
    next.requestAll({"open " + service, "emit changed i:2"});
    ASSERT_TRUE(recorder.waitForEvents(303));
    EXPECT_EQ(service + " changed 2 |", recorder.snapshot().back());
}

TEST_F(ASubscriber, IgnoresEventsThatAnotherSenderForgesForTheSource) {
    // A named subscriber, so that the forger can find its unique name and
    // send it the signal directly, past every match rule of the daemon.
    const std::string victim = serviceName("victim");
    ZumiHandle named = openOrFail(victim);
    ASSERT_EQ(0u, subscribe(named, "alarm"));
    sd_bus* forger = openRawBus();
    sd_bus_message *reply = nullptr, *signal = nullptr;
    const char* unique = nullptr;
    ASSERT_GE(sd_bus_call_method(forger, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "GetNameOwner", nullptr, &reply, "s", victim.c_str()), 0);
    ASSERT_GE(sd_bus_message_read(reply, "s", &unique), 0);
    const uint8_t params[8] = {0};  // zero integers, zero texts
    ASSERT_GE(sd_bus_message_new_signal(forger, &signal, "/com/tessal/zumi", "com.tessal.Zumi", "Event"), 0);
    ASSERT_GE(sd_bus_message_set_destination(signal, unique), 0);
    ASSERT_GE(sd_bus_message_append(signal, "ss", service.c_str(), "alarm"), 0);
    ASSERT_GE(sd_bus_message_append_array(signal, 'y', params, sizeof params), 0);
    ASSERT_GE(sd_bus_send(forger, signal, nullptr), 0);
    sd_bus_message_unref(signal);
    sd_bus_message_unref(reply);
    // Flushed before the real one is sent: the forgery surely arrives first.
    sd_bus_flush(forger);
    ASSERT_EQ("0", peer.request("emit alarm i:7"));
    ASSERT_TRUE(recorder.waitForEvents(1));
    sd_bus_flush_close_unref(forger);
    EXPECT_EQ(std::vector<std::string>{service + " alarm 7 |"}, recorder.snapshot());
    EXPECT_EQ(0u, ZumiClose(named));
}

// Sending to another process is checked end to end by the zumi command tests.
TEST(APublisher, ReachesItsOwnProcesssSubscribersWhoMayLeaveFromTheirCallback) {
    const std::string source = serviceName("sender");
    ZumiHandle publisher = openOrFail(source), other = openOrFail("");
    Recorder own, others;
    own.expectedHandle = publisher;
    others.expectedHandle = other;
    std::atomic<int> left{-1};
    others.inside = [&](ZumiHandle h) {
        const ZumiStatus unsubscribed = ZumiUnsubscribeExt(h, source.c_str(), "news", nullptr);
        left = static_cast<int>(unsubscribed + ZumiClose(h));
    };
    ASSERT_EQ(0u, ZumiSubscribeExt(publisher, source.c_str(), "news", record, &own));
    ASSERT_EQ(0u, ZumiSubscribeExt(other, source.c_str(), "news", record, &others));
    const int ints[] = {3, 2};
    const char* texts[] = {"a b", "c"};
    EXPECT_EQ(0u, ZumiSendEventWithParams(publisher, "news", ints, 2, texts, 2));
    EXPECT_EQ(0u, ZumiCreateAndSendEvent(publisher, "news"));
    EXPECT_TRUE(own.waitForEvents(2));
    EXPECT_TRUE(waitFor([&] { return left.load() == 0; })) << "unsubscribed and closed from the callback";
    EXPECT_EQ((std::vector<std::string>{source + " news 3 2 | a b c", source + " news |"}), own.snapshot());
    EXPECT_EQ(std::vector<std::string>{source + " news 3 2 | a b c"}, others.snapshot());
    EXPECT_TRUE(own.paramsBehaved && others.paramsBehaved);
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, ZumiCreateAndSendEvent(publisher, ""));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, ZumiSendEventWithParams(publisher, "news", nullptr, 1, nullptr, 0));
    ZumiHandle anonymous = openOrFail("");
    EXPECT_EQ(ZUMI_ERR_INVALID_NAME, ZumiCreateAndSendEvent(anonymous, "news")) << "an event needs a source";
    EXPECT_EQ(0u, ZumiClose(anonymous));
    EXPECT_EQ(0u, ZumiClose(publisher));
}

}  // namespace
}  // namespace zumi::testing
