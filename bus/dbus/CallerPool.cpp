#include "dbus/CallerPool.h"

#include <errno.h>
#include <poll.h>

#include "core/StatusText.h"
#include "dbus/BusLog.h"

namespace zumi {
namespace bus {

namespace {

// Messages that reach an anonymous caller bus unasked (the daemon's
// NameAcquired, or a stranger's calls) queue up until the bus is processed;
// every so many calls the queue is drained.
constexpr unsigned kDrainEvery = 64;

// Whether the daemon hung up on an idle bus: such a bus is dropped, not used.
bool hungUp(sd_bus* bus) {
    struct pollfd p = {sd_bus_get_fd(bus), POLLIN, 0};
    return sd_bus_is_open(bus) <= 0 ||
           (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
}

// Where this thread starts looking for a slot, so that callers spread out.
std::atomic<size_t> g_nextHint{0};
thread_local const size_t t_slotHint = g_nextHint++;

}  // namespace

ZumiStatus statusFromErrno(int result) {
    if (result == -ENOMEM) return ZUMI_ERR_NO_MEMORY;
    if (isConnectionLoss(result)) return ZUMI_ERR_BUS_LOST;
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
    if (sd_bus_error_has_names(error, "org.freedesktop.DBus.Error.AccessDenied")) {
        return ZUMI_ERR_POLICY_DENIED;
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

ZumiStatus statusOfOwnCall(int result, const sd_bus_error* error, bool timedOut) {
    const ZumiStatus status = statusFromCallError(result, error, timedOut);
    if (status == ZUMI_ERR_POLICY_DENIED) noteDaemonRefusal(error);
    return status;
}

void noteDaemonRefusal(const sd_bus_error* error) {
    const char* message = error != nullptr && error->message != nullptr ? error->message : "";
    noteRefusal(message);
    logBus(LogLevel::W, "W %s:%s:%s: %s:", ZumiGetErrorString(ZUMI_ERR_POLICY_DENIED), message);
}

CallerPool::CallerPool() = default;

CallerPool::~CallerPool() { close(); }

ZumiStatus CallerPool::start(const std::string& address, uint64_t timeoutUsec) {
    m_address = address;
    m_timeoutUsec = timeoutUsec;
    sd_bus* bus = nullptr;
    ZumiStatus status = openBus(address, timeoutUsec, -1, &bus);
    if (status != ZUMI_OK) return status;
    m_open.store(1);
    putIdle(bus);
    return ZUMI_OK;
}

void CallerPool::close() {
    m_closed.store(true);
    for (Slot& slot : m_slots) {
        sd_bus* bus = slot.bus.exchange(nullptr);
        if (bus == nullptr) continue;
        sd_bus_flush_close_unref(bus);
        m_open.fetch_sub(1);
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_returned.notify_all();
}

bool CallerPool::takeIdle(sd_bus** bus) {
    for (size_t k = 0; k < kMaxBuses; ++k) {
        Slot& slot = m_slots[(t_slotHint + k) % kMaxBuses];
        if (slot.bus.load(std::memory_order_relaxed) == nullptr) continue;
        *bus = slot.bus.exchange(nullptr);
        if (*bus != nullptr) return true;
    }
    return false;
}

// A free slot exists: at most kMaxBuses buses are open, and this one is in none.
void CallerPool::putIdle(sd_bus* bus) {
    const uint64_t now = monotonicNowUsec();
    for (size_t k = 0;; ++k) {
        Slot& slot = m_slots[(t_slotHint + k) % kMaxBuses];
        sd_bus* empty = nullptr;
        if (slot.bus.load(std::memory_order_relaxed) != nullptr) continue;
        slot.since.store(now);
        if (!slot.bus.compare_exchange_strong(empty, bus)) continue;
        // close() may have emptied the slots meanwhile.
        if (m_closed.load() && slot.bus.exchange(nullptr) == bus) {
            sd_bus_flush_close_unref(bus);
            m_open.fetch_sub(1);
        }
        break;
    }
    if (m_waiting.load() > 0) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_returned.notify_all();
    }
    uint64_t trimmed = m_trimmedUsec.load();
    if (now - trimmed > kIdleUsec / 10 && m_trimmedUsec.compare_exchange_strong(trimmed, now)) trimIdle(now);
}

// Racing callers may make it close a bus that just came back, or the last
// idle one: harmless, the next call opens another.
void CallerPool::trimIdle(uint64_t now) {
    for (Slot& slot : m_slots) {
        if (m_open.load() <= 1) return;
        if (slot.bus.load(std::memory_order_relaxed) == nullptr || now - slot.since.load() <= kIdleUsec) continue;
        sd_bus* bus = slot.bus.exchange(nullptr);
        if (bus == nullptr) continue;
        sd_bus_flush_close_unref(bus);
        dropOne();
    }
}

void CallerPool::dropOne() {
    m_open.fetch_sub(1);
    if (m_waiting.load() > 0) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_returned.notify_all();
    }
}

sd_bus* CallerPool::lease(ZumiStatus* status) {
    for (;;) {
        if (m_closed.load()) {
            *status = ZUMI_ERR_DISCONNECTED;
            return nullptr;
        }
        sd_bus* bus = nullptr;
        if (takeIdle(&bus)) {
            if (!hungUp(bus)) return bus;
            sd_bus_close_unref(bus);
            dropOne();
            continue;
        }
        size_t open = m_open.load();
        while (open < kMaxBuses && !m_open.compare_exchange_weak(open, open + 1)) {
        }
        if (open < kMaxBuses) break;  // reserved for the bus opened below
        // At the bound: wait until a bus comes back or goes. A caller that
        // returns one sees m_waiting, or this check sees its bus.
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_waiting.fetch_add(1);
            if (!m_closed.load() && !takeIdle(&bus) && m_open.load() >= kMaxBuses) {
                m_returned.wait(lock);
            }
            m_waiting.fetch_sub(1);
        }
        if (bus == nullptr) continue;
        if (!hungUp(bus)) return bus;
        sd_bus_close_unref(bus);
        dropOne();
    }
    sd_bus* bus = nullptr;
    ZumiStatus opened = openBus(m_address, m_timeoutUsec, -1, &bus);
    if (opened != ZUMI_OK) {
        *status = opened == ZUMI_ERR_NO_BUS ? static_cast<ZumiStatus>(ZUMI_ERR_BUS_LOST) : opened;
        dropOne();
        return nullptr;
    }
    return bus;
}

void CallerPool::giveBack(sd_bus* bus) {
    if (m_closed.load() || sd_bus_is_open(bus) <= 0) {
        sd_bus_flush_close_unref(bus);
        dropOne();
        return;
    }
    putIdle(bus);
}

ZumiStatus CallerPool::finishCall(sd_bus* bus, sd_bus_message* message, sd_bus_message** reply,
                                  uint64_t timeoutUsec) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    uint64_t start = monotonicNowUsec();
    int r = sd_bus_call(bus, message, timeoutUsec, &error, reply);
    sd_bus_message_unref(message);
    ZumiStatus status = ZUMI_OK;
    if (r < 0) {
        status = statusOfOwnCall(r, &error, monotonicNowUsec() - start + 1000 >= timeoutUsec);
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
