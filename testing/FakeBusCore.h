#ifndef ZUMI_TESTING_FAKEBUSCORE_H
#define ZUMI_TESTING_FAKEBUSCORE_H

// The in-process test double of the bus library: it defines every operation of
// src/platform/ZumiBus.h, so unit tests link it in place of libzumi.
//
// What it gives a test:
//  - a record of every call (calls(), count());
//  - scripted failures: failNext(function, status) makes the next call(s) of
//    that operation fail without any other effect (operations that return a
//    pointer return NULL, ZumiHasharrayGetHashCount returns -1);
//  - hooks: any operation can be replaced by a std::function of the C
//    signature (hooks.getIntProperty = ...); the call is still recorded;
//    hooks.observe sees every call as it is made;
//  - remote services' properties (declareRemote: values, access, a status,
//    a delay; what was written, in order), and routing of gets and
//    sets on a service that is one of its own open connections to the
//    registered callbacks, as the real bus does in-process;
//  - the registered callbacks, invoked as the bus thread would
//    (invokeIntGetter, invokeStringGetter with the retry on 10, ...): call
//    them from a std::thread of the test's own;
//  - events delivered to subscribers (emit);
//  - answers of asynchronous calls, delivered by one worker thread in call
//    order per connection and destination (FakeAnswers.h);
//  - leak accounting for connections, hash arrays and strings.
//
// Threads: every member may be called from any thread. Callbacks are invoked
// without the double's own lock held, so they may call back into it.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/HashArray.h"
#include "core/PropertyEntry.h"
#include <libzumi/ZumiBus.h>

namespace zumi {
namespace testing {

// One recorded call. Fields that an operation does not have stay empty; a
// null string argument is recorded as "<null>".
struct Call {
    std::string function;
    ZumiHandle handle = nullptr;
    std::string source;  // service of a property call, source of a subscription
    std::string name;    // property, event or connection identifier
    std::string text;    // string value passed in
    int number = 0;      // integer value passed in (or the index of hash-array calls)
    bool hasGetter = false;  // registrations: getter / accessor given
    bool hasSetter = false;  // registrations: setter given
    void* data = nullptr;    // user data, or the array of hash-array calls
};

// An event as the double hands it to an event callback. source and the
// strings may be null, to inject what a faulty bus library might deliver.
struct FakeEvent {
    const char* source = nullptr;
    std::vector<int> ints;
    std::vector<const char*> strings;
    size_t nextInt = 0;
    size_t nextString = 0;
};

// Each hook has the signature of the operation it replaces; `observe` replaces
// nothing: it runs for every recorded call, on the caller's thread and
// without the double's lock, after the call is recorded and before it is
// answered (a scripted failure made from there applies to that very call).
struct Hooks {
    std::function<void(const Call&)> observe;
    std::function<decltype(ZumiOpenEx)> openEx;
    std::function<decltype(ZumiClose)> close;
    std::function<decltype(ZumiGetStringProperty)> getStringProperty;
    std::function<decltype(ZumiGetIntProperty)> getIntProperty;
    std::function<decltype(ZumiSetStringProperty)> setStringProperty;
    std::function<decltype(ZumiSetIntProperty)> setIntProperty;
    std::function<decltype(ZumiAccessHasharrayProperty)> accessHasharrayProperty;
    std::function<decltype(ZumiCreateAndSendEvent)> createAndSendEvent;
    std::function<decltype(ZumiSubscribeExt)> subscribeExt;
    std::function<decltype(ZumiUnsubscribeExt)> unsubscribeExt;
    std::function<decltype(ZumiUnregisterPropertyOfType)> unregisterPropertyOfType;
    std::function<decltype(ZumiHasharrayGetInt)> hasharrayGetInt;
    std::function<decltype(ZumiHasharrayGetString)> hasharrayGetString;
};

class FakeBusCore {
public:
    static FakeBusCore& instance();

