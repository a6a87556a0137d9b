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

// One {sv} entry's value: the variant is entered as "i", else as "s" (sd-bus
// refuses a variant of other contents with -ENXIO and leaves the message where
// it was), which spares reading its signature a second time to peek at it.
ZumiStatus readValue(sd_bus_message* message, HashArray::Value* value, Budget* budget) {
    int r = sd_bus_message_enter_container(message, 'v', "i");
    if (r > 0) {
        if ((r = sd_bus_message_read_basic(message, 'i', &value->number)) < 0) return statusOfRead(r);
        return budget->take(4) ? ZUMI_OK : ZUMI_ERR_TOO_LARGE;
    }
    if (r != -ENXIO || (r = sd_bus_message_enter_container(message, 'v', "s")) <= 0) {
        return statusOfRead(r);
    }
    const char* text = nullptr;
    if ((r = sd_bus_message_read_basic(message, 's', &text)) < 0) return statusOfRead(r);
    const size_t length = strlen(text);
    if (length > kMaxTextBytes || !budget->take(length)) return ZUMI_ERR_TOO_LARGE;
    value->isString = true;
    value->text.assign(text, length);
    return ZUMI_OK;
}

// The entries of one hash, its a{sv} already entered.
ZumiStatus readHash(sd_bus_message* message, HashArray::Hash* hash, Budget* budget) {
    int r = 0;
    while ((r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        if (hash->size() >= kMaxEntriesPerHash) return ZUMI_ERR_TOO_LARGE;
        const char* key = nullptr;
        if ((r = sd_bus_message_read_basic(message, 's', &key)) < 0) return statusOfRead(r);
        const size_t keyLength = strlen(key);
        if (keyLength > kMaxKeyBytes || !budget->take(keyLength)) return ZUMI_ERR_TOO_LARGE;
        HashArray::Value value;
        ZumiStatus status = readValue(message, &value, budget);
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

// Container by container rather than through sd_bus_message_append's format
// string, which sd-bus would parse again for every entry.
int appendHash(sd_bus_message* message, const HashArray::Hash& hash) {
    int r = sd_bus_message_open_container(message, 'a', "{sv}");
    for (auto entry = hash.begin(); r >= 0 && entry != hash.end(); ++entry) {
        const HashArray::Value& value = entry->second;
        r = sd_bus_message_open_container(message, 'e', "sv");
        if (r >= 0) r = sd_bus_message_append_basic(message, 's', entry->first.c_str());
        if (r >= 0) r = sd_bus_message_open_container(message, 'v', value.isString ? "s" : "i");
        if (r >= 0) {
            r = value.isString ? sd_bus_message_append_basic(message, 's', value.text.c_str())
                               : sd_bus_message_append_basic(message, 'i', &value.number);
        }
        if (r >= 0) r = sd_bus_message_close_container(message);
        if (r >= 0) r = sd_bus_message_close_container(message);
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
        // Entering the next hash says 0 at the array's end: no separate look.
        while ((r = sd_bus_message_enter_container(message, 'a', "{sv}")) > 0) {
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
