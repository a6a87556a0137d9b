// Events between processes: parameters, order, unsubscription, and only the
// current owner of a source counting as its sender. Sending within one process
// is left to the unit tests, sending to another to the zumi command tests.

#include <systemd/sd-bus.h>

#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

// Records each event as "source event ints... | texts...".
struct Recorder {
    std::mutex lock;
    std::vector<std::string> events;
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> guard(lock);
        return events;
    }
    bool waitForEvents(size_t count) { return waitFor([&] { return snapshot().size() >= count; }); }
};

void record(ZumiHandle, const char* eventName, ZumiEventHandle event, void* data) {
    Recorder* recorder = static_cast<Recorder*>(data);
    std::ostringstream line;
    line << ZumiGetEventSource(event) << ' ' << eventName;
    int number = 0;
    while (ZumiGetIntParam(event, &number) == ZUMI_OK) line << ' ' << number;
    line << " |";
    const char* text = nullptr;
    while (ZumiGetStringParam(event, &text) == ZUMI_OK) line << ' ' << text;
    std::lock_guard<std::mutex> guard(recorder->lock);
    recorder->events.push_back(line.str());
}

class ASubscriber : public PeerServiceTest {
protected:
    ZumiStatus subscribe(ZumiHandle handle, const char* event) {
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

}  // namespace
}  // namespace zumi::testing
