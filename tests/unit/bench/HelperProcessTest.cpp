// The benchmarks' helper processes: started, announced, read from, and
// always reaped; and the two-hop relay that serves as the physical floor.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "support/BenchNames.h"
#include "support/HelperProcess.h"

using zumi::bench::HelperProcess;
using zumi::bench::makeTempDir;
using zumi::bench::RELAY_MESSAGE_SIZE;
using namespace std::chrono_literals;

namespace {

bool processExists(pid_t pid) { return kill(pid, 0) == 0 || errno != ESRCH; }

TEST(AHelperProcess, IsReadyOnceItAnnouncesItselfAndDeliversItsRecordsInOrder) {
    HelperProcess helper("bench_scripted_helper", {"announce", "3"});
    ASSERT_TRUE(helper.waitReady(10s));
    int records[3] = {0, 0, 0};
    ASSERT_TRUE(helper.readExactly(records, sizeof(records), 10s));
    EXPECT_EQ(1, records[0]);
    EXPECT_EQ(2, records[1]);
    EXPECT_EQ(3, records[2]);
}

TEST(AHelperProcess, IsNotReadyWhenItDiesWithoutAWord) {
    HelperProcess helper("bench_scripted_helper", {"die"});
    EXPECT_FALSE(helper.waitReady(10s));
}

TEST(AHelperProcess, IsNotReadyWhenTheProgramDoesNotExist) {
    HelperProcess helper("bench_no_such_helper", {});
    EXPECT_FALSE(helper.waitReady(10s));
}

TEST(AHelperProcess, GivesUpReadingWhenNothingComesBeforeTheDeadline) {
    HelperProcess helper("bench_scripted_helper", {"announce", "0"});
    ASSERT_TRUE(helper.waitReady(10s));
    int record = 0;
    EXPECT_FALSE(helper.readExactly(&record, sizeof(record), 20ms));
}

TEST(AHelperProcess, IsReapedWhenDestroyed) {
    pid_t pid = -1;
    {
        HelperProcess helper("bench_scripted_helper", {"announce", "0"});
        ASSERT_TRUE(helper.waitReady(10s));
        pid = helper.pid();
        ASSERT_TRUE(processExists(pid));
    }
    EXPECT_FALSE(processExists(pid));
}

TEST(AHelperProcess, ThatIgnoresTerminationIsKilledAndReapedAnyway) {
    pid_t pid = -1;
    {
        HelperProcess helper("bench_scripted_helper", {"stubborn"});
        ASSERT_TRUE(helper.waitReady(10s));
        pid = helper.pid();
    }
    EXPECT_FALSE(processExists(pid));
}

int connectTo(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    strncpy(a.sun_path, path.c_str(), sizeof(a.sun_path) - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

class ATwoHopRelay : public ::testing::Test {
protected:
    void SetUp() override {
        dir = makeTempDir();
        echo = std::make_unique<HelperProcess>("bench_unix_hop",
                                               std::vector<std::string>{"echo", dir + "/echo"});
        ASSERT_TRUE(echo->waitReady(10s));
        relay = std::make_unique<HelperProcess>(
            "bench_unix_hop", std::vector<std::string>{"relay", dir + "/relay", dir + "/echo"});
        ASSERT_TRUE(relay->waitReady(10s));
    }
    void TearDown() override {
        relay.reset();
        echo.reset();
        unlink((dir + "/relay").c_str());
        unlink((dir + "/echo").c_str());
        rmdir(dir.c_str());
    }
    // Sends one message through the relay and returns what came back.
    std::string roundTrip(int fd, const std::string& message) {
        if (write(fd, message.data(), message.size()) != static_cast<ssize_t>(message.size())) {
            return "write failed";
        }
        std::string back(message.size(), '\0');
        if (recv(fd, &back[0], back.size(), MSG_WAITALL) != static_cast<ssize_t>(back.size())) {
            return "read failed";
        }
        return back;
    }
    std::string dir;
    std::unique_ptr<HelperProcess> echo;
    std::unique_ptr<HelperProcess> relay;
};

TEST_F(ATwoHopRelay, BringsEveryMessageBackWholeAndInOrder) {
    int fd = connectTo(dir + "/relay");
    ASSERT_GE(fd, 0);
    for (char c = 'a'; c <= 'e'; ++c) {
        std::string message(RELAY_MESSAGE_SIZE, c);
        message[0] = '<';
        message[RELAY_MESSAGE_SIZE - 1] = '>';
        EXPECT_EQ(message, roundTrip(fd, message));
    }
    close(fd);
}

TEST_F(ATwoHopRelay, ServesANewClientAfterThePreviousOneLeft) {
    const std::string message(RELAY_MESSAGE_SIZE, 'x');
    int first = connectTo(dir + "/relay");
    ASSERT_GE(first, 0);
    EXPECT_EQ(message, roundTrip(first, message));
    close(first);
    int second = connectTo(dir + "/relay");
    ASSERT_GE(second, 0);
    EXPECT_EQ(message, roundTrip(second, message));
    close(second);
}

}  // namespace
