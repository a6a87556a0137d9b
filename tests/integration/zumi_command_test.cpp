// The installed-style zumi binary against services on a private dbus-daemon:
// what a developer types, with its exact output and exit status.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BusFixture.h"

extern char** environ;

namespace zumi {
namespace testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// A running zumi process with its stdout and stderr on pipes.
class ZumiProcess {
public:
    explicit ZumiProcess(const std::vector<std::string>& args) {
        int out[2], err[2];
        EXPECT_EQ(0, pipe2(out, O_CLOEXEC));
        EXPECT_EQ(0, pipe2(err, O_CLOEXEC));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv{const_cast<char*>(ZUMI_COMMAND)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        EXPECT_EQ(0, posix_spawn(&m_pid, ZUMI_COMMAND, &actions, nullptr, argv.data(), environ));
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~ZumiProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
        close(m_err);
    }

    // The next whole line of stdout, "" when none came before the deadline.
    std::string nextLine(milliseconds timeout = seconds(20)) {
        auto deadline = steady_clock::now() + timeout;
        for (;;) {
            size_t newline = m_outText.find('\n');
            if (newline != std::string::npos) {
                std::string line = m_outText.substr(0, newline);
                m_outText.erase(0, newline + 1);
                return line;
            }
            if (!readSome(m_out, &m_outText, deadline)) return "";
        }
    }

    // Reads both pipes to their end and reaps the process.
    Outcome finish(milliseconds timeout = seconds(20)) {
        auto deadline = steady_clock::now() + timeout;
        Outcome outcome;
        while (readSome(m_out, &m_outText, deadline)) {
        }
        while (readSome(m_err, &m_errText, deadline)) {
        }
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (steady_clock::now() > deadline) {
                ADD_FAILURE() << "zumi did not exit in time";
                return outcome;
            }
            usleep(1000);
        }
        m_pid = -1;
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        outcome.out = m_outText;
        outcome.err = m_errText;
        return outcome;
    }

private:
    // false at the end of the stream or the deadline.
    static bool readSome(int fd, std::string* into, steady_clock::time_point deadline) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now());
        struct pollfd p = {fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        into->append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outText;
    std::string m_errText;
};

Outcome zumi(const std::vector<std::string>& args) { return ZumiProcess(args).finish(); }

// `zumi wait` subscribes when it starts; nothing tells a sender when that has
// happened, so the sender repeats a first event until a line comes out. That
// line arriving while zumi still runs is the proof that it was flushed.
std::string firstLineOfRepeatedEvent(Peer& sender, const std::string& emit, ZumiProcess& wait) {
    auto deadline = steady_clock::now() + seconds(20);
    std::string line;
    while (line.empty() && steady_clock::now() < deadline) {
        EXPECT_EQ("0", sender.request(emit));
        line = wait.nextLine(milliseconds(100));
    }
    return line;
}

// A service published by a zumi_test_service peer (raw libzumi, no library).
class AZumiCommandOnARealBus : public ::testing::Test {
protected:
    void SetUp() override {
        m_service = serviceName("tool");
        ASSERT_EQ("0", m_peer.request("open " + m_service));
        ASSERT_EQ("0", m_peer.request("int level 5 rw"));
        ASSERT_EQ("0", m_peer.request("str name hello r"));
        ASSERT_EQ("0", m_peer.request("hash items 0"));
        ASSERT_EQ("0", m_peer.request("hash broken 258"));
    }

