#include "dbus/AsyncCalls.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "core/StatusText.h"
#include "dbus/BusLink.h"
#include "dbus/BusNames.h"
#include "dbus/CallerPool.h"
#include "dbus/LocalCall.h"
#include "dbus/PropertyCalls.h"
#include "dbus/PropertyMessages.h"
#include "dbus/Registry.h"
#include "dbus/WireFormat.h"

namespace zumi {
namespace bus {

uint64_t monotonicUsec() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

namespace {

// The work of an in-process call: it answers into the LocalCall's outcome,
// never into the call, which may have timed out and be delivered meanwhile.
bool serveLocally(const AsyncCall& c, LocalOutcome& o) {
    switch (c.kind) {
        case AsyncCall::kGetInt: return serveGetInt(c.service, c.property, &o.number, &o.status);
        case AsyncCall::kGetString: return serveGetString(c.service, c.property, &o.text, &o.status);
        case AsyncCall::kSetInt: return serveSetInt(c.service, c.property, c.number, &o.status);
        case AsyncCall::kSetString: return serveSetString(c.service, c.property, c.text.c_str(), &o.status);
        case AsyncCall::kAccess: return serveAccess(c.service, c.property, c.input.get(), &o.reply, &o.status);
        case AsyncCall::kSendEvent: break;
    }
    return false;
}

}  // namespace

AsyncCalls& AsyncCalls::instance() {
    // Never destroyed: its thread may still be delivering while the process
    // exits.
    static AsyncCalls* calls = new AsyncCalls();
    return *calls;
}

AsyncCalls::AsyncCalls() {
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void AsyncCalls::wake() {
    uint64_t one = 1;
    ssize_t ignored = write(m_wakeFd, &one, sizeof one);
    (void)ignored;
}

void AsyncCalls::ensureThread() {
    if (m_started) return;
    m_thread = std::thread([this] { run(); });
    m_thread.detach();
    m_started = true;
}

ZumiStatus AsyncCalls::start(std::unique_ptr<AsyncCall> owned, ZumiCallId* id) {
    if (m_wakeFd < 0) return ZUMI_ERR_FAILED;
    CallPtr call(owned.release());
    if (call->timeoutUsec == 0) call->timeoutUsec = configuredTimeoutUsec();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ensureThread();
        call->id = m_nextId++;
        call->startedUsec = monotonicUsec();
        *id = call->id;
        m_calls[call->id] = call;
        if (call->kind == AsyncCall::kSendEvent) m_events.push_back(call);
    }
    if (call->kind == AsyncCall::kSendEvent) {
        wake();
        return ZUMI_OK;
    }
    if (startLocal(call)) return ZUMI_OK;
    ZumiStatus status = startRemote(call);
    if (status != ZUMI_OK) {
        std::lock_guard<std::mutex> lock(m_lock);
        call->state = AsyncCall::kDone;
        m_calls.erase(call->id);
    }
    return status;
}

bool AsyncCalls::startLocal(const CallPtr& call) {
    std::shared_ptr<Connection> server = Registry::instance().server(call->service);
    if (!server) return false;
    std::shared_ptr<LocalCall> local = std::make_shared<LocalCall>(
        [call](LocalOutcome& outcome) { return serveLocally(*call, outcome); },
        [call](LocalCall& done, bool served) { instance().finishLocal(*call, done.outcome(), served); });
    std::multimap<uint64_t, CallPtr>::iterator deadline;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        deadline = m_localDeadlines.emplace(call->startedUsec + call->timeoutUsec, call);
    }
    if (!server->postToDispatchThread(local)) {
        std::lock_guard<std::mutex> lock(m_lock);  // closing meanwhile: over the bus, then
        m_localDeadlines.erase(deadline);
        return false;
    }
    wake();  // for the new deadline
    return true;
}

void AsyncCalls::finishLocal(AsyncCall& call, LocalOutcome& outcome, bool served) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto range = m_localDeadlines.equal_range(call.startedUsec + call.timeoutUsec);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second.get() == &call) {
                m_localDeadlines.erase(it);
                break;
            }
        }
        if (call.state != AsyncCall::kPending) return;  // timed out or cancelled
        if (!served) {
            finish(call, ZUMI_ERR_NO_SERVICE);
        } else {
            call.resultNumber = outcome.number;
            call.resultText.swap(outcome.text);
            call.reply.reset(outcome.reply);
            outcome.reply = nullptr;
            finish(call, outcome.status);
        }
    }
    wake();
}

