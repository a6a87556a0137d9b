#ifndef ZUMI_TESTS_INTEGRATION_BUSFIXTURE_H
#define ZUMI_TESTS_INTEGRATION_BUSFIXTURE_H

// What the integration tests share: a private dbus-daemon started for the
// test program (never the machine's buses), peer processes driven over pipes,
// and waiting on conditions with deadlines.

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include "platform/ZumiBus.h"

namespace zumi {
namespace testing {

// The address of the private bus (also in ZUMI_BUS_ADDRESS while tests run).
const std::string& busAddress();

// Another private dbus-daemon, for a test that stops it: its pid (its
// address in *address), or -1 after a test failure.
pid_t startDaemon(std::string* address);
void stopDaemon(pid_t daemon);

// Polls the condition until it holds or the deadline passes.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A unique, valid service identifier for one test.
std::string serviceName(const std::string& stem);

// A zumi_test_service process. request() sends one command line and returns
// the answer without its "R " prefix; events the peer prints are kept for
// nextEvent(). A dead or silent peer fails the test instead of hanging it.
class Peer {
public:
    // env: extra "NAME=value" settings for the peer process.
    explicit Peer(const std::vector<std::string>& env = {});
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    std::string request(const std::string& line);
    // The next "E ..." line without its prefix, or "" when none came in time.
    std::string nextEvent(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    bool readLine(std::string* line, std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_buffer;
    std::deque<std::string> m_events;
};

// A plain sd-bus client of the private bus, for playing a peer that does not
// use our library; release it with sd_bus_flush_close_unref.
sd_bus* openRawBus();

// Opens a connection, failing the test when it cannot.
ZumiHandle openOrFail(const std::string& id);

}  // namespace testing
}  // namespace zumi

#endif
