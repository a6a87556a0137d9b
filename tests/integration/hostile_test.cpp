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

class AServiceUnderAttack : public ::testing::Test {
protected:
    void SetUp() override {
        service = serviceName("victim");
        ASSERT_EQ("0", peer.request("open " + service));
        ASSERT_EQ("0", peer.request("int count 5 rw"));
        ASSERT_EQ("0", peer.request("hash echo 0"));
        ASSERT_EQ("0", checker.request("open -"));
        attacker = openRawBus();
    }
    void TearDown() override {
        sd_bus_flush_close_unref(attacker);
        // Still serving, to someone else.
        EXPECT_EQ("0 5", checker.request("getint " + service + " count"));
    }

    // Sends a call built by `build` and returns the D-Bus error name, or ""
    // when the call succeeded.
    template <typename Build>
    std::string call(const char* member, Build build) {
        sd_bus_message* message = nullptr;
        EXPECT_GE(sd_bus_message_new_method_call(attacker, &message, service.c_str(), kPath,
                                                 kInterface, member), 0);
        EXPECT_GE(build(message), 0);
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        int r = sd_bus_call(attacker, message, 20 * 1000 * 1000, &error, &reply);
        std::string name = r < 0 ? (error.name != nullptr ? error.name : "errno") : "";
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_message_unref(message);
        return name;
    }

    Peer peer;
    Peer checker;
    std::string service;
    sd_bus* attacker = nullptr;
};

TEST_F(AServiceUnderAttack, RefusesCallsWithTheWrongArguments) {
    const std::string invalid = "org.freedesktop.DBus.Error.InvalidArgs";
    EXPECT_EQ(invalid, call("GetInt", [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 1); }));
    EXPECT_EQ(invalid, call("GetInt", [](sd_bus_message*) { return 0; }));
    EXPECT_EQ(invalid, call("SetInt", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ss", "count", "6");
    }));
    EXPECT_EQ(invalid, call("SetString", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ss", "count", "text as a string");
    }));
    EXPECT_EQ(invalid, call("SetString", [](sd_bus_message* m) {
        static const char withNul[] = {'a', '\0', 'b'};
        int r = sd_bus_message_append(m, "s", "count");
        return r < 0 ? r : sd_bus_message_append_array(m, 'y', withNul, sizeof withNul);
    }));
    const std::string longName(300, 'n');
    EXPECT_EQ(invalid, call("GetInt", [&](sd_bus_message* m) {
        return sd_bus_message_append(m, "s", longName.c_str());
    }));
    EXPECT_EQ("org.freedesktop.DBus.Error.UnknownMethod",
              call("Explode", [](sd_bus_message*) { return 0; }));
    EXPECT_EQ("", call("GetInt", [](sd_bus_message* m) { return sd_bus_message_append(m, "s", "count"); }));
}

TEST_F(AServiceUnderAttack, RefusesOversizedAndMalformedArrays) {
    const std::string invalid = "org.freedesktop.DBus.Error.InvalidArgs";
    const std::string tooLarge = "com.tessal.Zumi.Error.TooLarge";
    auto blob = [](std::vector<uint8_t> bytes, bool send) {
        return [bytes, send](sd_bus_message* m) {
            int r = sd_bus_message_append(m, "sb", "echo", send ? 1 : 0);
            return r < 0 ? r : sd_bus_message_append_array(m, 'y', bytes.data(), bytes.size());
        };
    };
    // 2 MiB of text, over the 1 MiB limit but well within the daemon's.
    const std::vector<uint8_t> huge(2 * 1024 * 1024, 'x');
    EXPECT_EQ(tooLarge, call("SetString", [&](sd_bus_message* m) {
        int r = sd_bus_message_append(m, "s", "count");
        return r < 0 ? r : sd_bus_message_append_array(m, 'y', huge.data(), huge.size());
    }));
    // A million hashes claimed: over the limit before anything is read.
    EXPECT_EQ(tooLarge, call("AccessHash", blob({0x40, 0x42, 0x0f, 0x00}, true)));
    // A plausible count with nothing behind it.
    EXPECT_EQ(invalid, call("AccessHash", blob({0x10, 0x00, 0x00, 0x00}, true)));
    // One hash, one entry of an unknown kind.
    EXPECT_EQ(invalid, call("AccessHash", blob({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'k', 7, 1, 2, 3, 4}, true)));
    // A read that carries bytes anyway, and trailing garbage after an array.
    EXPECT_EQ(invalid, call("AccessHash", blob({0, 0, 0, 0}, false)));
    EXPECT_EQ(invalid, call("AccessHash", blob({0, 0, 0, 0, 9}, true)));
    EXPECT_EQ("", call("AccessHash", blob({0, 0, 0, 0}, true)));
}

