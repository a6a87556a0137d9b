// One bus, two architectures: a service built for one machine and a caller
// built for another exchange every value type and an event with parameters,
// both ways round. What travels must not depend on the machine's word size,
// byte order or alignment.
//
// ZUMI_OTHER_BUILD names the build folder of the other architecture, whose
// programs binfmt_misc runs under the emulator; scripts/cross.sh runs this
// program so after the cross build. It is not a ctest entry: a build alone
// has one architecture.

#include <stdlib.h>

#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

std::string otherBuild() {
    const char* dir = getenv("ZUMI_OTHER_BUILD");
    return dir == nullptr ? std::string() : std::string(dir);
}

// The service's peer program and the caller's zumi command, of either build.
struct Sides {
    std::string servicePeer;
    std::string zumiCommand;
};

class MixedArchitectures : public ::testing::Test {
protected:
    void SetUp() override {
        if (otherBuild().empty()) GTEST_FAIL() << "ZUMI_OTHER_BUILD names no build of the other architecture";
    }
    const std::string otherPeer = otherBuild() + "/tests/integration/zumi_test_service";
    const std::string otherZumi = otherBuild() + "/tools/zumi";
};

Outcome zumiOf(const Sides& sides, std::vector<std::string> args) {
    args.insert(args.begin(), sides.zumiCommand);
    return runToEnd(args);
}

// Each value reaches the other side whole: integers at both ends of their
// range, UTF-8 text with quotes, hash arrays of both value types, and an
// event's integers and texts in their order.
void exchangeEverything(const Sides& sides) {
    Peer service({}, sides.servicePeer);
    const std::string name = serviceName("mixed");
    ASSERT_EQ("0", service.request("open " + name));
    service.requestAll({"int level 5 rw", "str title hello rw", "hash items 0"});

    EXPECT_EQ("5\n", zumiOf(sides, {"get", name, "level"}).out);
    for (const std::string value : {"2147483647", "-2147483648", "-1"}) {
        Outcome set = zumiOf(sides, {"set", name, "level", value});
        EXPECT_EQ(0, set.status) << set.err;
        EXPECT_EQ("0 " + value, service.request("getint " + name + " level"));
        EXPECT_EQ(value + "\n", zumiOf(sides, {"get", name, "level"}).out);
    }

    const std::string text = "caf\xC3\xA9 \"au lait\" \xE2\x9C\x93";
    Outcome set = zumiOf(sides, {"set", name, "title", text});
    EXPECT_EQ(0, set.status) << set.err;
    EXPECT_EQ("0 " + text, service.request("getstr " + name + " title"));
    EXPECT_EQ("\"caf\xC3\xA9 \\\"au lait\\\" \xE2\x9C\x93\"\n", zumiOf(sides, {"get", name, "title"}).out);

    Outcome hash = zumiOf(sides, {"set", "--hash", name, "items",
                                  "[{\"text\": \"\xC3\xA9t\xC3\xA9\", \"number\": -2147483648},"
                                  " {\"number\": 2147483647}, {\"text\": \"\"}]"});
    EXPECT_EQ(0, hash.status) << hash.err;
    EXPECT_EQ("[{\"number\":-2147483648,\"text\":\"\xC3\xA9t\xC3\xA9\"},{\"number\":2147483647},{\"text\":\"\"},"
              "{\"sent\":3}]\n",
              hash.out);
    EXPECT_EQ("[{\"sent\":-1}]\n", zumiOf(sides, {"get", "--hash", name, "items"}).out);

    const std::string sender = serviceName("sender");
    ASSERT_EQ("0", service.request("sub " + sender + " changed"));
    Outcome send = zumiOf(sides, {"send", "--as", sender, "changed", "--int", "-2147483648", "--string", "\xC3\xA9",
                                  "--int", "7", "--string", "two words", "--int", "2147483647"});
    EXPECT_EQ(0, send.status) << send.err;
    EXPECT_EQ(sender + " changed -2147483648 7 2147483647 | \xC3\xA9 two words", service.nextEvent());
}

TEST_F(MixedArchitectures, AServiceOfTheOtherArchitectureServesACallerBuiltHere) {
    exchangeEverything({otherPeer, ZUMI_COMMAND});
}

TEST_F(MixedArchitectures, AServiceBuiltHereServesACallerOfTheOtherArchitecture) {
    exchangeEverything({ZUMI_TEST_SERVICE, otherZumi});
}

}  // namespace
}  // namespace zumi::testing
