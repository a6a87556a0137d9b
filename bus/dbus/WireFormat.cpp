#include "dbus/WireFormat.h"

#include <errno.h>
#include <string.h>

#include <new>

#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

const char* const kHashArraySignature = "aa{sv}";

namespace {

ZumiStatus statusOfRead(int r) { return r == -ENOMEM ? ZUMI_ERR_NO_MEMORY : ZUMI_ERR_PROTOCOL; }

// One {sv} entry's value, the variant already entered: "i" or "s".
ZumiStatus readValue(sd_bus_message* message, const char* contents, HashArray::Value* value,
                     Budget* budget) {
    if (strcmp(contents, "i") == 0) {
        int r = sd_bus_message_read_basic(message, 'i', &value->number);
        if (r < 0) return statusOfRead(r);
        return budget->take(4) ? ZUMI_OK : ZUMI_ERR_TOO_LARGE;
    }
    if (strcmp(contents, "s") != 0) return ZUMI_ERR_PROTOCOL;
    const char* text = nullptr;
    int r = sd_bus_message_read_basic(message, 's', &text);
    if (r < 0) return statusOfRead(r);
    const size_t length = strlen(text);
    if (length > kMaxTextBytes || !budget->take(length)) return ZUMI_ERR_TOO_LARGE;
    value->isString = true;
    value->text.assign(text, length);
    return ZUMI_OK;
}

ZumiStatus readHash(sd_bus_message* message, HashArray::Hash* hash, Budget* budget) {
    int r = sd_bus_message_enter_container(message, 'a', "{sv}");
    if (r <= 0) return statusOfRead(r);
    while ((r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        if (hash->size() >= kMaxEntriesPerHash) return ZUMI_ERR_TOO_LARGE;
        const char* key = nullptr;
        char type = 0;
        const char* contents = nullptr;
        if ((r = sd_bus_message_read_basic(message, 's', &key)) < 0 ||
            (r = sd_bus_message_peek_type(message, &type, &contents)) <= 0 || type != 'v' ||
            (r = sd_bus_message_enter_container(message, 'v', contents)) < 0) {
            return statusOfRead(r);
        }
        const size_t keyLength = strlen(key);
        if (keyLength > kMaxKeyBytes || !budget->take(keyLength)) return ZUMI_ERR_TOO_LARGE;
        HashArray::Value value;
        ZumiStatus status = readValue(message, contents, &value, budget);
        if (status != ZUMI_OK) return status;
        if (sd_bus_message_exit_container(message) < 0 || sd_bus_message_exit_container(message) < 0) {
            return ZUMI_ERR_PROTOCOL;
        }
        if (!hash->emplace(std::string(key, keyLength), std::move(value)).second) {
            return ZUMI_ERR_PROTOCOL;
        }
    }
    if (r < 0) return statusOfRead(r);
    return sd_bus_message_exit_container(message) < 0 ? ZUMI_ERR_PROTOCOL : ZUMI_OK;
}

int appendHash(sd_bus_message* message, const HashArray::Hash& hash) {
    int r = sd_bus_message_open_container(message, 'a', "{sv}");
    for (auto entry = hash.begin(); r >= 0 && entry != hash.end(); ++entry) {
        r = entry->second.isString
                ? sd_bus_message_append(message, "{sv}", entry->first.c_str(), "s",
                                        entry->second.text.c_str())
                : sd_bus_message_append(message, "{sv}", entry->first.c_str(), "i",
                                        entry->second.number);
    }
    return r < 0 ? r : sd_bus_message_close_container(message);
}

}  // namespace

int appendHashArray(sd_bus_message* message, const HashArray& array) {
    int r = sd_bus_message_open_container(message, 'a', "a{sv}");
    for (size_t i = 0; r >= 0 && i < array.hashes.size(); ++i) r = appendHash(message, array.hashes[i]);
    return r < 0 ? r : sd_bus_message_close_container(message);
}

ZumiStatus readHashArray(sd_bus_message* message, HashArray* out) {
    try {
        out->hashes.clear();
        int r = sd_bus_message_enter_container(message, 'a', "a{sv}");
        if (r <= 0) return statusOfRead(r);
        Budget budget;
        while ((r = sd_bus_message_at_end(message, false)) == 0) {
            if (out->hashes.size() >= kMaxHashes || !budget.take(0)) return ZUMI_ERR_TOO_LARGE;
            out->hashes.emplace_back();
            ZumiStatus status = readHash(message, &out->hashes.back(), &budget);
            if (status != ZUMI_OK) return status;
        }
        if (r < 0) return statusOfRead(r);
        return sd_bus_message_exit_container(message) < 0 ? ZUMI_ERR_PROTOCOL : ZUMI_OK;
    } catch (const std::bad_alloc&) {
        return ZUMI_ERR_NO_MEMORY;
    }
}

int appendEventParams(sd_bus_message* message, const EventParamsView& params) {
    int r = sd_bus_message_append_array(message, 'i', params.ints, params.intCount * sizeof(int));
    if (r >= 0) r = sd_bus_message_open_container(message, 'a', "s");
    for (size_t i = 0; r >= 0 && i < params.textCount; ++i) {
        r = sd_bus_message_append_basic(message, 's', params.texts[i]);
    }
    return r < 0 ? r : sd_bus_message_close_container(message);
}

ZumiStatus readEventParams(sd_bus_message* message, EventParams* out) {
    try {
        out->ints.clear();
        out->texts.clear();
        const void* data = nullptr;
        size_t size = 0;
        int r = sd_bus_message_read_array(message, 'i', &data, &size);
        if (r < 0) return statusOfRead(r);
        if (size / sizeof(int) > kMaxEventParams) return ZUMI_ERR_TOO_LARGE;
        const int* ints = static_cast<const int*>(data);
        out->ints.assign(ints, ints + size / sizeof(int));
        Budget budget;
        budget.take(size);
        if ((r = sd_bus_message_enter_container(message, 'a', "s")) <= 0) return statusOfRead(r);
        const char* text = nullptr;
        while ((r = sd_bus_message_read_basic(message, 's', &text)) > 0) {
            const size_t length = strlen(text);
            if (out->texts.size() >= kMaxEventParams || length > kMaxTextBytes || !budget.take(length)) {
                return ZUMI_ERR_TOO_LARGE;
            }
            out->texts.emplace_back(text, length);
        }
        if (r < 0) return statusOfRead(r);
        return sd_bus_message_exit_container(message) < 0 ? ZUMI_ERR_PROTOCOL : ZUMI_OK;
    } catch (const std::bad_alloc&) {
        return ZUMI_ERR_NO_MEMORY;
    }
}

}  // namespace bus
}  // namespace zumi
