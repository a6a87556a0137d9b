// Integer and string properties between processes, and served in-process.

#include <string.h>

#include <atomic>
#include <string>

#include "BusFixture.h"

namespace zumi {
namespace testing {
namespace {

class ARemoteService : public ::testing::Test {
protected:
    void SetUp() override {
        service = serviceName("remote");
        ASSERT_EQ("0", peer.request("open " + service));
        client = openOrFail("");
    }
    void TearDown() override {
        if (client != nullptr) {
            EXPECT_EQ(0u, ZumiClose(client));
        }
    }

    ZumiStatus getInt(const char* property, int* value) {
        return ZumiGetIntProperty(client, service.c_str(), property, value);
    }
    ZumiStatus getString(const char* property, std::string* value) {
        char* text = nullptr;
        ZumiStatus status = ZumiGetStringProperty(client, service.c_str(), property, &text);
        if (text != nullptr) *value = text;
        ZumiFreeString(text);
        return status;
    }

    Peer peer;
    std::string service;
    ZumiHandle client = nullptr;
};

TEST_F(ARemoteService, ServesItsIntegerAndStringValuesForReadAndWrite) {
    ASSERT_EQ("0", peer.request("int count 5 rw"));
    ASSERT_EQ("0", peer.request("str name hello rw"));
    int number = 0;
    EXPECT_EQ(0u, getInt("count", &number));
    EXPECT_EQ(5, number);
    EXPECT_EQ(0u, ZumiSetIntProperty(client, service.c_str(), "count", -123456));
    EXPECT_EQ(0u, getInt("count", &number));
    EXPECT_EQ(-123456, number);

    std::string text;
    EXPECT_EQ(0u, getString("name", &text));
    EXPECT_EQ("hello", text);
    EXPECT_EQ(0u, ZumiSetStringProperty(client, service.c_str(), "name", "w\xc3\xb6rld\x01\xff"));
    EXPECT_EQ(0u, getString("name", &text));
    EXPECT_EQ("w\xc3\xb6rld\x01\xff", text) << "any byte but NUL travels unchanged";
    EXPECT_EQ(0u, ZumiSetStringProperty(client, service.c_str(), "name", ""));
    EXPECT_EQ(0u, getString("name", &text));
    EXPECT_EQ("", text);
}

TEST_F(ARemoteService, PassesTheCallbacksStatusesBackUnchanged) {
    for (unsigned status : {8u, 10u, 258u, 77u, 0xfffffffeu}) {
        const std::string suffix = std::to_string(status);
        ASSERT_EQ("0", peer.request("int i" + suffix + " 1 rw " + suffix));
        ASSERT_EQ("0", peer.request("str s" + suffix + " x w " + suffix));
        int number = 42;
        EXPECT_EQ(status, getInt(("i" + suffix).c_str(), &number));
        EXPECT_EQ(42, number) << "a failed read leaves the value alone";
        EXPECT_EQ(status, ZumiSetIntProperty(client, service.c_str(), ("i" + suffix).c_str(), 3));
        EXPECT_EQ(status, ZumiSetStringProperty(client, service.c_str(), ("s" + suffix).c_str(), "y"));
    }
}

TEST_F(ARemoteService, TellsMissingPropertiesAndRefusedAccessApart) {
    ASSERT_EQ("0", peer.request("int readonly 1 r"));
    ASSERT_EQ("0", peer.request("int writeonly 1 w"));
    ASSERT_EQ("0", peer.request("str text x rw"));
    int number = 0;
    std::string text;
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, getInt("absent", &number));
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, getInt("text", &number)) << "a string is no integer";
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, getString("readonly", &text));
    EXPECT_EQ(ZUMI_ERR_ACCESS_DENIED, ZumiSetIntProperty(client, service.c_str(), "readonly", 2));
    EXPECT_EQ(ZUMI_ERR_ACCESS_DENIED, getInt("writeonly", &number));
    EXPECT_EQ(0u, ZumiSetIntProperty(client, service.c_str(), "writeonly", 2));

    ASSERT_EQ("0", peer.request("unreg text"));
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, getString("text", &text));
}

TEST_F(ARemoteService, IsReportedMissingOnceItsProcessClosed) {
    ASSERT_EQ("0", peer.request("int count 5 rw"));
    ASSERT_EQ("0", peer.request("close"));
    int number = 0;
    EXPECT_EQ(ZUMI_ERR_NO_SERVICE, getInt("count", &number));
    EXPECT_EQ(ZUMI_ERR_NO_SERVICE, ZumiSetIntProperty(client, "com.tessal.test.nobody", "x", 1));
    EXPECT_EQ(ZUMI_ERR_INVALID_NAME, ZumiSetIntProperty(client, "no name", "x", 1));
    EXPECT_STREQ("No service owns that identifier", ZumiGetErrorString(ZUMI_ERR_NO_SERVICE));
}