ZumiStatus AsyncCalls::startRemote(const CallPtr& call) {
    static const char* const kMembers[] = {"GetInt", "GetString", "SetInt", "SetString", "AccessHash"};
    std::lock_guard<std::mutex> bus(m_busLock);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (call->state != AsyncCall::kPending) return ZUMI_OK;  // cancelled already
    }
    if (m_bus == nullptr) {
        ZumiStatus status = openBus(configuredAddress(), configuredTimeoutUsec(), -1, &m_bus);
        if (status != ZUMI_OK) return status;
    }
    sd_bus_message* message = nullptr;
    int r = sd_bus_message_new_method_call(m_bus, &message, call->service.c_str(), kObjectPath,
                                           kInterface, kMembers[call->kind]);
    const char* property = call->property.c_str();
    if (r >= 0) {
        switch (call->kind) {
            case AsyncCall::kGetInt:
            case AsyncCall::kGetString: r = appendProperty(message, property); break;
            case AsyncCall::kSetInt: r = appendIntSet(message, property, call->number); break;
            case AsyncCall::kSetString:
                r = appendTextSet(message, property, call->text.data(), call->text.size());
                break;
            case AsyncCall::kAccess: r = appendAccess(message, property, call->input.get()); break;
            case AsyncCall::kSendEvent: r = -EINVAL; break;
        }
    }
    if (r >= 0) r = sd_bus_call_async(m_bus, &call->slot, message, onReply, call.get(), call->timeoutUsec);
    sd_bus_message_unref(message);
    if (r < 0) return r == -EINVAL ? static_cast<ZumiStatus>(ZUMI_ERR_INVALID_ARGUMENT) : statusFromErrno(r);
    // The dispatch thread needs waking only when its poll, set up under
    // m_busLock before this call, misses something: output still queued, or
    // a deadline earlier than it sleeps until. A thread that is awake sets
    // its poll up afresh.
    const int events = sd_bus_get_events(m_bus);
    if ((events > 0 && (events & POLLOUT) != 0) ||
        call->startedUsec + call->timeoutUsec < m_sleepingUntil.load()) {
        wake();
    }
    return ZUMI_OK;
}

// On the dispatch thread, inside sd_bus_process, with m_busLock held.
int AsyncCalls::onReply(sd_bus_message* reply, void* data, sd_bus_error*) {
    AsyncCalls& self = instance();
    AsyncCall& call = *static_cast<AsyncCall*>(data);
    self.m_answeredSlots.push_back(call.slot);
    call.slot = nullptr;
    ZumiStatus status = ZUMI_ERR_FAILED;
    int number = 0;
    std::string text;
    HashArray* array = nullptr;
    try {
        if (sd_bus_message_is_method_error(reply, nullptr)) {
            const bool timedOut = monotonicUsec() - call.startedUsec + 1000 >= call.timeoutUsec;
            status = sd_bus_is_open(self.m_bus) <= 0
                         ? static_cast<ZumiStatus>(ZUMI_ERR_DISCONNECTED)
                         : statusOfOwnCall(-sd_bus_message_get_errno(reply),
                                               sd_bus_message_get_error(reply), timedOut);
        } else {
            switch (call.kind) {
                case AsyncCall::kGetInt: status = readIntReply(reply, &number); break;
                case AsyncCall::kGetString: status = readTextReply(reply, &text); break;
                case AsyncCall::kAccess: status = readHashReply(reply, &array); break;
                default: status = readStatusReply(reply); break;
            }
        }
    } catch (const std::bad_alloc&) {
        status = ZUMI_ERR_NO_MEMORY;
    }
    std::unique_ptr<HashArray> owned(array);
    std::lock_guard<std::mutex> lock(self.m_lock);
    if (call.state == AsyncCall::kPending) {
        call.resultNumber = number;
        call.resultText.swap(text);
        if (status == ZUMI_ERR_POLICY_DENIED) call.refusal = lastRefusal();
        call.reply = std::move(owned);
        self.finish(call, status);
    }
    return 1;
}

void AsyncCalls::finish(AsyncCall& call, ZumiStatus status) {
    call.status = status;
    call.state = AsyncCall::kReady;
    m_ready.push_back(m_calls.at(call.id));
}

ZumiStatus AsyncCalls::cancel(ZumiHandle handle, ZumiCallId id) {
    std::lock_guard<std::mutex> bus(m_busLock);
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_calls.find(id);
    if (it == m_calls.end() || it->second->handle != handle ||
        it->second->state == AsyncCall::kDelivering) {
        return ZUMI_ERR_INVALID_ARGUMENT;
    }
    it->second->slot = sd_bus_slot_unref(it->second->slot);
    it->second->state = AsyncCall::kDone;
    m_calls.erase(it);
    return ZUMI_OK;
}

void AsyncCalls::cancelAll(ZumiHandle handle) {
    {
        std::lock_guard<std::mutex> bus(m_busLock);
        std::lock_guard<std::mutex> lock(m_lock);
        for (auto it = m_calls.begin(); it != m_calls.end();) {
            AsyncCall& call = *it->second;
            if (call.handle != handle || call.state == AsyncCall::kDelivering) {
                ++it;
                continue;
            }
            call.slot = sd_bus_slot_unref(call.slot);
            call.state = AsyncCall::kDone;
            it = m_calls.erase(it);
        }
    }
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        bool running = false;
        for (const auto& entry : m_calls) {
            const AsyncCall& call = *entry.second;
            running = running || (call.handle == handle && call.state == AsyncCall::kDelivering &&
                                  call.deliverer != std::this_thread::get_id());
        }
        if (!running) return;
        m_delivered.wait(lock);
    }
}

