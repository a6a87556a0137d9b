// The bus library's operations, as the test double answers them. Each records
// its call, then answers from a scripted failure or a hook when the test set
// one, else with the in-process behaviour described in FakeBusCore.h.

#include <cstring>
#include <optional>

#include "FakeAnswers.h"
#include "FakeBusCore.h"
#include "core/HashArray.h"
#include "core/Sendable.h"
#include "core/StatusText.h"

#include "FakeHandles.h"

using zumi::testing::Call;
using zumi::testing::FakeBusCore;
namespace hb = zumi::bus;

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;
FakeBusCore& bus() { return FakeBusCore::instance(); }
std::string text(const char* value) { return FakeBusCore::argText(value); }

Call call(const char* function, ZumiHandle handle = nullptr, std::string source = {},
          std::string name = {}, void* data = nullptr) {
    Call c;
    c.function = function;
    c.handle = handle;
    c.source = std::move(source);
    c.name = std::move(name);
    c.data = data;
    return c;
}

Call hashCall(const char* function, ZumiHasharrayHandleStruct* array, int index, const char* key,
              std::string shown = {}) {
    Call c = call(function, nullptr, {}, text(key), array);
    c.number = index;
    c.text = std::move(shown);
    return c;
}

// Records the call; a scripted failure or a hook answers it if there is one.
template <typename Hook, typename... Args>
std::optional<ZumiStatus> intercept(Call c, const Hook& member, Args... args) {
    const std::string function = c.function;
    bus().record(std::move(c));
    ZumiStatus status = ZUMI_OK;
    if (bus().takeScriptedFailure(function.c_str(), &status)) return status;
    Hook hook = bus().hook(member);
    if (hook) return hook(args...);
    return std::nullopt;
}

std::optional<ZumiStatus> intercept(Call c) {
    static const std::function<ZumiStatus()> none;
    return intercept(std::move(c), none);
}

// A property or event name that the bus could not carry.
bool badName(const char* name) { return !hb::isValidMemberName(name); }

ZumiStatus registerProperty(const char* function, ZumiHandle handle, const char* name,
                            const FakeBusCore::Registration& reg, bool getter, bool setter) {
    Call c = call(function, handle, {}, text(name), reg.data);
    c.hasGetter = getter;
    c.hasSetter = setter;
    if (auto answer = intercept(c)) return *answer;
    if (badName(name)) return ZUMI_ERR_INVALID_ARGUMENT;
    Lock lock(bus().m_mutex);
    return bus().m_registrations.emplace(FakeBusCore::RegistrationKey(handle, c.name, reg.type), reg).second
               ? ZUMI_OK
               : ZUMI_ERR_ALREADY_REGISTERED;
}

ZumiStatus deliverEvent(ZumiHandle handle, const char* eventName, std::vector<int> ints,
                        std::vector<std::string> strings) {
    if (handle == nullptr || badName(eventName)) return ZUMI_ERR_INVALID_ARGUMENT;
    bus().emit(handle->id.c_str(), eventName, std::move(ints), std::move(strings));
    return ZUMI_OK;
}

}  // namespace

