// The in-memory hash array that libzumi and the test double share.

#include "core/HashArray.h"

#include <gtest/gtest.h>

#include "platform/ZumiBus.h"

namespace zumi {
namespace bus {
namespace {

class AHashArrayWithOneHash : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ZUMI_OK, hashArrayAddHash(array, &index)); }
    void TearDown() override { hashArrayDestroy(array); }
    HashArray* array = hashArrayNew();
    int index = -1;
};

TEST_F(AHashArrayWithOneHash, ReadsBackEachKeyAnswersMissesSoftlyAndTurnsReadOnlyOnceSent) {
    ASSERT_EQ(ZUMI_OK, hashArrayPutInt(array, index, "volume", -3));
    ASSERT_EQ(ZUMI_OK, hashArrayPutString(array, index, "name", "kitchen"));
    int number = 0;
    const char* text = nullptr;
    EXPECT_EQ(ZUMI_OK, hashArrayGetInt(array, index, "volume", &number));
    EXPECT_EQ(ZUMI_OK, hashArrayGetString(array, index, "name", &text));
    EXPECT_EQ(-3, number);
    EXPECT_STREQ("kitchen", text);
    EXPECT_EQ(1, hashArrayCount(array));

    EXPECT_EQ(ZUMI_HASH_KEY_ABSENT, hashArrayGetInt(array, index, "missing", &number));
    EXPECT_EQ(ZUMI_HASH_WRONG_TYPE, hashArrayGetInt(array, index, "name", &number));
    EXPECT_EQ(ZUMI_HASH_WRONG_TYPE, hashArrayGetString(array, index, "volume", &text));
    EXPECT_EQ(-3, number);
    EXPECT_STREQ("kitchen", text);
    EXPECT_EQ(ZUMI_ERR_INVALID_INDEX, hashArrayPutInt(array, 1, "k", 1));
    EXPECT_EQ(ZUMI_ERR_INVALID_INDEX, hashArrayPutInt(array, -1, "k", 1));

    // Sent arrays turn read-only; their clones do not.
    array->readOnly = true;
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, hashArrayPutInt(array, index, "volume", 2));
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, hashArrayAddHash(array, &number));
    HashArray* copy = hashArrayClone(array);
    EXPECT_EQ(ZUMI_OK, hashArrayPutInt(copy, index, "volume", 2));
    EXPECT_EQ(ZUMI_OK, hashArrayGetInt(array, index, "volume", &number));
    EXPECT_EQ(-3, number);
    hashArrayDestroy(copy);
}

TEST(ANullHashArray, IsAnsweredWithoutACrash) {
    int number = 0;
    const char* text = nullptr;
    EXPECT_EQ(nullptr, hashArrayClone(nullptr));
    EXPECT_LT(hashArrayCount(nullptr), 0);
    EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, hashArrayAddHash(nullptr, &number));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, hashArrayGetInt(nullptr, 0, "k", &number));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, hashArrayGetString(nullptr, 0, "k", &text));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, hashArrayPutInt(nullptr, 0, "k", 1));
    EXPECT_EQ(ZUMI_ERR_INVALID_ARRAY, hashArrayPutString(nullptr, 0, "k", "v"));
    hashArrayDestroy(nullptr);
}

}  // namespace
}  // namespace bus
}  // namespace zumi
