// Losing the daemon and finding it again, on the dispatch thread: see
// "Losing the bus" in Connection.h for the states.

#include <algorithm>
#include <string>
#include <vector>

#include "dbus/Connection.h"
#include "dbus/Registry.h"

namespace zumi {
namespace bus {

namespace {

// How long one attempt waits for a daemon that accepted the socket but has
// not answered yet: a daemon still starting gets the next attempt instead.
constexpr uint64_t kAttemptUsec = 1000000;

}  // namespace

void Connection::dropSlots() {
    {
        std::lock_guard<std::mutex> state(m_stateLock);
        for (auto& entry : m_subscriptions) entry.second.match = sd_bus_slot_unref(entry.second.match);
    }
    for (auto& entry : m_owners) sd_bus_slot_unref(entry.second.match);
    m_owners.clear();
    m_filter = sd_bus_slot_unref(m_filter);
}

void Connection::loseBus() {
    {
        std::lock_guard<std::mutex> lock(m_busLock);
        dropSlots();
        m_bus = sd_bus_close_unref(m_bus);
        m_lost.store(true);
        m_sendRoom.notify_all();  // senders waiting for room give up
    }
    m_backoff.reset();
    m_nextTryUsec = monotonicNowUsec() + m_backoff.next();
    noteBusLost();
}

int Connection::reconnect() {
    const int untilTryMs = millisecondsUntil(m_nextTryUsec);
    if (untilTryMs > 0) return untilTryMs;
    const int nameBefore = m_nameState.load();
    sd_bus* bus = nullptr;
    if (openBus(m_address, std::min(m_callers.timeoutUsec(), kAttemptUsec), m_wakeFd, &bus) == ZUMI_OK) {
        std::lock_guard<std::mutex> lock(m_busLock);
        m_bus = bus;
        if (restoreBus()) {
            m_lost.store(false);
        } else {
            dropSlots();
            m_bus = sd_bus_close_unref(m_bus);
        }
    }
    if (m_lost.load()) {
        m_nextTryUsec = monotonicNowUsec() + m_backoff.next();
        return millisecondsUntil(m_nextTryUsec);
    }
    noteBusBack();
    // Queued where it owned the name: unless a connection of this process
    // got it first, another process did.
    int queued = kNameQueued;
    if ((nameBefore == kNameOwned || nameBefore == kNameTaken) &&
        !Registry::instance().ownedInProcess(m_serviceId) &&
        m_nameState.compare_exchange_strong(queued, kNameTaken)) {
        logBus(LogLevel::W, "W %s:%s:Another process owns %s; queued to serve it again when it is released:",
                m_serviceId.c_str());
    }
    return 0;
}

bool Connection::restoreBus() {
    if (sd_bus_add_filter(m_bus, &m_filter, &Connection::onMessage, this) < 0) return false;
    if (m_wantsName) {
        const int r = requestBusName(m_bus, m_serviceId, true);
        if (r < 0) return false;
        m_nameState.store(r > 0 ? kNameOwned : kNameQueued);
    }
    std::vector<EventKey> keys;
    {
        std::lock_guard<std::mutex> state(m_stateLock);
        for (const auto& entry : m_subscriptions) keys.push_back(entry.first);
    }
    // Subscriptions cannot go away meanwhile: unsubscribe takes m_busLock.
    for (const EventKey& key : keys) {
        sd_bus_slot* match = nullptr;
        const ZumiStatus status = addMatches(key, &match);
        if (status == ZUMI_ERR_BUS_LOST) return false;
        if (status != ZUMI_OK) {
            logBus(LogLevel::E, "E %s:%s:Could not subscribe again to %s %s: %s:", key.first.c_str(),
                    key.second.c_str(), ZumiGetErrorString(status));
        }
        std::lock_guard<std::mutex> state(m_stateLock);
        m_subscriptions[key].match = match;
    }
    return true;
}

void Connection::trackOwnName(sd_bus_message* message, bool acquired) {
    const char* name = nullptr;
    if (sd_bus_message_read(message, "s", &name) < 0 || name == nullptr || m_serviceId != name) return;
    if (!acquired) {
        int owned = kNameOwned;
        m_nameState.compare_exchange_strong(owned, kNameQueued);
    } else {
        if (m_nameState.exchange(kNameOwned) == kNameTaken) {
            logBus(LogLevel::I, "I %s:%s:Serving %s again:", m_serviceId.c_str());
        }
        openStartupGrace();  // once only: after a reconnect the properties are all there
    }
}

}  // namespace bus
}  // namespace zumi
