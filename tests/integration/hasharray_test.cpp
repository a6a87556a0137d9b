// Hash arrays sent to and answered by a service, and the array's own rules.

#include <memory>
#include <string>

#include "BusFixture.h"

namespace zumi::testing {
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
    EXPECT_EQ(0u, ZumiHasharrayPutString(array.get(), 0, "text", "first"));
    EXPECT_EQ(0u, ZumiHasharrayPutInt(array.get(), 0, "number", 1));
    EXPECT_EQ(0u, ZumiHasharrayAddHash(array.get(), &index));
    EXPECT_EQ(1, index);
    EXPECT_EQ(0u, ZumiHasharrayPutString(array.get(), 1, "text", "second"));
    return array;
}

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

class AHashArrayService : public PeerServiceTest {
protected:
    ZumiStatus access(const std::string& to, const char* property, ZumiHasharrayHandleStruct* input, Array* reply) {
        ZumiHasharrayHandleStruct* raw = reinterpret_cast<ZumiHasharrayHandleStruct*>(0x1);
        ZumiStatus status = ZumiAccessHasharrayProperty(client, to.c_str(), property, input, &raw);
        reply->reset(raw);
        return status;
    }
};

unsigned int scribble(ZumiHandle, const char*, ZumiHasharrayHandleStruct* input, ZumiHasharrayHandleStruct* output,
                      void*) {
    int index = 0;
    ZumiHasharrayPutString(input, 0, "text", "scribbled");
    ZumiHasharrayAddHash(output, &index);
    return ZumiHasharrayPutInt(output, index, "sent", ZumiHasharrayGetHashCount(input));
}

TEST_F(AHashArrayService, AnswersACopyOfTheSentArrayAndItsStatusAndLeavesTheSentOneReadOnlyAlsoInProcess) {
    peer.requestAll({"hash echo 0", "hash failing 258"});
    Array sent = twoHashes(), reply;
    ASSERT_EQ(0u, access(service, "echo", sent.get(), &reply));
    EXPECT_EQ("first/1 second/- -/-2", show(reply.get()));
    EXPECT_EQ(0u, ZumiHasharrayPutInt(reply.get(), 2, "mine", 1)) << "the reply is the caller's";
    int index = 0;
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, ZumiHasharrayPutInt(sent.get(), 0, "number", 2));
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, ZumiHasharrayAddHash(sent.get(), &index));
    EXPECT_EQ("first/1 second/-", show(sent.get())) << "reads still work";
    Array clone(ZumiHasharrayClone(sent.get()));
    EXPECT_EQ(0u, ZumiHasharrayPutInt(clone.get(), 0, "number", 2)) << "a clone is writable";

    ASSERT_EQ(0u, access(service, "echo", nullptr, &reply)) << "a null array is a read";
    EXPECT_EQ("-/--1", show(reply.get()));
    Array empty(ZumiHasharrayNew(nullptr));
    EXPECT_EQ(258u, access(service, "failing", empty.get(), &reply));
    EXPECT_EQ("-/-0", show(reply.get())) << "a failing status still carries the reply";
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, access(service, "absent", nullptr, &reply));
    EXPECT_EQ(nullptr, reply);

    const std::string local = serviceName("localhash");  // served in-process, still a copy
    ZumiHandle handle = openOrFail(local);
    ASSERT_EQ(0u, ZumiRegisterHasharrayProperty(handle, "copy", scribble, nullptr));
    sent = twoHashes();
    ASSERT_EQ(0u, access(local, "copy", sent.get(), &reply));
    EXPECT_EQ("-/-2", show(reply.get()));
    EXPECT_EQ("first/1 second/-", show(sent.get())) << "the accessor's scribbles stay its own";
    EXPECT_EQ(0u, ZumiClose(handle));
}

TEST(AHashArray, SurvivesNullArraysAndNamesItsSoftStatuses) {
    EXPECT_EQ(nullptr, ZumiHasharrayClone(nullptr));
    EXPECT_LT(ZumiHasharrayGetHashCount(nullptr), 0);
    ZumiHasharrayDestroy(nullptr);
    int index = 0;
    const char* text = nullptr;
    for (ZumiStatus status : {ZumiHasharrayAddHash(nullptr, &index), ZumiHasharrayGetInt(nullptr, 0, "k", &index),
                              ZumiHasharrayGetString(nullptr, 0, "k", &text), ZumiHasharrayPutInt(nullptr, 0, "k", 1),
                              ZumiHasharrayPutString(nullptr, 0, "k", "v")}) {
        EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, status);
    }
    Array array = twoHashes();
    EXPECT_EQ(ZUMI_HASH_WRONG_TYPE, ZumiHasharrayGetInt(array.get(), 0, "text", &index));
    EXPECT_EQ(ZUMI_HASH_KEY_ABSENT, ZumiHasharrayGetInt(array.get(), 1, "number", &index));
    EXPECT_EQ(ZUMI_ERR_INVALID_INDEX, ZumiHasharrayGetInt(array.get(), 2, "text", &index));
    EXPECT_STREQ("The hash has no value under that key", ZumiGetErrorString(ZUMI_HASH_KEY_ABSENT));
    EXPECT_STREQ("Unknown status", ZumiGetErrorString(4711));
}

}  // namespace
}  // namespace zumi::testing
