// Malformed and oversized calls from a raw D-Bus client: the service answers
// each with an error and keeps serving.

#include <systemd/sd-bus.h>

#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

const char* const kPath = "/com/tessal/zumi";
const char* const kInterface = "com.tessal.Zumi";
typedef std::vector<uint8_t> Bytes;

class AServiceUnderAttack : public PeerServiceTest {
protected:
    // Sends `member` with the arguments `types` stands for (i: 1, s: the
    // property, ss: the property and "6", sb: the property and true), then
    // the bytes if any; returns the D-Bus error name, or "" for success.
    std::string call(const char* member, const std::string& types, const char* property, const Bytes& bytes) {
        sd_bus_message *message = nullptr, *reply = nullptr;
        EXPECT_GE(sd_bus_message_new_method_call(attacker, &message, service.c_str(), kPath, kInterface, member), 0);
        int r = types == "s"    ? sd_bus_message_append(message, "s", property)
                : types == "ss" ? sd_bus_message_append(message, "ss", property, "6")
                : types == "i"  ? sd_bus_message_append(message, "i", 1)
                : types == "sb" ? sd_bus_message_append(message, "sb", property, 1)
                                : 0;
        if (r >= 0 && !bytes.empty()) r = sd_bus_message_append_array(message, 'y', bytes.data(), bytes.size());
        EXPECT_GE(r, 0);
        sd_bus_error error = SD_BUS_ERROR_NULL;
        r = sd_bus_call(attacker, message, 20 * 1000 * 1000, &error, &reply);
        std::string name = r < 0 ? (error.name != nullptr ? error.name : "errno") : "";
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_message_unref(message);
        return name;
    }
    sd_bus* attacker = openRawBus();
};

TEST_F(AServiceUnderAttack, RefusesWrongArgumentsAndOversizedOrMalformedArraysAndKeepsServing) {
    peer.requestAll({"int count 5 rw", "hash echo 0"});
    const std::string invalid = "org.freedesktop.DBus.Error.InvalidArgs", tooLarge = "com.tessal.Zumi.Error.TooLarge";
    const std::string longName(300, 'n');
    const struct {
        const char* member;
        std::string types;
        const char* property;
        Bytes bytes;
        std::string error;
    } cases[] = {
        {"GetInt", "i", "", {}, invalid},
        {"GetInt", "s", longName.c_str(), {}, invalid},
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
    for (const auto& c : cases) {
        EXPECT_EQ(c.error, call(c.member, c.types, c.property, c.bytes))
            << c.member << " " << c.types << " " << c.bytes.size();
    }
    sd_bus_flush_close_unref(attacker);
    int value = 0;
    EXPECT_EQ(0u, ZumiGetIntProperty(client, service.c_str(), "count", &value));
    EXPECT_EQ(5, value);
}

}  // namespace
}  // namespace zumi::testing
