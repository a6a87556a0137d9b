// Opening and closing connections: names, sharing, failures, callbacks in
// flight, a bus that goes away.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "BusFixture.h"

namespace zumi {
namespace testing {
namespace {

TEST(AServiceIdentifier, IsRefusedWhenTakenByAnotherProcessInvalidOrWithoutABus) {
    const std::string taken = serviceName("taken");
    Peer owner;
    ASSERT_EQ("0", owner.request("open " + taken));
    EXPECT_EQ(std::to_string(ZUMI_ERR_NAME_TAKEN), Peer().request("open " + taken));
    auto refusal = [](const char* id) {
        ZumiStatus status = 0;
        EXPECT_EQ(nullptr, ZumiOpenEx(id, &status)) << (id ? id : "null");
        return status;
    };
    EXPECT_EQ(ZUMI_ERR_NAME_TAKEN, refusal(taken.c_str()));
    EXPECT_STREQ("The service identifier is owned by another process", ZumiGetErrorString(ZUMI_ERR_NAME_TAKEN));
    for (const char* name : {"nodots", "com.9digit", ":1.5", "org.freedesktop.DBus", "com.sp ace"}) {
        EXPECT_EQ(ZUMI_ERR_INVALID_NAME, refusal(name)) << name;
    }
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, refusal(nullptr));
    BusAddressOverride noBus("unix:path=/nonexistent/zumi-test-bus");
    EXPECT_EQ(ZUMI_ERR_NO_BUS, refusal("com.tessal.test.nobus"));
    EXPECT_STREQ("The bus is not reachable", ZumiGetErrorString(ZUMI_ERR_NO_BUS));
}

unsigned int answer(ZumiHandle, const char*, int* value, void* data) {
    *value = *static_cast<int*>(data);
    return 0;
}

TEST(AServiceIdentifier, OpenedTwiceInOneProcessIsSharedUntilTheLastClose) {
    const std::string service = serviceName("shared");
    ZumiHandle first = openOrFail(service), second = openOrFail(service);
    ASSERT_NE(first, second);
    int one = 1, two = 2;
    ASSERT_EQ(0u, ZumiRegisterIntProperty(first, "one", answer, nullptr, &one));
    ASSERT_EQ(0u, ZumiRegisterIntProperty(second, "two", answer, nullptr, &two));
    Peer peer;
    ASSERT_EQ("0", peer.request("open -"));
    EXPECT_EQ("0 1", peer.request("getint " + service + " one"));
    EXPECT_EQ(0u, ZumiClose(first));
    EXPECT_EQ("8 -1", peer.request("getint " + service + " one"));
    EXPECT_EQ("0 2", peer.request("getint " + service + " two")) << "the name passed on";
    EXPECT_EQ(0u, ZumiClose(second));
    EXPECT_EQ("5 -1", peer.request("getint " + service + " two"));
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED, ZumiClose(second)) << "closing twice";
}

// A getter that blocks until released, to hold a callback in flight.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false, released = false;
    std::atomic<bool> returned{false};
    void release() {
        std::lock_guard<std::mutex> guard(lock);
        released = true;
        changed.notify_all();
    }
};

unsigned int blockingGetter(ZumiHandle, const char*, int* value, void* data) {
    Gate* gate = static_cast<Gate*>(data);
    std::unique_lock<std::mutex> lock(gate->lock);
    gate->entered = true;
    gate->changed.notify_all();
    gate->changed.wait(lock, [gate] { return gate->released; });
    *value = 7;
    gate->returned = true;
    return 0;
}

class AClose : public LocalServiceTest {};

TEST_F(AClose, WaitsForACallbackInFlightWhileOtherCallersTimeOut) {
    Gate gate;
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "slow", blockingGetter, nullptr, &gate));
    std::thread reader([&] { EXPECT_EQ("0 7", peerGet("getint", "slow")); });
    {
        std::unique_lock<std::mutex> lock(gate.lock);
        ASSERT_TRUE(gate.changed.wait_for(lock, kPatience, [&] { return gate.entered; }));
    }
    Peer impatient({"ZUMI_CALL_TIMEOUT_MS=300"});
    ASSERT_EQ("0", impatient.request("open -"));
    EXPECT_EQ(std::to_string(ZUMI_ERR_TIMEOUT) + " -1", impatient.request("getint " + service + " slow"));
    EXPECT_STREQ("The service did not answer in time", ZumiGetErrorString(ZUMI_ERR_TIMEOUT));
    std::atomic<bool> closed{false};
    bool returnedWhenClosed = false;
    std::thread closer([&] {
        closeService();
        returnedWhenClosed = gate.returned;
        closed = true;
    });
    EXPECT_FALSE(waitFor([&] { return closed.load(); }, std::chrono::milliseconds(200)))
        << "close returned while the callback was still running";
    gate.release();
    closer.join();
    reader.join();
    EXPECT_TRUE(returnedWhenClosed);
}

unsigned int seven(ZumiHandle, const char*, int* value, void*) {
    *value = 7;
    return 0;
}

void ignoreEvent(ZumiHandle, const char*, ZumiEventHandle, void*) {}

TEST(ABusThatGoesAway, LeavesConnectionsThatFailCleanlyAndClose) {
    std::string address;
    std::unique_ptr<Process> daemon = startDaemon(&address);
    ASSERT_FALSE(address.empty());
    const std::string service = serviceName("doomed");
    ZumiHandle server, client;
    {
        BusAddressOverride other(address);
        server = ZumiOpenEx(service.c_str(), nullptr);
        client = ZumiOpenEx("", nullptr);
    }
    ASSERT_NE(nullptr, server);
    ASSERT_NE(nullptr, client);
    ASSERT_EQ(0u, ZumiRegisterIntProperty(server, "n", seven, nullptr, nullptr));
    ASSERT_EQ(0u, ZumiSubscribeExt(client, "com.tessal.test.any", "ev", ignoreEvent, nullptr));
    daemon.reset();

    int value = 0;
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED, ZumiGetIntProperty(client, "com.tessal.test.remote", "n", &value));
    EXPECT_EQ(0u, ZumiGetIntProperty(client, service.c_str(), "n", &value)) << "served in-process";
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED, ZumiCreateAndSendEvent(server, "ev"));
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED, ZumiSubscribeExt(client, "com.tessal.test.any", "other", ignoreEvent, nullptr));
    EXPECT_EQ(0u, ZumiClose(client));
    EXPECT_EQ(0u, ZumiClose(server));
}

}  // namespace
}  // namespace testing
}  // namespace zumi
