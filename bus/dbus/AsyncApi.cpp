// The asynchronous operations of the C contract (libzumi/ZumiBus.h): they
// check their arguments as their synchronous twins do, with the same
// statuses, and hand the call to AsyncCalls.

#include <string.h>

#include <functional>
#include <memory>
#include <new>

#include <libzumi/ZumiBus.h>

#include "dbus/AsyncCalls.h"
#include "dbus/BusNames.h"
#include "dbus/Registry.h"
#include "dbus/WireFormat.h"

using zumi::bus::AsyncCall;
using zumi::bus::AsyncCalls;

namespace {

ZumiStatus startCall(ZumiHandle handle, AsyncCall::Kind kind, const char* service,
                     const char* property, unsigned int timeoutMs, ZumiCallDone done, void* data,
                     ZumiCallId* id, const std::function<void(AsyncCall&)>& fill = nullptr) {
    if (done == nullptr || id == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (kind != AsyncCall::kSendEvent) {
        if (service == nullptr || property == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
        if (!zumi::bus::isOwnableBusName(service)) return ZUMI_ERR_INVALID_NAME;
        if (!zumi::bus::isValidMemberName(property)) return ZUMI_ERR_INVALID_ARGUMENT;
    }
    if (!zumi::bus::Registry::instance().find(handle)) return ZUMI_ERR_DISCONNECTED;
    try {
        std::unique_ptr<AsyncCall> call(new AsyncCall());
        call->kind = kind;
        call->handle = handle;
        if (service != nullptr) call->service = service;
        if (property != nullptr) call->property = property;
        call->timeoutUsec = static_cast<uint64_t>(timeoutMs) * 1000u;
        call->done = done;
        call->data = data;
        if (fill) fill(*call);
        return AsyncCalls::instance().start(std::move(call), id);
    } catch (const std::bad_alloc&) {
        return ZUMI_ERR_NO_MEMORY;
    }
}

}  // namespace

extern "C" {

ZumiStatus ZumiGetIntPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                   unsigned int timeoutMs, ZumiCallDone done, void* data,
                                   ZumiCallId* id) {
    return startCall(handle, AsyncCall::kGetInt, service, property, timeoutMs, done, data, id);
}

ZumiStatus ZumiGetStringPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                      unsigned int timeoutMs, ZumiCallDone done, void* data,
                                      ZumiCallId* id) {
    return startCall(handle, AsyncCall::kGetString, service, property, timeoutMs, done, data, id);
}

ZumiStatus ZumiSetIntPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                   int value, unsigned int timeoutMs, ZumiCallDone done,
                                   void* data, ZumiCallId* id) {
    return startCall(handle, AsyncCall::kSetInt, service, property, timeoutMs, done, data, id,
                     [value](AsyncCall& call) { call.number = value; });
}

ZumiStatus ZumiSetStringPropertyAsync(ZumiHandle handle, const char* service, const char* property,
                                      const char* value, unsigned int timeoutMs, ZumiCallDone done,
                                      void* data, ZumiCallId* id) {
    if (value == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (strlen(value) > zumi::bus::kMaxTextBytes) return ZUMI_ERR_TOO_LARGE;
    return startCall(handle, AsyncCall::kSetString, service, property, timeoutMs, done, data, id,
                     [value](AsyncCall& call) { call.text = value; });
}

ZumiStatus ZumiAccessHasharrayPropertyAsync(ZumiHandle handle, const char* service,
                                            const char* property,
                                            struct ZumiHasharrayHandleStruct* input,
                                            unsigned int timeoutMs, ZumiCallDone done, void* data,
                                            ZumiCallId* id) {
    std::unique_ptr<zumi::bus::HashArray> copy;
    if (input != nullptr) {
        // Whether served in this process or across the bus.
        const ZumiStatus sendable = zumi::bus::checkHashArray(*input);
        if (sendable != ZUMI_OK) return sendable;
        copy.reset(zumi::bus::hashArrayClone(input));
        if (!copy) return ZUMI_ERR_NO_MEMORY;
    }
    return startCall(handle, AsyncCall::kAccess, service, property, timeoutMs, done, data, id,
                     [&copy](AsyncCall& call) { call.input = std::move(copy); });
}

ZumiStatus ZumiCreateAndSendEventAsync(ZumiHandle handle, const char* eventName, ZumiCallDone done,
                                       void* data, ZumiCallId* id) {
    if (eventName == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    return startCall(handle, AsyncCall::kSendEvent, nullptr, nullptr, 0, done, data, id,
                     [eventName](AsyncCall& call) { call.text = eventName; });
}

ZumiStatus ZumiCancelCall(ZumiHandle handle, ZumiCallId id) {
    return AsyncCalls::instance().cancel(handle, id);
}

}  // extern "C"
