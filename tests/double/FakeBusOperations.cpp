// The bus library's operations, as the test double answers them. Each records
// its call, then answers from a scripted failure or a hook when the test set
// one, else with the in-process behaviour described in FakeBus.h.

#include <cstring>
#include <optional>

#include "FakeBus.h"
#include "core/HashArray.h"
#include "core/StatusText.h"

#include "FakeHandles.h"

using zumi::testing::Call;
using zumi::testing::FakeBus;
namespace hb = zumi::bus;

namespace {

FakeBus& bus() { return FakeBus::instance(); }
std::string text(const char* value) { return FakeBus::argText(value); }

Call call(const char* function, ZumiHandle handle = nullptr) {
    Call c;
    c.function = function;
    c.handle = handle;
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

Call propertyCall(const char* function, ZumiHandle handle, const char* service,
                  const char* property) {
    Call c = call(function, handle);
    c.source = text(service);
    c.name = text(property);
    return c;
}

ZumiStatus registerProperty(Call c, FakeBus::Registration reg) {
    if (auto answer = intercept(c)) return *answer;
    std::lock_guard<std::recursive_mutex> lock(bus().m_mutex);
    auto key = std::make_pair(c.handle, c.name);
    if (bus().m_registrations.count(key) != 0) return ZUMI_ERR_ALREADY_REGISTERED;
    bus().m_registrations[key] = reg;
    return ZUMI_OK;
}

ZumiStatus deliverEvent(ZumiHandle handle, const char* eventName, std::vector<int> ints,
                        std::vector<std::string> strings) {
    if (handle == nullptr || eventName == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    bus().emit(handle->id.c_str(), eventName, std::move(ints), std::move(strings));
    return ZUMI_OK;
}

}  // namespace

extern "C" {

ZumiHandle ZumiOpenEx(const char* serviceId, ZumiStatus* status) {
    Call c = call("ZumiOpenEx");
    c.name = text(serviceId);
    bus().record(c);
    ZumiStatus failure = ZUMI_OK;
    if (bus().takeScriptedFailure("ZumiOpenEx", &failure)) {
        if (status != nullptr) *status = failure;
        return nullptr;
    }
    if (auto hook = bus().hook(bus().hooks.openEx)) return hook(serviceId, status);
    if (serviceId == nullptr) {
        if (status != nullptr) *status = ZUMI_ERR_INVALID_ARGUMENT;
        return nullptr;
    }
    if (status != nullptr) *status = ZUMI_OK;
    return bus().openConnection(serviceId);
}

ZumiStatus ZumiClose(ZumiHandle handle) {
    bus().record(call("ZumiClose", handle));
    if (auto hook = bus().hook(bus().hooks.close)) return hook(handle);
    ZumiStatus scripted = ZUMI_OK;
    const bool failed = bus().takeScriptedFailure("ZumiClose", &scripted);
    // A scripted failure still closes: the caller cannot retry a close.
    const bool known = bus().closeConnection(handle);
    if (failed) return scripted;
    return known ? ZUMI_OK : ZUMI_ERR_DISCONNECTED;
}

ZumiStatus ZumiGetIntProperty(ZumiHandle handle, const char* service, const char* property,
                              int* value) {
    Call c = propertyCall("ZumiGetIntProperty", handle, service, property);
    if (auto answer = intercept(c, bus().hooks.getIntProperty, handle, service, property, value)) {
        return *answer;
    }
    if (ZumiHandle owner = bus().connectionOwning(c.source, c.name)) {
        return bus().invokeIntGetter(owner, property, value);
    }
    std::lock_guard<std::recursive_mutex> lock(bus().m_mutex);
    auto found = bus().m_remoteInts.find({c.source, c.name});
    if (found == bus().m_remoteInts.end()) return ZUMI_ERR_NO_SUCH_PROPERTY;
    *value = found->second;
    return ZUMI_OK;
}

ZumiStatus ZumiSetIntProperty(ZumiHandle handle, const char* service, const char* property,
                              int value) {
    Call c = propertyCall("ZumiSetIntProperty", handle, service, property);
    c.number = value;
    if (auto answer = intercept(c, bus().hooks.setIntProperty, handle, service, property, value)) {
        return *answer;
    }
    if (ZumiHandle owner = bus().connectionOwning(c.source, c.name)) {
        return bus().invokeIntSetter(owner, property, value);
    }
    bus().setRemoteInt(c.source, c.name, value);
    return ZUMI_OK;
}

ZumiStatus ZumiGetStringProperty(ZumiHandle handle, const char* service, const char* property,
                                 char** textOut) {
    Call c = propertyCall("ZumiGetStringProperty", handle, service, property);
    if (auto answer =
            intercept(c, bus().hooks.getStringProperty, handle, service, property, textOut)) {
        return *answer;
    }
    std::string value;
    if (ZumiHandle owner = bus().connectionOwning(c.source, c.name)) {
        ZumiStatus status = bus().invokeStringGetter(owner, property, &value);
        if (status != ZUMI_OK) return status;
    } else {
        std::lock_guard<std::recursive_mutex> lock(bus().m_mutex);
        auto found = bus().m_remoteStrings.find({c.source, c.name});
        if (found == bus().m_remoteStrings.end()) return ZUMI_ERR_NO_SUCH_PROPERTY;
        value = found->second;
    }
    *textOut = bus().handOutString(value);
    return ZUMI_OK;
}

ZumiStatus ZumiSetStringProperty(ZumiHandle handle, const char* service, const char* property,
                                 const char* value) {
    Call c = propertyCall("ZumiSetStringProperty", handle, service, property);
    c.text = text(value);
    if (auto answer =
            intercept(c, bus().hooks.setStringProperty, handle, service, property, value)) {
        return *answer;
    }
    if (value == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (ZumiHandle owner = bus().connectionOwning(c.source, c.name)) {
        return bus().invokeStringSetter(owner, property, value);
    }
    bus().setRemoteString(c.source, c.name, value);
    return ZUMI_OK;
}

ZumiStatus ZumiAccessHasharrayProperty(ZumiHandle handle, const char* service, const char* property,
                                       ZumiHasharrayHandleStruct* input,
                                       ZumiHasharrayHandleStruct** reply) {
    Call c = propertyCall("ZumiAccessHasharrayProperty", handle, service, property);
    c.data = input;
    if (auto answer = intercept(c, bus().hooks.accessHasharrayProperty, handle, service, property,
                                input, reply)) {
        return *answer;
    }
    if (ZumiHandle owner = bus().connectionOwning(c.source, c.name)) {
        // As on the wire: the service gets a copy of what was sent and fills
        // a fresh reply array; only an accepted array is sealed.
        ZumiHasharrayHandleStruct* received = bus().track(hb::hashArrayClone(input));
        ZumiHasharrayHandleStruct* output = bus().track(hb::hashArrayNew());
        ZumiStatus status = bus().invokeAccessor(owner, property, received, output);
        bus().releaseArray(received);
        *reply = output;
        if (status == ZUMI_OK && input != nullptr) input->readOnly = true;
        return status;
    }
    if (input != nullptr) input->readOnly = true;
    // Another service echoes what it was sent (an empty array for a read).
    *reply = bus().track(input != nullptr ? hb::hashArrayClone(input) : hb::hashArrayNew());
    return ZUMI_OK;
}

void ZumiFreeString(char* value) {
    if (value != nullptr) bus().releaseString(value);
}

ZumiStatus ZumiRegisterIntProperty(ZumiHandle handle, const char* name, ZumiIntGetter getter,
                                   ZumiIntSetter setter, void* data) {
    Call c = call("ZumiRegisterIntProperty", handle);
    c.name = text(name);
    c.hasGetter = getter != nullptr;
    c.hasSetter = setter != nullptr;
    c.data = data;
    FakeBus::Registration reg;
    reg.intGetter = getter;
    reg.intSetter = setter;
    reg.data = data;
    reg.type = ZUMI_TYPE_INT;
    return registerProperty(c, reg);
}

ZumiStatus ZumiRegisterStringProperty(ZumiHandle handle, const char* name, ZumiStringGetter getter,
                                      ZumiStringSetter setter, void* data) {
    Call c = call("ZumiRegisterStringProperty", handle);
    c.name = text(name);
    c.hasGetter = getter != nullptr;
    c.hasSetter = setter != nullptr;
    c.data = data;
    FakeBus::Registration reg;
    reg.stringGetter = getter;
    reg.stringSetter = setter;
    reg.data = data;
    reg.type = ZUMI_TYPE_STRING;
    return registerProperty(c, reg);
}

ZumiStatus ZumiRegisterHasharrayProperty(ZumiHandle handle, const char* name,
                                         ZumiHasharrayAccessor accessor, void* data) {
    Call c = call("ZumiRegisterHasharrayProperty", handle);
    c.name = text(name);
    c.hasGetter = accessor != nullptr;
    c.data = data;
    FakeBus::Registration reg;
    reg.accessor = accessor;
    reg.data = data;
    reg.type = ZUMI_TYPE_HASHARRAY;
    return registerProperty(c, reg);
}

ZumiStatus ZumiUnregisterProperty(ZumiHandle handle, const char* name, void* reserved) {
    Call c = call("ZumiUnregisterProperty", handle);
    c.name = text(name);
    c.data = reserved;
    if (auto answer = intercept(c, bus().hooks.unregisterProperty, handle, name)) return *answer;
    std::lock_guard<std::recursive_mutex> lock(bus().m_mutex);
    return bus().m_registrations.erase({handle, c.name}) != 0 ? ZUMI_OK
                                                               : ZUMI_ERR_NO_SUCH_PROPERTY;
}

ZumiStatus ZumiCreateAndSendEvent(ZumiHandle handle, const char* eventName) {
    Call c = call("ZumiCreateAndSendEvent", handle);
    c.name = text(eventName);
    if (auto answer = intercept(c, bus().hooks.createAndSendEvent, handle, eventName)) {
        return *answer;
    }
    return deliverEvent(handle, eventName, {}, {});
}

ZumiStatus ZumiSendEventWithParams(ZumiHandle handle, const char* eventName, const int* ints,
                                   size_t intCount, const char* const* strings,
                                   size_t stringCount) {
    Call c = call("ZumiSendEventWithParams", handle);
    c.name = text(eventName);
    c.number = static_cast<int>(intCount);
    if (auto answer = intercept(c)) return *answer;
    std::vector<int> intParams(ints, ints + intCount);
    std::vector<std::string> stringParams;
    for (size_t i = 0; i < stringCount; ++i) {
        if (strings[i] == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
        stringParams.emplace_back(strings[i]);
    }
    return deliverEvent(handle, eventName, std::move(intParams), std::move(stringParams));
}

ZumiStatus ZumiSubscribeExt(ZumiHandle handle, const char* source, const char* event,
                            ZumiEventCallback callback, void* data) {
    Call c = call("ZumiSubscribeExt", handle);
    c.source = text(source);
    c.name = text(event);
    c.data = data;
    if (auto answer =
            intercept(c, bus().hooks.subscribeExt, handle, source, event, callback, data)) {
        return *answer;
    }
    if (callback == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    std::lock_guard<std::recursive_mutex> lock(bus().m_mutex);
    bus().m_subscriptions[{handle, c.source, c.name}] = FakeBus::Subscription{callback, data};
    return ZUMI_OK;
}

ZumiStatus ZumiUnsubscribeExt(ZumiHandle handle, const char* source, const char* event,
                              void** data) {
    Call c = call("ZumiUnsubscribeExt", handle);
    c.source = text(source);
    c.name = text(event);
    if (auto answer = intercept(c, bus().hooks.unsubscribeExt, handle, source, event, data)) {
        return *answer;
    }
    std::lock_guard<std::recursive_mutex> lock(bus().m_mutex);
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

ZumiHasharrayHandleStruct* ZumiHasharrayNew(ZumiHandle handle) {
    if (intercept(call("ZumiHasharrayNew", handle))) return nullptr;
    return bus().track(hb::hashArrayNew());
}

ZumiHasharrayHandleStruct* ZumiHasharrayClone(ZumiHasharrayHandleStruct* array) {
    Call c = call("ZumiHasharrayClone");
    c.data = array;
    if (intercept(c)) return nullptr;
    return bus().track(hb::hashArrayClone(array));
}

void ZumiHasharrayDestroy(ZumiHasharrayHandleStruct* array) {
    Call c = call("ZumiHasharrayDestroy");
    c.data = array;
    bus().record(c);
    bus().releaseArray(array);
}

int ZumiHasharrayGetHashCount(ZumiHasharrayHandleStruct* array) {
    Call c = call("ZumiHasharrayGetHashCount");
    c.data = array;
    if (intercept(c)) return -1;
    return hb::hashArrayCount(array);
}

ZumiStatus ZumiHasharrayAddHash(ZumiHasharrayHandleStruct* array, int* index) {
    Call c = call("ZumiHasharrayAddHash");
    c.data = array;
    if (auto answer = intercept(c)) return *answer;
    return hb::hashArrayAddHash(array, index);
}

namespace {
Call hashCall(const char* function, ZumiHasharrayHandleStruct* array, int index, const char* key) {
    Call c = call(function);
    c.data = array;
    c.number = index;
    c.name = text(key);
    return c;
}
}  // namespace

ZumiStatus ZumiHasharrayGetInt(ZumiHasharrayHandleStruct* array, int index, const char* key,
                               int* value) {
    Call c = hashCall("ZumiHasharrayGetInt", array, index, key);
    if (auto answer = intercept(c, bus().hooks.hasharrayGetInt, array, index, key, value)) {
        return *answer;
    }
    return hb::hashArrayGetInt(array, index, key, value);
}

ZumiStatus ZumiHasharrayGetString(ZumiHasharrayHandleStruct* array, int index, const char* key,
                                  const char** value) {
    Call c = hashCall("ZumiHasharrayGetString", array, index, key);
    if (auto answer = intercept(c, bus().hooks.hasharrayGetString, array, index, key, value)) {
        return *answer;
    }
    return hb::hashArrayGetString(array, index, key, value);
}

ZumiStatus ZumiHasharrayPutInt(ZumiHasharrayHandleStruct* array, int index, const char* key,
                               int value) {
    Call c = hashCall("ZumiHasharrayPutInt", array, index, key);
    c.text = std::to_string(value);
    if (auto answer = intercept(c)) return *answer;
    return hb::hashArrayPutInt(array, index, key, value);
}

ZumiStatus ZumiHasharrayPutString(ZumiHasharrayHandleStruct* array, int index, const char* key,
                                  const char* value) {
    Call c = hashCall("ZumiHasharrayPutString", array, index, key);
    c.text = text(value);
    if (auto answer = intercept(c)) return *answer;
    return hb::hashArrayPutString(array, index, key, value);
}

ZumiStatus ZumiListProperties(ZumiHandle handle, const char* service, ZumiPropertyInfo** list,
                              size_t* count) {
    Call c = call("ZumiListProperties", handle);
    c.source = text(service);
    if (auto answer = intercept(c)) return *answer;
    std::vector<ZumiPropertyInfo> found;
    {
        std::lock_guard<std::recursive_mutex> lock(bus().m_mutex);
        for (const auto& entry : bus().m_registrations) {
            if (entry.first.first->id != c.source) continue;
            const FakeBus::Registration& reg = entry.second;
            unsigned access = 0;
            if (reg.intGetter || reg.stringGetter || reg.accessor) access |= ZUMI_ACCESS_READ;
            if (reg.intSetter || reg.stringSetter || reg.accessor) access |= ZUMI_ACCESS_WRITE;
            found.push_back(ZumiPropertyInfo{strdup(entry.first.second.c_str()), reg.type, access});
        }
    }
    bool owned = false;
    {
        std::lock_guard<std::recursive_mutex> lock(bus().m_mutex);
        for (const auto& entry : bus().m_open) owned = owned || entry.first->id == c.source;
    }
    if (!owned) {
        for (ZumiPropertyInfo& info : found) free(info.name);
        return ZUMI_ERR_NO_SERVICE;
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
        std::lock_guard<std::recursive_mutex> lock(bus().m_mutex);
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

void ZumiFreeServiceList(char** names, size_t count) {
    for (size_t i = 0; names != nullptr && i < count; ++i) free(names[i]);
    free(names);
}

}  // extern "C"
