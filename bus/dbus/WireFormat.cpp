#include "dbus/WireFormat.h"

#include <errno.h>
#include <string.h>

#include <new>

#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

const char* const kHashArraySignature = "aa{sv}";

namespace {

// What one item costs against kMaxBlobBytes: its bytes and a framing that
// stands for D-Bus's lengths, padding and variant signature.
constexpr size_t kItemFraming = 16;

// Sums item costs and says when kMaxBlobBytes is passed.
class Budget {
public:
    bool take(size_t bytes) {
        m_used += bytes + kItemFraming;
        return m_used <= kMaxBlobBytes;
    }

private:
    size_t m_used = 0;
};

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

// Size, UTF-8 and no NUL inside (a std::string may hold one; D-Bus may not).
ZumiStatus checkText(const std::string& text, size_t limit, Budget* budget) {
    if (text.size() > limit || !budget->take(text.size())) return ZUMI_ERR_TOO_LARGE;
    if (memchr(text.data(), '\0', text.size()) != nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    return isValidUtf8(text.data(), text.size()) ? ZUMI_OK : ZUMI_ERR_INVALID_ARGUMENT;
}

}  // namespace

bool isValidUtf8(const char* text, size_t length) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned char c = s[i];
        size_t extra = 0;
        unsigned int code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xe0) == 0xc0) {
            extra = 1;
            code = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            extra = 2;
            code = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (length - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xc0) != 0x80) return false;
            code = (code << 6) | (s[i + k] & 0x3f);
        }
        static const unsigned int minimum[] = {0, 0x80, 0x800, 0x10000};
        if (code < minimum[extra] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

ZumiStatus checkHashArray(const HashArray& array) {
    if (array.hashes.size() > kMaxHashes) return ZUMI_ERR_TOO_LARGE;
    Budget budget;
    for (const HashArray::Hash& hash : array.hashes) {
        if (hash.size() > kMaxEntriesPerHash || !budget.take(0)) return ZUMI_ERR_TOO_LARGE;
        for (const auto& entry : hash) {
            ZumiStatus status = checkText(entry.first, kMaxKeyBytes, &budget);
            if (status == ZUMI_OK && entry.second.isString) {
                status = checkText(entry.second.text, kMaxTextBytes, &budget);
            } else if (status == ZUMI_OK && !budget.take(4)) {
                status = ZUMI_ERR_TOO_LARGE;
            }
            if (status != ZUMI_OK) return status;
        }
    }
    return ZUMI_OK;
}

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

ZumiStatus checkEventParams(const EventParamsView& params) {
    const char* const* texts = params.texts;
    const size_t intCount = params.intCount, textCount = params.textCount;
    if ((intCount > 0 && params.ints == nullptr) || (textCount > 0 && texts == nullptr)) {
        return ZUMI_ERR_INVALID_ARGUMENT;
    }
    if (intCount > kMaxEventParams || textCount > kMaxEventParams) return ZUMI_ERR_TOO_LARGE;
    Budget budget;
    budget.take(intCount * 4);
    for (size_t i = 0; i < textCount; ++i) {
        if (texts[i] == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
        const size_t length = strlen(texts[i]);
        if (length > kMaxTextBytes || !budget.take(length)) return ZUMI_ERR_TOO_LARGE;
        if (!isValidUtf8(texts[i], length)) return ZUMI_ERR_INVALID_ARGUMENT;
    }
    return ZUMI_OK;
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
