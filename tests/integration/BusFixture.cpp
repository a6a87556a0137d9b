#include "BusFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace zumi {
namespace testing {

namespace {

std::string g_address;
pid_t g_daemon = -1;

int millisUntil(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Sets the private bus up for the whole test program.
class PrivateBus : public ::testing::Environment {
public:
    void SetUp() override {
        g_daemon = startDaemon(&g_address);
        ASSERT_GT(g_daemon, 0);
        setenv("ZUMI_BUS_ADDRESS", g_address.c_str(), 1);
        // Nothing in the tests may reach the machine's own buses.
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    void TearDown() override {
        stopDaemon(g_daemon);
        g_daemon = -1;
    }
};

}  // namespace

const std::string& busAddress() { return g_address; }

pid_t startDaemon(std::string* address) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    pid_t daemon = fork();
    if (daemon == 0) {
        // Ends with the test program, even when that one crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(pipeFds[1], 3);
        execlp("dbus-daemon", "dbus-daemon", "--config-file=" ZUMI_TEST_BUS_CONF, "--nofork",
               "--nopidfile", "--print-address=3", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    address->clear();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    char c = 0;
    for (;;) {
        struct pollfd fd = {pipeFds[0], POLLIN, 0};
        if (daemon < 0 || poll(&fd, 1, millisUntil(deadline)) <= 0 || read(pipeFds[0], &c, 1) != 1) {
            ADD_FAILURE() << "dbus-daemon printed no address";
            stopDaemon(daemon);
            daemon = -1;
            break;
        }
        if (c == '\n') break;
        *address += c;
    }
    close(pipeFds[0]);
    return daemon;
}

void stopDaemon(pid_t daemon) {
    if (daemon <= 0) return;
    kill(daemon, SIGTERM);
    waitpid(daemon, nullptr, 0);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
        usleep(1000);
    }
    return true;
}

std::string serviceName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return "com.tessal.test." + stem + ".p" + std::to_string(getpid()) + "n" +
           std::to_string(counter++);
}

Peer::Peer(const std::vector<std::string>& env) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(in[0], 0);
        dup2(out[1], 1);
        for (const std::string& setting : env) putenv(const_cast<char*>(setting.c_str()));
        execl(ZUMI_TEST_SERVICE, ZUMI_TEST_SERVICE, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    m_in = in[1];
    m_out = out[0];
}

Peer::~Peer() {
    if (m_pid <= 0) return;
    ssize_t ignored = write(m_in, "quit\n", 5);
    (void)ignored;
    close(m_in);
    int status = 0;
    bool ended = waitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; },
                         std::chrono::seconds(20));
    if (!ended) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        ADD_FAILURE() << "peer did not end";
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "peer failed: " << status;
    }
    close(m_out);
}

bool Peer::readLine(std::string* line, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            *line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return true;
        }
        struct pollfd fd = {m_out, POLLIN, 0};
        if (poll(&fd, 1, millisUntil(deadline)) <= 0) return false;
        char chunk[4096];
        ssize_t got = read(m_out, chunk, sizeof chunk);
        if (got <= 0) return false;
        m_buffer.append(chunk, static_cast<size_t>(got));
    }
}

std::string Peer::request(const std::string& line) {
    std::string text = line + "\n";
    if (write(m_in, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        ADD_FAILURE() << "peer gone before: " << line;
        return "";
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    std::string answer;
    while (readLine(&answer, deadline)) {
        if (answer.compare(0, 2, "R ") == 0) return answer.substr(2);
        if (answer.compare(0, 2, "E ") == 0) m_events.push_back(answer.substr(2));
    }
    ADD_FAILURE() << "peer did not answer: " << line;
    return "";
}

std::string Peer::nextEvent(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string line;
    while (m_events.empty() && readLine(&line, deadline)) {
        if (line.compare(0, 2, "E ") == 0) m_events.push_back(line.substr(2));
    }
    if (m_events.empty()) return "";
    std::string event = m_events.front();
    m_events.pop_front();
    return event;
}

sd_bus* openRawBus() {
    sd_bus* bus = nullptr;
    EXPECT_GE(sd_bus_new(&bus), 0);
    EXPECT_GE(sd_bus_set_address(bus, busAddress().c_str()), 0);
    EXPECT_GE(sd_bus_set_bus_client(bus, 1), 0);
    EXPECT_GE(sd_bus_start(bus), 0);
    return bus;
}

ZumiHandle openOrFail(const std::string& id) {
    ZumiStatus status = 99;
    ZumiHandle handle = ZumiOpenEx(id.c_str(), &status);
    EXPECT_NE(nullptr, handle) << id << ": " << ZumiGetErrorString(status);
    EXPECT_EQ(0u, status);
    return handle;
}

}  // namespace testing
}  // namespace zumi

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new zumi::testing::PrivateBus());
    return RUN_ALL_TESTS();
}
