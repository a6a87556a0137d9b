// One table of what the bus carries and what it refuses before sending,
// compiled twice: against the real libzumi on the private daemon
// (integration_bus) and against the in-process double that applications'
// tests link (unit_testing_kit). Both must answer every row alike, so that a
// test over the double meets the refusals of a device.

#include <unistd.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <libzumi/ZumiBus.h>

namespace {

enum class Road { EventText, HashKeySent, HashTextSent, HashSentLater, HashTextReplied, StringSet };

struct Row {
    const char* what;
    Road road;
    std::string text;
    ZumiStatus expected;
};

const size_t kLongestText = 1024 * 1024;

const std::vector<Row>& table() {
    static const std::vector<Row> rows = {
        {"an event's UTF-8 text", Road::EventText, "h\xc3\xa9llo", ZUMI_OK},
        {"an event's Latin-1 text", Road::EventText, "caf\xe9", ZUMI_ERR_INVALID_ARGUMENT},
        {"an event's overlong encoding", Road::EventText, "\xc0\xaf", ZUMI_ERR_INVALID_ARGUMENT},
        {"an event's surrogate half", Road::EventText, "\xed\xa0\x80", ZUMI_ERR_INVALID_ARGUMENT},
        {"an event's truncated sequence", Road::EventText, "ab\xe2\x82", ZUMI_ERR_INVALID_ARGUMENT},
        {"an event's text over the limit", Road::EventText, std::string(kLongestText + 1, 'x'), ZUMI_ERR_TOO_LARGE},
        {"a hash key sent, UTF-8", Road::HashKeySent, "n\xc3\xa4me", ZUMI_OK},
        {"a hash key sent, Latin-1", Road::HashKeySent, "n\xe4me", ZUMI_ERR_INVALID_ARGUMENT},
        {"a hash text sent, UTF-8", Road::HashTextSent, "w\xc3\xb6rld", ZUMI_OK},
        {"a hash text sent, Latin-1", Road::HashTextSent, "w\xf6rld", ZUMI_ERR_INVALID_ARGUMENT},
        {"a hash text sent, a stray continuation byte", Road::HashTextSent, "\x80", ZUMI_ERR_INVALID_ARGUMENT},
        {"a hash text sent asynchronously, Latin-1", Road::HashSentLater, "w\xf6rld", ZUMI_ERR_INVALID_ARGUMENT},
        {"a hash text in the service's reply, UTF-8", Road::HashTextReplied, "w\xc3\xb6rld", ZUMI_OK},
        {"a hash text in the service's reply, Latin-1", Road::HashTextReplied, "w\xf6rld",
         ZUMI_ERR_INVALID_ARGUMENT},
        // A string property's value travels as bytes: any text without a NUL.
        {"a string property's Latin-1 value", Road::StringSet, "caf\xe9", ZUMI_OK},
    };
    return rows;
}

// The service's side: "items" replies with one hash {"text": replyText};
// "name" takes any string.
struct Served {
    std::string replyText;
    std::string lastName;
};

unsigned int reply(ZumiHandle, const char*, ZumiHasharrayHandleStruct*, ZumiHasharrayHandleStruct* output,
                   void* data) {
    int index = -1;
    ZumiHasharrayAddHash(output, &index);
    return ZumiHasharrayPutString(output, index, "text", static_cast<Served*>(data)->replyText.c_str());
}

unsigned int setName(ZumiHandle, const char*, const char* value, void* data) {
    static_cast<Served*>(data)->lastName = value;
    return ZUMI_OK;
}

void ignored(const ZumiCallResult*, void*) {}
void ignoredEvent(ZumiHandle, const char*, ZumiEventHandle, void*) {}
unsigned int one(ZumiHandle, const char*, int* value, void*) {
    *value = 1;
    return ZUMI_OK;
}

class TheBusAndItsDouble : public ::testing::Test {
protected:
    void SetUp() override {
        ZumiStatus status = ZUMI_OK;
        server = ZumiOpenEx(service.c_str(), &status);
        ASSERT_EQ(ZUMI_OK, status);
        client = ZumiOpenEx("", &status);
        ASSERT_EQ(ZUMI_OK, status);
        ASSERT_EQ(ZUMI_OK, ZumiRegisterHasharrayProperty(server, "items", reply, &served));
        ASSERT_EQ(ZUMI_OK, ZumiRegisterStringProperty(server, "name", nullptr, setName, &served));
    }
    void TearDown() override {
        ZumiClose(client);
        ZumiClose(server);
    }