    Peer m_peer;
    std::string m_service;
};

TEST_F(AZumiCommandOnARealBus, ListsTheServiceAndItsPropertiesWithTypeAndAccess) {
    Outcome services = zumi({"list"});
    EXPECT_EQ(0, services.status) << services.err;
    EXPECT_NE(std::string::npos, services.out.find(m_service + "\n"));
    Outcome properties = zumi({"list", m_service});
    EXPECT_EQ(0, properties.status) << properties.err;
    EXPECT_EQ("broken  hash    read-write\n"
              "items   hash    read-write\n"
              "level   int     read-write\n"
              "name    string  read-only\n",
              properties.out);
}

TEST_F(AZumiCommandOnARealBus, ReadsAndWritesIntsAndStringsFoundThroughTheListing) {
    EXPECT_EQ("5\n", zumi({"get", m_service, "level"}).out);
    Outcome set = zumi({"set", m_service, "level", "-2147483648"});
    EXPECT_EQ(0, set.status) << set.err;
    EXPECT_EQ("", set.out + set.err);
    EXPECT_EQ("0 -2147483648", m_peer.request("getint " + m_service + " level"));
    EXPECT_EQ("hello\n", zumi({"get", "--string", m_service, "name"}).out);

    Outcome refused = zumi({"set", m_service, "name", "x y"});
    EXPECT_EQ(1, refused.status);
    EXPECT_EQ("", refused.out);
    EXPECT_EQ("Could not set the request property. --source: " + m_service +
                  " --property: name --value: x y --errorCode: 9 --error: The property does not "
                  "allow this access\n",
              refused.err);
}

TEST_F(AZumiCommandOnARealBus, SendsAHashArrayAndPrintsTheServicesReplyAsJson) {
    Outcome set = zumi({"set", "--hash", m_service, "items",
                        "[{\"text\": \"caf\\u00e9 \\\"au lait\\\"\", \"number\": -1}, {\"number\": 2}]"});
    EXPECT_EQ(0, set.status) << set.err;
    EXPECT_EQ("[{\"number\": -1, \"text\": \"caf\xC3\xA9 \\\"au lait\\\"\"}, {\"number\": 2}, "
              "{\"sent\": 2}]\n",
              set.out);
    Outcome get = zumi({"get", m_service, "items"});
    EXPECT_EQ(0, get.status) << get.err;
    EXPECT_EQ("[{\"sent\": -1}]\n", get.out);

    Outcome refused = zumi({"set", "--hash", m_service, "broken", "[]"});
    EXPECT_EQ(1, refused.status);
    EXPECT_EQ("Could not set the request property. --source: " + m_service +
                  " --property: broken --errorCode: 258 --error: The service failed to serve the "
                  "request\n",
              refused.err);
}

TEST_F(AZumiCommandOnARealBus, TellsRefusalsFromUsageErrorsByStatus) {
    std::string absent = serviceName("absent");
    Outcome noService = zumi({"get", "--int", absent, "level"});
    EXPECT_EQ(1, noService.status);
    EXPECT_EQ("Could not retrieve the request property. --source: " + absent +
                  " --property: level --errorCode: 5 --error: No service owns that identifier\n",
              noService.err);
    Outcome usage = zumi({"get", m_service});
    EXPECT_EQ(2, usage.status);
    EXPECT_EQ("zumi get: missing PROPERTY (see zumi get --help)\n", usage.err);
    EXPECT_EQ(0, zumi({"wait", "--help"}).status);
}

TEST(AZumiCommandWithoutABus, ReportsTheConnectionFailureWithStatusOne) {
    std::string saved = busAddress();
    setenv("ZUMI_BUS_ADDRESS", "unix:path=/nonexistent/zumi-bus", 1);
    Outcome list = zumi({"list"});
    setenv("ZUMI_BUS_ADDRESS", saved.c_str(), 1);
    EXPECT_EQ(1, list.status);
    EXPECT_EQ("Could not register zumi handle. --errorCode: 2 --error: The bus is not reachable\n",
              list.err);
}

TEST(AZumiSend, DeliversTheParametersInOrderUnderTheGivenName) {
    std::string sender = serviceName("sender");
    Peer listener;
    ASSERT_EQ("0", listener.request("open -"));
    ASSERT_EQ("0", listener.request("sub " + sender + " changed"));
    Outcome send = zumi({"send", "--as", sender, "changed", "--int", "2", "--string", "alpha",
                         "--int", "-7", "--string", "beta"});
    EXPECT_EQ(0, send.status) << send.err;
    EXPECT_EQ(sender + " changed 2 -7 | alpha beta", listener.nextEvent());
    EXPECT_EQ(0, zumi({"send", "--as", sender, "changed"}).status);
    EXPECT_EQ(sender + " changed |", listener.nextEvent());
}

TEST(AZumiSend, SendsUnderItsOwnNameWithoutAs) {
    Peer listener;
    ASSERT_EQ("0", listener.request("open -"));
    ASSERT_EQ("0", listener.request("sub com.example.zumi hello"));
    Outcome send = zumi({"send", "hello", "--int", "1"});
    EXPECT_EQ(0, send.status) << send.err;
    EXPECT_EQ("com.example.zumi hello 1 |", listener.nextEvent());
}

TEST(AZumiWait, PrintsEachEventAsItArrivesInOrderWithStringsQuoted) {
    std::string source = serviceName("source");
    Peer sender;
    ASSERT_EQ("0", sender.request("open " + source));
    ZumiProcess wait({"wait", "--timeout", "60", source, "changed"});
    ASSERT_EQ(source + " changed 0", firstLineOfRepeatedEvent(sender, "emit changed i:0", wait));
    ASSERT_EQ("0", sender.request("emit changed i:7 i:2 s:one s:t\"wo"));
    ASSERT_EQ("0", sender.request("emit changed i:-1"));
    std::vector<std::string> later;
    for (std::string line = wait.nextLine(); !line.empty(); line = wait.nextLine()) {
        if (line == source + " changed 0") continue;  // repeats of the first event
        later.push_back(line);
        if (later.size() == 2) break;
    }
    EXPECT_EQ((std::vector<std::string>{source + " changed 7 2 \"one\" \"t\\\"wo\"",
                                        source + " changed -1"}),
              later);
}

TEST(AZumiWait, ExitsAfterTheCountAndTimesOutWithStatusOne) {
    std::string source = serviceName("counted");
    Peer sender;
    ASSERT_EQ("0", sender.request("open " + source));
    ZumiProcess wait({"wait", "--count", "1", "--timeout", "60", source, "ping"});
    EXPECT_EQ(source + " ping", firstLineOfRepeatedEvent(sender, "emit ping", wait));
    Outcome counted = wait.finish();
    EXPECT_EQ(0, counted.status) << counted.err;
    EXPECT_EQ("", counted.out);  // nothing after the one line

    Outcome timedOut = zumi({"wait", "--timeout", "0.2", source, "never"});
    EXPECT_EQ(1, timedOut.status);
    EXPECT_EQ("", timedOut.out);
    EXPECT_EQ("timed out\n", timedOut.err);
}

}  // namespace
}  // namespace testing
}  // namespace zumi
