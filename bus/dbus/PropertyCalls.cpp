#include "dbus/PropertyCalls.h"

#include <string.h>

#include <memory>
#include <vector>

#include "dbus/Registry.h"
#include "dbus/WireFormat.h"

namespace zumi {
namespace bus {

namespace {

// Looks the property up; false when the service is not ours. On true, either
// *status is already the answer or the entry is ready to be called.
bool lookUp(const std::string& service, const std::string& property, int type,
            PropertyEntry* entry, CallbackScope* scope, ZumiStatus* status) {
    return Registry::instance().findLocal(service, property, type, entry, scope, status);
}

ZumiStatus callStringGetter(const PropertyEntry& entry, ZumiHandle handle, const char* name,
                            std::string* value) {
    char small[256];
    std::vector<char> large;
    char* buffer = small;
    unsigned int capacity = sizeof small;
    for (int attempt = 0; attempt < kStringGetterAttempts; ++attempt) {
        buffer[0] = '\0';
        unsigned int size = capacity;
        ZumiStatus status = entry.stringGetter(handle, name, buffer, &size, entry.data);
        if (status == ZUMI_ERR_BUFFER_TOO_SMALL) {
            if (size <= capacity) return ZUMI_ERR_BUFFER_TOO_SMALL;
            if (size > kMaxTextBytes + 1) return ZUMI_ERR_TOO_LARGE;
            large.resize(size);
            buffer = large.data();
            capacity = size;
            continue;
        }
        if (status != ZUMI_OK) return status;
        size_t length = strnlen(buffer, capacity);
        if (length == capacity) return ZUMI_ERR_PROTOCOL;  // no terminating NUL
        value->assign(buffer, length);
        return ZUMI_OK;
    }
    return ZUMI_ERR_BUFFER_TOO_SMALL;
}

}  // namespace

bool serveGetInt(const std::string& service, const std::string& property, int* value,
                 ZumiStatus* status) {
    PropertyEntry entry;
    CallbackScope scope;
    if (!lookUp(service, property, ZUMI_TYPE_INT, &entry, &scope, status)) return false;
    if (*status != ZUMI_OK) return true;
    if (entry.intGetter == nullptr) {
        *status = ZUMI_ERR_ACCESS_DENIED;
        return true;
    }
    int result = 0;
    try {
        *status = entry.intGetter(scope.owner()->handle(), property.c_str(), &result, entry.data);
    } catch (...) {
        *status = ZUMI_ERR_SERVICE_FAILED;
    }
    if (*status == ZUMI_OK) *value = result;
    return true;
}

bool serveSetInt(const std::string& service, const std::string& property, int value,
                 ZumiStatus* status) {
    PropertyEntry entry;
    CallbackScope scope;
    if (!lookUp(service, property, ZUMI_TYPE_INT, &entry, &scope, status)) return false;
    if (*status != ZUMI_OK) return true;
    if (entry.intSetter == nullptr) {
        *status = ZUMI_ERR_ACCESS_DENIED;
        return true;
    }
    try {
        *status = entry.intSetter(scope.owner()->handle(), property.c_str(), value, entry.data);
    } catch (...) {
        *status = ZUMI_ERR_SERVICE_FAILED;
    }
    return true;
}

bool serveGetString(const std::string& service, const std::string& property, std::string* value,
                    ZumiStatus* status) {
    PropertyEntry entry;
    CallbackScope scope;
    if (!lookUp(service, property, ZUMI_TYPE_STRING, &entry, &scope, status)) return false;
    if (*status != ZUMI_OK) return true;
    if (entry.stringGetter == nullptr) {
        *status = ZUMI_ERR_ACCESS_DENIED;
        return true;
    }
    try {
        *status = callStringGetter(entry, scope.owner()->handle(), property.c_str(), value);
    } catch (...) {
        *status = ZUMI_ERR_SERVICE_FAILED;
    }
    return true;
}

bool serveSetString(const std::string& service, const std::string& property, const char* value,
                    ZumiStatus* status) {
    PropertyEntry entry;
    CallbackScope scope;
    if (!lookUp(service, property, ZUMI_TYPE_STRING, &entry, &scope, status)) return false;
    if (*status != ZUMI_OK) return true;
    if (entry.stringSetter == nullptr) {
        *status = ZUMI_ERR_ACCESS_DENIED;
        return true;
    }
    try {
        *status = entry.stringSetter(scope.owner()->handle(), property.c_str(), value, entry.data);
    } catch (...) {
        *status = ZUMI_ERR_SERVICE_FAILED;
    }
    return true;
}

bool serveAccess(const std::string& service, const std::string& property, const HashArray* input,
                 HashArray** reply, ZumiStatus* status) {
    PropertyEntry entry;
    CallbackScope scope;
    if (!lookUp(service, property, ZUMI_TYPE_HASHARRAY, &entry, &scope, status)) return false;
    if (*status != ZUMI_OK) return true;
    if (entry.accessor == nullptr) {
        *status = ZUMI_ERR_ACCESS_DENIED;
        return true;
    }
    // The accessor gets its own copy of what was sent, and an empty, writable
    // reply; both copies are ours to free whatever the accessor does.
    std::unique_ptr<HashArray> copy(input == nullptr ? nullptr : hashArrayClone(input));
    std::unique_ptr<HashArray> output(hashArrayNew());
    if ((input != nullptr && copy == nullptr) || output == nullptr) {
        *status = ZUMI_ERR_NO_MEMORY;
        return true;
    }
    try {
        *status = entry.accessor(scope.owner()->handle(), property.c_str(), copy.get(),
                                 output.get(), entry.data);
    } catch (...) {
        *status = ZUMI_ERR_SERVICE_FAILED;
    }
    output->readOnly = false;
    *reply = output.release();
    return true;
}

}  // namespace bus
}  // namespace zumi
