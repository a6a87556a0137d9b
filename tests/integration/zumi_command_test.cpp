// The zumi binary against a zumi_test_service peer on the private bus: what
// a developer types, with its exact output and exit status.

#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

class AZumiCommand : public PeerServiceTest {};

TEST_F(AZumiCommand, ListsReadsAndWritesPropertiesOfTypesFoundThroughTheListing) {
    peer.requestAll({"int level 5 rw", "str name hello r", "str motto hi rw", "hash items 0", "hash broken 258"});
    Outcome services = zumi({"list"});
    EXPECT_EQ(0, services.status) << services.err;
    EXPECT_NE(std::string::npos, services.out.find(service + "\n")) << services.out;
    EXPECT_EQ("broken  hash    read-write\n"
              "items   hash    read-write\n"
              "level   int     read-write\n"
              "motto   string  read-write\n"
              "name    string  read-only\n",
              zumi({"list", service}).out);
    EXPECT_EQ("[{\"access\":\"read-write\",\"name\":\"broken\",\"type\":\"hash\"},"
              "{\"access\":\"read-write\",\"name\":\"items\",\"type\":\"hash\"},"
              "{\"access\":\"read-write\",\"name\":\"level\",\"type\":\"int\"},"
              "{\"access\":\"read-write\",\"name\":\"motto\",\"type\":\"string\"},"
              "{\"access\":\"read-only\",\"name\":\"name\",\"type\":\"string\"}]\n",
              zumi({"list", "--json", service}).out);
    EXPECT_EQ("5\n", zumi({"get", service, "level"}).out);
    Outcome set = zumi({"set", service, "level", "-2147483648"});
    EXPECT_EQ(0, set.status);
    EXPECT_EQ("", set.out + set.err);
    EXPECT_EQ("0 -2147483648", peer.request("getint " + service + " level"));
    EXPECT_EQ("\"hello\"\n", zumi({"get", "--string", service, "name"}).out);
    EXPECT_EQ(0, zumi({"set", service, "motto", "--", "--say \"hi\"\t"}).status);
    EXPECT_EQ("\"--say \\\"hi\\\"\\t\"\n", zumi({"get", service, "motto"}).out) << "one JSON rule for strings";
    Outcome hash = zumi({"set", "--hash", service, "items",
                         "[{\"text\": \"caf\\u00e9 \\\"au lait\\\"\", \"number\": -1}, {\"number\": 2}]"});
    EXPECT_EQ(0, hash.status) << hash.err;
    EXPECT_EQ("[{\"number\":-1,\"text\":\"caf\xC3\xA9 \\\"au lait\\\"\"},{\"number\":2},{\"sent\":2}]\n", hash.out);
    EXPECT_EQ("[{\"sent\":-1}]\n", zumi({"get", service, "items"}).out);
}

TEST_F(AZumiCommand, ExitsWithOneOnARefusalAndTwoOnAUsageErrorWithTheTextOnStderr) {
    peer.requestAll({"str name hello r"});
    const std::string absent = serviceName("absent");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"set", service, "name", "x y"}, 1, "zumi: Could not set the request property. --source: " + service +
             " --property: name --value: x y --errorCode: 9 --error: The property does not allow this access\n"},
        {{"get", absent, "level"}, 1, "zumi: Could not retrieve the request property. --source: " + absent +
             " --property: level --errorCode: 5 --error: No service owns that identifier\n"},
        {{"get", "--int", service, "name"}, 2,
             "zumi get: name holds a string, not an integer: use --string (see zumi get --help)\n"},
        {{"set", "--hash", service, "name", "[]"}, 2,
             "zumi set: name holds a string, not a hash array: use --string (see zumi set --help)\n"},
        {{"get", service}, 2, "zumi get: missing PROPERTY (see zumi get --help)\n"},
        {{"wait", "--timeout", "0.2", service, "never"}, 3, "zumi wait: timed out\n"},
    };
    for (const auto& c : cases) {
        Outcome outcome = zumi(c.args);
        EXPECT_EQ(c.status, outcome.status) << c.args[0];
        EXPECT_EQ("", outcome.out);
        EXPECT_EQ(c.err, outcome.err);
    }
    EXPECT_EQ("zumi: Could not register zumi handle. --errorCode: 2 --error: The bus is not reachable\n",
              zumi({"list"}, {"ZUMI_BUS_ADDRESS=unix:path=/nonexistent/zumi-bus"}).err);
}