extern "C" {

ZumiHandle ZumiOpenEx(const char* serviceId, ZumiStatus* status) {
    bus().record(call("ZumiOpenEx", nullptr, {}, text(serviceId)));
    ZumiStatus answer = ZUMI_OK;
    ZumiHandle handle = nullptr;
    if (bus().takeScriptedFailure("ZumiOpenEx", &answer)) {
    } else if (auto hook = bus().hook(bus().hooks.openEx)) {
        return hook(serviceId, status);
    } else if (serviceId == nullptr) {
        answer = ZUMI_ERR_INVALID_ARGUMENT;
    } else {
        handle = bus().openConnection(serviceId);
    }
    if (status != nullptr) *status = answer;
    return handle;
}

ZumiStatus ZumiClose(ZumiHandle handle) {
    bus().record(call("ZumiClose", handle));
    if (auto hook = bus().hook(bus().hooks.close)) return hook(handle);
    // As the bus library does: no answer of the connection's calls is
    // delivered after it closed.
    zumi::testing::FakeAnswers::instance().dropAll(handle);
    ZumiStatus scripted = ZUMI_OK;
    const bool failed = bus().takeScriptedFailure("ZumiClose", &scripted);
    // A scripted failure still closes: the caller cannot retry a close.
    const bool known = bus().closeConnection(handle);
    if (failed) return scripted;
    return known ? ZUMI_OK : ZUMI_ERR_DISCONNECTED;
}

ZumiStatus ZumiGetIntProperty(ZumiHandle handle, const char* service, const char* property,
                              int* value) {
    Call c = call("ZumiGetIntProperty", handle, text(service), text(property));
    if (auto answer = intercept(c, bus().hooks.getIntProperty, handle, service, property, value)) {
        return *answer;
    }
    if (badName(property)) return ZUMI_ERR_INVALID_ARGUMENT;
    if (ZumiHandle owner = bus().connectionOwning(c.source, c.name, ZUMI_TYPE_INT)) {
        return bus().invokeIntGetter(owner, property, value);
    }
    return bus().accessRemote(c.source, c.name, ZUMI_TYPE_INT, false,
                              [&](FakeBusCore::RemoteProperty& p) { *value = p.number; });
}

ZumiStatus ZumiSetIntProperty(ZumiHandle handle, const char* service, const char* property,
                              int value) {
    Call c = call("ZumiSetIntProperty", handle, text(service), text(property));
    c.number = value;
    if (auto answer = intercept(c, bus().hooks.setIntProperty, handle, service, property, value)) {
        return *answer;
    }
    if (badName(property)) return ZUMI_ERR_INVALID_ARGUMENT;
    if (ZumiHandle owner = bus().connectionOwning(c.source, c.name, ZUMI_TYPE_INT)) {
        return bus().invokeIntSetter(owner, property, value);
    }
    return bus().accessRemote(c.source, c.name, ZUMI_TYPE_INT, true,
                              [&](FakeBusCore::RemoteProperty& p) {
                                  p.number = value;
                                  p.intWrites.push_back(value);
                              });
}

ZumiStatus ZumiGetStringProperty(ZumiHandle handle, const char* service, const char* property,
                                 char** textOut) {
    Call c = call("ZumiGetStringProperty", handle, text(service), text(property));
    if (auto answer =
            intercept(c, bus().hooks.getStringProperty, handle, service, property, textOut)) {
        return *answer;
    }
    if (badName(property)) return ZUMI_ERR_INVALID_ARGUMENT;
    std::string value;
    ZumiHandle owner = bus().connectionOwning(c.source, c.name, ZUMI_TYPE_STRING);
    ZumiStatus status = owner ? bus().invokeStringGetter(owner, property, &value)
                              : bus().accessRemote(c.source, c.name, ZUMI_TYPE_STRING, false,
                                                   [&](FakeBusCore::RemoteProperty& p) { value = p.text; });
    if (status == ZUMI_OK) *textOut = bus().handOutString(value);
    return status;
}

ZumiStatus ZumiSetStringProperty(ZumiHandle handle, const char* service, const char* property,
                                 const char* value) {
    Call c = call("ZumiSetStringProperty", handle, text(service), text(property));
    c.text = text(value);
    if (auto answer =
            intercept(c, bus().hooks.setStringProperty, handle, service, property, value)) {
        return *answer;
    }
    if (badName(property)) return ZUMI_ERR_INVALID_ARGUMENT;
    if (value == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (ZumiHandle owner = bus().connectionOwning(c.source, c.name, ZUMI_TYPE_STRING)) {
        return bus().invokeStringSetter(owner, property, value);
    }
    return bus().accessRemote(c.source, c.name, ZUMI_TYPE_STRING, true,
                              [&](FakeBusCore::RemoteProperty& p) {
                                  p.text = value;
                                  p.stringWrites.push_back(value);
                              });
}

ZumiStatus ZumiAccessHasharrayProperty(ZumiHandle handle, const char* service, const char* property,
                                       ZumiHasharrayHandleStruct* input,
                                       ZumiHasharrayHandleStruct** reply) {
    Call c = call("ZumiAccessHasharrayProperty", handle, text(service), text(property), input);
    if (auto answer = intercept(c, bus().hooks.accessHasharrayProperty, handle, service, property,
                                input, reply)) {
        return *answer;
    }
    if (reply == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    *reply = nullptr;
    if (badName(property)) return ZUMI_ERR_INVALID_ARGUMENT;
    // Refused as the bus refuses what it could not send, with no reply.
    ZumiStatus status = input != nullptr ? hb::checkHashArray(*input) : ZumiStatus(ZUMI_OK);
    if (status != ZUMI_OK) return status;
    if (ZumiHandle owner = bus().connectionOwning(c.source, c.name, ZUMI_TYPE_HASHARRAY)) {
        // As on the wire: the service gets a copy of what was sent and fills
        // a fresh reply array; only an accepted array is sealed.
        ZumiHasharrayHandleStruct* received = bus().track(hb::hashArrayClone(input));
        *reply = bus().track(hb::hashArrayNew());
        status = bus().invokeAccessor(owner, property, received, *reply);
        bus().releaseArray(received);
    } else {
        // A declared hash-array property answers a read with its value and
        // keeps what is written, replying with an empty array; any other
        // service echoes what it was sent (an empty array for a read).
        ZumiHasharrayHandleStruct* answer = hb::hashArrayNew();
        FakeBusCore::RemoteProperty declared;
        if (!bus().remote(c.source, c.name, ZUMI_TYPE_HASHARRAY, &declared)) {
            if (input != nullptr) answer->hashes = input->hashes;
        } else {
            status = bus().accessRemote(c.source, c.name, ZUMI_TYPE_HASHARRAY, input != nullptr,
                                    [&](FakeBusCore::RemoteProperty& p) {
                                        if (input == nullptr) {
                                            answer->hashes = p.hashes;
                                        } else {
                                            p.hashes = input->hashes;
                                            p.hashWrites.push_back(input->hashes);
                                        }
                                    });
        }
        *reply = bus().track(answer);
    }
    if (!hb::keepReply(*reply, &status)) {
        bus().releaseArray(*reply);
        *reply = nullptr;
    }
    if (status == ZUMI_OK && input != nullptr) input->readOnly = true;
    return status;
}

void ZumiFreeString(char* value) {
    if (value != nullptr) bus().releaseString(value);
}

ZumiStatus ZumiRegisterIntProperty(ZumiHandle handle, const char* name, ZumiIntGetter getter,
                                   ZumiIntSetter setter, void* data) {
    return registerProperty("ZumiRegisterIntProperty", handle, name,
                            {ZUMI_TYPE_INT, getter, setter, nullptr, nullptr, nullptr, data},
                            getter != nullptr, setter != nullptr);
}

ZumiStatus ZumiRegisterStringProperty(ZumiHandle handle, const char* name, ZumiStringGetter getter,
                                      ZumiStringSetter setter, void* data) {
    return registerProperty("ZumiRegisterStringProperty", handle, name,
                            {ZUMI_TYPE_STRING, nullptr, nullptr, getter, setter, nullptr, data},
                            getter != nullptr, setter != nullptr);
}

ZumiStatus ZumiRegisterHasharrayProperty(ZumiHandle handle, const char* name,
                                         ZumiHasharrayAccessor accessor, void* data) {
    return registerProperty("ZumiRegisterHasharrayProperty", handle, name,
                            {ZUMI_TYPE_HASHARRAY, nullptr, nullptr, nullptr, nullptr, accessor, data},
                            accessor != nullptr, false);
}

// Recorded with hasGetter/hasSetter for the read and write bits of an
// accessor that was given. Reads and writes still reach the accessor here:
// the double tests what the callbacks do, the bus what it lets through.
ZumiStatus ZumiRegisterHasharrayPropertyEx(ZumiHandle handle, const char* name,
                                           ZumiHasharrayAccessor accessor, unsigned access,
                                           void* data) {
    return registerProperty(
        "ZumiRegisterHasharrayPropertyEx", handle, name,
        {ZUMI_TYPE_HASHARRAY, nullptr, nullptr, nullptr, nullptr, accessor, data, access},
        accessor != nullptr && (access & ZUMI_ACCESS_READ) != 0,
        accessor != nullptr && (access & ZUMI_ACCESS_WRITE) != 0);
}

ZumiStatus ZumiUnregisterProperty(ZumiHandle handle, const char* name, void* reserved) {
    Call c = call("ZumiUnregisterProperty", handle, {}, text(name), reserved);
    if (auto answer = intercept(c)) return *answer;
    if (reserved != nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    Lock lock(bus().m_mutex);
    size_t removed = 0;
    for (int type : {ZUMI_TYPE_INT, ZUMI_TYPE_STRING, ZUMI_TYPE_HASHARRAY}) {
        removed += bus().m_registrations.erase({handle, c.name, type});
    }
    return removed != 0 ? ZUMI_OK : ZUMI_ERR_NO_SUCH_PROPERTY;
}

ZumiStatus ZumiUnregisterPropertyOfType(ZumiHandle handle, const char* name, int type) {
    Call c = call("ZumiUnregisterPropertyOfType", handle, {}, text(name));
    c.number = type;
    if (auto answer = intercept(c, bus().hooks.unregisterPropertyOfType, handle, name, type)) {
        return *answer;
    }
    if (type != ZUMI_TYPE_INT && type != ZUMI_TYPE_STRING && type != ZUMI_TYPE_HASHARRAY) {
        return ZUMI_ERR_INVALID_ARGUMENT;
    }
    Lock lock(bus().m_mutex);
    return bus().m_registrations.erase({handle, c.name, type}) != 0 ? ZUMI_OK
                                                                     : ZUMI_ERR_NO_SUCH_PROPERTY;
}

ZumiStatus ZumiCreateAndSendEvent(ZumiHandle handle, const char* eventName) {
    Call c = call("ZumiCreateAndSendEvent", handle, {}, text(eventName));
    if (auto answer = intercept(c, bus().hooks.createAndSendEvent, handle, eventName)) {
        return *answer;
    }
    return deliverEvent(handle, eventName, {}, {});
}

ZumiStatus ZumiSendEventWithParams(ZumiHandle handle, const char* eventName, const int* ints,
                                   size_t intCount, const char* const* strings,
                                   size_t stringCount) {
    Call c = call("ZumiSendEventWithParams", handle, {}, text(eventName));
    c.number = static_cast<int>(intCount);
    if (auto answer = intercept(c)) return *answer;
    if (badName(eventName)) return ZUMI_ERR_INVALID_ARGUMENT;
    const ZumiStatus sendable = hb::checkEventParams({ints, intCount, strings, stringCount});
    if (sendable != ZUMI_OK) return sendable;
    return deliverEvent(handle, eventName, std::vector<int>(ints, ints + intCount),
                        std::vector<std::string>(strings, strings + stringCount));
}

ZumiStatus ZumiSubscribeExt(ZumiHandle handle, const char* source, const char* event,
                            ZumiEventCallback callback, void* data) {
    Call c = call("ZumiSubscribeExt", handle, text(source), text(event), data);
    if (auto answer =
            intercept(c, bus().hooks.subscribeExt, handle, source, event, callback, data)) {
        return *answer;
    }
    if (callback == nullptr || badName(event)) return ZUMI_ERR_INVALID_ARGUMENT;
    Lock lock(bus().m_mutex);
    bus().m_subscriptions[{handle, c.source, c.name}] = FakeBusCore::Subscription{callback, data};
    return ZUMI_OK;
}

ZumiStatus ZumiUnsubscribeExt(ZumiHandle handle, const char* source, const char* event,
                              void** data) {
    Call c = call("ZumiUnsubscribeExt", handle, text(source), text(event));
    if (auto answer = intercept(c, bus().hooks.unsubscribeExt, handle, source, event, data)) {
        return *answer;
    }
    Lock lock(bus().m_mutex);
    return bus().m_subscriptions.erase({handle, c.source, c.name}) != 0 ? ZUMI_OK
                                                                         : ZUMI_ERR_NOT_SUBSCRIBED;
}

const char* ZumiGetEventSource(ZumiEventHandle event) {
    return event != nullptr ? event->event->source : nullptr;
}

ZumiStatus ZumiGetIntParam(ZumiEventHandle event, int* value) {
    if (event == nullptr || value == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    zumi::testing::FakeEvent& e = *event->event;
    if (e.nextInt >= e.ints.size()) return ZUMI_ERR_NO_MORE_PARAMS;
    *value = e.ints[e.nextInt++];
    return ZUMI_OK;
}

ZumiStatus ZumiGetStringParam(ZumiEventHandle event, const char** value) {
    if (event == nullptr || value == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    zumi::testing::FakeEvent& e = *event->event;
    if (e.nextString >= e.strings.size()) return ZUMI_ERR_NO_MORE_PARAMS;
    *value = e.strings[e.nextString++];
    return ZUMI_OK;
}

const char* ZumiGetErrorString(ZumiStatus status) { return hb::statusText(status); }

const char* ZumiGetLastRefusal(void) { return hb::lastRefusal(); }

ZumiHasharrayHandleStruct* ZumiHasharrayNew(ZumiHandle handle) {
    return intercept(call("ZumiHasharrayNew", handle)) ? nullptr : bus().track(hb::hashArrayNew());
}

ZumiHasharrayHandleStruct* ZumiHasharrayClone(ZumiHasharrayHandleStruct* array) {
    if (intercept(call("ZumiHasharrayClone", nullptr, {}, {}, array))) return nullptr;
    return bus().track(hb::hashArrayClone(array));
}

void ZumiHasharrayDestroy(ZumiHasharrayHandleStruct* array) {
    bus().record(call("ZumiHasharrayDestroy", nullptr, {}, {}, array));
    bus().releaseArray(array);
}

int ZumiHasharrayGetHashCount(ZumiHasharrayHandleStruct* array) {
    if (intercept(call("ZumiHasharrayGetHashCount", nullptr, {}, {}, array))) return -1;
    return hb::hashArrayCount(array);
}

ZumiStatus ZumiHasharrayAddHash(ZumiHasharrayHandleStruct* array, int* index) {
    auto answer = intercept(call("ZumiHasharrayAddHash", nullptr, {}, {}, array));
    return answer ? *answer : hb::hashArrayAddHash(array, index);
}

ZumiStatus ZumiHasharrayGetInt(ZumiHasharrayHandleStruct* array, int index, const char* key,
                               int* value) {
    auto answer = intercept(hashCall("ZumiHasharrayGetInt", array, index, key),
                            bus().hooks.hasharrayGetInt, array, index, key, value);
    return answer ? *answer : hb::hashArrayGetInt(array, index, key, value);
}

ZumiStatus ZumiHasharrayGetString(ZumiHasharrayHandleStruct* array, int index, const char* key,
                                  const char** value) {
    auto answer = intercept(hashCall("ZumiHasharrayGetString", array, index, key),
                            bus().hooks.hasharrayGetString, array, index, key, value);
    return answer ? *answer : hb::hashArrayGetString(array, index, key, value);
}

ZumiStatus ZumiHasharrayPutInt(ZumiHasharrayHandleStruct* array, int index, const char* key,
                               int value) {
    auto answer =
        intercept(hashCall("ZumiHasharrayPutInt", array, index, key, std::to_string(value)));
    return answer ? *answer : hb::hashArrayPutInt(array, index, key, value);
}

ZumiStatus ZumiHasharrayPutString(ZumiHasharrayHandleStruct* array, int index, const char* key,
                                  const char* value) {
    auto answer = intercept(hashCall("ZumiHasharrayPutString", array, index, key, text(value)));
    return answer ? *answer : hb::hashArrayPutString(array, index, key, value);
}

ZumiStatus ZumiListProperties(ZumiHandle handle, const char* service, ZumiPropertyInfo** list,
                              size_t* count) {
    Call c = call("ZumiListProperties", handle, text(service));
    if (auto answer = intercept(c)) return *answer;
    std::vector<ZumiPropertyInfo> found;
    {
        Lock lock(bus().m_mutex);
        bool owned = false;
        for (const auto& entry : bus().m_open) owned = owned || entry.first->id == c.source;
        if (!owned) return ZUMI_ERR_NO_SERVICE;
        for (const auto& entry : bus().m_registrations) {
            if (std::get<0>(entry.first)->id != c.source) continue;
            const FakeBusCore::Registration& reg = entry.second;
            found.push_back(
                ZumiPropertyInfo{strdup(std::get<1>(entry.first).c_str()), reg.type, reg.access()});
        }
    }
    *count = found.size();
    *list = static_cast<ZumiPropertyInfo*>(calloc(found.size() + 1, sizeof(ZumiPropertyInfo)));
    std::copy(found.begin(), found.end(), *list);
    return ZUMI_OK;
}

void ZumiFreePropertyList(ZumiPropertyInfo* list, size_t count) {
    for (size_t i = 0; list != nullptr && i < count; ++i) free(list[i].name);
    free(list);
}

ZumiStatus ZumiListServices(ZumiHandle handle, char*** names, size_t* count) {
    if (auto answer = intercept(call("ZumiListServices", handle))) return *answer;
    std::set<std::string> ids;
    {
        Lock lock(bus().m_mutex);
        for (const auto& entry : bus().m_open) {
            if (!entry.first->id.empty()) ids.insert(entry.first->id);
        }
    }
    *count = ids.size();
    *names = static_cast<char**>(calloc(ids.size() + 1, sizeof(char*)));
    size_t i = 0;
    for (const std::string& id : ids) (*names)[i++] = strdup(id.c_str());
    return ZUMI_OK;
}

// The double has no daemon that would start a service: none is activatable.
ZumiStatus ZumiListActivatableServices(ZumiHandle handle, char*** names, size_t* count) {
    if (auto answer = intercept(call("ZumiListActivatableServices", handle))) return *answer;
    *names = nullptr;
    *count = 0;
    return ZUMI_OK;
}

void ZumiFreeServiceList(char** names, size_t count) {
    for (size_t i = 0; names != nullptr && i < count; ++i) free(names[i]);
    free(names);
}

// There is no daemon in the double to watch: the tools' unit tests only see
// monitoring refused as a bus that cannot be reached.
ZumiStatus ZumiMonitorOpen(ZumiMonitorHandle* monitor) {
    if (monitor != nullptr) *monitor = nullptr;
    return ZUMI_ERR_NO_BUS;
}

ZumiStatus ZumiMonitorNext(ZumiMonitorHandle, int, const ZumiTraffic**) { return ZUMI_ERR_INVALID_ARGUMENT; }

void ZumiMonitorClose(ZumiMonitorHandle) {}

}  // extern "C"
