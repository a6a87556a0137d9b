#include "HashArrayTest.h"

namespace veltra {
namespace kesh {
namespace zumi {
namespace {

using AHash = HashArrayTest;

TEST_F(AHash, IsTheSameObjectForItsIndexAndSurvivesNewIndicesAndHashes) {
    ZumiHashList& first = (*array)[0];
    for (int index = 1; index < 64; ++index) (*array)[index];
    EXPECT_EQ(1, array->addNewHash());
    EXPECT_EQ(&first, &(*array)[0]);
    first.putString("name", "kitchen");
    EXPECT_STREQ("kitchen", (*array)[0].getString("name"));
    EXPECT_EQ(1, (*array)[0].getInt("volume"));
}

TEST_F(AHash, ReadsAnAbsentKeyOrAKeyOfTheOtherTypeAsNoValue) {
    ZumiHashList& hash = (*array)[0];
    hash.putString("label", "x");
    EXPECT_EQ(nullptr, hash.getString("missing"));  // 81
    EXPECT_EQ(nullptr, hash.getString("volume"));   // 82
    EXPECT_EQ(0, hash.getInt("label"));

    // Nothing of the caller's stack leaks out when the bus leaves the value alone.
    bus().hooks.hasharrayGetInt = [](ZumiHasharrayHandleStruct*, int, const char*, int*) {
        return static_cast<ZumiStatus>(ZUMI_HASH_KEY_ABSENT);
    };
    EXPECT_EQ(0, hash.getInt("volume"));
}

TEST_F(AHash, IsMadeWithoutABusCallAndNamesIndexKeyAndIntegerButNoStringInFailures) {
    size_t callsBefore = bus().calls().size();
    ZumiHashList& hash = (*array)[2];
    EXPECT_EQ(callsBefore, bus().calls().size());
    EXPECT_EQ(failure("ZumiHasharrayPutInt method failed. --index: 2 --key: volume --value: -3",
                      ZUMI_ERR_INVALID_INDEX),
              messageOf<ZumiException>([&] { hash.putInt("volume", -3); }));
    EXPECT_EQ(failure("ZumiHasharrayPutString method failed. --index: 2 --key: owner",
                      ZUMI_ERR_INVALID_INDEX),
              messageOf<ZumiException>([&] { hash.putString("owner", "pin-1234"); }));
    EXPECT_EQ(failure("ZumiHasharrayGetString method failed. --index: 2 --key: owner",
                      ZUMI_ERR_INVALID_INDEX),
              messageOf<ZumiException>([&] { hash.getString("owner"); }));

    // The status is unsigned, the index signed.
    bus().hooks.hasharrayGetInt = [](ZumiHasharrayHandleStruct*, int, const char*, int*) {
        return static_cast<ZumiStatus>(4000000000u);
    };
    EXPECT_EQ(failure("ZumiHasharrayGetInt method failed. --index: -1 --key: k", 4000000000u),
              messageOf<ZumiException>([&] { (*array)[-1].getInt("k"); }));

    bus().failNext("ZumiHasharrayAddHash", ZUMI_ERR_NO_MEMORY);
    EXPECT_EQ(failure("ZumiHasharrayAddHash method failed.", ZUMI_ERR_NO_MEMORY),
              messageOf<ZumiException>([&] { array->addNewHash(); }));
}

TEST_F(AHash, RefusesNullKeysBeforeNullValuesAndBeforeAnyBusCall) {
    ZumiHashList& hash = (*array)[0];
    size_t callsBefore = bus().calls().size();
    auto refusal = [](auto operation) { return messageOf<std::invalid_argument>(operation); };
    EXPECT_EQ("key argument was NULL", refusal([&] { hash.getInt(nullptr); }));
    EXPECT_EQ("key argument was NULL", refusal([&] { hash.putInt(nullptr, 1); }));
    EXPECT_EQ("key argument was NULL", refusal([&] { hash.getString(nullptr); }));
    EXPECT_EQ("key argument was NULL", refusal([&] { hash.putString(nullptr, nullptr); }));
    EXPECT_EQ("value argument was NULL", refusal([&] { hash.putString("k", nullptr); }));
    EXPECT_EQ(callsBefore, bus().calls().size());
}

}  // namespace
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
