// Opening and closing connections: names, sharing, failures, callbacks in
// flight.

#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "BusFixture.h"

namespace zumi {
namespace testing {
namespace {

TEST(AServiceIdentifier, OwnedByAnotherProcessCannotBeOpened) {
    const std::string service = serviceName("taken");
    Peer peer;
    ASSERT_EQ("0", peer.request("open " + service));
    ZumiStatus status = 0;
    EXPECT_EQ(nullptr, ZumiOpenEx(service.c_str(), &status));
    EXPECT_EQ(ZUMI_ERR_NAME_TAKEN, status);
    EXPECT_STREQ("The service identifier is owned by another process", ZumiGetErrorString(status));
    EXPECT_EQ(std::to_string(ZUMI_ERR_NAME_TAKEN), Peer().request("open " + service));
}

TEST(AServiceIdentifier, ThatIsNoBusNameIsRefused) {
    for (const char* name : {"nodots", "com..double", "com.9digit", ":1.5", "org.freedesktop.DBus",
                             "com.tessal.sp ace", ".com.lead"}) {
        ZumiStatus status = 0;
        EXPECT_EQ(nullptr, ZumiOpenEx(name, &status)) << name;
        EXPECT_EQ(ZUMI_ERR_INVALID_NAME, status) << name;
    }
    ZumiStatus status = 0;
    EXPECT_EQ(nullptr, ZumiOpenEx(nullptr, &status));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, status);
}

TEST(AServiceIdentifier, CannotBeOpenedWithoutAReachableBus) {
    const std::string saved = busAddress();
    setenv("ZUMI_BUS_ADDRESS", "unix:path=/nonexistent/zumi-test-bus", 1);
    ZumiStatus status = 0;
    ZumiHandle handle = ZumiOpenEx(serviceName("nobus").c_str(), &status);
    setenv("ZUMI_BUS_ADDRESS", saved.c_str(), 1);
    EXPECT_EQ(nullptr, handle);
    EXPECT_EQ(ZUMI_ERR_NO_BUS, status);
    EXPECT_STREQ("The bus is not reachable", ZumiGetErrorString(status));
}

unsigned int answer(ZumiHandle, const char*, int* value, void* data) {
    *value = *static_cast<int*>(data);
    return 0;
}

TEST(AServiceIdentifier, OpenedTwiceInOneProcessIsSharedUntilTheLastClose) {
    const std::string service = serviceName("shared");
    ZumiHandle first = openOrFail(service);
    ZumiHandle second = openOrFail(service);
    ASSERT_NE(first, second);
    int one = 1, two = 2;
    ASSERT_EQ(0u, ZumiRegisterIntProperty(first, "one", answer, nullptr, &one));
    ASSERT_EQ(0u, ZumiRegisterIntProperty(second, "two", answer, nullptr, &two));
    Peer peer;
    ASSERT_EQ("0", peer.request("open -"));
    EXPECT_EQ("0 1", peer.request("getint " + service + " one"));
    EXPECT_EQ("0 2", peer.request("getint " + service + " two"));

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
    bool entered = false;
    bool released = false;
    std::atomic<bool> returned{false};
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

TEST(AClose, WaitsForACallbackInFlight) {
    const std::string service = serviceName("closing");
    ZumiHandle handle = openOrFail(service);
    Gate gate;
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "slow", blockingGetter, nullptr, &gate));
    Peer peer;
    ASSERT_EQ("0", peer.request("open -"));
    // The peer's read runs in this process's callback, while a thread closes.
    std::thread reader([&] { EXPECT_EQ("0 7", peer.request("getint " + service + " slow")); });
    {
        std::unique_lock<std::mutex> lock(gate.lock);
        ASSERT_TRUE(gate.changed.wait_for(lock, std::chrono::seconds(20), [&] { return gate.entered; }));
    }
    std::atomic<bool> closed{false};
    bool returnedWhenClosed = false;
    std::thread closer([&] {
        ZumiClose(handle);
        returnedWhenClosed = gate.returned;
        closed = true;
    });
    EXPECT_FALSE(waitFor([&] { return closed.load(); }, std::chrono::milliseconds(200)))
        << "close returned while the callback was still running";
    {
        std::lock_guard<std::mutex> lock(gate.lock);
        gate.released = true;
        gate.changed.notify_all();
    }
    closer.join();
    reader.join();
    EXPECT_TRUE(returnedWhenClosed);
}

struct SelfClosing {
    ZumiHandle handle;
    std::atomic<ZumiStatus> closeStatus{99};
};

unsigned int closeFromCallback(ZumiHandle handle, const char*, int* value, void* data) {
    SelfClosing* self = static_cast<SelfClosing*>(data);
    self->closeStatus = ZumiClose(handle);
    *value = 1;
    return 0;
}

TEST(AClose, FromInsideItsOwnCallbackDoesNotDeadlock) {
    const std::string service = serviceName("selfclose");
    SelfClosing self;
    self.handle = openOrFail(service);
    ASSERT_EQ(0u, ZumiRegisterIntProperty(self.handle, "bye", closeFromCallback, nullptr, &self));
    Peer peer;
    ASSERT_EQ("0", peer.request("open -"));
    EXPECT_EQ("0 1", peer.request("getint " + service + " bye"));
    EXPECT_EQ(0u, self.closeStatus.load());
    EXPECT_EQ("5 -1", peer.request("getint " + service + " bye"));
    // The name is free again.
    ZumiHandle again = openOrFail(service);
    EXPECT_EQ(0u, ZumiClose(again));
}

TEST(AClientOnlyConnection, ReadsButOwnsNoName) {
    const std::string service = serviceName("client");
    Peer peer;
    ASSERT_EQ("0", peer.request("open " + service));
    ASSERT_EQ("0", peer.request("int n 9 r"));
    ZumiHandle client = openOrFail("");
    int value = 0;
    EXPECT_EQ(0u, ZumiGetIntProperty(client, service.c_str(), "n", &value));
    EXPECT_EQ(9, value);
    EXPECT_EQ(ZUMI_ERR_INVALID_NAME, ZumiCreateAndSendEvent(client, "ev")) << "an event needs a source";
    EXPECT_EQ(0u, ZumiClose(client));
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED, ZumiGetIntProperty(client, service.c_str(), "n", &value));
}

}  // namespace
}  // namespace testing
}  // namespace zumi

