// Connections and properties of the C contract (libzumi/ZumiBus.h).
//
// A get or set first asks whether this process serves the service; if so the
// callback runs on that service's dispatch thread, or inline inside a
// callback (PropertyCalls.h), with no daemon round trip, so no deadlock even
// from inside a callback. Otherwise it is one synchronous call on a bus of
// the caller pool, on the caller's thread.

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include "core/EntryGuard.h"
#include "core/StatusText.h"
#include "dbus/AsyncCalls.h"
#include "dbus/BusNames.h"
#include "dbus/PropertyCalls.h"
#include "dbus/PropertyMessages.h"
#include "dbus/Registry.h"
#include "dbus/WireFormat.h"
#include <libzumi/ZumiBus.h>

using zumi::bus::Connection;
using zumi::bus::PropertyEntry;
using zumi::bus::Registry;
using zumi::bus::guardedStatus;
typedef std::string Name;
typedef zumi::bus::LocalOutcome Outcome;

namespace {

ZumiStatus checkRemoteArguments(const char* service, const char* property, const void* out) {
    if (service == nullptr || property == nullptr || out == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (!zumi::bus::isOwnableBusName(service)) return ZUMI_ERR_INVALID_NAME;
    if (!zumi::bus::isValidMemberName(property)) return ZUMI_ERR_INVALID_ARGUMENT;
    return ZUMI_OK;
}

char* copyText(const std::string& text) {
    char* copy = static_cast<char*>(malloc(text.size() + 1));
    if (copy != nullptr) {
        memcpy(copy, text.data(), text.size());
        copy[text.size()] = '\0';
    }
    return copy;
}

ZumiStatus registerProperty(ZumiHandle handle, const char* name, const PropertyEntry& entry) {
    return guardedStatus([&]() -> ZumiStatus {
        std::shared_ptr<Connection> connection = Registry::instance().find(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        return connection->registerProperty(name, entry);
    });
}

ZumiStatus unregisterProperty(ZumiHandle handle, const char* name, int type) {
    return guardedStatus([&]() -> ZumiStatus {
        std::shared_ptr<Connection> connection = Registry::instance().find(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        return connection->unregisterProperty(name, type);
    });
}

}  // namespace

extern "C" {

ZumiHandle ZumiOpenEx(const char* serviceId, ZumiStatus* status) {
    std::shared_ptr<Connection> connection;
    const ZumiStatus result =
        guardedStatus([&] { return Registry::instance().open(serviceId, &connection); });
    if (status != nullptr) *status = result;
    return result == ZUMI_OK ? connection->handle() : nullptr;
}

ZumiStatus ZumiClose(ZumiHandle handle) {
    return guardedStatus([&]() -> ZumiStatus {
        std::shared_ptr<Connection> connection = Registry::instance().close(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        zumi::bus::AsyncCalls::instance().cancelAll(handle);
        connection->shutdown();
        return ZUMI_OK;
    });
}

ZumiStatus ZumiGetIntProperty(ZumiHandle handle, const char* service, const char* property,
                              int* value) {
    return guardedStatus([&]() -> ZumiStatus {
        ZumiStatus status = checkRemoteArguments(service, property, value);
        if (status != ZUMI_OK) return status;
        std::shared_ptr<Connection> connection = Registry::instance().find(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        zumi::bus::LocalOutcome local;
        if (zumi::bus::servedInProcess(service, property, &local, [](const Name& s, const Name& p, Outcome& o) {
                return zumi::bus::serveGetInt(s, p, &o.number, &o.status);
            })) {
            if (local.status == ZUMI_OK) *value = local.number;
            return local.status;
        }
        return connection->callers().call(
            service, "GetInt", [property](sd_bus_message* m) { return zumi::bus::appendProperty(m, property); },
            [value](sd_bus_message* reply) { return zumi::bus::readIntReply(reply, value); });
    });
}

ZumiStatus ZumiSetIntProperty(ZumiHandle handle, const char* service, const char* property,
                              int value) {
    return guardedStatus([&]() -> ZumiStatus {
        ZumiStatus status = checkRemoteArguments(service, property, "");
        if (status != ZUMI_OK) return status;
        std::shared_ptr<Connection> connection = Registry::instance().find(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        zumi::bus::LocalOutcome local;
        if (zumi::bus::servedInProcess(service, property, &local, [value](const Name& s, const Name& p, Outcome& o) {
                return zumi::bus::serveSetInt(s, p, value, &o.status);
            })) {
            return local.status;
        }
        return connection->callers().call(
            service, "SetInt",
            [property, value](sd_bus_message* m) { return zumi::bus::appendIntSet(m, property, value); },
            [](sd_bus_message* reply) { return zumi::bus::readStatusReply(reply); });
    });
}

ZumiStatus ZumiGetStringProperty(ZumiHandle handle, const char* service, const char* property,
                                 char** text) {
    return guardedStatus([&]() -> ZumiStatus {
        ZumiStatus status = checkRemoteArguments(service, property, text);
        if (status != ZUMI_OK) return status;
        std::shared_ptr<Connection> connection = Registry::instance().find(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        std::string value;
        zumi::bus::LocalOutcome local;
        if (zumi::bus::servedInProcess(service, property, &local, [](const Name& s, const Name& p, Outcome& o) {
                return zumi::bus::serveGetString(s, p, &o.text, &o.status);
            })) {
            status = local.status;
            value.swap(local.text);
        } else {
            status = connection->callers().call(
                service, "GetString",
                [property](sd_bus_message* m) { return zumi::bus::appendProperty(m, property); },
                [&value](sd_bus_message* reply) { return zumi::bus::readTextReply(reply, &value); });
        }
        if (status != ZUMI_OK) return status;
        *text = copyText(value);
        return *text == nullptr ? ZUMI_ERR_NO_MEMORY : ZUMI_OK;
    });
}

ZumiStatus ZumiSetStringProperty(ZumiHandle handle, const char* service, const char* property,
                                 const char* value) {
    return guardedStatus([&]() -> ZumiStatus {
        ZumiStatus status = checkRemoteArguments(service, property, value);
        if (status != ZUMI_OK) return status;
        const size_t length = strlen(value);
        if (length > zumi::bus::kMaxTextBytes) return ZUMI_ERR_TOO_LARGE;
        std::shared_ptr<Connection> connection = Registry::instance().find(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        zumi::bus::LocalOutcome local;
        if (zumi::bus::servedInProcess(service, property, &local,
                                       [text = std::string(value)](const Name& s, const Name& p, Outcome& o) {
                                           return zumi::bus::serveSetString(s, p, text.c_str(), &o.status);
                                       })) {
            return local.status;
        }
        return connection->callers().call(
            service, "SetString",
            [property, value, length](sd_bus_message* m) {
                return zumi::bus::appendTextSet(m, property, value, length);
            },
            [](sd_bus_message* reply) { return zumi::bus::readStatusReply(reply); });
    });
}

void ZumiFreeString(char* text) { free(text); }

ZumiStatus ZumiRegisterStringProperty(ZumiHandle handle, const char* name, ZumiStringGetter getter,
                                      ZumiStringSetter setter, void* data) {
    PropertyEntry entry;
    entry.type = ZUMI_TYPE_STRING;
    entry.stringGetter = getter;
    entry.stringSetter = setter;
    entry.data = data;
    return registerProperty(handle, name, entry);
}

ZumiStatus ZumiRegisterIntProperty(ZumiHandle handle, const char* name, ZumiIntGetter getter,
                                   ZumiIntSetter setter, void* data) {
    PropertyEntry entry;
    entry.type = ZUMI_TYPE_INT;
    entry.intGetter = getter;
    entry.intSetter = setter;
    entry.data = data;
    return registerProperty(handle, name, entry);
}

ZumiStatus ZumiRegisterHasharrayPropertyEx(ZumiHandle handle, const char* name,
                                           ZumiHasharrayAccessor accessor, unsigned access,
                                           void* data) {
    if ((access & ~unsigned(ZUMI_ACCESS_READ | ZUMI_ACCESS_WRITE)) != 0) {
        return ZUMI_ERR_INVALID_ARGUMENT;
    }
    PropertyEntry entry;
    entry.type = ZUMI_TYPE_HASHARRAY;
    entry.accessor = accessor;
    entry.hashAccess = access;
    entry.data = data;
    return registerProperty(handle, name, entry);
}

ZumiStatus ZumiRegisterHasharrayProperty(ZumiHandle handle, const char* name,
                                         ZumiHasharrayAccessor accessor, void* data) {
    return ZumiRegisterHasharrayPropertyEx(handle, name, accessor,
                                           ZUMI_ACCESS_READ | ZUMI_ACCESS_WRITE, data);
}

ZumiStatus ZumiUnregisterProperty(ZumiHandle handle, const char* name, void* reserved) {
    if (reserved != nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    return unregisterProperty(handle, name, Connection::kEveryType);
}

ZumiStatus ZumiUnregisterPropertyOfType(ZumiHandle handle, const char* name, int type) {
    if (type != ZUMI_TYPE_INT && type != ZUMI_TYPE_STRING && type != ZUMI_TYPE_HASHARRAY) {
        return ZUMI_ERR_INVALID_ARGUMENT;
    }
    return unregisterProperty(handle, name, type);
}

const char* ZumiGetErrorString(ZumiStatus status) { return zumi::bus::statusText(status); }

const char* ZumiGetLastRefusal(void) { return zumi::bus::lastRefusal(); }

}  // extern "C"
