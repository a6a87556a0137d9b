// Hash arrays sent to and answered by a service, and the listing of
// properties and services.

#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi {
namespace testing {
namespace {

struct ArrayDeleter {
    void operator()(ZumiHasharrayHandleStruct* array) const { ZumiHasharrayDestroy(array); }
};
typedef std::unique_ptr<ZumiHasharrayHandleStruct, ArrayDeleter> Array;

// Two hashes: {text: "first", number: 1}, {text: "second"}.
Array twoHashes() {
    Array array(ZumiHasharrayNew(nullptr));
    int index = -1;
    EXPECT_EQ(0u, ZumiHasharrayAddHash(array.get(), &index));
    EXPECT_EQ(0, index);
    EXPECT_EQ(0u, ZumiHasharrayPutString(array.get(), 0, "text", "first"));
    EXPECT_EQ(0u, ZumiHasharrayPutInt(array.get(), 0, "number", 1));
    EXPECT_EQ(0u, ZumiHasharrayAddHash(array.get(), &index));
    EXPECT_EQ(1, index);
    EXPECT_EQ(0u, ZumiHasharrayPutString(array.get(), 1, "text", "second"));
    return array;
}

class AHashArrayService : public ::testing::Test {
protected:
    void SetUp() override {
        service = serviceName("hashes");
        ASSERT_EQ("0", peer.request("open " + service));
        ASSERT_EQ("0", peer.request("hash echo 0"));
        ASSERT_EQ("0", peer.request("hash failing 258"));
        client = openOrFail("");
    }
    void TearDown() override { EXPECT_EQ(0u, ZumiClose(client)); }

    ZumiStatus access(const char* property, ZumiHasharrayHandleStruct* input, Array* reply) {
        ZumiHasharrayHandleStruct* raw = reinterpret_cast<ZumiHasharrayHandleStruct*>(0x1);
        ZumiStatus status = ZumiAccessHasharrayProperty(client, service.c_str(), property, input, &raw);
        reply->reset(raw);
        return status;
    }

    Peer peer;
    std::string service;
    ZumiHandle client = nullptr;
};

TEST_F(AHashArrayService, ReceivesACopyOfTheSentArrayAndAnswersWithItsReply) {
    Array sent = twoHashes();
    Array reply;
    ASSERT_EQ(0u, access("echo", sent.get(), &reply));
    ASSERT_NE(nullptr, reply);
    ASSERT_EQ(3, ZumiHasharrayGetHashCount(reply.get()));
    const char* text = nullptr;
    int number = 0;
    EXPECT_EQ(0u, ZumiHasharrayGetString(reply.get(), 0, "text", &text));
    EXPECT_STREQ("first", text);
    EXPECT_EQ(0u, ZumiHasharrayGetInt(reply.get(), 0, "number", &number));
    EXPECT_EQ(1, number);
    EXPECT_EQ(0u, ZumiHasharrayGetString(reply.get(), 1, "text", &text));
    EXPECT_STREQ("second", text);
    EXPECT_EQ(ZUMI_HASH_KEY_ABSENT, ZumiHasharrayGetInt(reply.get(), 1, "number", &number));
    EXPECT_EQ(0u, ZumiHasharrayGetInt(reply.get(), 2, "sent", &number));
    EXPECT_EQ(2, number);
    EXPECT_EQ(0u, ZumiHasharrayPutInt(reply.get(), 2, "mine", 1)) << "the reply is the caller's";
}

TEST_F(AHashArrayService, MakesASentArrayReadOnlyButItsCloneWritable) {
    Array sent = twoHashes();
    Array reply;
    ASSERT_EQ(0u, access("echo", sent.get(), &reply));
    int index = 0;
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, ZumiHasharrayPutInt(sent.get(), 0, "number", 2));
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, ZumiHasharrayAddHash(sent.get(), &index));
    const char* text = nullptr;
    EXPECT_EQ(0u, ZumiHasharrayGetString(sent.get(), 0, "text", &text)) << "reads still work";
    Array clone(ZumiHasharrayClone(sent.get()));
    EXPECT_EQ(0u, ZumiHasharrayPutInt(clone.get(), 0, "number", 2));
    EXPECT_EQ(2, ZumiHasharrayGetHashCount(clone.get()));
}

TEST_F(AHashArrayService, TreatsANullArrayAsARead) {
    Array reply;
    ASSERT_EQ(0u, access("echo", nullptr, &reply));
    int sent = 0;
    ASSERT_EQ(1, ZumiHasharrayGetHashCount(reply.get()));
    EXPECT_EQ(0u, ZumiHasharrayGetInt(reply.get(), 0, "sent", &sent));
    EXPECT_EQ(-1, sent);
}

TEST_F(AHashArrayService, DeliversTheReplyWithAFailingStatusAndNoneForAMissingProperty) {
    Array empty(ZumiHasharrayNew(nullptr));
    Array reply;
    EXPECT_EQ(258u, access("failing", empty.get(), &reply));
    ASSERT_NE(nullptr, reply);
    EXPECT_EQ(1, ZumiHasharrayGetHashCount(reply.get()));
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, access("absent", nullptr, &reply));
    EXPECT_EQ(nullptr, reply);
}