    // Forgets calls, scripts, hooks, registrations, subscriptions and remote
    // values, and starts a new generation for the leak accounting: connections,
    // arrays and strings handed out before stay valid and may still be
    // released, but are no longer counted as live.
    void reset();

    // ---- Recording ----
    std::vector<Call> calls(const std::string& function = std::string()) const;
    size_t count(const std::string& function) const;

    // ---- Scripting ----
    // The next `times` calls of `function` (its C name) fail with `status`.
    void failNext(const std::string& function, ZumiStatus status, int times = 1);
    Hooks hooks;  // set before the code under test runs; reset() clears them

    // ---- Remote services ----
    // A property of another service, as the fake serves it: a read answers
    // its value, a write stores it and is remembered in order. Its status,
    // when not 0, answers every access instead; an access its bits lack
    // answers ZUMI_ERR_ACCESS_DENIED. Each access takes `delay` first (on
    // the answering thread of an asynchronous call).
    struct RemoteProperty {
        int number = 0;
        std::string text;
        std::vector<ZumiHasharrayHandleStruct::Hash> hashes;
        unsigned access = ZUMI_ACCESS_READ | ZUMI_ACCESS_WRITE;
        ZumiStatus status = ZUMI_OK;
        std::chrono::milliseconds delay{0};
        std::vector<int> intWrites;
        std::vector<std::string> stringWrites;
        std::vector<std::vector<ZumiHasharrayHandleStruct::Hash>> hashWrites;
        size_t reads = 0;
    };
    // Declares (or finds) the property of `type` (ZUMI_TYPE_*) and lets
    // `change` set it up, under the fake's lock.
    void declareRemote(const std::string& service, const std::string& property, int type,
                       const std::function<void(RemoteProperty&)>& change);
    // A copy of the property; false when it was never declared nor written.
    bool remote(const std::string& service, const std::string& property, int type,
                RemoteProperty* out) const;
    void setRemoteInt(const std::string& service, const std::string& property, int value) {
        declareRemote(service, property, ZUMI_TYPE_INT, [&](RemoteProperty& p) { p.number = value; });
    }
    void setRemoteString(const std::string& service, const std::string& property,
                         const std::string& value) {
        declareRemote(service, property, ZUMI_TYPE_STRING, [&](RemoteProperty& p) { p.text = value; });
    }
    // Answers one access to a remote property: `apply` runs under the lock
    // when it is allowed. A read of a property never declared answers
    // ZUMI_ERR_NO_SUCH_PROPERTY; a write declares it, as a service that
    // accepts anything would.
    ZumiStatus accessRemote(const std::string& service, const std::string& property, int type,
                            bool write, const std::function<void(RemoteProperty&)>& apply);

    // ---- Asynchronous answers ----
    // While an instance lives on a thread, the delays of the remote
    // properties that thread accesses are added up instead of waited for, so
    // that the asynchronous operations can wait on their answering thread.
    class DeferDelays {
    public:
        DeferDelays();
        ~DeferDelays();
        std::chrono::milliseconds total{0};
    private:
        DeferDelays* m_outer;
    };
    // ---- Published properties (registered by the code under test) ----
    // One registration per name and type (ZUMI_TYPE_*), as on the real bus.
    typedef zumi::bus::PropertyEntry Registration;
    bool isRegistered(ZumiHandle handle, const std::string& name, int type) const;
    Registration registration(ZumiHandle handle, const std::string& name, int type) const;

    // Invoke a registered callback as the bus thread would. A property that is
    // not registered, or registered without that callback, answers 8 or 9.
    ZumiStatus invokeIntGetter(ZumiHandle handle, const char* name, int* value);
    ZumiStatus invokeIntSetter(ZumiHandle handle, const char* name, int value);
    // One raw call of the string getter with the caller's buffer.
    ZumiStatus invokeStringGetterRaw(ZumiHandle handle, const char* name, char* buffer,
                                     unsigned int* size);
    // The bus's protocol: start with initialSize bytes, retry once with the
    // size that a 10 asks for.
    ZumiStatus invokeStringGetter(ZumiHandle handle, const char* name, std::string* value,
                                  unsigned int initialSize = 1);
    ZumiStatus invokeStringSetter(ZumiHandle handle, const char* name, const char* value);
    ZumiStatus invokeAccessor(ZumiHandle handle, const char* name, ZumiHasharrayHandleStruct* input,
                              ZumiHasharrayHandleStruct* output);

