#include "dbus/Connection.h"
#include "dbus/ConnectionJob.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

#include "dbus/BusNames.h"
#include "dbus/PropertyCalls.h"
#include "dbus/Registry.h"

namespace zumi {
namespace bus {

namespace {

// The connections whose callbacks run on this thread right now, innermost
// last: a ZumiClose from inside one of them must not wait for itself. Plain
// data, so that a ZumiClose from a static destructor at exit still finds it
// intact; callbacks nested deeper than this are not remembered.
constexpr size_t kMaxNesting = 32;
thread_local const Connection* t_runningCallbacks[kMaxNesting];
thread_local size_t t_nesting = 0;

// Set for the life of a dispatch thread: a get or set made there runs inline.
thread_local bool t_dispatchThread = false;

bool equal(const char* a, const char* b) { return a != nullptr && strcmp(a, b) == 0; }

}  // namespace

void CallbackScope::enter(std::shared_ptr<Connection> owner) {
    m_owner = std::move(owner);
    if (t_nesting < kMaxNesting) t_runningCallbacks[t_nesting] = m_owner.get();
    ++t_nesting;
}

void CallbackScope::reset() {
    if (!m_owner) return;
    --t_nesting;  // scopes end in the reverse order of their start
    m_owner->endCallback();
    m_owner.reset();
}

Connection::Connection(const std::string& serviceId) : m_serviceId(serviceId) {
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Connection::~Connection() {
    if (m_thread.joinable()) m_thread.detach();  // only when start failed half-way
    closeBus();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

ZumiStatus Connection::create(const char* serviceId, std::shared_ptr<Connection>* out) {
    std::shared_ptr<Connection> connection(new Connection(serviceId));
    if (connection->m_wakeFd < 0) return ZUMI_ERR_FAILED;
    ZumiStatus status = connection->start();
    if (status != ZUMI_OK) return status;
    *out = std::move(connection);
    return ZUMI_OK;
}

ZumiStatus Connection::start() {
    m_address = configuredAddress();
    const uint64_t timeoutUsec = configuredTimeoutUsec();
    ZumiStatus status = openBus(m_address, timeoutUsec, -1, &m_bus);
    if (status != ZUMI_OK) return status;
    if (sd_bus_add_filter(m_bus, &m_filter, &Connection::onMessage, this) < 0) {
        return ZUMI_ERR_FAILED;
    }
    status = m_callers.start(m_address, timeoutUsec);
    if (status != ZUMI_OK) return status;
    // The thread keeps the connection alive until it ends, which matters
    // when a callback closes its own connection.
    std::shared_ptr<Connection> self = shared_from_this();
    m_thread = std::thread([self] { self->run(); });
    return ZUMI_OK;
}

bool Connection::onAnyDispatchThread() { return t_dispatchThread; }

LocalCall::Result Connection::runOnDispatchThread(const std::shared_ptr<LocalCall>& call,
                                                  std::chrono::steady_clock::time_point deadline) {
    if (!postToDispatchThread(call)) return LocalCall::kDropped;
    return call->wait(deadline);
}

bool Connection::postToDispatchThread(const std::shared_ptr<LocalCall>& call) {
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        // Once closing, the thread may have stopped taking calls.
        if (m_closing) return false;
        m_localCalls.push_back(call);
    }
    wake();
    return true;
}

bool Connection::onDispatchThread() const {
    return m_threadRunning.load() && m_threadId.load() == std::this_thread::get_id();
}

void Connection::wake() {
    uint64_t one = 1;
    ssize_t ignored = write(m_wakeFd, &one, sizeof one);
    (void)ignored;
}

void Connection::run() {
    t_dispatchThread = true;
    m_threadId.store(std::this_thread::get_id());
    m_threadRunning.store(true);
    while (!m_stop.load()) {
        int r = 0;
        if (m_bus != nullptr) {  // only this thread changes m_bus
            std::lock_guard<std::mutex> lock(m_busLock);
            r = sd_bus_process(m_bus, nullptr);
            signalSendRoom();
        }
        takeLocalCalls();
        while (!m_jobs.empty() && !m_stop.load()) {
            Job job = std::move(m_jobs.front());
            m_jobs.pop_front();
            runJob(job);
        }
        if (r < 0 && !m_stop.load()) loseBus();  // the daemon went away
        if (r > 0 || m_stop.load()) continue;
        const int untilRetryMs = m_bus == nullptr ? reconnect() : -1;
        if (untilRetryMs != 0) waitForWork(untilRetryMs);
    }
    dropJobs();
    closeBus();
    m_threadRunning.store(false);
}

void Connection::waitForWork(int timeoutMs) {
    struct pollfd fds[2];
    fds[0].fd = m_wakeFd;
    fds[0].events = POLLIN;
    fds[0].revents = 0;
    int count = 1;
    if (m_bus != nullptr) {
        std::lock_guard<std::mutex> lock(m_busLock);
        fds[1].fd = sd_bus_get_fd(m_bus);
        int events = sd_bus_get_events(m_bus);
        fds[1].events = static_cast<short>(events < 0 ? POLLIN : events);
        fds[1].revents = 0;
        uint64_t until = UINT64_MAX;
        if (fds[1].fd >= 0) count = 2;
        if (sd_bus_get_timeout(m_bus, &until) > 0 && until != UINT64_MAX) timeoutMs = millisecondsUntil(until);
    }
    if (poll(fds, count, timeoutMs) > 0 && (fds[0].revents & POLLIN) != 0) {
        uint64_t value;
        ssize_t ignored = read(m_wakeFd, &value, sizeof value);
        (void)ignored;
    }
}

// Behind what the bus brought in so far, so that both run in arrival order.
void Connection::takeLocalCalls() {
    std::lock_guard<std::mutex> lock(m_stateLock);
    try {
        while (!m_localCalls.empty()) {
            Job job;
            job.kind = Job::kLocal;
            job.local = m_localCalls.front();
            m_jobs.push_back(std::move(job));
            m_localCalls.pop_front();
        }
    } catch (...) {
        wake();  // out of memory: the rest waits for the next round
    }
}

void Connection::dropJobs() {
    {
        std::lock_guard<std::mutex> lock(m_busLock);
        for (Job& job : m_jobs) job.call = sd_bus_message_unref(job.call);
    }
    for (Job& job : m_jobs) {
        if (job.local) job.local->drop();
    }
    m_jobs.clear();
    // shutdown set m_closing before it stopped this thread, so no call
    // arrives after these.
    std::lock_guard<std::mutex> lock(m_stateLock);
    for (const std::shared_ptr<LocalCall>& call : m_localCalls) call->drop();
    m_localCalls.clear();
}

void Connection::closeBus() {
    std::lock_guard<std::mutex> bus(m_busLock);
    if (m_bus == nullptr) return;
    dropSlots();
    m_bus = sd_bus_flush_close_unref(m_bus);
    m_sendRoom.notify_all();  // senders waiting for room give up
}

int Connection::onMessage(sd_bus_message* message, void* data, sd_bus_error*) {
    try {
        return static_cast<Connection*>(data)->handleMessage(message);
    } catch (...) {
        // Out of memory while queueing: refuse the request rather than crash.
        uint8_t type = 0;
        sd_bus_message_get_type(message, &type);
        if (type == SD_BUS_MESSAGE_METHOD_CALL) {
            sd_bus_reply_method_errorf(message, SD_BUS_ERROR_NO_MEMORY, "Out of memory");
        }
        return 1;
    }
}

int Connection::handleMessage(sd_bus_message* message) {
    uint8_t type = 0;
    sd_bus_message_get_type(message, &type);
    if (type == SD_BUS_MESSAGE_METHOD_CALL) {
        const char* interface = sd_bus_message_get_interface(message);
        const char* member = sd_bus_message_get_member(message);
        if (!equal(sd_bus_message_get_path(message), kObjectPath) || !equal(interface, kInterface)) {
            return parseStandardRequest(message, interface, member);
        }
        return parseRequest(message, member);
    }
    if (type == SD_BUS_MESSAGE_SIGNAL) {
        if (equal(sd_bus_message_get_interface(message), kInterface) &&
            equal(sd_bus_message_get_member(message), kEventMember) &&
            equal(sd_bus_message_get_path(message), kObjectPath)) {
            parseEvent(message);
            return 1;
        }
        if (equal(sd_bus_message_get_sender(message), kDaemon)) {
            const char* member = sd_bus_message_get_member(message);
            if (equal(member, "NameOwnerChanged")) trackOwnerChange(message);
            if (equal(member, "NameAcquired")) trackOwnName(message, true);
            if (equal(member, "NameLost")) trackOwnName(message, false);
        }
    }
    return 0;
}

}  // namespace bus
}  // namespace zumi

namespace zumi {
namespace bus {

ZumiStatus Connection::registerProperty(const char* name, const PropertyEntry& entry) {
    if (!isValidMemberName(name)) return ZUMI_ERR_INVALID_ARGUMENT;
    std::lock_guard<std::mutex> lock(m_stateLock);
    if (m_closing) return ZUMI_ERR_DISCONNECTED;
    if (!m_properties.emplace(std::make_pair(std::string(name), entry.type), entry).second) {
        return ZUMI_ERR_ALREADY_REGISTERED;
    }
    m_stateChanged.notify_all();  // a request may be waiting for it (awaitPublication)
    return ZUMI_OK;
}

void Connection::openStartupGrace() {
    std::lock_guard<std::mutex> lock(m_stateLock);
    if (m_startupOpened) return;
    m_startupOpened = true;
    m_startupEnds = std::chrono::steady_clock::now() + kStartupGrace;
}

void Connection::awaitPublication(const std::string& name) {
    std::unique_lock<std::mutex> lock(m_stateLock);
    if (!m_startupOpened) return;
    m_stateChanged.wait_until(lock, m_startupEnds, [&] {
        if (m_closing) return true;
        if (name.empty()) return !m_properties.empty();  // a listing: the first will do
        // Asked as another type than published is a wrong call, not an early one.
        auto found = m_properties.lower_bound(std::make_pair(name, std::numeric_limits<int>::min()));
        return found != m_properties.end() && found->first.first == name;
    });
}

// One registration per name and type; kEveryType withdraws all of a name's.
ZumiStatus Connection::unregisterProperty(const char* name, int type) {
    if (name == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    std::lock_guard<std::mutex> lock(m_stateLock);
    size_t removed = 0;
    for (int each : {ZUMI_TYPE_INT, ZUMI_TYPE_STRING, ZUMI_TYPE_HASHARRAY}) {
        if (type == kEveryType || type == each) {
            removed += m_properties.erase(std::make_pair(std::string(name), each));
        }
    }
    return removed > 0 ? ZUMI_OK : ZUMI_ERR_NO_SUCH_PROPERTY;
}

ZumiStatus Connection::beginCallback(const std::string& name, int type, PropertyEntry* entry,
                                     CallbackScope* scope) {
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (m_closing) return ZUMI_ERR_NO_SUCH_PROPERTY;
        auto found = m_properties.find(std::make_pair(name, type));
        if (found == m_properties.end()) return ZUMI_ERR_NO_SUCH_PROPERTY;
        *entry = found->second;
        ++m_inflight;
    }
    scope->enter(shared_from_this());
    return ZUMI_OK;
}

void Connection::endCallback() {
    std::lock_guard<std::mutex> lock(m_stateLock);
    --m_inflight;
    m_stateChanged.notify_all();
}

void Connection::listProperties(std::vector<std::pair<std::string, PropertyEntry>>* out) {
    std::lock_guard<std::mutex> lock(m_stateLock);
    if (m_closing) return;
    for (const auto& entry : m_properties) out->emplace_back(entry.first.first, entry.second);
}

int requestBusName(sd_bus* bus, const std::string& name, bool queue) {
    enum { kDoNotQueue = 4, kPrimaryOwner = 1, kInQueue = 2, kExists = 3 };
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus, kDaemon, kDaemonPath, kDaemon, "RequestName", &error, &reply, "su",
                               name.c_str(), queue ? 0u : static_cast<unsigned>(kDoNotQueue));
    if (r < 0 && sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.AccessDenied")) {
        noteDaemonRefusal(&error);
        r = -EACCES;
    }
    uint32_t answer = 0;
    if (r >= 0) r = sd_bus_message_read(reply, "u", &answer);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    if (r < 0) return r;
    return answer == kPrimaryOwner ? 1 : answer == kInQueue ? 0 : answer == kExists ? -EEXIST : -EALREADY;
}

ZumiStatus Connection::requestName(bool queue, bool* primary) {
    std::lock_guard<std::mutex> lock(m_busLock);
    if (m_bus == nullptr) return ZUMI_ERR_NO_BUS;
    int r = requestBusName(m_bus, m_serviceId, queue);
    if (r == -EEXIST) return ZUMI_ERR_NAME_TAKEN;
    if (r == -EACCES) return ZUMI_ERR_POLICY_DENIED;
    if (r == -EINVAL) return ZUMI_ERR_INVALID_NAME;
    if (r == -ENOMEM) return ZUMI_ERR_NO_MEMORY;
    if (isConnectionLoss(r)) return ZUMI_ERR_NO_BUS;
    if (r < 0 && r != -EALREADY) return ZUMI_ERR_FAILED;
    m_wantsName = true;
    *primary = r != 0;
    m_nameState.store(*primary ? kNameOwned : kNameQueued);
    if (*primary) openStartupGrace();
    return ZUMI_OK;
}

void Connection::releaseName() {
    std::lock_guard<std::mutex> lock(m_busLock);
    if (m_wantsName && m_bus != nullptr) sd_bus_release_name(m_bus, m_serviceId.c_str());
    m_wantsName = false;
    m_nameState.store(kNoName);
}

void Connection::shutdown() {
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_closing = true;
        m_stateChanged.notify_all();  // ends a start-up wait of the dispatch thread
    }
    m_stop.store(true);
    wake();
    if (onDispatchThread()) {
        // Closed from one of our own callbacks: the thread ends, and closes
        // the bus, once the callback returns.
        m_thread.detach();
    } else if (m_thread.joinable()) {
        m_thread.join();
    }
    {
        std::unique_lock<std::mutex> lock(m_stateLock);
        const size_t own = static_cast<size_t>(
            std::count(t_runningCallbacks, t_runningCallbacks + std::min(t_nesting, kMaxNesting), this));
        m_stateChanged.wait(lock, [&] { return m_inflight <= own; });
    }
    m_callers.close();
    // A connection closed while it reconnected no longer counts as away.
    if (m_lost.exchange(false)) noteBusBack(true);
}

}  // namespace bus
}  // namespace zumi
