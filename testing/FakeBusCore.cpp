#include "FakeBusCore.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

#include "core/HashArray.h"
#include "core/StatusText.h"

#include "FakeAnswers.h"
#include "FakeHandles.h"

namespace zumi {
namespace testing {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;
std::string text(const char* value) { return FakeBusCore::argText(value); }

// The connection whose event callback runs on this thread, if any.
thread_local ZumiHandle t_callbackConnection = nullptr;

}  // namespace

char* FakeBusCore::handOutString(const std::string& value) {
    char* copy = static_cast<char*>(std::malloc(value.size() + 1));
    std::memcpy(copy, value.c_str(), value.size() + 1);
    return remember(m_strings, copy);
}

void FakeBusCore::releaseString(char* value) {
    if (forget(m_strings, value)) std::free(value);
}

ZumiHasharrayHandleStruct* FakeBusCore::track(ZumiHasharrayHandleStruct* array) {
    return array != nullptr ? remember(m_arrays, array) : nullptr;
}

void FakeBusCore::releaseArray(ZumiHasharrayHandleStruct* array) {
    if (array != nullptr && forget(m_arrays, array)) zumi::bus::hashArrayDestroy(array);
}

ZumiHandle FakeBusCore::openConnection(const std::string& id) {
    return remember(m_open, new ZumiHandleStruct{id});
}

bool FakeBusCore::closeConnection(ZumiHandle handle) {
    std::unique_lock<std::recursive_mutex> lock(m_mutex);
    // The bus library's promise: once ZumiClose returns, no event callback
    // for the connection is still running (unless it closes from inside one).
    if (t_callbackConnection != handle) {
        m_callbackFinished.wait(lock, [&] { return m_runningCallbacks.count(handle) == 0; });
    }
    if (!forget(m_open, handle)) return false;
    for (auto it = m_registrations.begin(); it != m_registrations.end();) {
        it = std::get<0>(it->first) == handle ? m_registrations.erase(it) : std::next(it);
    }
    for (auto it = m_subscriptions.begin(); it != m_subscriptions.end();) {
        it = std::get<0>(it->first) == handle ? m_subscriptions.erase(it) : std::next(it);
    }
    delete handle;
    return true;
}

ZumiHandle FakeBusCore::connectionOwning(const std::string& id, const std::string& property,
                                     int type) const {
    Lock lock(m_mutex);
    for (const auto& entry : m_open) {
        if (entry.first->id == id && m_registrations.count({entry.first, property, type}) != 0) {
            return entry.first;
        }
    }
    return nullptr;
}

FakeBusCore& FakeBusCore::instance() {
    // Never destroyed: connections and arrays may still be released by static
    // destructors of the code under test after main returns.
    static FakeBusCore* bus = new FakeBusCore();
    return *bus;
}

void FakeBusCore::reset() {
    FakeAnswers::instance().reset();
    Lock lock(m_mutex);
    m_calls.clear();
    m_failures.clear();
    hooks = Hooks();
    m_remote.clear();
    m_registrations.clear();
    m_subscriptions.clear();
    ++m_generation;
    m_invalidFrees = 0;
}

std::vector<Call> FakeBusCore::calls(const std::string& function) const {
    Lock lock(m_mutex);
    std::vector<Call> result;
    for (const Call& call : m_calls) {
        if (function.empty() || call.function == function) result.push_back(call);
    }
    return result;
}

size_t FakeBusCore::count(const std::string& function) const { return calls(function).size(); }

void FakeBusCore::failNext(const std::string& function, ZumiStatus status, int times) {
    Lock lock(m_mutex);
    for (int i = 0; i < times; ++i) m_failures[function].push_back(status);
}

void FakeBusCore::record(Call call) {
    std::function<void(const Call&)> observe;
    {
        Lock lock(m_mutex);
        observe = hooks.observe;
        m_calls.push_back(call);
    }
    if (observe) observe(call);
}

bool FakeBusCore::takeScriptedFailure(const char* function, ZumiStatus* status) {
    Lock lock(m_mutex);
    auto found = m_failures.find(function);
    if (found == m_failures.end() || found->second.empty()) return false;
    *status = found->second.front();
    found->second.erase(found->second.begin());
    return true;
}

bool FakeBusCore::isRegistered(ZumiHandle handle, const std::string& name, int type) const {
    Lock lock(m_mutex);
    return m_registrations.count({handle, name, type}) != 0;
}

FakeBusCore::Registration FakeBusCore::registration(ZumiHandle handle, const std::string& name,
                                            int type) const {
    Lock lock(m_mutex);
    auto found = m_registrations.find({handle, name, type});
    return found == m_registrations.end() ? Registration() : found->second;
}

namespace {

// Calls the callback that `member` names of the registration of `type` serving
// (handle, name), outside the double's lock; 8 when there is none, 9 without
// that callback.
template <typename Callback, typename... Args>
ZumiStatus invoke(ZumiHandle handle, const char* name, int type,
                  Callback FakeBusCore::Registration::*member, Args... args) {
    FakeBusCore& bus = FakeBusCore::instance();
    FakeBusCore::Registration reg;
    {
        Lock lock(bus.m_mutex);
        auto found = bus.m_registrations.find({handle, text(name), type});
        if (found == bus.m_registrations.end()) return ZUMI_ERR_NO_SUCH_PROPERTY;
        reg = found->second;
    }
    if (reg.*member == nullptr) return ZUMI_ERR_ACCESS_DENIED;
    return (reg.*member)(handle, name, args..., reg.data);
}

}  // namespace

ZumiStatus FakeBusCore::invokeIntGetter(ZumiHandle handle, const char* name, int* value) {
    return invoke(handle, name, ZUMI_TYPE_INT, &Registration::intGetter, value);
}

ZumiStatus FakeBusCore::invokeIntSetter(ZumiHandle handle, const char* name, int value) {
    return invoke(handle, name, ZUMI_TYPE_INT, &Registration::intSetter, value);
}

ZumiStatus FakeBusCore::invokeStringGetterRaw(ZumiHandle handle, const char* name, char* buffer,
                                          unsigned int* size) {
    return invoke(handle, name, ZUMI_TYPE_STRING, &Registration::stringGetter, buffer, size);
}

ZumiStatus FakeBusCore::invokeStringGetter(ZumiHandle handle, const char* name, std::string* value,
                                       unsigned int initialSize) {
    std::vector<char> buffer(initialSize == 0 ? 1 : initialSize);
    unsigned int size = initialSize;
    ZumiStatus status = invokeStringGetterRaw(handle, name, buffer.data(), &size);
    if (status == ZUMI_ERR_BUFFER_TOO_SMALL) {
        buffer.assign(size, '\0');
        status = invokeStringGetterRaw(handle, name, buffer.data(), &size);
    }
    if (status == ZUMI_OK) value->assign(buffer.data());
    return status;
}

ZumiStatus FakeBusCore::invokeStringSetter(ZumiHandle handle, const char* name, const char* value) {
    return invoke(handle, name, ZUMI_TYPE_STRING, &Registration::stringSetter, value);
}

ZumiStatus FakeBusCore::invokeAccessor(ZumiHandle handle, const char* name,
                                   ZumiHasharrayHandleStruct* input,
                                   ZumiHasharrayHandleStruct* output) {
    return invoke(handle, name, ZUMI_TYPE_HASHARRAY, &Registration::accessor, input, output);
}

bool FakeBusCore::isSubscribed(ZumiHandle handle, const std::string& source,
                           const std::string& event) const {
    Lock lock(m_mutex);
    return m_subscriptions.count({handle, source, event}) != 0;
}

int FakeBusCore::emit(const char* source, const char* event, std::vector<int> ints,
                  std::vector<std::string> strings) {
    FakeEvent raw;
    raw.source = source;
    raw.ints = std::move(ints);
    for (const std::string& s : strings) raw.strings.push_back(s.c_str());
    return emitRaw(text(source), event, raw);
}

int FakeBusCore::emitRaw(const std::string& subscriptionSource, const char* event, FakeEvent& raw) {
    std::vector<std::pair<ZumiHandle, Subscription>> targets;
    {
        Lock lock(m_mutex);
        for (const auto& entry : m_subscriptions) {
            if (std::get<1>(entry.first) == subscriptionSource &&
                std::get<2>(entry.first) == text(event)) {
                targets.emplace_back(std::get<0>(entry.first), entry.second);
            }
        }
    }
    int informed = 0;
    for (auto& target : targets) {
        {
            // Unsubscribed or closed since the targets were collected: the bus
            // starts no callback for it any more. Otherwise ZumiClose now
            // waits until this callback has returned. The subscription is
            // read again, not only looked for: a closed connection's address
            // can come back for a new connection subscribed to the same pair,
            // whose user data is another object.
            Lock lock(m_mutex);
            auto current = m_subscriptions.find({target.first, subscriptionSource, text(event)});
            if (current == m_subscriptions.end()) {
                continue;
            }
            target.second = current->second;
            ++m_runningCallbacks[target.first];
        }
        // Every subscriber reads the parameters from the start.
        raw.nextInt = 0;
        raw.nextString = 0;
        ZumiEventHandleStruct handle{&raw};
        ZumiHandle outer = t_callbackConnection;
        t_callbackConnection = target.first;
        target.second.callback(target.first, event, &handle, target.second.data);
        t_callbackConnection = outer;
        ++informed;
        {
            Lock lock(m_mutex);
            if (--m_runningCallbacks[target.first] == 0) m_runningCallbacks.erase(target.first);
        }
        m_callbackFinished.notify_all();
    }
    return informed;
}

void FakeBusCore::declareRemote(const std::string& service, const std::string& property, int type,
                                const std::function<void(RemoteProperty&)>& change) {
    Lock lock(m_mutex);
    change(m_remote[RemoteKey(service, property, type)]);
}

bool FakeBusCore::remote(const std::string& service, const std::string& property, int type,
                         RemoteProperty* out) const {
    Lock lock(m_mutex);
    auto found = m_remote.find(RemoteKey(service, property, type));
    if (found == m_remote.end()) return false;
    *out = found->second;
    return true;
}

namespace {
thread_local FakeBusCore::DeferDelays* t_deferred = nullptr;
}

FakeBusCore::DeferDelays::DeferDelays() : m_outer(t_deferred) { t_deferred = this; }
FakeBusCore::DeferDelays::~DeferDelays() { t_deferred = m_outer; }

ZumiStatus FakeBusCore::accessRemote(const std::string& service, const std::string& property,
                                     int type, bool write,
                                     const std::function<void(RemoteProperty&)>& apply) {
    std::chrono::milliseconds delay{0};
    ZumiStatus status = ZUMI_OK;
    {
        Lock lock(m_mutex);
        const RemoteKey key(service, property, type);
        auto found = m_remote.find(key);
        if (found == m_remote.end()) {
            if (!write) return ZUMI_ERR_NO_SUCH_PROPERTY;
            found = m_remote.emplace(key, RemoteProperty()).first;
        }
        RemoteProperty& p = found->second;
        delay = p.delay;
        const unsigned needed = write ? ZUMI_ACCESS_WRITE : ZUMI_ACCESS_READ;
        status = p.status != ZUMI_OK ? p.status
                 : (p.access & needed) == 0 ? ZumiStatus(ZUMI_ERR_ACCESS_DENIED)
                                            : ZumiStatus(ZUMI_OK);
        if (status == ZUMI_OK) {
            if (!write) ++p.reads;
            apply(p);
        }
    }
    if (t_deferred != nullptr) {
        t_deferred->total += delay;
    } else if (delay.count() > 0) {
        std::this_thread::sleep_for(delay);
    }
    return status;
}

size_t FakeBusCore::openConnections() const { Lock lock(m_mutex); return countCurrent(m_open); }
size_t FakeBusCore::liveArrays() const { Lock lock(m_mutex); return countCurrent(m_arrays); }
size_t FakeBusCore::liveStrings() const { Lock lock(m_mutex); return countCurrent(m_strings); }
size_t FakeBusCore::invalidFrees() const { Lock lock(m_mutex); return m_invalidFrees; }

bool FakeBusCore::isLiveArray(const ZumiHasharrayHandleStruct* array) const {
    Lock lock(m_mutex);
    return m_arrays.count(array) != 0;
}

}  // namespace testing
}  // namespace zumi
