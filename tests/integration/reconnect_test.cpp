// The daemon killed and started again on the same address under a serving
// process, a caller and a subscriber: what fails at once while it is away,
// what is recorded then and in force when it is back, a name that another
// process took meanwhile, and a daemon that accepts but never answers.

#include <signal.h>
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

class ARestartedBus : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ("0", peer.request("open " + service));
        peer.requestAll({"int count 7 rw"});
    }
    void TearDown() override { EXPECT_EQ(0u, ZumiClose(client)); }
    ZumiStatus get(const char* property, int* value) {
        return ZumiGetIntProperty(client, service.c_str(), property, value);
    }
    void restart(const std::function<void()>& meanwhile) {
        killBus();
        meanwhile();
        startBus();
    }
    Peer peer{{"ZUMI_LOG_MASK=0x03800000"}};  // E, W and I lines
    std::string service = serviceName("restarted");
    // Named, so that a forger can address it directly.
    const std::string clientName = serviceName("subscriber");
    ZumiHandle client = openOrFail(clientName);
    Recorder recorder;
};

TEST_F(ARestartedBus, FailsCallsAtOnceMeanwhileThenServesCallsSubscriptionsAndPublicationsAgain) {
    const char* s = service.c_str();
    ASSERT_EQ(0u, ZumiSubscribeExt(client, s, "tick", record, &recorder));
    ASSERT_EQ(0u, ZumiSubscribeExt(client, s, "gone", record, &recorder));
    ASSERT_EQ("0", peer.request("emit tick i:1"));
    ASSERT_TRUE(recorder.waitForEvents(1));
    restart([&] {
        int value = -1;
        EXPECT_EQ(ZUMI_ERR_BUS_LOST, get("count", &value)) << "neither the call timeout nor a closed connection";
        EXPECT_STREQ("The bus is not reachable at the moment; the connection is reconnecting",
                     ZumiGetErrorString(ZUMI_ERR_BUS_LOST));
        // Recorded now, in force once the bus is back.
        EXPECT_EQ(0u, ZumiSubscribeExt(client, s, "late", record, &recorder));
        EXPECT_EQ(0u, ZumiUnsubscribeExt(client, s, "gone", nullptr));
        // The peer has surely seen the loss once it said so.
        EXPECT_NE("", peer.errorLineWith("W zumi_test_service:zumi.bus:The bus is not reachable; reconnecting:"));
        EXPECT_EQ("21", peer.request("emit tick i:99"));
        peer.requestAll({"int added 3 r", "sub " + service + " late"});
    });
    const std::string back = peer.errorLineWith("I zumi_test_service:zumi.bus:The bus is back after ");
    EXPECT_TRUE(std::regex_search(back, std::regex(":The bus is back after [0-9]+ ms:$"))) << back;

    int value = -1;
    ASSERT_TRUE(waitFor([&] { return get("count", &value) == ZUMI_OK; })) << "the old handle never called again";
    EXPECT_EQ(7, value);
    EXPECT_EQ(0u, get("added", &value));
    EXPECT_EQ(3, value);
    // The subscriber comes back on its own time: tick until it hears again.
    ASSERT_TRUE(waitFor([&] {
        peer.request("emit tick i:2");
        return recorder.snapshot().back() == service + " tick 2 |";
    }));
    peer.requestAll({"emit gone i:3", "emit late i:4"});

    // Still only the owner of the source may speak for it.
    forgeEvent(clientName, service, "tick");
    peer.requestAll({"emit tick i:5"});
    ASSERT_TRUE(waitFor([&] { return recorder.snapshot().back() == service + " tick 5 |"; }));

    std::vector<std::string> heard;  // without the ticks that found out when it was back
    for (const std::string& event : recorder.snapshot()) {
        if (event != service + " tick 2 |") heard.push_back(event);
    }
    EXPECT_EQ((std::vector<std::string>{service + " tick 1 |", service + " late 4 |", service + " tick 5 |"}),
              heard);
    EXPECT_EQ(service + " late 4 |", peer.nextEvent()) << "the peer's own subscription, made while away";
}