// A raw service that answers every call of ours with the wrong shape.
class AHostileService : public ::testing::Test {
protected:
    void SetUp() override {
        service = serviceName("liar");
        bus = openRawBus();
        ASSERT_GT(sd_bus_request_name(bus, service.c_str(), 0), 0);
        ASSERT_GE(sd_bus_add_filter(bus, nullptr, &AHostileService::answer, this), 0);
        server = std::thread([this] {
            while (!stop) {
                if (sd_bus_process(bus, nullptr) == 0) sd_bus_wait(bus, 10 * 1000);
            }
        });
        client = openOrFail("");
    }
    void TearDown() override {
        EXPECT_EQ(0u, ZumiClose(client));
        stop = true;
        server.join();
        sd_bus_flush_close_unref(bus);
    }

    static int answer(sd_bus_message* m, void*, sd_bus_error*) {
        if (sd_bus_message_get_member(m) == nullptr ||
            std::string(sd_bus_message_get_interface(m) ? sd_bus_message_get_interface(m) : "") !=
                kInterface) {
            return 0;
        }
        const std::string member = sd_bus_message_get_member(m);
        if (member == "GetInt") return sd_bus_reply_method_return(m, "s", "five");
        if (member == "GetString") {
            static const char withNul[] = {'a', '\0'};
            sd_bus_message* reply = nullptr;
            sd_bus_message_new_method_return(m, &reply);
            sd_bus_message_append(reply, "u", 0u);
            sd_bus_message_append_array(reply, 'y', withNul, sizeof withNul);
            int r = sd_bus_send(nullptr, reply, nullptr);
            sd_bus_message_unref(reply);
            return r;
        }
        if (member == "AccessHash") {
            static const uint8_t garbage[] = {5, 0, 0, 0, 1};
            sd_bus_message* reply = nullptr;
            sd_bus_message_new_method_return(m, &reply);
            sd_bus_message_append(reply, "ub", 0u, 1);
            sd_bus_message_append_array(reply, 'y', garbage, sizeof garbage);
            int r = sd_bus_send(nullptr, reply, nullptr);
            sd_bus_message_unref(reply);
            return r;
        }
        if (member == "List") return sd_bus_reply_method_return(m, "as", nullptr);
        return sd_bus_reply_method_errorf(m, "com.example.Weird", "weird");
    }

    std::string service;
    sd_bus* bus = nullptr;
    std::thread server;
    std::atomic<bool> stop{false};
    ZumiHandle client = nullptr;
};

TEST_F(AHostileService, CannotMakeTheCallerAcceptAMalformedReply) {
    int value = 77;
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, ZumiGetIntProperty(client, service.c_str(), "x", &value));
    EXPECT_EQ(77, value);
    char* text = nullptr;
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, ZumiGetStringProperty(client, service.c_str(), "x", &text));
    EXPECT_EQ(nullptr, text);
    ZumiHasharrayHandleStruct* reply = nullptr;
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, ZumiAccessHasharrayProperty(client, service.c_str(), "x", nullptr, &reply));
    EXPECT_EQ(nullptr, reply);
    ZumiPropertyInfo* list = nullptr;
    size_t count = 0;
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, ZumiListProperties(client, service.c_str(), &list, &count));
    EXPECT_EQ(ZUMI_ERR_FAILED, ZumiSetIntProperty(client, service.c_str(), "x", 1));
}

}  // namespace
}  // namespace testing
}  // namespace zumi
