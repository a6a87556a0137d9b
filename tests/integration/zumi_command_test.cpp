// The zumi binary against a zumi_test_service peer on the private bus: what
// a developer types, with its exact output and exit status.

#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::vector<std::string> command(std::vector<std::string> args) {
    args.insert(args.begin(), ZUMI_COMMAND);
    return args;
}

Outcome zumi(const std::vector<std::string>& args) {
    Process process(command(args));
    Outcome outcome;
    outcome.status = process.finish(&outcome.out, &outcome.err);
    return outcome;
}

// `zumi wait` subscribes when it starts, and nothing tells when that is done:
// the first event is repeated until a line comes out. That line arriving
// while zumi still runs proves that it was flushed.
std::string firstLineOfRepeatedEvent(Peer& sender, const std::string& emit, Process& wait) {
    std::string line;
    for (Deadline end = deadlineIn(kPatience); line.empty() && std::chrono::steady_clock::now() < end;) {
        EXPECT_EQ("0", sender.request(emit));
        wait.nextLine(&line, deadlineIn(std::chrono::milliseconds(100)));
    }
    return line;
}

class AZumiCommand : public PeerServiceTest {};

TEST_F(AZumiCommand, ListsReadsAndWritesPropertiesOfTypesFoundThroughTheListing) {
    peer.requestAll({"int level 5 rw", "str name hello r", "hash items 0", "hash broken 258"});
    Outcome services = zumi({"list"});
    EXPECT_EQ(0, services.status) << services.err;
    EXPECT_NE(std::string::npos, services.out.find(service + "\n")) << services.out;
    EXPECT_EQ(std::string::npos, services.out.find(":")) << "no unique names";
    EXPECT_EQ("broken  hash    read-write\n"
              "items   hash    read-write\n"
              "level   int     read-write\n"
              "name    string  read-only\n",
              zumi({"list", service}).out);
    EXPECT_EQ("5\n", zumi({"get", service, "level"}).out);
    Outcome set = zumi({"set", service, "level", "-2147483648"});
    EXPECT_EQ(0, set.status);
    EXPECT_EQ("", set.out + set.err);
    EXPECT_EQ("0 -2147483648", peer.request("getint " + service + " level"));
    EXPECT_EQ("hello\n", zumi({"get", "--string", service, "name"}).out);
    Outcome hash = zumi({"set", "--hash", service, "items",
                         "[{\"text\": \"caf\\u00e9 \\\"au lait\\\"\", \"number\": -1}, {\"number\": 2}]"});
    EXPECT_EQ(0, hash.status) << hash.err;
    EXPECT_EQ("[{\"number\": -1, \"text\": \"caf\xC3\xA9 \\\"au lait\\\"\"}, {\"number\": 2}, {\"sent\": 2}]\n", hash.out);
    EXPECT_EQ("[{\"sent\": -1}]\n", zumi({"get", service, "items"}).out);
}

TEST_F(AZumiCommand, ExitsWithOneOnARefusalAndTwoOnAUsageErrorWithTheTextOnStderr) {
    peer.requestAll({"str name hello r", "hash broken 258"});
    const std::string absent = serviceName("absent");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"set", service, "name", "x y"}, 1, "Could not set the request property. --source: " + service +
             " --property: name --value: x y --errorCode: 9 --error: The property does not allow this access\n"},
        {{"set", "--hash", service, "broken", "[]"}, 1, "Could not set the request property. --source: " + service +
             " --property: broken --errorCode: 258 --error: The service failed to serve the request\n"},
        {{"get", "--int", absent, "level"}, 1, "Could not retrieve the request property. --source: " + absent +
             " --property: level --errorCode: 5 --error: No service owns that identifier\n"},
        {{"get", service}, 2, "zumi get: missing PROPERTY (see zumi get --help)\n"},
        {{"wait", "--timeout", "0.2", service, "never"}, 1, "timed out\n"},
    };
    for (const auto& c : cases) {
        Outcome outcome = zumi(c.args);
        EXPECT_EQ(c.status, outcome.status) << c.args[0];
        EXPECT_EQ("", outcome.out);
        EXPECT_EQ(c.err, outcome.err);
    }
    EXPECT_EQ(0, zumi({"wait", "--help"}).status);
    BusAddressOverride noBus("unix:path=/nonexistent/zumi-bus");
    EXPECT_EQ("Could not register zumi handle. --errorCode: 2 --error: The bus is not reachable\n", zumi({"list"}).err);
}

TEST_F(AZumiCommand, SendsEventsWithTheirParametersInOrderUnderTheGivenOrItsOwnName) {
    const std::string sender = serviceName("sender");
    peer.requestAll({"sub " + sender + " changed", "sub com.example.zumi hello"});
    Outcome send = zumi({"send", "--as", sender, "changed", "--int", "2", "--string", "alpha", "--int", "-7",
                         "--string", "beta"});
    EXPECT_EQ(0, send.status) << send.err;
    EXPECT_EQ(sender + " changed 2 -7 | alpha beta", peer.nextEvent());
    EXPECT_EQ(0, zumi({"send", "--as", sender, "changed"}).status);
    EXPECT_EQ(sender + " changed |", peer.nextEvent());
    EXPECT_EQ(0, zumi({"send", "hello", "--int", "1"}).status);
    EXPECT_EQ("com.example.zumi hello 1 |", peer.nextEvent());
}

TEST_F(AZumiCommand, WaitsPrintingEachEventAsItArrivesWithStringsQuotedOrOnlyForTheCount) {
    Process wait(command({"wait", "--timeout", "60", service, "changed"}));
    ASSERT_EQ(service + " changed 0", firstLineOfRepeatedEvent(peer, "emit changed i:0", wait));
    peer.requestAll({"emit changed i:7 i:2 s:one s:t\"wo", "emit changed i:-1"});
    std::vector<std::string> later;
    for (std::string line; later.size() < 2 && wait.nextLine(&line, deadlineIn(kPatience));) {
        if (line != service + " changed 0") later.push_back(line);  // skips repeats of the first event
    }
    EXPECT_EQ((std::vector<std::string>{service + " changed 7 2 \"one\" \"t\\\"wo\"", service + " changed -1"}), later);

    Process counted(command({"wait", "--count", "1", "--timeout", "60", service, "ping"}));
    EXPECT_EQ(service + " ping", firstLineOfRepeatedEvent(peer, "emit ping", counted));
    std::string rest;
    EXPECT_EQ(0, counted.finish(&rest));
    EXPECT_EQ("", rest) << "nothing after the one line";
}

}  // namespace
}  // namespace zumi::testing