TEST(AHashArray, SurvivesNullArraysAndNamesItsSoftStatuses) {
    EXPECT_EQ(nullptr, ZumiHasharrayClone(nullptr));
    EXPECT_LT(ZumiHasharrayGetHashCount(nullptr), 0);
    ZumiHasharrayDestroy(nullptr);
    int index = 0;
    const char* text = nullptr;
    EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, ZumiHasharrayAddHash(nullptr, &index));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, ZumiHasharrayGetInt(nullptr, 0, "k", &index));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, ZumiHasharrayGetString(nullptr, 0, "k", &text));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, ZumiHasharrayPutInt(nullptr, 0, "k", 1));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, ZumiHasharrayPutString(nullptr, 0, "k", "v"));
    Array array = twoHashes();
    EXPECT_EQ(ZUMI_HASH_WRONG_TYPE, ZumiHasharrayGetInt(array.get(), 0, "text", &index));
    EXPECT_EQ(ZUMI_ERR_INVALID_INDEX, ZumiHasharrayGetInt(array.get(), 2, "text", &index));
    EXPECT_STREQ("The hash has no value under that key", ZumiGetErrorString(ZUMI_HASH_KEY_ABSENT));
    EXPECT_STREQ("Unknown status", ZumiGetErrorString(4711));
}

unsigned int appendCopy(ZumiHandle, const char*, ZumiHasharrayHandleStruct* input,
                        ZumiHasharrayHandleStruct* output, void*) {
    // Scribbling on the input must not reach the sender's array.
    int index = 0;
    if (input != nullptr) ZumiHasharrayPutString(input, 0, "text", "scribbled");
    ZumiHasharrayAddHash(output, &index);
    return ZumiHasharrayPutInt(output, index, "count", ZumiHasharrayGetHashCount(input));
}

TEST(ALocalHashArrayService, GivesItsAccessorACopyOfTheSentArray) {
    const std::string service = serviceName("localhash");
    ZumiHandle handle = openOrFail(service);
    ASSERT_EQ(0u, ZumiRegisterHasharrayProperty(handle, "copy", appendCopy, nullptr));
    Array sent = twoHashes();
    ZumiHasharrayHandleStruct* reply = nullptr;
    ASSERT_EQ(0u, ZumiAccessHasharrayProperty(handle, service.c_str(), "copy", sent.get(), &reply));
    int count = 0;
    EXPECT_EQ(0u, ZumiHasharrayGetInt(reply, 0, "count", &count));
    EXPECT_EQ(2, count);
    const char* text = nullptr;
    EXPECT_EQ(0u, ZumiHasharrayGetString(sent.get(), 0, "text", &text));
    EXPECT_STREQ("first", text);
    ZumiHasharrayDestroy(reply);
    EXPECT_EQ(0u, ZumiClose(handle));
}

TEST(AListing, ShowsAServicesPropertiesSortedWithTypeAndAccess) {
    const std::string service = serviceName("listed");
    Peer peer;
    ASSERT_EQ("0", peer.request("open " + service));
    ASSERT_EQ("0", peer.request("str zeta x r"));
    ASSERT_EQ("0", peer.request("int alpha 1 rw"));
    ASSERT_EQ("0", peer.request("hash middle 0"));
    ASSERT_EQ("0", peer.request("int alpha2 1 -"));
    ZumiHandle client = openOrFail("");
    ZumiPropertyInfo* list = nullptr;
    size_t count = 0;
    ASSERT_EQ(0u, ZumiListProperties(client, service.c_str(), &list, &count));
    ASSERT_EQ(4u, count);
    std::vector<std::string> seen;
    for (size_t i = 0; i < count; ++i) {
        seen.push_back(std::string(list[i].name) + ":" + std::to_string(list[i].type) + ":" +
                       std::to_string(list[i].access));
    }
    ZumiFreePropertyList(list, count);
    EXPECT_EQ((std::vector<std::string>{"alpha:0:3", "alpha2:0:0", "middle:2:3", "zeta:1:1"}), seen);
    EXPECT_EQ(ZUMI_ERR_NO_SERVICE, ZumiListProperties(client, "com.tessal.test.none", &list, &count));

    const std::string local = serviceName("listedlocal");
    ZumiHandle own = openOrFail(local);
    char** names = nullptr;
    ASSERT_EQ(0u, ZumiListServices(client, &names, &count));
    std::vector<std::string> services(names, names + count);
    ZumiFreeServiceList(names, count);
    EXPECT_TRUE(std::is_sorted(services.begin(), services.end()));
    EXPECT_NE(services.end(), std::find(services.begin(), services.end(), service));
    EXPECT_NE(services.end(), std::find(services.begin(), services.end(), local));
    for (const std::string& name : services) EXPECT_NE(':', name[0]);
    EXPECT_EQ(0u, ZumiClose(own));
    EXPECT_EQ(0u, ZumiClose(client));
}

}  // namespace
}  // namespace testing
}  // namespace zumi
