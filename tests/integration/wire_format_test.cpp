// The byte format of hash arrays and event parameters: what decodes, what
// is refused, and that no prefix of a valid message is taken for a whole one.

#include <vector>

#include <gtest/gtest.h>

#include "dbus/WireFormat.h"
#include <libzumi/ZumiBus.h>

namespace zumi::bus {
namespace {

typedef std::vector<uint8_t> Bytes;

TEST(AHashArrayEncoding, DecodesToAnEqualArrayAndRefusesTruncationsDuplicatesNulBytesAndOversizes) {
    HashArray sent, decoded;
    sent.hashes.resize(3);
    sent.hashes[0]["number"].number = -7;
    sent.hashes[0]["text"].isString = true;
    sent.hashes[0]["text"].text = "h\xc3\xa9llo";
    sent.hashes[2][""].number = 2147483647;  // an empty key is a key
    Bytes bytes;
    ASSERT_EQ(0u, encodeHashArray(sent, &bytes));
    ASSERT_EQ(0u, decodeHashArray(bytes.data(), bytes.size(), &decoded));
    EXPECT_EQ(sent.hashes, decoded.hashes);
    EXPECT_FALSE(decoded.readOnly);
    for (size_t length = 0; length < bytes.size(); ++length) {
        EXPECT_EQ(ZUMI_ERR_PROTOCOL, decodeHashArray(bytes.data(), length, &decoded)) << length;
    }
    bytes.push_back(0);
    const struct {
        Bytes bytes;
        ZumiStatus status;
    } refused[] = {
        {bytes, ZUMI_ERR_PROTOCOL},  // a byte after the end
        // One hash with the key "k" twice.
        {{1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 'k', 0, 1, 0, 0, 0, 1, 0, 0, 0, 'k', 0, 2, 0, 0, 0}, ZUMI_ERR_PROTOCOL},
        {{1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 'k', 0, 0, 1, 0, 0, 0}, ZUMI_ERR_PROTOCOL},  // NUL in a key
        {{0xa1, 0x86, 0x01, 0x00}, ZUMI_ERR_TOO_LARGE},                                   // 100001 hashes
        {{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'k', 1, 0x01, 0x00, 0x10, 0x00}, ZUMI_ERR_TOO_LARGE},
    };
    for (const auto& r : refused) EXPECT_EQ(r.status, decodeHashArray(r.bytes.data(), r.bytes.size(), &decoded));
    sent.hashes[0]["text"].text.assign(kMaxTextBytes + 1, 'x');
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, encodeHashArray(sent, &bytes));
    sent.hashes[0]["text"].text.resize(kMaxTextBytes);
    EXPECT_EQ(0u, encodeHashArray(sent, &bytes));
}

TEST(AnEventParameterEncoding, KeepsIntegersAndTextsInOrder) {
    const int ints[] = {3, -1, 0};
    const char* texts[] = {"one", "", "three"};
    Bytes bytes;
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
