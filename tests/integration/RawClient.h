#ifndef ZUMI_TESTS_INTEGRATION_RAWCLIENT_H
#define ZUMI_TESTS_INTEGRATION_RAWCLIENT_H

// A hostile client that does not use our library: calls of a service's
// methods with wrong arguments, oversized or malformed arrays, an unknown
// method, and two good calls, sent with plain sd-bus. The remote service
// test sends them on an open bus, the system bus test as another user.

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zumi::testing {

typedef std::vector<uint8_t> Bytes;

struct RawCase {
    const char* member;
    std::string types;  // i: 1, s: the property, ss: the property and "6", sb: the property and true
    std::string property;
    Bytes bytes;        // appended as a byte array when not empty
    std::string error;  // what a service answers on an open bus; "" for success
};

// For a service serving the integer "count" and the hash array "echo".
inline std::vector<RawCase> hostileCalls() {
    const std::string invalid = "org.freedesktop.DBus.Error.InvalidArgs", tooLarge = "com.tessal.Zumi.Error.TooLarge";
    return {
        {"GetInt", "i", "", {}, invalid},
        {"GetInt", "s", std::string(300, 'n'), {}, invalid},
        {"SetString", "ss", "count", {}, invalid},  // text as a string, not bytes
        {"SetString", "s", "count", {'a', 0, 'b'}, invalid},
        {"SetString", "s", "count", Bytes(2 * 1024 * 1024, 'x'), tooLarge},  // within the daemon's limit
        {"AccessHash", "sb", "echo", {0x40, 0x42, 0x0f, 0x00}, tooLarge},    // a million hashes claimed
        {"AccessHash", "sb", "echo", {0x10, 0, 0, 0}, invalid},              // nothing behind the count
        {"AccessHash", "sb", "echo", {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'k', 7, 1, 2, 3, 4}, invalid},
        {"Explode", "", "", {}, "org.freedesktop.DBus.Error.UnknownMethod"},
        {"GetInt", "s", "count", {}, ""},
        {"AccessHash", "sb", "echo", {0, 0, 0, 0}, ""},
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
                          : 0;
    if (r >= 0 && !c.bytes.empty()) r = sd_bus_message_append_array(message, 'y', c.bytes.data(), c.bytes.size());
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
