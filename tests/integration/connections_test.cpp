// Opening and closing connections: names, sharing, failures, a bus that goes
// away.

#include <string>

#include "BusFixture.h"

namespace zumi::testing {
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
    *value = data == nullptr ? 7 : *static_cast<int*>(data);
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

void ignoreEvent(ZumiHandle, const char*, ZumiEventHandle, void*) {}

TEST(ABusThatGoesAway, LeavesConnectionsThatFailCleanlyAndClose) {
    std::string address;
    std::unique_ptr<Process> daemon = startDaemon(&address);
    const std::string service = serviceName("doomed"), any = "com.tessal.test.any";
    std::unique_ptr<BusAddressOverride> other(new BusAddressOverride(address));
    ZumiHandle server = openOrFail(service), client = openOrFail("");
    other.reset();
    ASSERT_EQ(0u, ZumiRegisterIntProperty(server, "n", answer, nullptr, nullptr));
    ASSERT_EQ(0u, ZumiSubscribeExt(client, any.c_str(), "ev", ignoreEvent, nullptr));
    daemon.reset();
    int value = 0;
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED, ZumiGetIntProperty(client, "com.tessal.test.remote", "n", &value));
    EXPECT_EQ(0u, ZumiGetIntProperty(client, service.c_str(), "n", &value)) << "served in-process";
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED, ZumiCreateAndSendEvent(server, "ev"));
    EXPECT_EQ(ZUMI_ERR_DISCONNECTED, ZumiSubscribeExt(client, any.c_str(), "other", ignoreEvent, nullptr));
    EXPECT_EQ(0u, ZumiClose(client));
    EXPECT_EQ(0u, ZumiClose(server));
}

}  // namespace
}  // namespace zumi::testing
