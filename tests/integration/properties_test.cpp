// Integer, string and hash-array properties between processes, the refusals a
// caller can tell apart, an identifier that another process holds, and
// malformed or oversized calls of a raw D-Bus client, which the service answers
// with an error each while it keeps serving.

#include <systemd/sd-bus.h>

#include <memory>
#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

struct ArrayDeleter {
    void operator()(ZumiHasharrayHandleStruct* array) const { ZumiHasharrayDestroy(array); }
};
typedef std::unique_ptr<ZumiHasharrayHandleStruct, ArrayDeleter> Array;

// "text/number" of each hash, "-" for an absent key, "sent" as a number.
std::string show(ZumiHasharrayHandleStruct* array) {
    std::string shown;
    for (int i = 0; i < ZumiHasharrayGetHashCount(array); ++i) {
        const char* text = "-";
        int number = 0;
        ZumiHasharrayGetString(array, i, "text", &text);
        shown += std::string(i ? " " : "") + text + "/";
        shown += ZumiHasharrayGetInt(array, i, "number", &number) == 0 ? std::to_string(number) : "-";
        if (ZumiHasharrayGetInt(array, i, "sent", &number) == 0) shown += std::to_string(number);
    }
    return shown;
}

class ARemoteService : public PeerServiceTest {
protected:
    ZumiStatus access(const char* property, ZumiHasharrayHandleStruct* input, Array* reply) {
        ZumiHasharrayHandleStruct* raw = reinterpret_cast<ZumiHasharrayHandleStruct*>(0x1);
        ZumiStatus status = ZumiAccessHasharrayProperty(client, service.c_str(), property, input, &raw);
        reply->reset(raw);
        return status;
    }
    ZumiStatus getString(const char* property, std::string* value) {
        char* text = nullptr;
        ZumiStatus status = ZumiGetStringProperty(client, service.c_str(), property, &text);
        *value = text == nullptr ? "(none)" : text;
        ZumiFreeString(text);
        return status;
    }
};

TEST_F(ARemoteService, ServesItsValuesPassesTheCallbacksStatusesBackAndTellsEachRefusalApart) {
    peer.requestAll({"int count 5 rw", "str name hello rw"});
    const char* s = service.c_str();
    int number = 0;
    std::string text;
    EXPECT_EQ(0u, ZumiGetIntProperty(client, s, "count", &number));
    EXPECT_EQ(5, number);
    EXPECT_EQ(0u, ZumiSetIntProperty(client, s, "count", -123456));
    EXPECT_EQ(0u, ZumiGetIntProperty(client, s, "count", &number));
    EXPECT_EQ(-123456, number);
    EXPECT_EQ(0u, getString("name", &text));
    EXPECT_EQ("hello", text);
    // Any byte but NUL travels unchanged; a long text takes the getter a second call.
    for (const std::string& sent : {std::string("w\xc3\xb6rld\x01\xff"), std::string(), std::string(5000, 'x')}) {
        EXPECT_EQ(0u, ZumiSetStringProperty(client, s, "name", sent.c_str()));
        EXPECT_EQ(0u, getString("name", &text));
        EXPECT_EQ(sent, text);
    }
    for (unsigned status : {8u, 10u, 258u, 77u, 0xfffffffeu}) {
        const std::string st = std::to_string(status), i = "i" + st, t = "t" + st;
        peer.requestAll({"int " + i + " 1 rw " + st, "str " + t + " x rw " + st});
        number = 42;
        EXPECT_EQ(status, ZumiGetIntProperty(client, s, i.c_str(), &number));
        EXPECT_EQ(42, number) << "a failed read leaves the value alone";
        EXPECT_EQ(status, ZumiSetIntProperty(client, s, i.c_str(), 3));
        EXPECT_EQ(status, ZumiSetStringProperty(client, s, t.c_str(), "y"));
        EXPECT_EQ(status, getString(t.c_str(), &text)) << "a getter asking for room forever is given up on";
    }
    // Missing properties, refused access and a missing service, each its own status.
    peer.requestAll({"int readonly 1 r", "int writeonly 1 w", "str text x rw"});
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, ZumiGetIntProperty(client, s, "absent", &number));
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, ZumiGetIntProperty(client, s, "text", &number)) << "a string is no integer";
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, getString("readonly", &text));
    EXPECT_EQ(ZUMI_ERR_ACCESS_DENIED, ZumiSetIntProperty(client, s, "readonly", 2));
    EXPECT_EQ(ZUMI_ERR_ACCESS_DENIED, ZumiGetIntProperty(client, s, "writeonly", &number));
    EXPECT_EQ(0u, ZumiSetIntProperty(client, s, "writeonly", 2));
    ASSERT_EQ("0", peer.request("close"));
    EXPECT_EQ(ZUMI_ERR_NO_SERVICE, ZumiGetIntProperty(client, s, "readonly", &number));
    EXPECT_EQ(ZUMI_ERR_INVALID_NAME, ZumiSetIntProperty(client, "no name", "x", 1));
}

TEST_F(ARemoteService, AnswersACopyOfASentHashArrayWithItsStatusAndSealsTheSentOne) {
    peer.requestAll({"hash echo 0", "hash failing 258"});
    Array sent(ZumiHasharrayNew(nullptr)), reply;
    int index = -1;
    for (const char* text : {"first", "second"}) {
        ASSERT_EQ(0u, ZumiHasharrayAddHash(sent.get(), &index));
        ASSERT_EQ(0u, ZumiHasharrayPutString(sent.get(), index, "text", text));
    }
    ASSERT_EQ(0u, ZumiHasharrayPutInt(sent.get(), 0, "number", 1));
    ASSERT_EQ(0u, access("echo", sent.get(), &reply));
    EXPECT_EQ("first/1 second/- -/-2", show(reply.get()));
    EXPECT_EQ(0u, ZumiHasharrayPutInt(reply.get(), 2, "mine", 1)) << "the reply is the caller's";
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, ZumiHasharrayPutInt(sent.get(), 0, "number", 2));
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, ZumiHasharrayAddHash(sent.get(), &index));
    EXPECT_EQ("first/1 second/-", show(sent.get())) << "reads still work";
    ASSERT_EQ(0u, access("echo", nullptr, &reply)) << "a null array is a read";
    EXPECT_EQ("-/--1", show(reply.get()));
    Array empty(ZumiHasharrayNew(nullptr));
    EXPECT_EQ(258u, access("failing", empty.get(), &reply));
    EXPECT_EQ("-/-0", show(reply.get())) << "a failing status still carries the reply";
    EXPECT_EQ(0u, ZumiHasharrayAddHash(empty.get(), &index)) << "a refused array stays writable";
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, access("absent", nullptr, &reply));
    EXPECT_EQ(nullptr, reply);
}

TEST_F(ARemoteService, KeepsItsIdentifierWhichNoOtherProcessNorThisOneCanOpen) {
    EXPECT_EQ(std::to_string(ZUMI_ERR_NAME_TAKEN), Peer().request("open " + service));
    auto refusal = [](const char* id) {
        ZumiStatus status = 0;
        EXPECT_EQ(nullptr, ZumiOpenEx(id, &status)) << (id ? id : "null");
        return status;
    };
    EXPECT_EQ(ZUMI_ERR_NAME_TAKEN, refusal(service.c_str()));
    for (const char* name : {"nodots", "com.9digit", ":1.5", "org.freedesktop.DBus", "com.sp ace"}) {
        EXPECT_EQ(ZUMI_ERR_INVALID_NAME, refusal(name)) << name;
    }
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, refusal(nullptr));
}

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
