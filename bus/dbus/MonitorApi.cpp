// Monitoring of the contract (libzumi/ZumiBus.h): a connection that the
// daemon turns into a monitor (org.freedesktop.DBus.Monitoring.BecomeMonitor,
// with no match rule, so that it sees everything), whose messages the
// TrafficDecoder reads, and a second, ordinary connection that asks the
// daemon who a caller is (a monitor may send nothing once it is one).
//
// Threads: a monitor is used by one thread at a time; it starts none.

#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <memory>
#include <string>

#include <systemd/sd-bus.h>

#include "core/EntryGuard.h"
#include "dbus/BusNames.h"
#include "dbus/CallerPool.h"
#include "dbus/TrafficDecoder.h"
#include <libzumi/ZumiBus.h>

struct ZumiMonitorStruct {
protected:
    ZumiMonitorStruct() = default;
    ~ZumiMonitorStruct() = default;
};

namespace zumi {
namespace bus {
namespace {

// How long past the call timeout an answer may still come (the daemon's own
// delivery, the caller's scheduling).
constexpr uint64_t kExpiryMarginUsec = 1000 * 1000;
constexpr uint64_t kLookupTimeoutUsec = 1000 * 1000;

uint64_t clockUsec(clockid_t clock) {
    struct timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

class Monitor : public ZumiMonitorStruct {
public:
    Monitor()
        : m_decoder([this](const std::string& unique) { return lookupPid(unique); },
                    configuredTimeoutUsec() + kExpiryMarginUsec) {}
    ~Monitor() {
        sd_bus_flush_close_unref(m_query);
        sd_bus_close_unref(m_bus);
    }
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    ZumiStatus open() {
        ZumiStatus status = openBus(configuredAddress(), configuredTimeoutUsec(), -1, &m_query);
        if (status != ZUMI_OK) return status;
        status = openBus(configuredAddress(), configuredTimeoutUsec(), -1, &m_bus, true);
        if (status != ZUMI_OK) return status;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        int r = sd_bus_call_method(m_bus, kDaemon, kDaemonPath, "org.freedesktop.DBus.Monitoring",
                                   "BecomeMonitor", &error, nullptr, "asu", 0, 0u);
        status = r >= 0 ? static_cast<ZumiStatus>(ZUMI_OK) : statusOfOwnCall(r, &error, false);
        sd_bus_error_free(&error);
        // Owners asked after the monitor started: a change after that point is
        // in the stream too and is applied afterwards, in order.
        return status == ZUMI_OK ? learnOwners() : status;
    }

    ZumiStatus next(int timeoutMs, const ZumiTraffic** traffic) {
        const uint64_t deadline =
            timeoutMs < 0 ? UINT64_MAX : clockUsec(CLOCK_MONOTONIC) + static_cast<uint64_t>(timeoutMs) * 1000u;
        for (;;) {
            if (m_decoder.pop(&m_current)) {
                *traffic = &m_current->view;
                return ZUMI_OK;
            }
            sd_bus_message* message = nullptr;
            int r = sd_bus_process(m_bus, &message);
            if (r < 0) return ZUMI_ERR_DISCONNECTED;
            if (message != nullptr) {
                const bool gone = sd_bus_message_is_signal(message, "org.freedesktop.DBus.Local",
                                                           "Disconnected") > 0;
                if (!gone) {
                    m_decoder.feed(message, clockUsec(CLOCK_MONOTONIC),
                                   static_cast<int64_t>(clockUsec(CLOCK_REALTIME)));
                }
                sd_bus_message_unref(message);
                if (gone) return ZUMI_ERR_DISCONNECTED;
                continue;
            }
            if (r > 0) continue;
            const uint64_t now = clockUsec(CLOCK_MONOTONIC);
            m_decoder.expire(now);
            if (m_decoder.pop(&m_current)) {
                *traffic = &m_current->view;
                return ZUMI_OK;
            }
            if (now >= deadline) return ZUMI_ERR_TIMEOUT;
            const uint64_t until = std::min(deadline, m_decoder.nextExpiry());
            const int waited = sd_bus_wait(m_bus, until > now ? until - now : 0);
            if (waited < 0 && waited != -EINTR) return ZUMI_ERR_DISCONNECTED;  // a signal only wakes us
        }
    }

private:
    ZumiStatus learnOwners() {
        char** names = nullptr;
        sd_bus_message* reply = nullptr;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        int r = sd_bus_call_method(m_query, kDaemon, kDaemonPath, kDaemon, "ListNames", &error, &reply, "");
        if (r >= 0) r = sd_bus_message_read_strv(reply, &names);
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
        if (r < 0) return statusFromErrno(r);
        for (char** name = names; name != nullptr && *name != nullptr; ++name) {
            if (**name != ':' && std::string(*name) != kDaemon) {
                std::string owner = ownerOf(*name);
                if (!owner.empty()) m_decoder.setOwner(*name, owner);
            }
            free(*name);
        }
        free(names);
        return ZUMI_OK;
    }

    std::string ownerOf(const char* name) {
        sd_bus_message* reply = nullptr;
        const char* owner = nullptr;
        std::string result;
        if (sd_bus_call_method(m_query, kDaemon, kDaemonPath, kDaemon, "GetNameOwner", nullptr, &reply,
                               "s", name) >= 0 &&
            sd_bus_message_read(reply, "s", &owner) >= 0 && owner != nullptr) {
            result = owner;
        }
        sd_bus_message_unref(reply);
        return result;
    }

    pid_t lookupPid(const std::string& unique) {
        sd_bus_message* call = nullptr;
        sd_bus_message* reply = nullptr;
        uint32_t pid = 0;
        if (sd_bus_message_new_method_call(m_query, &call, kDaemon, kDaemonPath, kDaemon,
                                           "GetConnectionUnixProcessID") >= 0 &&
            sd_bus_message_append(call, "s", unique.c_str()) >= 0 &&
            sd_bus_call(m_query, call, kLookupTimeoutUsec, nullptr, &reply) >= 0) {
            sd_bus_message_read(reply, "u", &pid);
        }
        sd_bus_message_unref(reply);
        sd_bus_message_unref(call);
        return static_cast<pid_t>(pid);
    }

    sd_bus* m_bus = nullptr;
    sd_bus* m_query = nullptr;
    TrafficDecoder m_decoder;
    std::unique_ptr<TrafficRecord> m_current;
};

}  // namespace
}  // namespace bus
}  // namespace zumi

extern "C" {

ZumiStatus ZumiMonitorOpen(ZumiMonitorHandle* monitor) {
    if (monitor == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    *monitor = nullptr;
    return zumi::bus::guardedStatus([&]() -> ZumiStatus {
        std::unique_ptr<zumi::bus::Monitor> opened(new zumi::bus::Monitor());
        ZumiStatus status = opened->open();
        if (status == ZUMI_OK) *monitor = opened.release();
        return status;
    });
}

ZumiStatus ZumiMonitorNext(ZumiMonitorHandle monitor, int timeoutMs, const ZumiTraffic** traffic) {
    if (monitor == nullptr || traffic == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    return zumi::bus::guardedStatus(
        [&] { return static_cast<zumi::bus::Monitor*>(monitor)->next(timeoutMs, traffic); });
}

void ZumiMonitorClose(ZumiMonitorHandle monitor) {
    delete static_cast<zumi::bus::Monitor*>(monitor);
}

}  // extern "C"
