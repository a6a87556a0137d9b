#include "dbus/CallerPool.h"

#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include "util/AutoLock.h"

using veltra::kesh::util::AutoLock;

namespace zumi {
namespace bus {

namespace {

// Messages that reach an anonymous caller bus unasked (the daemon's
// NameAcquired, or a stranger's calls) queue up until the bus is processed;
// every so many calls the queue is drained.
constexpr unsigned kDrainEvery = 64;

}  // namespace

std::string configuredAddress() {
    const char* address = getenv("ZUMI_BUS_ADDRESS");
    return address == nullptr ? std::string() : std::string(address);
}

uint64_t monotonicNowUsec() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
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

ZumiStatus openBus(const std::string& address, sd_bus** out, bool monitor) {
    *out = nullptr;
    sd_bus* bus = nullptr;
    int r;
    if (address.empty() && !monitor) {
        r = sd_bus_open_user(&bus);
    } else {
        r = sd_bus_new(&bus);
        if (r < 0) return ZUMI_ERR_NO_MEMORY;
        r = address.empty() ? sd_bus_set_address(bus, getenv("DBUS_SESSION_BUS_ADDRESS"))
                            : sd_bus_set_address(bus, address.c_str());
        if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
        if (r >= 0 && monitor) r = sd_bus_set_monitor(bus, 1);
        if (r >= 0) r = sd_bus_start(bus);
    }
    if (r < 0) {
        sd_bus_unref(bus);
        return r == -ENOMEM ? ZUMI_ERR_NO_MEMORY : ZUMI_ERR_NO_BUS;
    }
    *out = bus;
    return ZUMI_OK;
}

ZumiStatus statusFromErrno(int result) {
    if (result == -ENOMEM) return ZUMI_ERR_NO_MEMORY;
    if (result == -ENOTCONN || result == -ECONNRESET || result == -EPIPE) {
        return ZUMI_ERR_DISCONNECTED;
    }
    return ZUMI_ERR_FAILED;
}

ZumiStatus statusFromCallError(int result, const sd_bus_error* error, bool timedOut) {
    if (sd_bus_error_has_names(error, "org.freedesktop.DBus.Error.ServiceUnknown",
                               "org.freedesktop.DBus.Error.NameHasNoOwner",
                               "org.freedesktop.DBus.Error.UnknownObject",
                               "org.freedesktop.DBus.Error.UnknownInterface",
                               "org.freedesktop.DBus.Error.UnknownMethod")) {
        return ZUMI_ERR_NO_SERVICE;
    }
    if (sd_bus_error_has_names(error, "org.freedesktop.DBus.Error.NoReply",
                               "org.freedesktop.DBus.Error.Timeout") ||
        result == -ETIMEDOUT) {
        // The daemon also answers NoReply when the service disconnected
        // without answering: only a call that used up its time timed out.
        return timedOut ? ZUMI_ERR_TIMEOUT : ZUMI_ERR_NO_SERVICE;
    }
    if (sd_bus_error_has_names(error, "org.freedesktop.DBus.Error.InvalidArgs")) {
        return ZUMI_ERR_PROTOCOL;
    }
    if (sd_bus_error_has_names(error, kErrorTooLarge,
                               "org.freedesktop.DBus.Error.LimitsExceeded")) {
        return ZUMI_ERR_TOO_LARGE;
    }
    return statusFromErrno(result);
}

CallerPool::CallerPool() {
    pthread_mutex_init(&m_lock, nullptr);
    pthread_cond_init(&m_returned, nullptr);
}

CallerPool::~CallerPool() {
    close();
    pthread_cond_destroy(&m_returned);
    pthread_mutex_destroy(&m_lock);
}

ZumiStatus CallerPool::start(const std::string& address, uint64_t timeoutUsec) {
    m_address = address;
    m_timeoutUsec = timeoutUsec;
    sd_bus* bus = nullptr;
    ZumiStatus status = openBus(address, &bus);
    if (status != ZUMI_OK) return status;
    AutoLock lock(m_lock);
    m_idle.push_back(bus);
    m_open = 1;
    return ZUMI_OK;
}

void CallerPool::close() {
    std::vector<sd_bus*> idle;
    {
        AutoLock lock(m_lock);
        m_closed = true;
        idle.swap(m_idle);
        m_open -= idle.size();
        pthread_cond_broadcast(&m_returned);
    }
    for (sd_bus* bus : idle) sd_bus_flush_close_unref(bus);
}

sd_bus* CallerPool::lease() {
    {
        AutoLock lock(m_lock);
        for (;;) {
            if (m_closed) return nullptr;
            if (!m_idle.empty()) {
                sd_bus* bus = m_idle.back();
                m_idle.pop_back();
                return bus;
            }
            if (m_open < kMaxBuses) break;
            pthread_cond_wait(&m_returned, &m_lock);
        }
        ++m_open;  // reserved for the bus opened below
    }
    sd_bus* bus = nullptr;
    if (openBus(m_address, &bus) != ZUMI_OK) {
        AutoLock lock(m_lock);
        --m_open;
        pthread_cond_signal(&m_returned);
        return nullptr;
    }
    return bus;
}

void CallerPool::giveBack(sd_bus* bus) {
    {
        AutoLock lock(m_lock);
        if (!m_closed) {
            m_idle.push_back(bus);
            pthread_cond_signal(&m_returned);
            return;
        }
        --m_open;
    }
    sd_bus_flush_close_unref(bus);
}

ZumiStatus CallerPool::finishCall(sd_bus* bus, sd_bus_message* message, sd_bus_message** reply,
                                  uint64_t timeoutUsec) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    uint64_t start = monotonicNowUsec();
    int r = sd_bus_call(bus, message, timeoutUsec, &error, reply);
    sd_bus_message_unref(message);
    ZumiStatus status = ZUMI_OK;
    if (r < 0) {
        status = statusFromCallError(r, &error, monotonicNowUsec() - start + 1000 >= timeoutUsec);
        *reply = nullptr;
    }
    sd_bus_error_free(&error);
    // Drain what piled up unasked; sd_bus_process answers strangers' calls.
    static thread_local unsigned calls = 0;
    if (++calls % kDrainEvery == 0) {
        for (int i = 0; i < 64 && sd_bus_process(bus, nullptr) > 0; ++i) {
        }
    }
    return status;
}

}  // namespace bus
}  // namespace zumi
