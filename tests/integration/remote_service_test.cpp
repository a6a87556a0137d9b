// A service in another process: its integer, string and hash-array
// properties, the refusals a caller can tell apart, the identifier it holds,
// its events (parameters, order, unsubscription; forged senders are left to
// the reconnect test), and malformed or oversized calls of a raw D-Bus client,
// which it answers with an error each while it keeps serving. Sending events
// within one process is left to the unit tests, sending to another to the
// zumi command tests.

#include <signal.h>
#include <systemd/sd-bus.h>

#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "BusFixture.h"
#include "RawClient.h"

namespace zumi::testing {
namespace {

struct ArrayDeleter {
    void operator()(ZumiHasharrayHandleStruct* array) const { ZumiHasharrayDestroy(array); }
};
typedef std::unique_ptr<ZumiHasharrayHandleStruct, ArrayDeleter> Array;

// "text/number" of each hash, "-" for an absent key, "sent" as a number.
std::string show(ZumiHasharrayHandleStruct* array) {
    std::string shown;
    for (int i = 0; i < ZumiHasharrayGetHashCount(array); ++i) {
        const char* text = "-";
        int number = 0;
        ZumiHasharrayGetString(array, i, "text", &text);
        shown += std::string(i ? " " : "") + text + "/";
        shown += ZumiHasharrayGetInt(array, i, "number", &number) == 0 ? std::to_string(number) : "-";
        if (ZumiHasharrayGetInt(array, i, "sent", &number) == 0) shown += std::to_string(number);
    }
    return shown;
}

class ARemoteService : public PeerServiceTest {
protected:
    ZumiStatus subscribe(ZumiHandle handle, const char* event) {
        return ZumiSubscribeExt(handle, service.c_str(), event, record, &recorder);
    }
    Recorder recorder;
    ZumiStatus access(const char* property, ZumiHasharrayHandleStruct* input, Array* reply) {
        ZumiHasharrayHandleStruct* raw = reinterpret_cast<ZumiHasharrayHandleStruct*>(0x1);
        ZumiStatus status = ZumiAccessHasharrayProperty(client, service.c_str(), property, input, &raw);
        reply->reset(raw);
        return status;
    }
};

TEST_F(ARemoteService, ServesItsValuesPassesTheCallbacksStatusesBackAndTellsEachRefusalApart) {
    peer.requestAll({"int count 5 rw", "str name hello rw"});
    const char* s = service.c_str();
    int number = 0;
    std::string text;
    EXPECT_EQ(0u, ZumiGetIntProperty(client, s, "count", &number));
    EXPECT_EQ(5, number);
    EXPECT_EQ(0u, ZumiSetIntProperty(client, s, "count", -123456));
    EXPECT_EQ(0u, ZumiGetIntProperty(client, s, "count", &number));
    EXPECT_EQ(-123456, number);
    EXPECT_EQ(0u, getString("name", &text));
    EXPECT_EQ("hello", text);
    // Any byte but NUL travels unchanged; a long text takes the getter a second call.
    for (const std::string& sent : {std::string("w\xc3\xb6rld\x01\xff"), std::string(), std::string(5000, 'x')}) {
        EXPECT_EQ(0u, ZumiSetStringProperty(client, s, "name", sent.c_str()));
        EXPECT_EQ(0u, getString("name", &text));
        EXPECT_EQ(sent, text);
    }
    for (unsigned status : {8u, 10u, 258u, 77u, 0xfffffffeu}) {
        const std::string st = std::to_string(status), i = "i" + st, t = "t" + st;
        peer.requestAll({"int " + i + " 1 rw " + st, "str " + t + " x rw " + st});
        number = 42;
        EXPECT_EQ(status, ZumiGetIntProperty(client, s, i.c_str(), &number));
        EXPECT_EQ(42, number) << "a failed read leaves the value alone";
        EXPECT_EQ(status, ZumiSetIntProperty(client, s, i.c_str(), 3));
        EXPECT_EQ(status, ZumiSetStringProperty(client, s, t.c_str(), "y"));
        EXPECT_EQ(status, getString(t.c_str(), &text)) << "a getter asking for room forever is given up on";
    }
    // Missing properties, refused access and a missing service, each its own status.
    peer.requestAll({"int readonly 1 r", "int writeonly 1 w", "str text x rw"});
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, ZumiGetIntProperty(client, s, "absent", &number));
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, ZumiGetIntProperty(client, s, "text", &number)) << "a string is no integer";
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, getString("readonly", &text));
    EXPECT_EQ(ZUMI_ERR_ACCESS_DENIED, ZumiSetIntProperty(client, s, "readonly", 2));
    EXPECT_EQ(ZUMI_ERR_ACCESS_DENIED, ZumiGetIntProperty(client, s, "writeonly", &number));
    EXPECT_EQ(0u, ZumiSetIntProperty(client, s, "writeonly", 2));
    ASSERT_EQ("0", peer.request("close"));
    EXPECT_EQ(ZUMI_ERR_NO_SERVICE, ZumiGetIntProperty(client, s, "readonly", &number));
    EXPECT_EQ(ZUMI_ERR_INVALID_NAME, ZumiSetIntProperty(client, "no name", "x", 1));
}

