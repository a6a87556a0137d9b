// The byte format of hash arrays and event parameters: what decodes, what
// is refused, and that no prefix of a valid message is taken for a whole one.

#include <vector>

#include <gtest/gtest.h>

#include "dbus/WireFormat.h"
#include "platform/ZumiBus.h"

namespace zumi::bus {
namespace {

HashArray sample() {
    HashArray array;
    array.hashes.resize(3);
    array.hashes[0]["number"].number = -7;
    array.hashes[0]["text"].isString = true;
    array.hashes[0]["text"].text = "h\xc3\xa9llo";
    array.hashes[2][""].number = 2147483647;  // an empty key is a key
    return array;
}

TEST(AHashArrayEncoding, DecodesToAnEqualArrayAndRejectsEveryTruncation) {
    std::vector<uint8_t> bytes;
    ASSERT_EQ(0u, encodeHashArray(sample(), &bytes));
    HashArray decoded;
    ASSERT_EQ(0u, decodeHashArray(bytes.data(), bytes.size(), &decoded));
    EXPECT_EQ(sample().hashes, decoded.hashes);
    EXPECT_FALSE(decoded.readOnly);
    for (size_t length = 0; length < bytes.size(); ++length) {
        EXPECT_EQ(ZUMI_ERR_PROTOCOL, decodeHashArray(bytes.data(), length, &decoded)) << length;
    }
    bytes.push_back(0);
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, decodeHashArray(bytes.data(), bytes.size(), &decoded));
}

TEST(AHashArrayEncoding, RefusesDuplicateKeysNulBytesAndCountsOverTheLimits) {
    // One hash with the key "k" twice.
    const uint8_t twice[] = {1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 'k', 0, 1, 0, 0, 0, 1, 0, 0, 0, 'k', 0, 2, 0, 0, 0};
    HashArray decoded;
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, decodeHashArray(twice, sizeof twice, &decoded));
    const uint8_t nulInKey[] = {1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 'k', 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, decodeHashArray(nulInKey, sizeof nulInKey, &decoded));
    const uint8_t manyHashes[] = {0xa1, 0x86, 0x01, 0x00};  // 100001
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, decodeHashArray(manyHashes, sizeof manyHashes, &decoded));
    const uint8_t longText[] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'k', 1, 0x01, 0x00, 0x10, 0x00};
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, decodeHashArray(longText, sizeof longText, &decoded));

    HashArray big;
    big.hashes.resize(1);
    big.hashes[0]["k"].isString = true;
    big.hashes[0]["k"].text.assign(kMaxTextBytes + 1, 'x');
    std::vector<uint8_t> bytes;
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, encodeHashArray(big, &bytes));
    big.hashes[0]["k"].text.resize(kMaxTextBytes);
    EXPECT_EQ(0u, encodeHashArray(big, &bytes));
}

TEST(AnEventParameterEncoding, KeepsIntegersAndTextsInOrder) {
    const int ints[] = {3, -1, 0};
    const char* texts[] = {"one", "", "three"};
    std::vector<uint8_t> bytes;
    ASSERT_EQ(0u, encodeEventParams(ints, 3, texts, 3, &bytes));
    EventParams params;
    ASSERT_EQ(0u, decodeEventParams(bytes.data(), bytes.size(), &params));
    EXPECT_EQ((std::vector<int>{3, -1, 0}), params.ints);
    EXPECT_EQ((std::vector<std::string>{"one", "", "three"}), params.texts);
    for (size_t length = 0; length < bytes.size(); ++length) {
        EXPECT_NE(0u, decodeEventParams(bytes.data(), length, &params)) << length;
    }
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, encodeEventParams(nullptr, 1, nullptr, 0, &bytes));
    const char* withNull[] = {"a", nullptr};
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, encodeEventParams(nullptr, 0, withNull, 2, &bytes));
    std::vector<int> tooMany(kMaxEventParams + 1);
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, encodeEventParams(tooMany.data(), tooMany.size(), nullptr, 0, &bytes));
}

}  // namespace
}  // namespace zumi::bus