// A service in this process, read by the peer: string getters that want
// more room than the first buffer.
struct LongText {
    std::string value;
    std::atomic<int> calls{0};
    unsigned firstCapacity = 0;
    bool alwaysTooSmall = false;
};

unsigned int getLongText(ZumiHandle, const char*, char* buffer, unsigned int* size, void* data) {
    LongText* text = static_cast<LongText*>(data);
    if (text->calls++ == 0) text->firstCapacity = *size;
    if (text->alwaysTooSmall || *size < text->value.size() + 1) {
        *size = static_cast<unsigned>(text->alwaysTooSmall ? *size + 1 : text->value.size() + 1);
        return ZUMI_ERR_BUFFER_TOO_SMALL;
    }
    memcpy(buffer, text->value.c_str(), text->value.size() + 1);
    return ZUMI_OK;
}

class ALocalService : public ::testing::Test {
protected:
    void SetUp() override {
        service = serviceName("local");
        handle = openOrFail(service);
        ASSERT_EQ("0", peer.request("open -"));
    }
    void TearDown() override { closeService(); }
    // Joins the dispatch thread: what the callbacks wrote is then safe to
    // read, and their data safe to destroy.
    void closeService() {
        if (handle != nullptr) {
            EXPECT_EQ(0u, ZumiClose(handle));
        }
        handle = nullptr;
    }

    Peer peer;
    std::string service;
    ZumiHandle handle = nullptr;
};

TEST_F(ALocalService, CallsAStringGetterAgainWithTheSizeItAskedFor) {
    LongText text;
    text.value.assign(5000, 'x');
    text.value += "end";
    ASSERT_EQ(0u, ZumiRegisterStringProperty(handle, "long", getLongText, nullptr, &text));
    EXPECT_EQ("0 " + text.value, peer.request("getstr " + service + " long"));
    closeService();
    EXPECT_EQ(2, text.calls.load());
    EXPECT_LT(text.firstCapacity, 5004u);
}

TEST_F(ALocalService, GivesUpOnAStringGetterThatNeverHasRoom) {
    LongText text;
    text.alwaysTooSmall = true;
    ASSERT_EQ(0u, ZumiRegisterStringProperty(handle, "greedy", getLongText, nullptr, &text));
    EXPECT_EQ("10 ", peer.request("getstr " + service + " greedy"));
    closeService();
    EXPECT_EQ(10, text.calls.load());
}

struct Counter {
    ZumiHandle handle;
    std::string service;
    int value = 1;
};

unsigned int getBase(ZumiHandle, const char*, int* value, void* data) {
    *value = static_cast<Counter*>(data)->value;
    return 0;
}

// Reads another property of its own service from inside the callback.
unsigned int getNext(ZumiHandle handle, const char*, int* value, void* data) {
    Counter* counter = static_cast<Counter*>(data);
    int base = 0;
    ZumiStatus status = ZumiGetIntProperty(handle, counter->service.c_str(), "base", &base);
    *value = base + 1;
    return status;
}

unsigned int setBase(ZumiHandle, const char*, int value, void* data) {
    static_cast<Counter*>(data)->value = value;
    return 0;
}

TEST_F(ALocalService, ServesItsOwnProcessWithoutADeadlockEvenFromACallback) {
    Counter counter{handle, service};
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "base", getBase, setBase, &counter));
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "next", getNext, nullptr, &counter));
    EXPECT_EQ("0 2", peer.request("getint " + service + " next"));

    EXPECT_EQ(0u, ZumiSetIntProperty(handle, service.c_str(), "base", 41));
    int value = 0;
    EXPECT_EQ(0u, ZumiGetIntProperty(handle, service.c_str(), "next", &value));
    EXPECT_EQ(42, value);
    EXPECT_EQ(ZUMI_ERR_ACCESS_DENIED, ZumiSetIntProperty(handle, service.c_str(), "next", 1));
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, ZumiGetIntProperty(handle, service.c_str(), "none", &value));
    closeService();
}

TEST_F(ALocalService, RefusesToRegisterANameTwiceForOneType) {
    Counter counter{handle, service};
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "base", getBase, nullptr, &counter));
    EXPECT_EQ(ZUMI_ERR_ALREADY_REGISTERED,
              ZumiRegisterIntProperty(handle, "base", getBase, nullptr, &counter));
    LongText text;
    text.value = "text";
    EXPECT_EQ(0u, ZumiRegisterStringProperty(handle, "base", getLongText, nullptr, &text))
        << "another type may use the same name";
    EXPECT_EQ("0 1", peer.request("getint " + service + " base"));
    EXPECT_EQ("0 text", peer.request("getstr " + service + " base"));
    EXPECT_EQ(0u, ZumiUnregisterProperty(handle, "base", nullptr));
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, ZumiUnregisterProperty(handle, "base", nullptr));
    closeService();
}

}  // namespace
}  // namespace testing
}  // namespace zumi
