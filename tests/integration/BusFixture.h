#ifndef ZUMI_TESTS_INTEGRATION_BUSFIXTURE_H
#define ZUMI_TESTS_INTEGRATION_BUSFIXTURE_H

// What the integration tests share: a private dbus-daemon started for the
// test program (never the machine's buses), child processes on pipes, peers
// driven line by line, and waits on conditions with deadlines.

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <libzumi/ZumiBus.h>

namespace zumi::testing {

typedef std::chrono::steady_clock::time_point Deadline;
inline Deadline deadlineIn(std::chrono::milliseconds timeout) { return std::chrono::steady_clock::now() + timeout; }
const std::chrono::milliseconds kPatience = std::chrono::seconds(20);

// The private daemon's address (no guid).
const std::string& busAddress();
// The private daemon: killed with SIGKILL, as a crash ends it, and started
// again on the same address, as a supervisor does.
void killBus();
void startBus();

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kPatience);
// A unique, valid service identifier for one test.
std::string serviceName(const std::string& stem);
ZumiHandle openOrFail(const std::string& id);
// A plain sd-bus client of the private bus, for playing a peer that does not
// use our library; release it with sd_bus_flush_close_unref.
sd_bus* openRawBus();
// The private dbus-daemon, for tests that stop it (SIGSTOP) for a while.
pid_t busDaemonPid();

// Ends the test program, with `what` on stderr, unless destroyed within
// `timeout`: a scene that deadlocks the thread running it then fails at once
// instead of hanging until ctest's timeout.
class Watchdog {
public:
    Watchdog(std::chrono::milliseconds timeout, std::string what);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::promise<void> m_disarm;
    std::thread m_thread;
};

// Records each event as "source event ints... | texts...": pass record as
// the callback and the recorder as its data.
struct Recorder {
    std::mutex lock;
    std::vector<std::string> events;
    std::vector<std::string> snapshot();
    bool waitForEvents(size_t count);
};
void record(ZumiHandle, const char* eventName, ZumiEventHandle event, void* data);

// Sends the connection owning `victim` (every listener when "") the event
// `event` of `source` straight from a plain client, past every match rule of
// the daemon, as a forger would; flushed, so it arrives before whatever is
// sent after it.
void forgeEvent(const std::string& victim, const std::string& source, const std::string& event);

// A child process with stdin, stdout and stderr on pipes; killed and reaped
// if still running when destroyed.
class Process {
public:
    explicit Process(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    bool send(const std::string& line);
    // The next whole line of stdout (or stderr); false when none came before
    // the deadline.
    bool nextLine(std::string* line, Deadline deadline);
    bool nextErrorLine(std::string* line, Deadline deadline);
    // The next line of stderr that contains `text`, or "" when none came in time.
    std::string errorLineWith(const std::string& text);
    void signal(int number);
    // Closes stdin, reads both outputs to their end and reaps the process:
    // its exit status (128 + signal), or -1 when it did not end in time.
    int finish(std::string* out = nullptr, std::string* err = nullptr);
    pid_t pid() const { return m_pid; }

private:
    bool nextLineOf(int fd, std::string* text, std::string* line, Deadline deadline);
    pid_t m_pid = -1;
    int m_in = -1, m_out = -1, m_err = -1;
    std::string m_outText, m_errText;
};

// A program run to its end: its exit status and everything it printed.
struct Outcome { int status = -1; std::string out, err; };
Outcome runToEnd(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// Generic D-Bus clients on the private bus, run to their end: busctl with
// `args`, and gdbus calling `method` (interface.member) of a service's object.
Outcome busctl(std::vector<std::string> args);
Outcome gdbusCall(const std::string& service, const std::string& method, std::vector<std::string> args);

// The zumi command's argv for `args`, and the command run to its end.
std::vector<std::string> zumiCommand(std::vector<std::string> args);
Outcome zumi(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
// A zumi command in the background; constructed once its note on stderr
// (such as "watching the bus") has come.
class Zumi : public Process {
public:
    Zumi(std::vector<std::string> args, const std::string& note, const std::vector<std::string>& env = {})
        : Process(zumiCommand(args), env) {
        EXPECT_NE("", errorLineWith(note)) << args[0] << " never said: " << note;
    }
    // Interrupted, it ends with status 0; its remaining output, by lines.
    std::vector<std::string> stop() {
        signal(SIGINT);
        std::string out, err;
        EXPECT_EQ(0, finish(&out, &err)) << err;
        std::vector<std::string> lines;
        for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(out.substr(start, end - start));
        }
        return lines;
    }
};

// A dbus-daemon of the tests' configuration listening on `address`; the
// address it printed (with the guid of this run) goes to `printed`.
std::unique_ptr<Process> startDaemon(const std::string& address, std::string* printed = nullptr);

// A zumi_test_service process. request() sends one command line and returns
// the answer without its "R " prefix; events the peer prints are kept for
// nextEvent(). A dead or silent peer fails the test instead of hanging it.
class Peer : public Process {
public:
    // `program`: another build's zumi_test_service (another architecture's).
    explicit Peer(const std::vector<std::string>& env = {}, const std::string& program = ZUMI_TEST_SERVICE);
    // The peer run by another command line (under another user, say) that
    // ends with the path of a zumi_test_service.
    Peer(const std::vector<std::string>& env, const std::vector<std::string>& argv);
    ~Peer();
    std::string request(const std::string& line);
    void requestAll(std::initializer_list<std::string> lines);  // each answered "0"
    // The next "E ..." line without its prefix, or "" when none came in time.
    std::string nextEvent();
    // SIGKILLs the peer and reaps it; the destructor then expects nothing.
    void kill();

private:
    bool nextTagged(char tag, std::string* line, Deadline deadline);
    std::deque<std::string> m_events;
    bool m_killed = false;
};

// A peer serving `service`, and a client-only connection of this process.
class PeerServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ("0", peer.request("open " + service));
        client = openOrFail("");
    }
    void TearDown() override { EXPECT_EQ(0u, client == nullptr ? 0u : ZumiClose(client)); }
    // The client's read of a string property of the service; "(none)" when it got no text.
    ZumiStatus getString(const char* property, std::string* value) {
        char* text = nullptr;
        ZumiStatus status = ZumiGetStringProperty(client, service.c_str(), property, &text);
        *value = text == nullptr ? "(none)" : text;
        ZumiFreeString(text);
        return status;
    }
    Peer peer;
    std::string service = serviceName("remote");
    ZumiHandle client = nullptr;
};

// A service of this process, and a client-only peer that calls it.
class LocalServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ("0", peer.request("open -")); }
    void TearDown() override { closeService(); }
    // Joins the dispatch thread: what callbacks wrote is then safe to read.
    void closeService() {
        EXPECT_EQ(0u, handle == nullptr ? 0u : ZumiClose(handle));
        handle = nullptr;
    }
    Peer peer;
    std::string service = serviceName("local");
    ZumiHandle handle = openOrFail(service);
};

}  // namespace zumi::testing

#endif
