#include "dbus/BusNames.h"

#include <string.h>

namespace zumi {
namespace bus {

const char* const kObjectPath = "/com/tessal/zumi";
const char* const kInterface = "com.tessal.Zumi";
const char* const kEventMember = "Event";
const char* const kErrorTooLarge = "com.tessal.Zumi.Error.TooLarge";
const char* const kDaemon = "org.freedesktop.DBus";
const char* const kDaemonPath = "/org/freedesktop/DBus";

namespace {

bool isNameChar(char c, bool first) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-') return true;
    return !first && c >= '0' && c <= '9';
}

bool isValidUtf8(const unsigned char* s, size_t length) {
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

}  // namespace

bool isOwnableBusName(const char* name) {
    if (name == nullptr) return false;
    size_t length = strlen(name);
    if (length == 0 || length > 255 || name[0] == '.' || name[0] == ':') return false;
    if (strcmp(name, kDaemon) == 0) return false;
    bool dot = false;
    bool elementStart = true;
    for (size_t i = 0; i < length; ++i) {
        char c = name[i];
        if (c == '.') {
            if (elementStart) return false;
            dot = true;
            elementStart = true;
            continue;
        }
        if (!isNameChar(c, elementStart)) return false;
        elementStart = false;
    }
    return dot && !elementStart;
}

bool isValidMemberName(const char* name) {
    if (name == nullptr) return false;
    size_t length = strlen(name);
    return length > 0 && length <= kMaxNameBytes &&
           isValidUtf8(reinterpret_cast<const unsigned char*>(name), length);
}

std::string quoteMatchValue(const std::string& value) {
    // Match rules have no escape inside quotes: close the quote, add an
    // escaped apostrophe, reopen.
    std::string quoted = "'";
    for (char c : value) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += "'";
    return quoted;
}

}  // namespace bus
}  // namespace zumi
