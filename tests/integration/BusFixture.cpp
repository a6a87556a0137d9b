#include "BusFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "EventText.h"

extern char** environ;

namespace zumi::testing {
namespace {

std::string g_address;
pid_t g_daemonPid = -1;

// Appends what the descriptor has; false at its end or the deadline.
bool readSome(int fd, std::string* into, Deadline deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    struct pollfd p = {fd, POLLIN, 0};
    char chunk[4096];
    ssize_t got = poll(&p, 1, static_cast<int>(std::max<long>(0, left.count()))) > 0 ? read(fd, chunk, sizeof chunk) : 0;
    into->append(chunk, static_cast<size_t>(std::max<ssize_t>(0, got)));
    return got > 0;
}

std::unique_ptr<Process> g_daemon;

// The private bus of the whole test program, on an abstract socket of its
// own: no file is left behind, and a daemon started again gets the same
// address. The address carries no guid, so that clients accept the new one.
class PrivateBus : public ::testing::Environment {
    void SetUp() override {
        g_address = "unix:abstract=/tmp/zumi-test-" + std::to_string(getpid()) + "-" + std::to_string(time(nullptr));
        startBus();
        setenv("ZUMI_BUS_ADDRESS", g_address.c_str(), 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");  // nothing may reach the machine's own buses
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    void TearDown() override { g_daemon.reset(); }
};

}  // namespace

const std::string& busAddress() { return g_address; }

void killBus() { g_daemon.reset(); }

std::unique_ptr<Process> startDaemon(const std::string& address, std::string* printed) {
    auto daemon = std::make_unique<Process>(std::vector<std::string>{
        "dbus-daemon", "--config-file=" ZUMI_TEST_BUS_CONF, "--address=" + address, "--nofork", "--nopidfile",
        "--print-address=1"});
    std::string line;  // once it listens
    EXPECT_TRUE(daemon->nextLine(&line, deadlineIn(kPatience))) << "dbus-daemon printed no address";
    if (printed != nullptr) *printed = line;
    return daemon;
}

void startBus() {
    g_daemon = startDaemon(g_address);
    g_daemonPid = g_daemon->pid();
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    for (Deadline deadline = deadlineIn(timeout); !condition(); usleep(1000)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
    }
    return true;
}

Watchdog::Watchdog(std::chrono::milliseconds timeout, std::string what) {
    m_thread = std::thread([timeout, what, disarmed = m_disarm.get_future()] {
        if (disarmed.wait_for(timeout) == std::future_status::ready) return;
        fprintf(stderr, "deadline of %lld ms passed: %s\n", static_cast<long long>(timeout.count()), what.c_str());
        _exit(3);
    });
}

Watchdog::~Watchdog() {
    m_disarm.set_value();
    m_thread.join();
}

std::string serviceName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return "com.tessal.test." + stem + ".p" + std::to_string(getpid()) + "n" + std::to_string(counter++);
}

ZumiHandle openOrFail(const std::string& id) {
    ZumiStatus status = 99;
    ZumiHandle handle = ZumiOpenEx(id.c_str(), &status);
    EXPECT_NE(nullptr, handle) << id << ": " << ZumiGetErrorString(status);
    return handle;
}

pid_t busDaemonPid() { return g_daemonPid; }

sd_bus* openRawBus() {
    sd_bus* bus = nullptr;
    EXPECT_GE(sd_bus_new(&bus), 0);
    EXPECT_GE(sd_bus_set_address(bus, g_address.c_str()), 0);
    EXPECT_GE(sd_bus_set_bus_client(bus, 1), 0);
    EXPECT_GE(sd_bus_start(bus), 0);
    return bus;
}

std::vector<std::string> Recorder::snapshot() {
    std::lock_guard<std::mutex> guard(lock);
    return events;
}

bool Recorder::waitForEvents(size_t count) { return waitFor([&] { return snapshot().size() >= count; }); }

void record(ZumiHandle, const char* eventName, ZumiEventHandle event, void* data) {
    Recorder* recorder = static_cast<Recorder*>(data);
    std::string line = eventText(eventName, event);
    std::lock_guard<std::mutex> guard(recorder->lock);
    recorder->events.push_back(std::move(line));
}

void forgeEvent(const std::string& victim, const std::string& source, const std::string& event) {
    sd_bus* forger = openRawBus();
    sd_bus_message *reply = nullptr, *signal = nullptr;
    const char* unique = nullptr;
    EXPECT_GE(sd_bus_message_new_signal(forger, &signal, "/com/tessal/zumi", "com.tessal.Zumi", "Event"), 0);
    if (!victim.empty()) {
        EXPECT_GE(sd_bus_call_method(forger, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "GetNameOwner", nullptr, &reply, "s", victim.c_str()), 0);
        EXPECT_GE(sd_bus_message_read(reply, "s", &unique), 0);
        EXPECT_GE(sd_bus_message_set_destination(signal, unique), 0);
    }
    EXPECT_GE(sd_bus_message_append(signal, "ss", source.c_str(), event.c_str()), 0);
    EXPECT_GE(sd_bus_message_append(signal, "aias", 0, 0), 0);  // no parameters
    EXPECT_GE(sd_bus_send(forger, signal, nullptr), 0);
    sd_bus_message_unref(signal);
    sd_bus_message_unref(reply);
    sd_bus_flush(forger);
    sd_bus_flush_close_unref(forger);
}

Process::Process(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    // Built before the fork: the child of a threaded process only execs.
    // A variable given here replaces the inherited one instead of standing
    // beside it: which of two copies getenv sees is nobody's promise (glibc
    // takes the first, the ARM emulator passes the program the last).
    std::vector<std::string> envText(extraEnv.begin(), extraEnv.end());
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=') + 1); };
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string name = nameOf(*e);
        if (std::none_of(extraEnv.begin(), extraEnv.end(), [&](const std::string& x) { return nameOf(x) == name; })) {
            envText.push_back(*e);
        }
    }
    std::vector<char*> argv, env;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : envText) env.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    env.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // ends with the test program, even a crashed one
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execvpe(argv[0], argv.data(), env.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    m_in = in[1];
    m_out = out[0];
    m_err = err[0];
}

void Process::signal(int number) {
    if (m_pid <= 0) return;
    kill(m_pid, number);
    if (number != SIGSTOP) return;
    // kill() returns before every thread of the child has stopped: a request
    // sent at once could still be answered by its dispatch thread. waitpid
    // reports the stop once the whole group has stopped.
    const Deadline deadline = deadlineIn(std::chrono::seconds(5));
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG | WUNTRACED) == 0 && std::chrono::steady_clock::now() < deadline) {
        usleep(1000);
    }
}

