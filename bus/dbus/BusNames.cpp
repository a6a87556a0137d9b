#include "dbus/BusNames.h"

#include <string.h>

#include "dbus/WireFormat.h"

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
