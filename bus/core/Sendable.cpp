#include "core/Sendable.h"

#include <string.h>

#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

namespace {

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

bool isValidMemberName(const char* name) {
    if (name == nullptr) return false;
    const size_t length = strlen(name);
    return length > 0 && length <= kMaxNameBytes && isValidUtf8(name, length);
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

bool keepReply(const HashArray* reply, ZumiStatus* status) {
    const ZumiStatus sendable = reply != nullptr ? checkHashArray(*reply) : ZumiStatus(ZUMI_OK);
    if (sendable == ZUMI_OK) return true;
    if (*status == ZUMI_OK) *status = sendable;
    return false;
}

}  // namespace bus
}  // namespace zumi
