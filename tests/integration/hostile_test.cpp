// Malformed and oversized messages from raw D-Bus clients and services: the
// victim answers with an error or a status and keeps serving.

#include <systemd/sd-bus.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "BusFixture.h"

namespace zumi {
namespace testing {
namespace {

const char* const kPath = "/com/tessal/zumi";
const char* const kInterface = "com.tessal.Zumi";
typedef std::vector<uint8_t> Bytes;

class AServiceUnderAttack : public PeerServiceTest {
protected:
    // Sends `member` with the arguments `types` stands for (i: 1, s: the
    // property, ss: the property and "6", sb: the property and the flag), then
    // the bytes if any; returns the D-Bus error name, or "" for success.
    std::string call(const char* member, const std::string& types, const char* property, const Bytes& bytes,
                     int flag = 1) {
        sd_bus_message *message = nullptr, *reply = nullptr;
        EXPECT_GE(sd_bus_message_new_method_call(attacker, &message, service.c_str(), kPath, kInterface, member), 0);
        int r = types == "s"    ? sd_bus_message_append(message, "s", property)
                : types == "ss" ? sd_bus_message_append(message, "ss", property, "6")
                : types == "i"  ? sd_bus_message_append(message, "i", 1)
                : types == "sb" ? sd_bus_message_append(message, "sb", property, flag)
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
        int flag;
        std::string error;
    } cases[] = {
        {"GetInt", "i", "", {}, 1, invalid},
        {"GetInt", "", "", {}, 1, invalid},
        {"GetInt", "s", longName.c_str(), {}, 1, invalid},
        {"SetInt", "ss", "count", {}, 1, invalid},
        {"SetString", "ss", "count", {}, 1, invalid},  // text as a string, not bytes
        {"SetString", "s", "count", {'a', 0, 'b'}, 1, invalid},
        {"SetString", "s", "count", Bytes(2 * 1024 * 1024, 'x'), 1, tooLarge},  // within the daemon's limit
        {"AccessHash", "sb", "echo", {0x40, 0x42, 0x0f, 0x00}, 1, tooLarge},    // a million hashes claimed
        {"AccessHash", "sb", "echo", {0x10, 0, 0, 0}, 1, invalid},              // nothing behind the count
        {"AccessHash", "sb", "echo", {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'k', 7, 1, 2, 3, 4}, 1, invalid},
        {"AccessHash", "sb", "echo", {0, 0, 0, 0}, 0, invalid},  // a read that carries bytes
        {"AccessHash", "sb", "echo", {0, 0, 0, 0, 9}, 1, invalid},
        {"Explode", "", "", {}, 1, "org.freedesktop.DBus.Error.UnknownMethod"},
        {"GetInt", "s", "count", {}, 1, ""},
        {"AccessHash", "sb", "echo", {0, 0, 0, 0}, 1, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error, call(c.member, c.types, c.property, c.bytes, c.flag))
            << c.member << " " << c.types << " " << c.bytes.size();
    }
    sd_bus_flush_close_unref(attacker);
    int value = 0;
    EXPECT_EQ(0u, ZumiGetIntProperty(client, service.c_str(), "count", &value));
    EXPECT_EQ(5, value);
}

// A raw service that answers every call of ours with the wrong shape.
int answerWrongly(sd_bus_message* m, void*, sd_bus_error*) {
    const char* interface = sd_bus_message_get_interface(m);
    if (sd_bus_message_get_member(m) == nullptr || interface == nullptr || std::string(interface) != kInterface) {
        return 0;
    }
    const std::string member = sd_bus_message_get_member(m);
    if (member == "GetInt") return sd_bus_reply_method_return(m, "s", "five");
    if (member == "List") return sd_bus_reply_method_return(m, "as", nullptr);
    if (member != "GetString" && member != "AccessHash") return sd_bus_reply_method_errorf(m, "com.example.Weird", "weird");
    static const uint8_t withNul[] = {'a', '\0'}, garbage[] = {5, 0, 0, 0, 1};
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(m, &reply);
    if (member == "GetString") {
        sd_bus_message_append(reply, "u", 0u);
        sd_bus_message_append_array(reply, 'y', withNul, sizeof withNul);
    } else {
        sd_bus_message_append(reply, "ub", 0u, 1);
        sd_bus_message_append_array(reply, 'y', garbage, sizeof garbage);
    }
    int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
}

TEST(AHostileService, CannotMakeTheCallerAcceptAMalformedReply) {
    const std::string service = serviceName("liar");
    sd_bus* bus = openRawBus();
    ASSERT_GT(sd_bus_request_name(bus, service.c_str(), 0), 0);
    ASSERT_GE(sd_bus_add_filter(bus, nullptr, answerWrongly, nullptr), 0);
    std::atomic<bool> stop{false};
    std::thread server([&] {
        while (!stop) {
            if (sd_bus_process(bus, nullptr) == 0) sd_bus_wait(bus, 10 * 1000);
        }
    });
    ZumiHandle client = openOrFail("");
    int value = 77;
    char* text = nullptr;
    ZumiHasharrayHandleStruct* reply = nullptr;
    ZumiPropertyInfo* list = nullptr;
    size_t count = 0;
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, ZumiGetIntProperty(client, service.c_str(), "x", &value));
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, ZumiGetStringProperty(client, service.c_str(), "x", &text));
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, ZumiAccessHasharrayProperty(client, service.c_str(), "x", nullptr, &reply));
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, ZumiListProperties(client, service.c_str(), &list, &count));
    EXPECT_EQ(ZUMI_ERR_FAILED, ZumiSetIntProperty(client, service.c_str(), "x", 1));
    EXPECT_EQ(77, value);
    EXPECT_EQ(nullptr, text);
    EXPECT_EQ(nullptr, reply);
    EXPECT_EQ(0u, ZumiClose(client));
    stop = true;
    server.join();
    sd_bus_flush_close_unref(bus);
}

}  // namespace
}  // namespace testing
}  // namespace zumi