    // The row's status; *delivered tells whether what was sent arrived.
    ZumiStatus attempt(const Row& row, bool* delivered) {
        const char* text = row.text.c_str();
        *delivered = false;
        if (row.road == Road::EventText) return ZumiSendEventWithParams(server, "changed", nullptr, 0, &text, 1);
        if (row.road == Road::StringSet) {
            const ZumiStatus status = ZumiSetStringProperty(client, service.c_str(), "name", text);
            *delivered = served.lastName == row.text;
            return status;
        }
        served.replyText = row.road == Road::HashTextReplied ? row.text : "plain";
        ZumiHasharrayHandleStruct* sent = ZumiHasharrayNew(client);
        int index = -1;
        ZumiHasharrayAddHash(sent, &index);
        ZumiHasharrayPutString(sent, index, row.road == Road::HashKeySent ? text : "key",
                               row.road == Road::HashTextSent || row.road == Road::HashSentLater ? text : "plain");
        ZumiHasharrayHandleStruct* answer = nullptr;
        ZumiStatus status = ZUMI_OK;
        if (row.road == Road::HashSentLater) {
            ZumiCallId id = 0;
            status = ZumiAccessHasharrayPropertyAsync(client, service.c_str(), "items", sent, 5000, ignored,
                                                      nullptr, &id);
        } else {
            status = ZumiAccessHasharrayProperty(client, service.c_str(), "items", sent, &answer);
            const char* replied = nullptr;
            *delivered = answer != nullptr && ZumiHasharrayGetString(answer, 0, "text", &replied) == ZUMI_OK &&
                         row.text == replied;
        }
        ZumiHasharrayDestroy(answer);
        ZumiHasharrayDestroy(sent);
        return status;
    }

    const std::string service = "com.tessal.test.sendable" + std::to_string(getpid());
    ZumiHandle server = nullptr;
    ZumiHandle client = nullptr;
    Served served;
};

TEST_F(TheBusAndItsDouble, RefuseTheSameTextsWithTheSameStatusAndDeliverTheRest) {
    for (const Row& row : table()) {
        bool delivered = false;
        EXPECT_EQ(row.expected, attempt(row, &delivered)) << row.what;
        const bool arrives = row.expected == ZUMI_OK && (row.road == Road::StringSet || row.road == Road::HashTextReplied);
        EXPECT_EQ(arrives, delivered) << row.what;
    }
}

TEST_F(TheBusAndItsDouble, RefuseAnEventWithANullTextOrTooManyParameters) {
    const char* texts[] = {"one", nullptr};
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, ZumiSendEventWithParams(server, "changed", nullptr, 0, texts, 2));
    const int one = 1;
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, ZumiSendEventWithParams(server, "changed", nullptr, 1, nullptr, 0))
        << "a count without its integers";
    const std::vector<int> many(4097, 7);
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, ZumiSendEventWithParams(server, "changed", many.data(), many.size(), nullptr, 0));
    EXPECT_EQ(ZUMI_OK, ZumiSendEventWithParams(server, "changed", &one, 1, texts, 1));
}

// Property and event names travel as D-Bus strings too.
TEST_F(TheBusAndItsDouble, RefuseANameThatIsNotUtf8EmptyOrTooLongWhereverANameIsGiven) {
    const std::string id = service;
    const std::vector<std::pair<const char*, std::function<ZumiStatus(const char*)>>> roads = {
        {"register", [&](const char* n) { return ZumiRegisterIntProperty(server, n, one, nullptr, nullptr); }},
        {"get", [&](const char* n) { int v = 0; return ZumiGetIntProperty(client, id.c_str(), n, &v); }},
        {"set", [&](const char* n) { return ZumiSetStringProperty(client, id.c_str(), n, "x"); }},
        {"access", [&](const char* n) {
             ZumiHasharrayHandleStruct* reply = nullptr;
             const ZumiStatus status = ZumiAccessHasharrayProperty(client, id.c_str(), n, nullptr, &reply);
             ZumiHasharrayDestroy(reply);
             return status;
         }},
        {"get later", [&](const char* n) {
             ZumiCallId call = 0;
             return ZumiGetIntPropertyAsync(client, id.c_str(), n, 5000, ignored, nullptr, &call);
         }},
        {"send", [&](const char* n) { return ZumiCreateAndSendEvent(server, n); }},
        {"subscribe", [&](const char* n) { return ZumiSubscribeExt(client, id.c_str(), n, ignoredEvent, nullptr); }},
    };
    for (const std::string& name : {std::string("caf\xe9"), std::string(), std::string(256, 'n')}) {
        for (const auto& road : roads) {
            EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, road.second(name.c_str())) << road.first << " " << name.size();
        }
    }
    for (const auto& road : roads) {
        EXPECT_NE(ZUMI_ERR_INVALID_ARGUMENT, road.second("n\xc3\xa4me")) << road.first << " of a UTF-8 name";
    }
}

}  // namespace
