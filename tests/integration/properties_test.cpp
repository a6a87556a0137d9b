// Integer and string properties between processes, both ways, and served
// in-process.

#include <string.h>

#include <atomic>
#include <string>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

class ARemoteService : public PeerServiceTest {
protected:
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
    for (const char* sent : {"w\xc3\xb6rld\x01\xff", ""}) {  // any byte but NUL travels unchanged
        EXPECT_EQ(0u, ZumiSetStringProperty(client, s, "name", sent));
        EXPECT_EQ(0u, getString("name", &text));
        EXPECT_EQ(sent, text);
    }
    for (unsigned status : {8u, 10u, 258u, 77u, 0xfffffffeu}) {
        const std::string st = std::to_string(status), i = "i" + st, t = "t" + st;
        peer.requestAll({"int " + i + " 1 rw " + st, "str " + t + " x w " + st});
        number = 42;
        EXPECT_EQ(status, ZumiGetIntProperty(client, s, i.c_str(), &number));
        EXPECT_EQ(42, number) << "a failed read leaves the value alone";
        EXPECT_EQ(status, ZumiSetIntProperty(client, s, i.c_str(), 3));
        EXPECT_EQ(status, ZumiSetStringProperty(client, s, t.c_str(), "y"));
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
    EXPECT_STREQ("No service owns that identifier", ZumiGetErrorString(ZUMI_ERR_NO_SERVICE));
    EXPECT_EQ(ZUMI_ERR_INVALID_NAME, ZumiSetIntProperty(client, "no name", "x", 1));
}

// A string getter that wants more room than the first buffer (or always more
// when its text is empty), and counts its calls.
struct LongText {
    std::string value;
    std::atomic<int> calls{0};
    unsigned firstCapacity = 0;
};

unsigned int getLongText(ZumiHandle, const char*, char* buffer, unsigned int* size, void* data) {
    LongText* text = static_cast<LongText*>(data);
    if (text->calls++ == 0) text->firstCapacity = *size;
    if (text->value.empty() || *size < text->value.size() + 1) {
        *size = static_cast<unsigned>(text->value.empty() ? *size + 1 : text->value.size() + 1);
        return ZUMI_ERR_BUFFER_TOO_SMALL;
    }
    memcpy(buffer, text->value.c_str(), text->value.size() + 1);
    return ZUMI_OK;
}

class ALocalService : public LocalServiceTest {};

TEST_F(ALocalService, CallsAStringGetterAgainWithTheSizeItAskedForButNotForever) {
    LongText fitting, greedy;
    fitting.value = std::string(5000, 'x') + "end";
    ASSERT_EQ(0u, ZumiRegisterStringProperty(handle, "long", getLongText, nullptr, &fitting));
    ASSERT_EQ(0u, ZumiRegisterStringProperty(handle, "greedy", getLongText, nullptr, &greedy));
    EXPECT_EQ("0 " + fitting.value, peerCalls("getstr", "long"));
    EXPECT_EQ("10 ", peerCalls("getstr", "greedy"));
    closeService();
    EXPECT_EQ(2, fitting.calls.load());
    EXPECT_LT(fitting.firstCapacity, 5004u);
    EXPECT_EQ(10, greedy.calls.load());
}

struct Counter {
    int value = 1;
    std::atomic<ZumiStatus> closeStatus{99};
};

unsigned int getBase(ZumiHandle, const char*, int* value, void* data) {
    *value = static_cast<Counter*>(data)->value;
    return 0;
}
unsigned int setBase(ZumiHandle, const char*, int value, void* data) {
    static_cast<Counter*>(data)->value = value;
    return 0;
}
unsigned int closeFromCallback(ZumiHandle handle, const char*, int* value, void* data) {
    static_cast<Counter*>(data)->closeStatus = ZumiClose(handle);
    *value = 1;
    return 0;
}

// Nested reads from a callback are checked with the dispatch threads in the concurrency tests.
TEST_F(ALocalService, ServesItsOwnProcessAndAPeerUntilACallbackClosesIt) {
    Counter counter;
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "base", getBase, setBase, &counter));
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "bye", closeFromCallback, nullptr, &counter));
    EXPECT_EQ(ZUMI_ERR_ALREADY_REGISTERED, ZumiRegisterIntProperty(handle, "base", getBase, nullptr, &counter));
    EXPECT_EQ(0u, ZumiSetIntProperty(handle, service.c_str(), "base", 41));
    int value = 0;
    EXPECT_EQ(0u, ZumiGetIntProperty(handle, service.c_str(), "base", &value));
    EXPECT_EQ(41, value);
    EXPECT_EQ("0 41", peerCalls("getint", "base"));
    EXPECT_EQ(ZUMI_ERR_ACCESS_DENIED, ZumiSetIntProperty(handle, service.c_str(), "bye", 1));
    EXPECT_EQ("0 1", peerCalls("getint", "bye"));
    EXPECT_EQ(0u, counter.closeStatus.load());
    EXPECT_EQ("5 -1", peerCalls("getint", "bye"));
    handle = openOrFail(service);  // the name is free again
}

}  // namespace
}  // namespace zumi::testing
