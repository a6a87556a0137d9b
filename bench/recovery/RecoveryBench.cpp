// Recovery after the daemon restarts: this executable runs a dbus-daemon of
// its own (it kills it, so it cannot share scripts/bench.sh's), a publishing
// peer on it, and a handler of its own. Each iteration kills the daemon with
// SIGKILL, starts a new one on the same address and measures, from the moment
// the new daemon listens (it prints its address), until
//  - BM_Zumi_RecoveryToGet: the old handler's first successful remote get of
//    the peer's property;
//  - BM_Zumi_RecoveryToName: the peer's name owned again, as a fresh client
//    of the new daemon sees it.
// Both poll every millisecond.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <systemd/sd-bus.h>
#include <zumi/ZumiHandlerFactory.h>

#include "support/BenchNames.h"
#include "support/HelperProcess.h"

namespace zumi {
namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

// A dbus-daemon on a fixed abstract address, killed and started again.
class RestartableDaemon {
public:
    RestartableDaemon()
        : m_address("unix:abstract=/tmp/zumi-bench-recovery-" + std::to_string(getpid())) {}
    ~RestartableDaemon() { stop(); }
    const std::string& address() const { return m_address; }

    // The moment it listens; false if it did not start.
    bool start(Clock::time_point* listening) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        const std::string conf = "--config-file=" ZUMI_BENCH_BUS_CONF, address = "--address=" + m_address;
        const char* argv[] = {"dbus-daemon", conf.c_str(), address.c_str(), "--nofork", "--nopidfile",
                              "--print-address=1", nullptr};
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            execvp(argv[0], const_cast<char* const*>(argv));
            _exit(127);
        }
        close(fds[1]);
        struct pollfd p = {fds[0], POLLIN, 0};
        char c = 0;
        const bool printed = poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1;
        *listening = Clock::now();
        close(fds[0]);
        return printed;
    }
    void stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    std::string m_address;
    pid_t m_pid = -1;
};

struct Scene {
    RestartableDaemon daemon;
    std::unique_ptr<HelperProcess> peer;
    veltra::kesh::zumi::ZumiHandlerSharedPtr handler;
};

// Started once, and ended at exit (handler, peer, daemon); libzumi and the
// peer read the address from the environment.
Scene* scene(benchmark::State& state) {
    static std::unique_ptr<Scene> built;
    static bool tried = false;
    if (!tried) {
        tried = true;
        std::unique_ptr<Scene> s(new Scene());
        Clock::time_point ignored;
        setenv("ZUMI_BUS_ADDRESS", s->daemon.address().c_str(), 1);
        if (s->daemon.start(&ignored)) {
            s->peer.reset(new HelperProcess("bench_zumi_peer", {}));
            try {
                if (s->peer->waitReady(std::chrono::seconds(20))) {
                    s->handler = veltra::kesh::zumi::ZumiHandlerFactory::getZumiHandler(CLIENT_SERVICE);
                    s->handler->getIntProperty(PEER_SERVICE, INT_PROPERTY);
                    built = std::move(s);
                }
            } catch (const std::exception&) {
            }
        }
    }
    if (!built) state.SkipWithError("no private daemon, peer or handler");
    return built.get();
}

bool peerOwnsItsName(const std::string& address) {
    sd_bus* bus = nullptr;
    int owned = 0;
    if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address.c_str()) >= 0 &&
        sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0) {
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", nullptr, &reply, "s", PEER_SERVICE) >= 0) {
            sd_bus_message_read(reply, "b", &owned);
        }
        sd_bus_message_unref(reply);
    }
    sd_bus_flush_close_unref(bus);
    return owned > 0;
}

template <typename Recovered>
void measureRecovery(benchmark::State& state, Recovered recovered) {
    Scene* s = scene(state);
    if (s == nullptr) return;
    for (auto _ : state) {
        s->daemon.stop();
        Clock::time_point listening;
        if (!s->daemon.start(&listening)) {
            state.SkipWithError("dbus-daemon did not start again");
            return;
        }
        const Clock::time_point giveUp = listening + std::chrono::seconds(10);
        while (!recovered(*s)) {
            if (Clock::now() > giveUp) {
                state.SkipWithError("not recovered within 10 s");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - listening).count());
    }
}

void BM_Zumi_RecoveryToGet(benchmark::State& state) {
    measureRecovery(state, [](Scene& s) {
        try {
            s.handler->getIntProperty(PEER_SERVICE, INT_PROPERTY);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    });
}

void BM_Zumi_RecoveryToName(benchmark::State& state) {
    measureRecovery(state, [](Scene& s) { return peerOwnsItsName(s.daemon.address()); });
}

}  // namespace

BENCHMARK(BM_Zumi_RecoveryToGet)->UseManualTime()->Iterations(3);
BENCHMARK(BM_Zumi_RecoveryToName)->UseManualTime()->Iterations(3);

}  // namespace bench
}  // namespace zumi