TEST_F(ARemoteService, AnswersACopyOfASentHashArrayWithItsStatusAndSealsTheSentOne) {
    peer.requestAll({"hash echo 0", "hash failing 258"});
    Array sent(ZumiHasharrayNew(nullptr)), reply;
    int index = -1;
    for (const char* text : {"first", "second"}) {
        ASSERT_EQ(0u, ZumiHasharrayAddHash(sent.get(), &index));
        ASSERT_EQ(0u, ZumiHasharrayPutString(sent.get(), index, "text", text));
    }
    ASSERT_EQ(0u, ZumiHasharrayPutInt(sent.get(), 0, "number", 1));
    ASSERT_EQ(0u, access("echo", sent.get(), &reply));
    EXPECT_EQ("first/1 second/- -/-2", show(reply.get()));
    EXPECT_EQ(0u, ZumiHasharrayPutInt(reply.get(), 2, "mine", 1)) << "the reply is the caller's";
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, ZumiHasharrayPutInt(sent.get(), 0, "number", 2));
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, ZumiHasharrayAddHash(sent.get(), &index));
    EXPECT_EQ("first/1 second/-", show(sent.get())) << "reads still work";
    ASSERT_EQ(0u, access("echo", nullptr, &reply)) << "a null array is a read";
    EXPECT_EQ("-/--1", show(reply.get()));
    Array empty(ZumiHasharrayNew(nullptr));
    EXPECT_EQ(258u, access("failing", empty.get(), &reply));
    EXPECT_EQ("-/-0", show(reply.get())) << "a failing status still carries the reply";
    EXPECT_EQ(0u, ZumiHasharrayAddHash(empty.get(), &index)) << "a refused array stays writable";
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, access("absent", nullptr, &reply));
    EXPECT_EQ(nullptr, reply);
}

TEST_F(ARemoteService, KeepsItsIdentifierWhichNoOtherProcessNorThisOneCanOpen) {
    EXPECT_EQ(std::to_string(ZUMI_ERR_NAME_TAKEN), Peer().request("open " + service));
    auto refusal = [](const char* id) {
        ZumiStatus status = 0;
        EXPECT_EQ(nullptr, ZumiOpenEx(id, &status)) << (id ? id : "null");
        return status;
    };
    EXPECT_EQ(ZUMI_ERR_NAME_TAKEN, refusal(service.c_str()));
    EXPECT_EQ(ZUMI_ERR_INVALID_NAME, refusal("nodots"));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, refusal(nullptr));
}

TEST_F(ARemoteService, RefusesARawClientsWrongArgumentsAndOversizedOrMalformedArraysAndKeepsServing) {
    sd_bus* attacker = openRawBus();
    peer.requestAll({"int count 5 rw", "hash echo 0"});
    for (const RawCase& c : hostileCalls()) {
        EXPECT_EQ(c.error, rawCall(attacker, service, c)) << c.member << " " << c.types << " " << c.what;
    }
    sd_bus_flush_close_unref(attacker);
    int value = 0;
    EXPECT_EQ(0u, ZumiGetIntProperty(client, service.c_str(), "count", &value));
    EXPECT_EQ(5, value);
}

TEST_F(ARemoteService, ReceivesTheEventsOfItsPairsWithParametersInOrderFromTheSourcesCurrentOwner) {
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

// With the daemon stopped nothing leaves the peer's connection: its sends
// wait for the queue to drain, at most its call timeout (1 s here), and then
// fail instead of queueing without end. Once the daemon runs again they work.
TEST(ASender, WaitsAtMostTheCallTimeoutForItsQueueToDrainInsteadOfGrowingWithoutLimit) {
    Peer peer({"ZUMI_CALL_TIMEOUT_MS=1000"});
    ASSERT_EQ("0", peer.request("open " + serviceName("sender")));
    ASSERT_EQ(0, kill(busDaemonPid(), SIGSTOP));
    const std::string stalled = peer.request("burst tick 100000");
    kill(busDaemonPid(), SIGCONT);
    EXPECT_EQ(std::to_string(ZUMI_ERR_TIMEOUT), stalled);
    EXPECT_EQ("0", peer.request("burst tick 3000"));
}

}  // namespace
}  // namespace zumi::testing
