#ifndef ZUMI_TESTS_INTEGRATION_RAWCLIENT_H
#define ZUMI_TESTS_INTEGRATION_RAWCLIENT_H

// A hostile client that does not use our library: calls of a service's
// methods with wrong arguments, oversized or malformed arrays, an unknown
// method, and two good calls, sent with plain sd-bus. The remote service
// test sends them on an open bus, the system bus test as another user.

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zumi::testing {

typedef std::vector<uint8_t> Bytes;
// Appends the arguments after the property (and "send"); an sd-bus result.
typedef std::function<int(sd_bus_message*)> Tail;

struct RawCase {
    const char* member;
    std::string types;  // i: 1, s: the property, ss: the property and "6", sb: the property and true,
                        // sB: the property and false
    std::string property;
    Tail tail;          // appended when set
    std::string error;  // what a service answers on an open bus; "" for success
    const char* what;   // the case, for messages
};

inline Tail bytes(const Bytes& bytes) {
    return [bytes](sd_bus_message* m) { return sd_bus_message_append_array(m, 'y', bytes.data(), bytes.size()); };
}

// A hash array as any client could send it: `hashes` hashes of `entries`
// entries each, keys "0", "1" ..., values variants of `type` (i, s or y).
inline Tail hashArray(size_t hashes, size_t entries, char type = 'i') {
    return [=](sd_bus_message* m) {
        int r = sd_bus_message_open_container(m, 'a', "a{sv}");
        for (size_t h = 0; r >= 0 && h < hashes; ++h) {
            r = sd_bus_message_open_container(m, 'a', "{sv}");
            for (size_t e = 0; r >= 0 && e < entries; ++e) {
                const std::string key = std::to_string(e);
                r = type == 's'   ? sd_bus_message_append(m, "{sv}", key.c_str(), "s", "x")
                    : type == 'y' ? sd_bus_message_append(m, "{sv}", key.c_str(), "y", 7)
                                  : sd_bus_message_append(m, "{sv}", key.c_str(), "i", 7);
            }
            if (r >= 0) r = sd_bus_message_close_container(m);
        }
        return r < 0 ? r : sd_bus_message_close_container(m);
    };
}

// For a service serving the integer "count" and the hash array "echo".
inline std::vector<RawCase> hostileCalls() {
    const std::string invalid = "org.freedesktop.DBus.Error.InvalidArgs", tooLarge = "com.tessal.Zumi.Error.TooLarge";
    return {
        {"GetInt", "i", "", {}, invalid, "an integer for a name"},
        {"GetInt", "s", std::string(300, 'n'), {}, invalid, "a name too long"},
        {"SetString", "ss", "count", {}, invalid, "text as a string, not bytes"},
        {"SetString", "s", "count", bytes({'a', 0, 'b'}), invalid, "a NUL inside the text"},
        {"SetString", "s", "count", bytes(Bytes(2 * 1024 * 1024, 'x')), tooLarge, "a text over the limit"},
        {"AccessHash", "sb", "echo", hashArray(100001, 0), tooLarge, "more hashes than an array may hold"},
        {"AccessHash", "sb", "echo", hashArray(1, 10001), tooLarge, "more entries than a hash may hold"},
        {"AccessHash", "sb", "echo", {}, invalid, "no array"},
        {"AccessHash", "sb", "echo", bytes({1, 0, 0, 0}), invalid, "our old byte form"},
        {"AccessHash", "sb", "echo", hashArray(1, 1, 'y'), invalid, "a value neither integer nor string"},
        {"AccessHash", "sB", "echo", hashArray(1, 1), invalid, "a read that sends an array"},
        {"Explode", "", "", {}, "org.freedesktop.DBus.Error.UnknownMethod", "an unknown method"},
        {"GetInt", "s", "count", {}, "", "a good read"},
        {"AccessHash", "sb", "echo", hashArray(2, 3, 's'), "", "a good hash array"},
    };
}

// Sends the call to `service`; the D-Bus error name, "" for success, or
// "not sent" when the message could not be built.
inline std::string rawCall(sd_bus* attacker, const std::string& service, const RawCase& c) {
    sd_bus_message *message = nullptr, *reply = nullptr;
    int r = sd_bus_message_new_method_call(attacker, &message, service.c_str(), "/com/tessal/zumi",
                                           "com.tessal.Zumi", c.member);
    if (r < 0) return "not sent";
    const char* property = c.property.c_str();
    r = c.types == "s"    ? sd_bus_message_append(message, "s", property)
        : c.types == "ss" ? sd_bus_message_append(message, "ss", property, "6")
        : c.types == "i"  ? sd_bus_message_append(message, "i", 1)
        : c.types == "sb" ? sd_bus_message_append(message, "sb", property, 1)
        : c.types == "sB" ? sd_bus_message_append(message, "sb", property, 0)
                          : 0;
    if (r >= 0 && c.tail) r = c.tail(message);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (r >= 0) r = sd_bus_call(attacker, message, 20 * 1000 * 1000, &error, &reply);
    std::string name = r < 0 ? (error.name != nullptr ? error.name : "errno") : "";
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(message);
    return name;
}

}  // namespace zumi::testing

#endif