TEST_F(AZumiCommand, SendsEventsWithTheirParametersInOrderUnderTheGivenOrAUniqueName) {
    const std::string sender = serviceName("sender");
    peer.requestAll({"sub " + sender + " changed"});
    Outcome send = zumi({"send", "--as", sender, "changed", "--int", "2", "--string", "alpha", "--int", "-7",
                         "--string", "beta"});
    EXPECT_EQ(0, send.status) << send.err;
    EXPECT_EQ(sender + " changed 2 -7 | alpha beta", peer.nextEvent());
    EXPECT_EQ(0, zumi({"send", "--as", sender, "changed"}).status);
    EXPECT_EQ(sender + " changed |", peer.nextEvent());
    Peer holder;  // a name that a send without --as once took for itself
    ASSERT_EQ("0", holder.request("open com.example.zumi"));
    Outcome unnamed = zumi({"send", "hello", "--int", "1"});
    EXPECT_EQ(0, unnamed.status) << unnamed.err;
}

// Which bus a process reaches, from its environment and the command's bus
// options: only the private bus answers, and every other choice names a
// socket where nothing listens.
TEST_F(AZumiCommand, ReachesTheBusThatTheEnvironmentAndItsBusOptionsChoose) {
    peer.requestAll({"int level 5 r"});
    const std::string here = busAddress(), nowhere = "unix:path=/nonexistent/zumi-bus";
    const struct {
        std::vector<std::string> env;
        std::vector<std::string> options;
        bool reached;
    } cases[] = {
        {{"ZUMI_BUS_ADDRESS=" + here, "ZUMI_BUS=system", "DBUS_SYSTEM_BUS_ADDRESS=" + nowhere}, {}, true},
        {{"ZUMI_BUS_ADDRESS=", "DBUS_SYSTEM_BUS_ADDRESS=" + here}, {}, true},  // no session: the system bus
        {{"ZUMI_BUS_ADDRESS=", "DBUS_SESSION_BUS_ADDRESS=" + nowhere, "DBUS_SYSTEM_BUS_ADDRESS=" + here}, {}, false},
        {{"ZUMI_BUS_ADDRESS=", "ZUMI_BUS=system", "DBUS_SESSION_BUS_ADDRESS=" + nowhere,
          "DBUS_SYSTEM_BUS_ADDRESS=" + here}, {}, true},
        {{"ZUMI_BUS_ADDRESS=", "ZUMI_BUS=session", "DBUS_SESSION_BUS_ADDRESS=" + here,
          "DBUS_SYSTEM_BUS_ADDRESS=" + nowhere}, {}, true},
        {{"ZUMI_BUS_ADDRESS=" + nowhere, "DBUS_SYSTEM_BUS_ADDRESS=" + here}, {"--system"}, true},
        {{"ZUMI_BUS_ADDRESS=" + nowhere, "ZUMI_BUS=system", "DBUS_SESSION_BUS_ADDRESS=" + here}, {"--session"}, true},
        {{"ZUMI_BUS_ADDRESS=" + nowhere}, {"--system", "--address", here}, true},
        {{"ZUMI_BUS_ADDRESS=" + here}, {"--address", nowhere}, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"get", service, "level"});
        Outcome outcome = zumi(args, c.env);
        SCOPED_TRACE(::testing::PrintToString(c.env) + " " + ::testing::PrintToString(c.options));
        EXPECT_EQ(c.reached ? "5\n" : "", outcome.out);
        EXPECT_EQ(c.reached ? 0 : 1, outcome.status) << outcome.err;
    }
    EXPECT_EQ("zumi: --address needs a D-Bus address (see zumi --help)\n", zumi({"--address"}).err);
}

}  // namespace
}  // namespace zumi::testing
