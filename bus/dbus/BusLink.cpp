#include "dbus/BusLink.h"

#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <mutex>

namespace zumi {
namespace bus {

const char* const kSystemBusAddress = "unix:path=/run/dbus/system_bus_socket";

namespace {

std::mutex g_outageLock;
unsigned g_lostConnections = 0;  // guarded by g_outageLock
uint64_t g_lostSinceUsec = 0;

// Polls the bus (and cancelFd) until something happens or untilUsec passes;
// false when cancelFd woke it.
bool waitOnBus(sd_bus* bus, int cancelFd, uint64_t untilUsec) {
    struct pollfd fds[2];
    fds[0].fd = sd_bus_get_fd(bus);
    int events = sd_bus_get_events(bus);
    fds[0].events = static_cast<short>(events < 0 ? POLLIN : events);
    fds[1].fd = cancelFd;
    fds[1].events = POLLIN;
    fds[0].revents = fds[1].revents = 0;
    uint64_t until = untilUsec;
    uint64_t busUntil = 0;
    if (sd_bus_get_timeout(bus, &busUntil) > 0) until = std::min(until, busUntil);
    poll(fds, cancelFd >= 0 ? 2 : 1, millisecondsUntil(until));
    return (fds[1].revents & POLLIN) == 0;
}

// The address without its "guid" keys. dbus-daemon prints its address with
// the guid of that run, and session addresses carry it too; a daemon started
// again gets a new one, and sd-bus refuses a server whose guid differs. A
// connection that kept the guid could never reconnect after a restart, nor
// could a new one open: so every connection goes to whatever daemon listens
// at the address. Values are escaped in addresses, so ',' and ';' only
// separate.
std::string withoutGuid(const std::string& addresses) {
    std::string result;
    size_t start = 0;
    for (;;) {
        const size_t end = addresses.find(';', start);
        std::string one = addresses.substr(start, end == std::string::npos ? end : end - start);
        const size_t colon = one.find(':');
        if (colon != std::string::npos) {
            std::string kept = one.substr(0, colon + 1);
            for (size_t at = colon + 1; at <= one.size();) {
                size_t comma = one.find(',', at);
                if (comma == std::string::npos) comma = one.size();
                const std::string pair = one.substr(at, comma - at);
                if (!pair.empty() && pair.compare(0, 5, "guid=") != 0) {
                    if (kept.size() > colon + 1) kept += ',';
                    kept += pair;
                }
                at = comma + 1;
            }
            one = kept;
        }
        result += one;
        if (end == std::string::npos) return result;
        result += ';';
        start = end + 1;
    }
}

}  // namespace

uint64_t monotonicNowUsec() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

int millisecondsUntil(uint64_t untilUsec, int capMs) {
    const uint64_t now = monotonicNowUsec();
    if (untilUsec <= now) return 0;
    return static_cast<int>(std::min<uint64_t>((untilUsec - now + 999) / 1000, static_cast<uint64_t>(capMs)));
}

std::string chooseBusAddress(const char* zumiAddress, const char* zumiBus, const char* sessionAddress,
                             const char* systemAddress) {
    auto given = [](const char* text) { return text != nullptr && *text != '\0'; };
    if (given(zumiAddress)) return zumiAddress;
    const std::string choice = zumiBus != nullptr ? zumiBus : "";
    const bool session = choice == "session" || (choice != "system" && given(sessionAddress));
    if (session) return given(sessionAddress) ? sessionAddress : "";
    return given(systemAddress) ? systemAddress : kSystemBusAddress;
}

std::string configuredAddress() {
    return chooseBusAddress(getenv("ZUMI_BUS_ADDRESS"), getenv("ZUMI_BUS"),
                            getenv("DBUS_SESSION_BUS_ADDRESS"), getenv("DBUS_SYSTEM_BUS_ADDRESS"));
}

uint64_t configuredTimeoutUsec() {
    const uint64_t fallback = 25u * 1000u * 1000u;
    const char* text = getenv("ZUMI_CALL_TIMEOUT_MS");
    if (text == nullptr || *text == '\0' || *text == '-') return fallback;
    char* end = nullptr;
    errno = 0;
    unsigned long long ms = strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || ms == 0 || ms > 24ull * 3600u * 1000u) return fallback;
    return static_cast<uint64_t>(ms) * 1000u;
}

ZumiStatus openBus(const std::string& address, uint64_t timeoutUsec, int cancelFd, sd_bus** out,
                   bool monitor) {
    *out = nullptr;
    const uint64_t deadline = monotonicNowUsec() + timeoutUsec;
    sd_bus* bus = nullptr;
    int r;
    const char* session = getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string given = address.empty() ? std::string(session != nullptr ? session : "") : address;
    const std::string target = withoutGuid(given);
    if (address.empty() && !monitor && target == given) {
        r = sd_bus_open_user(&bus);
    } else {
        r = sd_bus_new(&bus);
        if (r < 0) return ZUMI_ERR_NO_MEMORY;
        r = sd_bus_set_address(bus, target.empty() ? nullptr : target.c_str());
        if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
        if (r >= 0 && monitor) r = sd_bus_set_monitor(bus, 1);
        if (r >= 0) r = sd_bus_start(bus);
    }
    // sd_bus_start only connects; left alone, the first call would wait for
    // the greeting without any limit.
    ZumiStatus status = r == -ENOMEM ? ZUMI_ERR_NO_MEMORY : ZUMI_ERR_NO_BUS;
    while (r >= 0 && (r = sd_bus_is_ready(bus)) == 0) {
        r = sd_bus_process(bus, nullptr);
        if (r != 0) continue;
        if (monotonicNowUsec() >= deadline || !waitOnBus(bus, cancelFd, deadline)) {
            status = ZUMI_ERR_TIMEOUT;
            r = -ETIMEDOUT;
        }
    }
    if (r < 0) {
        sd_bus_close_unref(bus);
        return status;
    }
    *out = bus;
    return ZUMI_OK;
}

bool isConnectionLoss(int result) {
    return result == -ECONNRESET || result == -ENOTCONN || result == -EPIPE ||
           result == -ECONNREFUSED || result == -ENOENT || result == -ESHUTDOWN;
}

uint64_t Backoff::next() {
    const unsigned tries = m_tries++;
    if (tries == 0) return 0;
    return std::min<uint64_t>(kMaxUsec, 5000ull << std::min(tries - 1, 20u));
}

void noteBusLost() {
    std::lock_guard<std::mutex> lock(g_outageLock);
    if (g_lostConnections++ > 0) return;
    g_lostSinceUsec = monotonicNowUsec();
    logBus(LogLevel::W, "W %s:%s:The bus is not reachable; reconnecting:");
}

void noteBusBack(bool closed) {
    std::lock_guard<std::mutex> lock(g_outageLock);
    if (g_lostConnections == 0 || --g_lostConnections > 0 || closed) return;
    const unsigned long long awayMs = (monotonicNowUsec() - g_lostSinceUsec) / 1000u;
    logBus(LogLevel::I, "I %s:%s:The bus is back after %llu ms:", awayMs);
}

}  // namespace bus
}  // namespace zumi