namespace zumi {
namespace testing {
namespace {

TEST(ACall, ToAServiceThatDoesNotAnswerInTimeTimesOut) {
    const std::string service = serviceName("sleepy");
    ZumiHandle handle = openOrFail(service);
    Gate gate;
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "slow", blockingGetter, nullptr, &gate));
    Peer impatient({"ZUMI_CALL_TIMEOUT_MS=300"});
    ASSERT_EQ("0", impatient.request("open -"));
    EXPECT_EQ(std::to_string(ZUMI_ERR_TIMEOUT) + " -1",
              impatient.request("getint " + service + " slow"));
    {
        std::lock_guard<std::mutex> lock(gate.lock);
        gate.released = true;
        gate.changed.notify_all();
    }
    EXPECT_STREQ("The service did not answer in time", ZumiGetErrorString(ZUMI_ERR_TIMEOUT));
    EXPECT_EQ(0u, ZumiClose(handle));
}

}  // namespace
}  // namespace testing
}  // namespace zumi

namespace zumi {
namespace testing {
namespace {

unsigned int seven(ZumiHandle, const char*, int* value, void*) {
    *value = 7;
    return 0;
}

void ignoreEvent(ZumiHandle, const char*, ZumiEventHandle, void*) {}

TEST(ABusThatGoesAway, LeavesConnectionsThatFailCleanlyAndClose) {
    std::string address;
    pid_t daemon = startDaemon(&address);
    ASSERT_GT(daemon, 0);
    setenv("ZUMI_BUS_ADDRESS", address.c_str(), 1);
    const std::string service = serviceName("doomed");
    ZumiHandle server = ZumiOpenEx(service.c_str(), nullptr);
    ZumiHandle client = ZumiOpenEx("", nullptr);
    setenv("ZUMI_BUS_ADDRESS", busAddress().c_str(), 1);
    ASSERT_NE(nullptr, server);
    ASSERT_NE(nullptr, client);
    ASSERT_EQ(0u, ZumiRegisterIntProperty(server, "n", seven, nullptr, nullptr));
    ASSERT_EQ(0u, ZumiSubscribeExt(client, "com.tessal.test.any", "ev", ignoreEvent, nullptr));
    stopDaemon(daemon);

    int value = 0;
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED, ZumiGetIntProperty(client, "com.tessal.test.remote", "n", &value));
    EXPECT_EQ(0u, ZumiGetIntProperty(client, service.c_str(), "n", &value)) << "served in-process";
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED, ZumiCreateAndSendEvent(server, "ev"));
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED,
              ZumiSubscribeExt(client, "com.tessal.test.any", "other", ignoreEvent, nullptr));
    EXPECT_EQ(0u, ZumiClose(client));
    EXPECT_EQ(0u, ZumiClose(server));
}

}  // namespace
}  // namespace testing
}  // namespace zumi