TEST_F(ARestartedBus, LeavesTheNameToAProcessThatTookItMeanwhileAndServesAgainOnceItIsReleased) {
    // Stopped, so that the other process surely owns the name first.
    peer.signal(SIGSTOP);
    restart([] {});
    Peer usurper;
    ASSERT_EQ("0", usurper.request("open " + service));
    usurper.requestAll({"int count 100 r"});
    peer.signal(SIGCONT);
    EXPECT_NE("", peer.errorLineWith("W zumi_test_service:zumi.bus:Another process owns " + service +
                                     "; queued to serve it again when it is released:"));
    EXPECT_EQ("3 -1", peer.request("getint " + service + " count")) << "its own property, while not its own";
    EXPECT_EQ("3", peer.request("emit tick"));
    int value = -1;
    ASSERT_TRUE(waitFor([&] { return get("count", &value) == ZUMI_OK; }));
    EXPECT_EQ(100, value);

    ASSERT_EQ("0", usurper.request("close"));
    EXPECT_NE("", peer.errorLineWith("I zumi_test_service:zumi.bus:Serving " + service + " again:"));
    EXPECT_EQ(0u, get("count", &value));
    EXPECT_EQ(7, value);
    EXPECT_EQ("0 7", peer.request("getint " + service + " count"));
}

// dbus-daemon prints its address with the guid of its run, as session
// addresses carry it; started again, it has another. Processes given such an
// address, in either variable, still reconnect to it, and new connections
// still open. The system bus, chosen when no session bus is named, is
// reconnected to alike.
TEST(ABusAddressWithTheDaemonsGuid, StillReachesTheDaemonStartedAgainOnIt) {
    const std::string listen = "unix:abstract=/tmp/zumi-guid-" + std::to_string(getpid());
    // The address in each variable; ZUMI_BUS_ADDRESS empty sends the library to the session bus,
    // or, with none named, to the system bus.
    for (const std::string variable : {"ZUMI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS"}) {
        SCOPED_TRACE(variable);
        std::string printed, printedAgain;
        std::unique_ptr<Process> daemon = startDaemon(listen, &printed);
        ASSERT_NE(std::string::npos, printed.find(",guid=")) << printed;
        std::vector<std::string> env = {variable + "=" + printed};
        if (variable != "ZUMI_BUS_ADDRESS") env.push_back("ZUMI_BUS_ADDRESS=");
        const std::string service = serviceName("guid");
        Peer server(env), caller(env);
        ASSERT_EQ("0", server.request("open " + service));
        server.requestAll({"int count 7 r"});
        ASSERT_EQ("0", caller.request("open -"));
        ASSERT_EQ("0 7", caller.request("getint " + service + " count"));

        daemon.reset();  // SIGKILL
        daemon = startDaemon(listen, &printedAgain);
        ASSERT_NE(printed, printedAgain) << "the daemon kept its guid";
        EXPECT_TRUE(waitFor([&] { return caller.request("getint " + service + " count") == "0 7"; }))
            << "a connection named the old guid and never came back";
        Peer late(env);
        EXPECT_EQ("0", late.request("open " + serviceName("late"))) << "a new connection refused the new daemon";
    }
}

// What reconnecting meets when a daemon is still starting: opening waits for
// its greeting no longer than the call timeout.
TEST(ABusThatNeverAnswers, FailsTheOpeningAfterTheCallTimeout) {
    const std::string name = "zumi-silent-" + std::to_string(getpid());
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: sun_path[0] stays 0
    const socklen_t length = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + 1 + name.size());
    ASSERT_EQ(0, bind(listener, reinterpret_cast<struct sockaddr*>(&address), length));
    ASSERT_EQ(0, listen(listener, 8));  // connections complete in the backlog, never accepted
    Peer silent({"ZUMI_BUS_ADDRESS=unix:abstract=" + name, "ZUMI_CALL_TIMEOUT_MS=200"});
    EXPECT_EQ(std::to_string(ZUMI_ERR_TIMEOUT), silent.request("open -"));
    close(listener);
}

}  // namespace
}  // namespace zumi::testing