void AsyncCalls::run() {
    for (;;) {
        uint64_t busDeadline = UINT64_MAX;
        int fd = -1;
        short events = 0;
        {
            std::lock_guard<std::mutex> bus(m_busLock);
            if (m_bus != nullptr) {
                int r;
                do {
                    r = sd_bus_process(m_bus, nullptr);
                } while (r > 0);
                for (sd_bus_slot* slot : m_answeredSlots) sd_bus_slot_unref(slot);
                m_answeredSlots.clear();
                if (r < 0 || sd_bus_is_open(m_bus) <= 0) {
                    // Whatever sd-bus did not answer itself fails now; the
                    // next call opens a new bus.
                    std::lock_guard<std::mutex> lock(m_lock);
                    for (auto& entry : m_calls) {
                        AsyncCall& call = *entry.second;
                        if (call.slot == nullptr) continue;
                        call.slot = sd_bus_slot_unref(call.slot);
                        if (call.state == AsyncCall::kPending) finish(call, ZUMI_ERR_DISCONNECTED);
                    }
                    m_bus = sd_bus_close_unref(m_bus);
                }
            }
        }
        sendEvents();
        uint64_t deadline = UINT64_MAX;
        expireLocal(monotonicUsec(), &deadline);
        deliverReady();
        {
            // What the poll below waits for, fixed under m_busLock: calls
            // started from now on compare themselves with m_sleepingUntil.
            std::lock_guard<std::mutex> bus(m_busLock);
            if (m_bus != nullptr) {
                fd = sd_bus_get_fd(m_bus);
                int wanted = sd_bus_get_events(m_bus);
                events = static_cast<short>(wanted < 0 ? POLLIN : wanted);
                if (sd_bus_get_timeout(m_bus, &busDeadline) <= 0) busDeadline = UINT64_MAX;
            }
            deadline = std::min(deadline, busDeadline);
            m_sleepingUntil.store(deadline);
        }

        struct pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {fd, events, 0}};
        int timeoutMs = -1;
        if (deadline != UINT64_MAX) {
            const uint64_t now = monotonicUsec();
            timeoutMs = deadline <= now ? 0 : static_cast<int>(std::min<uint64_t>((deadline - now + 999) / 1000, 60000));
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_ready.empty() || !m_events.empty()) timeoutMs = 0;
        }
        if (poll(fds, fd >= 0 ? 2 : 1, timeoutMs) > 0 && (fds[0].revents & POLLIN) != 0) {
            uint64_t value;
            ssize_t ignored = read(m_wakeFd, &value, sizeof value);
            (void)ignored;
        }
        m_sleepingUntil.store(0);
    }
}

void AsyncCalls::sendEvents() {
    for (;;) {
        CallPtr call;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_events.empty()) return;
            call = m_events.front();
            m_events.pop_front();
            if (call->state != AsyncCall::kPending) continue;
        }
        const ZumiStatus status = ZumiCreateAndSendEvent(call->handle, call->text.c_str());
        std::lock_guard<std::mutex> lock(m_lock);
        if (call->state == AsyncCall::kPending) finish(*call, status);
    }
}

void AsyncCalls::expireLocal(uint64_t now, uint64_t* nextDeadline) {
    std::lock_guard<std::mutex> lock(m_lock);
    while (!m_localDeadlines.empty()) {
        auto first = m_localDeadlines.begin();
        if (first->first > now) {
            *nextDeadline = std::min(*nextDeadline, first->first);
            return;
        }
        CallPtr call = first->second;
        m_localDeadlines.erase(first);
        if (call->state == AsyncCall::kPending) finish(*call, ZUMI_ERR_TIMEOUT);
    }
}

void AsyncCalls::deliverReady() {
    for (;;) {
        CallPtr call;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            while (!m_ready.empty() && m_ready.front()->state != AsyncCall::kReady) m_ready.pop_front();
            if (m_ready.empty()) return;
            call = m_ready.front();
            m_ready.pop_front();
            call->state = AsyncCall::kDelivering;
            call->deliverer = std::this_thread::get_id();
        }
        ZumiCallResult result;
        result.status = call->status;
        result.intValue = call->resultNumber;
        result.text = call->resultText.c_str();
        result.reply = call->reply.release();
        // The refusal was noted on the thread that read the reply; `done`
        // finds it on its own.
        if (call->status == ZUMI_ERR_POLICY_DENIED) noteRefusal(call->refusal.c_str());
        call->done(&result, call->data);
        std::lock_guard<std::mutex> lock(m_lock);
        call->state = AsyncCall::kDone;
        m_calls.erase(call->id);
        m_delivered.notify_all();
    }
}

}  // namespace bus
}  // namespace zumi
