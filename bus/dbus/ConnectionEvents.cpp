// Events on a connection: sending, subscribing, and delivering what arrives.
//
// A subscription (source, event) is one match rule on the daemon, restricted
// to the signals that the current owner of the source name sends. The daemon
// routes by owner at the moment it forwards a signal; the connection also
// follows the owner itself (NameOwnerChanged, read in order with the events)
// and drops an event whose sender does not own the source it claims, so that
// one subscribed sender cannot pose as another. Subscription state machine,
// per (source, event): absent -> subscribed (rule added, owner watched) ->
// absent (rule removed; no callback for it starts afterwards, and
// unsubscribe waits for a running one unless it runs on the dispatch thread).
// While the bus is away a subscription is recorded without rules (subscribed
// or lost with it), and gets them back when the bus returns.

#include <errno.h>
#include <poll.h>
#include <time.h>

#include <algorithm>

#include "dbus/BusNames.h"
#include "dbus/Connection.h"
#include "dbus/ConnectionJob.h"

namespace zumi {
namespace bus {

namespace {

int ignoreMatch(sd_bus_message*, void*, sd_bus_error*) { return 0; }

}  // namespace

ZumiStatus Connection::emitEvent(const std::string& event, const EventParamsView& params) {
    bool flushLater = false;
    ZumiStatus status = ZUMI_OK;
    {
        std::unique_lock<std::mutex> lock(m_busLock);
        if (m_bus == nullptr) return m_lost.load() ? ZUMI_ERR_BUS_LOST : ZUMI_ERR_DISCONNECTED;
        // Subscribers would drop it: the name's owner is another process.
        if (nameTakenElsewhere()) return ZUMI_ERR_NAME_TAKEN;
        status = waitForSendRoom(lock);
        if (status != ZUMI_OK) return status;
        sd_bus_message* message = nullptr;
        int r = sd_bus_message_new_signal(m_bus, &message, kObjectPath, kInterface, kEventMember);
        if (r >= 0) r = sd_bus_message_append(message, "ss", m_serviceId.c_str(), event.c_str());
        if (r >= 0) r = appendEventParams(message, params);
        if (r >= 0) r = sd_bus_send(m_bus, message, nullptr);
        sd_bus_message_unref(message);
        if (r < 0) status = statusFromErrno(r);
        // What the socket did not take at once, the dispatch thread writes.
        flushLater = (sd_bus_get_events(m_bus) & POLLOUT) != 0;
    }
    if (flushLater) wake();
    return status;
}

ZumiStatus Connection::waitForSendRoom(std::unique_lock<std::mutex>& bus) {
    uint64_t queued = 0;
    if (m_bus == nullptr) return ZUMI_ERR_DISCONNECTED;
    // A bus that cannot tell is broken; the send will say so.
    if (sd_bus_get_n_queued_write(m_bus, &queued) < 0 || queued < kMaxQueuedSends) return ZUMI_OK;
    const uint64_t deadline = monotonicNowUsec() + m_callers.timeoutUsec();
    if (onDispatchThread()) {
        // Nobody else writes the queue while this thread runs a callback.
        // sd_bus_process writes what the socket takes and reads at most one
        // message, which the filter queues as a job behind this one.
        while (queued > kResumeSends) {
            const int leftMs = millisecondsUntil(deadline, 1000);
            if (leftMs == 0) return ZUMI_ERR_TIMEOUT;
            struct pollfd out = {sd_bus_get_fd(m_bus), POLLOUT, 0};
            poll(&out, 1, leftMs);
            if (sd_bus_process(m_bus, nullptr) < 0 || sd_bus_get_n_queued_write(m_bus, &queued) < 0) {
                return ZUMI_OK;
            }
        }
        return ZUMI_OK;
    }
    // steady_clock is CLOCK_MONOTONIC on Linux, the clock of monotonicNowUsec.
    const auto until = std::chrono::steady_clock::time_point(std::chrono::microseconds(deadline));
    ++m_sendWaiters;
    wake();  // the dispatch thread may be asleep in a poll without POLLOUT
    ZumiStatus status = ZUMI_OK;
    while (queued >= kMaxQueuedSends) {
        const std::cv_status r = m_sendRoom.wait_until(bus, until);
        if (m_bus == nullptr) {
            status = m_lost.load() ? ZUMI_ERR_BUS_LOST : ZUMI_ERR_DISCONNECTED;
            break;
        }
        if (sd_bus_get_n_queued_write(m_bus, &queued) < 0) break;
        if (r == std::cv_status::timeout && queued >= kMaxQueuedSends) {
            status = ZUMI_ERR_TIMEOUT;
            break;
        }
    }
    --m_sendWaiters;
    return status;
}

void Connection::signalSendRoom() {
    uint64_t queued = 0;
    if (m_sendWaiters > 0 &&
        (sd_bus_get_n_queued_write(m_bus, &queued) < 0 || queued <= kResumeSends)) {
        m_sendRoom.notify_all();
    }
}

ZumiStatus Connection::watchOwner(const std::string& source) {
    OwnerWatch& watch = m_owners[source];
    if (watch.users++ > 0) return ZUMI_OK;
    const std::string rule =
        "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
        "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0=" +
        quoteMatchValue(source);
    // The rule first: a change after it arrives as a signal, in order with
    // the events; the owner asked for afterwards is then never stale.
    int r = sd_bus_add_match(m_bus, &watch.match, rule.c_str(), ignoreMatch, nullptr);
    if (r < 0) {
        m_owners.erase(source);
        return statusFromErrno(r);
    }
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const char* owner = nullptr;
    if (sd_bus_call_method(m_bus, kDaemon, kDaemonPath, kDaemon, "GetNameOwner", &error,
                           &reply, "s", source.c_str()) >= 0 &&
        sd_bus_message_read(reply, "s", &owner) >= 0 && owner != nullptr) {
        watch.owner = owner;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return ZUMI_OK;
}

void Connection::unwatchOwner(const std::string& source) {
    auto found = m_owners.find(source);
    if (found == m_owners.end() || --found->second.users > 0) return;
    sd_bus_slot_unref(found->second.match);
    m_owners.erase(found);
}

void Connection::trackOwnerChange(sd_bus_message* message) {
    const char* name = nullptr;
    const char* before = nullptr;
    const char* after = nullptr;
    if (!sd_bus_message_has_signature(message, "sss") ||
        sd_bus_message_read(message, "sss", &name, &before, &after) < 0) {
        return;
    }
    auto found = m_owners.find(name);
    if (found != m_owners.end()) found->second.owner = after;
}

void Connection::parseEvent(sd_bus_message* message) {
    const char* sender = sd_bus_message_get_sender(message);
    const char* source = nullptr;
    const char* event = nullptr;
    if (sender == nullptr || !sd_bus_message_has_signature(message, "ssaias") ||
        sd_bus_message_read(message, "ss", &source, &event) < 0) {
        return;
    }
    auto owner = m_owners.find(source);
    if (owner == m_owners.end() || owner->second.owner != sender) return;
    Job job;
    job.kind = Job::kEvent;
    job.name = event;
    job.event.source = source;
    if (readEventParams(message, &job.event.params) != ZUMI_OK) {
        return;
    }
    m_jobs.push_back(std::move(job));
}

void Connection::deliverEvent(Job& job) {
    Subscription subscription;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (m_closing) return;
        auto found = m_subscriptions.find(EventKey(job.event.source, job.name));
        if (found == m_subscriptions.end()) return;
        subscription = found->second;
        m_runningSubscription = subscription.id;
        ++m_inflight;
    }
    {
        CallbackScope scope;
        scope.enter(shared_from_this());
        try {
            subscription.callback(handle(), job.name.c_str(), &job.event, subscription.data);
        } catch (...) {
            // A C callback has no way to report; it must not take the thread down.
        }
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_runningSubscription = 0;
        m_stateChanged.notify_all();
    }
}

ZumiStatus Connection::addMatches(const EventKey& key, sd_bus_slot** match) {
    ZumiStatus status = watchOwner(key.first);
    if (status != ZUMI_OK) return status;
    const std::string rule = "type='signal',sender=" + quoteMatchValue(key.first) + ",path='" +
                             kObjectPath + "',interface='" + kInterface + "',member='" + kEventMember +
                             "',arg0=" + quoteMatchValue(key.first) + ",arg1=" + quoteMatchValue(key.second);
    int r = sd_bus_add_match(m_bus, match, rule.c_str(), ignoreMatch, nullptr);
    if (r < 0) {
        unwatchOwner(key.first);
        return statusFromErrno(r);
    }
    return ZUMI_OK;
}

ZumiStatus Connection::subscribe(const char* source, const char* event, ZumiEventCallback callback,
                                 void* data) {
    if (callback == nullptr || !isValidMemberName(event)) return ZUMI_ERR_INVALID_ARGUMENT;
    if (!isOwnableBusName(source)) return ZUMI_ERR_INVALID_NAME;
    const EventKey key(source, event);
    Subscription subscription;
    subscription.callback = callback;
    subscription.data = data;
    {
        std::lock_guard<std::mutex> bus(m_busLock);
        {
            std::lock_guard<std::mutex> state(m_stateLock);
            if (m_closing) return ZUMI_ERR_DISCONNECTED;
            if (m_subscriptions.count(key) > 0) return ZUMI_ERR_ALREADY_REGISTERED;
        }
        // Without a daemon the subscription is recorded, and its rules are
        // added when the bus is back (restoreBus).
        if (m_bus != nullptr) {
            ZumiStatus status = addMatches(key, &subscription.match);
            if (status != ZUMI_OK && status != ZUMI_ERR_BUS_LOST) return status;
        } else if (!m_lost.load()) {
            return ZUMI_ERR_DISCONNECTED;
        }
        std::lock_guard<std::mutex> state(m_stateLock);
        subscription.id = m_nextSubscriptionId++;
        m_subscriptions[key] = subscription;
    }
    // The daemon's replies may have brought events along; let them be seen.
    wake();
    return ZUMI_OK;
}

ZumiStatus Connection::unsubscribe(const char* source, const char* event) {
    if (source == nullptr || event == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    const EventKey key(source, event);
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> bus(m_busLock);
        sd_bus_slot* match = nullptr;
        {
            std::lock_guard<std::mutex> state(m_stateLock);
            auto found = m_subscriptions.find(key);
            if (found == m_subscriptions.end()) return ZUMI_ERR_NOT_SUBSCRIBED;
            match = found->second.match;
            id = found->second.id;
            m_subscriptions.erase(found);
        }
        if (m_bus != nullptr) {
            sd_bus_slot_unref(match);
            unwatchOwner(key.first);
        }
    }
    wake();
    if (!onDispatchThread()) {
        std::unique_lock<std::mutex> state(m_stateLock);
        m_stateChanged.wait(state, [&] { return m_runningSubscription != id; });
    }
    return ZUMI_OK;
}

}  // namespace bus
}  // namespace zumi
