// Hash arrays of the C contract, over the shared in-memory array (core), and
// the remote access to a hash-array property.
//
// Statuses of the readers: 81 (ZUMI_HASH_KEY_ABSENT) when the hash has no
// value under the key, 82 (ZUMI_HASH_WRONG_TYPE) when it holds the other
// type; neither delivers a value. A sent array is read-only from then on
// (ZUMI_ERR_READ_ONLY for writes); its clone is writable. Only a send that the
// service accepted (status 0) seals the array: after a refusal or a failure
// to deliver it, the sender may still change it and try again.

#include <string.h>

#include <memory>
#include <vector>

#include "core/EntryGuard.h"
#include "core/HashArray.h"
#include "dbus/BusNames.h"
#include "dbus/PropertyCalls.h"
#include "dbus/PropertyMessages.h"
#include "dbus/Registry.h"
#include "dbus/WireFormat.h"
#include <libzumi/ZumiBus.h>

using zumi::bus::Connection;
using zumi::bus::HashArray;
using zumi::bus::Registry;
using zumi::bus::guardedStatus;

extern "C" {

struct ZumiHasharrayHandleStruct* ZumiHasharrayNew(ZumiHandle) { return zumi::bus::hashArrayNew(); }

struct ZumiHasharrayHandleStruct* ZumiHasharrayClone(struct ZumiHasharrayHandleStruct* array) {
    return zumi::bus::hashArrayClone(array);
}

void ZumiHasharrayDestroy(struct ZumiHasharrayHandleStruct* array) {
    zumi::bus::hashArrayDestroy(array);
}

int ZumiHasharrayGetHashCount(struct ZumiHasharrayHandleStruct* array) {
    return zumi::bus::hashArrayCount(array);
}

ZumiStatus ZumiHasharrayAddHash(struct ZumiHasharrayHandleStruct* array, int* index) {
    if (array != nullptr && array->hashes.size() >= zumi::bus::kMaxHashes) return ZUMI_ERR_TOO_LARGE;
    return guardedStatus([&] { return zumi::bus::hashArrayAddHash(array, index); });
}

ZumiStatus ZumiHasharrayGetInt(struct ZumiHasharrayHandleStruct* array, int index, const char* key,
                               int* value) {
    return zumi::bus::hashArrayGetInt(array, index, key, value);
}

ZumiStatus ZumiHasharrayGetString(struct ZumiHasharrayHandleStruct* array, int index,
                                  const char* key, const char** value) {
    return zumi::bus::hashArrayGetString(array, index, key, value);
}

ZumiStatus ZumiHasharrayPutInt(struct ZumiHasharrayHandleStruct* array, int index, const char* key,
                               int value) {
    return guardedStatus([&] { return zumi::bus::hashArrayPutInt(array, index, key, value); });
}

ZumiStatus ZumiHasharrayPutString(struct ZumiHasharrayHandleStruct* array, int index,
                                  const char* key, const char* value) {
    if (value != nullptr && strlen(value) > zumi::bus::kMaxTextBytes) return ZUMI_ERR_TOO_LARGE;
    return guardedStatus([&] { return zumi::bus::hashArrayPutString(array, index, key, value); });
}

ZumiStatus ZumiAccessHasharrayProperty(ZumiHandle handle, const char* service, const char* property,
                                       struct ZumiHasharrayHandleStruct* input,
                                       struct ZumiHasharrayHandleStruct** reply) {
    if (service == nullptr || property == nullptr || reply == nullptr) {
        return ZUMI_ERR_INVALID_ARGUMENT;
    }
    *reply = nullptr;
    if (!zumi::bus::isOwnableBusName(service)) return ZUMI_ERR_INVALID_NAME;
    if (!zumi::bus::isValidMemberName(property)) return ZUMI_ERR_INVALID_ARGUMENT;
    return guardedStatus([&]() -> ZumiStatus {
        std::shared_ptr<Connection> connection = Registry::instance().find(handle);
        if (!connection) return ZUMI_ERR_DISCONNECTED;
        // Refused whichever way it goes, so that a service in the same process
        // meets what one across the bus does.
        ZumiStatus status = input != nullptr ? zumi::bus::checkHashArray(*input) : ZumiStatus(ZUMI_OK);
        if (status != ZUMI_OK) return status;
        // Served here, the work keeps its own copy of what is sent: it may
        // outlive this call.
        const bool here = zumi::bus::servesInProcess(service);
        std::shared_ptr<zumi::bus::HashArray> sent(
            here && input != nullptr ? zumi::bus::hashArrayClone(input) : nullptr, zumi::bus::hashArrayDestroy);
        if (here && input != nullptr && !sent) return ZUMI_ERR_NO_MEMORY;
        zumi::bus::LocalOutcome local;
        auto access = [sent](const std::string& s, const std::string& p, zumi::bus::LocalOutcome& o) {
            return zumi::bus::serveAccess(s, p, sent.get(), &o.reply, &o.status);
        };
        if (here && zumi::bus::servedInProcess(service, property, &local, access)) {
            status = local.status;
            std::swap(*reply, local.reply);
        } else {
            status = connection->callers().call(
                service, "AccessHash",
                [property, input](sd_bus_message* m) { return zumi::bus::appendAccess(m, property, input); },
                [reply](sd_bus_message* message) { return zumi::bus::readHashReply(message, reply); });
        }
        if (status == ZUMI_OK && input != nullptr) input->readOnly = true;
        return status;
    });
}

}  // extern "C"