Process::~Process() {
    if (m_pid > 0) kill(m_pid, SIGKILL);
    if (m_pid > 0) waitpid(m_pid, nullptr, 0);
    for (int fd : {m_in, m_out, m_err}) close(fd);
}

bool Process::send(const std::string& line) {
    std::string text = line + "\n";
    return write(m_in, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool Process::nextLineOf(int fd, std::string* text, std::string* line, Deadline deadline) {
    size_t end;
    while ((end = text->find('\n')) == std::string::npos) {
        if (!readSome(fd, text, deadline)) return false;
    }
    *line = text->substr(0, end);
    text->erase(0, end + 1);
    return true;
}

bool Process::nextLine(std::string* line, Deadline deadline) { return nextLineOf(m_out, &m_outText, line, deadline); }

bool Process::nextErrorLine(std::string* line, Deadline deadline) {
    return nextLineOf(m_err, &m_errText, line, deadline);
}

std::string Process::errorLineWith(const std::string& text) {
    std::string line;
    for (Deadline deadline = deadlineIn(kPatience); nextErrorLine(&line, deadline);) {
        if (line.find(text) != std::string::npos) return line;
    }
    return "";
}

Outcome runToEnd(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    Process process(argv, env);
    Outcome outcome;
    outcome.status = process.finish(&outcome.out, &outcome.err);
    return outcome;
}

Outcome busctl(std::vector<std::string> args) {
    args.insert(args.begin(), {"busctl", "--address=" + busAddress()});
    return runToEnd(args);
}

Outcome gdbusCall(const std::string& service, const std::string& method, std::vector<std::string> args) {
    args.insert(args.begin(), {"gdbus", "call", "--address", busAddress(), "--dest", service, "--object-path",
                               "/com/tessal/zumi", "--method", method});
    return runToEnd(args);
}

std::vector<std::string> zumiCommand(std::vector<std::string> args) {
    args.insert(args.begin(), ZUMI_COMMAND);
    return args;
}

Outcome zumi(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    return runToEnd(zumiCommand(args), env);
}

int Process::finish(std::string* out, std::string* err) {
    close(m_in);
    m_in = -1;
    Deadline deadline = deadlineIn(kPatience);
    while (readSome(m_out, &m_outText, deadline) || readSome(m_err, &m_errText, deadline)) {
    }
    if (out != nullptr) *out = m_outText;
    if (err != nullptr) *err = m_errText;
    int status = 0;
    if (!waitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; })) return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Peer::Peer(const std::vector<std::string>& env, const std::string& program) : Process({program}, env) {}

Peer::Peer(const std::vector<std::string>& env, const std::vector<std::string>& argv) : Process(argv, env) {}

void Peer::kill() {
    signal(SIGKILL);
    EXPECT_EQ(128 + SIGKILL, finish());
    m_killed = true;
}

Peer::~Peer() {
    if (m_killed) return;
    std::string err;
    EXPECT_TRUE(send("quit"));
    EXPECT_EQ(0, finish(nullptr, &err)) << "peer failed: " << err;
}

// Reads until a line of the tag ('R' or 'E') comes, keeping the events met.
bool Peer::nextTagged(char tag, std::string* line, Deadline deadline) {
    while ((tag != 'E' || m_events.empty()) && nextLine(line, deadline)) {
        if (line->compare(0, 2, "E ") == 0) m_events.push_back(line->substr(2));
        if (tag == 'R' && line->compare(0, 2, "R ") == 0) return true;
    }
    return tag == 'E' && !m_events.empty();
}

std::string Peer::request(const std::string& line) {
    std::string answer;
    if (send(line) && nextTagged('R', &answer, deadlineIn(2 * kPatience))) return answer.substr(2);
    ADD_FAILURE() << "peer did not answer: " << line;
    return "";
}

void Peer::requestAll(std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) EXPECT_EQ("0", request(line)) << line;
}

std::string Peer::nextEvent() {
    std::string line;
    if (!nextTagged('E', &line, deadlineIn(kPatience))) return "";
    std::string event = m_events.front();
    m_events.pop_front();
    return event;
}

}  // namespace zumi::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new zumi::testing::PrivateBus());
    return RUN_ALL_TESTS();
}
