// Events of the C contract: sending, subscribing, reading parameters.

#include <memory>
#include <vector>

#include "core/EntryGuard.h"
#include "dbus/BusNames.h"
#include "dbus/Registry.h"
#include "dbus/WireFormat.h"
#include <libzumi/ZumiBus.h>

using zumi::bus::Connection;
using zumi::bus::Registry;
using zumi::bus::guardedStatus;

extern "C" {

ZumiStatus ZumiCreateAndSendEvent(ZumiHandle handle, const char* eventName) {
    return ZumiSendEventWithParams(handle, eventName, nullptr, 0, nullptr, 0);
}

ZumiStatus ZumiSendEventWithParams(ZumiHandle handle, const char* eventName, const int* ints,
                                   size_t intCount, const char* const* strings,
                                   size_t stringCount) {
    return guardedStatus([&]() -> ZumiStatus {
        if (!zumi::bus::isValidMemberName(eventName)) {
            return ZUMI_ERR_INVALID_ARGUMENT;
        }
        std::shared_ptr<Connection> connection = Registry::instance().find(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        // An event names its sender as its source: a client-only connection has none.
        if (connection->serviceId().empty()) return ZUMI_ERR_INVALID_NAME;
        const zumi::bus::EventParamsView params = {ints, intCount, strings, stringCount};
        ZumiStatus status = zumi::bus::checkEventParams(params);
        if (status != ZUMI_OK) return status;
        return Registry::instance().sendEvent(connection->serviceId(), eventName, params);
    });
}

ZumiStatus ZumiSubscribeExt(ZumiHandle handle, const char* source, const char* event,
                            ZumiEventCallback callback, void* data) {
    return guardedStatus([&]() -> ZumiStatus {
        std::shared_ptr<Connection> connection = Registry::instance().find(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        return connection->subscribe(source, event, callback, data);
    });
}

ZumiStatus ZumiUnsubscribeExt(ZumiHandle handle, const char* source, const char* event, void** data) {
    if (data != nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    return guardedStatus([&]() -> ZumiStatus {
        std::shared_ptr<Connection> connection = Registry::instance().find(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        return connection->unsubscribe(source, event);
    });
}

const char* ZumiGetEventSource(ZumiEventHandle event) {
    return event == nullptr ? nullptr : event->source.c_str();
}

ZumiStatus ZumiGetIntParam(ZumiEventHandle event, int* value) {
    if (event == nullptr || value == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (event->nextInt >= event->params.ints.size()) return ZUMI_ERR_NO_MORE_PARAMS;
    *value = event->params.ints[event->nextInt++];
    return ZUMI_OK;
}

ZumiStatus ZumiGetStringParam(ZumiEventHandle event, const char** value) {
    if (event == nullptr || value == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (event->nextText >= event->params.texts.size()) return ZUMI_ERR_NO_MORE_PARAMS;
    *value = event->params.texts[event->nextText++].c_str();
    return ZUMI_OK;
}

}  // extern "C"