    // ---- Events ----
    bool isSubscribed(ZumiHandle handle, const std::string& source, const std::string& event) const;
    // Delivers an event to every subscription of (source, event), on the
    // calling thread; returns how many callbacks ran.
    int emit(const char* source, const char* event, std::vector<int> ints = {},
             std::vector<std::string> strings = {});
    // The same with a hand-made event (null source or texts allowed); the
    // subscription is looked up under subscriptionSource.
    int emitRaw(const std::string& subscriptionSource, const char* event, FakeEvent& raw);

    // ---- Leak accounting ----
    size_t openConnections() const;
    size_t liveArrays() const;
    size_t liveStrings() const;
    size_t invalidFrees() const;  // destroys/frees of pointers not handed out, or twice
    bool isLiveArray(const ZumiHasharrayHandleStruct* array) const;

    // ---- Used by the C operations (FakeBusOperations.cpp) ----
    void record(Call call);
    bool takeScriptedFailure(const char* function, ZumiStatus* status);
    char* handOutString(const std::string& value);
    void releaseString(char* value);  // frees what was handed out; counts the rest
    ZumiHasharrayHandleStruct* track(ZumiHasharrayHandleStruct* array);
    void releaseArray(ZumiHasharrayHandleStruct* array);
    ZumiHandle openConnection(const std::string& id);
    bool closeConnection(ZumiHandle handle);
    ZumiHandle connectionOwning(const std::string& id, const std::string& property, int type) const;
    static std::string argText(const char* value) { return value ? std::string(value) : "<null>"; }
    template <typename Function>
    Function hook(const Function& member) const {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        return member;
    }
    mutable std::recursive_mutex m_mutex;

private:
    FakeBusCore() = default;

public:
    struct Subscription {
        ZumiEventCallback callback = nullptr;
        void* data = nullptr;
    };
    std::vector<Call> m_calls;
    std::map<std::string, std::vector<ZumiStatus>> m_failures;
    typedef std::tuple<std::string, std::string, int> RemoteKey;  // service, property, type
    std::map<RemoteKey, RemoteProperty> m_remote;
    typedef std::tuple<ZumiHandle, std::string, int> RegistrationKey;  // handle, name, type
    std::map<RegistrationKey, Registration> m_registrations;
    std::map<std::tuple<ZumiHandle, std::string, std::string>, Subscription> m_subscriptions;
    // Event callbacks running now, per connection; ZumiClose waits for them.
    std::map<ZumiHandle, int> m_runningCallbacks;
    std::condition_variable_any m_callbackFinished;
    // What is handed out and not yet released, with the generation it was
    // handed out in.
    std::map<ZumiHandle, unsigned> m_open;
    std::map<const ZumiHasharrayHandleStruct*, unsigned> m_arrays;
    std::map<const char*, unsigned> m_strings;
    unsigned m_generation = 0;
    size_t m_invalidFrees = 0;

    // Tracks what is handed out; forgetting what was not (or no longer is)
    // handed out counts as an invalid free.
    template <typename Map, typename Pointer>
    Pointer remember(Map& map, Pointer pointer) {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        map[pointer] = m_generation;
        return pointer;
    }
    template <typename Map, typename Pointer>
    bool forget(Map& map, Pointer pointer) {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (map.erase(pointer) != 0) return true;
        ++m_invalidFrees;
        return false;
    }
    template <typename Map>
    size_t countCurrent(const Map& map) const {
        size_t n = 0;
        for (const auto& entry : map) n += entry.second == m_generation ? 1 : 0;
        return n;
    }
};

}  // namespace testing
}  // namespace zumi

#endif
