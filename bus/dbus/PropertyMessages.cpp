#include "dbus/PropertyMessages.h"

#include <string.h>

#include <memory>

#include "dbus/WireFormat.h"

namespace zumi {
namespace bus {

namespace {

ZumiStatus leadingStatus(sd_bus_message* reply, const char* signature) {
    uint32_t status = 0;
    if (!sd_bus_message_has_signature(reply, signature) ||
        sd_bus_message_read(reply, "u", &status) < 0) {
        return ZUMI_ERR_PROTOCOL;
    }
    return status;
}

}  // namespace

int appendProperty(sd_bus_message* message, const char* property) {
    return sd_bus_message_append(message, "s", property);
}

int appendIntSet(sd_bus_message* message, const char* property, int value) {
    return sd_bus_message_append(message, "si", property, value);
}

int appendTextSet(sd_bus_message* message, const char* property, const char* value, size_t length) {
    int r = sd_bus_message_append(message, "s", property);
    return r < 0 ? r : sd_bus_message_append_array(message, 'y', value, length);
}

int appendAccess(sd_bus_message* message, const char* property, const HashArray* input) {
    int r = sd_bus_message_append(message, "sb", property, input != nullptr ? 1 : 0);
    return r < 0 ? r : appendHashArray(message, input != nullptr ? *input : HashArray());
}

ZumiStatus readStatusReply(sd_bus_message* reply) { return leadingStatus(reply, "u"); }

ZumiStatus readIntReply(sd_bus_message* reply, int* value) {
    ZumiStatus answer = leadingStatus(reply, "ui");
    int number = 0;
    if (answer == ZUMI_OK && sd_bus_message_read(reply, "i", &number) >= 0) *value = number;
    return answer;
}

ZumiStatus readTextReply(sd_bus_message* reply, std::string* value) {
    ZumiStatus answer = leadingStatus(reply, "uay");
    const void* data = nullptr;
    size_t size = 0;
    if (answer != ZUMI_OK) return answer;
    if (sd_bus_message_read_array(reply, 'y', &data, &size) < 0 ||
        (size > 0 && memchr(data, '\0', size) != nullptr)) {
        return ZUMI_ERR_PROTOCOL;
    }
    value->assign(static_cast<const char*>(data), size);
    return answer;
}

ZumiStatus readHashReply(sd_bus_message* reply, HashArray** array) {
    uint32_t served = 0;
    int hasReply = 0;
    if (!sd_bus_message_has_signature(reply, "ubaa{sv}") ||
        sd_bus_message_read(reply, "ub", &served, &hasReply) < 0) {
        return ZUMI_ERR_PROTOCOL;
    }
    if (!hasReply) return served;
    std::unique_ptr<HashArray> decoded(hashArrayNew());
    if (!decoded) return ZUMI_ERR_NO_MEMORY;
    ZumiStatus status = readHashArray(reply, decoded.get());
    if (status != ZUMI_OK) return status;
    *array = decoded.release();
    return served;
}

}  // namespace bus
}  // namespace zumi
