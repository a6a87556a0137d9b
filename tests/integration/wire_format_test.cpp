// Hash arrays and event parameters in D-Bus's own types: what reads back
// equal, what a sender is refused before anything is sent, and what a reader
// refuses when a peer sends it.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "WireMessages.h"
#include "dbus/WireFormat.h"
#include <libzumi/ZumiBus.h>

namespace zumi::bus {
namespace {

class Message {
public:
    explicit Message(WireMessages& kit) : m(kit.make()) {}
    ~Message() { sd_bus_message_unref(m); }
    sd_bus_message* m;
};

class TheWireFormat : public ::testing::Test {
protected:
    // A message holding what `append` appended, sealed for reading.
    template <typename Append>
    sd_bus_message* sealed(Append append) {
        m_messages.emplace_back(new Message(m_kit));
        sd_bus_message* message = m_messages.back()->m;
        EXPECT_NE(nullptr, message);
        EXPECT_LE(0, append(message));
        EXPECT_TRUE(WireMessages::seal(message));
        return message;
    }
    // aa{sv} with one hash holding `key` = the variant (signature, value).
    template <typename Value>
    sd_bus_message* oneEntry(const char* key, const char* signature, Value value) {
        return sealed([&](sd_bus_message* m) {
            return sd_bus_message_append(m, "aa{sv}", 1, 1, key, signature, value);
        });
    }

    WireMessages m_kit;
    std::vector<std::unique_ptr<Message>> m_messages;
};

TEST_F(TheWireFormat, CarriesAHashArrayAsAnArrayOfStringToVariantDictionariesThatReadsBackEqual) {
    HashArray sent, read;
    sent.hashes.resize(3);
    sent.hashes[0]["number"].number = -7;
    sent.hashes[0]["text"].isString = true;
    sent.hashes[0]["text"].text = "h\xc3\xa9llo";
    sent.hashes[2][""].number = 2147483647;  // an empty key is a key; hash 1 is empty
    ASSERT_EQ(ZUMI_OK, checkHashArray(sent));
    sd_bus_message* message = sealed([&](sd_bus_message* m) { return appendHashArray(m, sent); });
    EXPECT_STREQ("aa{sv}", sd_bus_message_get_signature(message, 1));
    ASSERT_EQ(ZUMI_OK, readHashArray(message, &read));
    EXPECT_EQ(sent.hashes, read.hashes);
    EXPECT_FALSE(read.readOnly);

    // What any client would send: the variant's type says integer or text.
    message = oneEntry("k", "s", "v");
    ASSERT_EQ(ZUMI_OK, readHashArray(message, &read));
    ASSERT_EQ(1u, read.hashes.size());
    EXPECT_TRUE(read.hashes[0]["k"].isString);
    EXPECT_EQ("v", read.hashes[0]["k"].text);
}

TEST_F(TheWireFormat, RefusesToSendAHashArrayOverTheLimitsOrWithTextsThatAreNotUtf8) {
    HashArray array;
    array.hashes.resize(1);
    HashArray::Value& value = array.hashes[0]["text"];
    value.isString = true;
    value.text.assign(kMaxTextBytes + 1, 'x');
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, checkHashArray(array));
    value.text.resize(kMaxTextBytes);
    EXPECT_EQ(ZUMI_OK, checkHashArray(array));
    value.text = "caf\xe9";  // Latin-1
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, checkHashArray(array));
    value.text = std::string("a\0b", 3);
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, checkHashArray(array));
    value.text = "fine";
    array.hashes[0][std::string(kMaxKeyBytes + 1, 'k')].number = 1;
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, checkHashArray(array));
    array.hashes.assign(kMaxHashes + 1, HashArray::Hash());
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, checkHashArray(array));
    // Many texts each within the limit, together over what one message may hold.
    array.hashes.assign(20, HashArray::Hash());
    for (HashArray::Hash& hash : array.hashes) {
        hash["t"].isString = true;
        hash["t"].text.assign(kMaxTextBytes, 'y');
    }
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, checkHashArray(array));
}

TEST_F(TheWireFormat, RefusesHashArraysOfAnotherShapeDuplicateKeysAndOversizesFromAPeer) {
    HashArray read;
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, readHashArray(oneEntry("k", "u", 5u), &read));
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, readHashArray(oneEntry("k", "x", int64_t{5}), &read));
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, readHashArray(sealed([](sd_bus_message* m) {
                  return sd_bus_message_append(m, "aa{sv}", 1, 2, "k", "i", 1, "k", "i", 2);
              }), &read));
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, readHashArray(sealed([](sd_bus_message* m) {
                  return sd_bus_message_append(m, "a{sv}", 1, "k", "i", 1);
              }), &read));
    const std::string longKey(kMaxKeyBytes + 1, 'k');
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, readHashArray(oneEntry(longKey.c_str(), "i", 1), &read));
    const std::string longText(kMaxTextBytes + 1, 't');
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, readHashArray(oneEntry("k", "s", longText.c_str()), &read));
    sd_bus_message* wide = sealed([](sd_bus_message* m) {
        int r = sd_bus_message_open_container(m, 'a', "a{sv}");
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
        for (size_t i = 0; r >= 0 && i <= kMaxEntriesPerHash; ++i) {
            r = sd_bus_message_append(m, "{sv}", std::to_string(i).c_str(), "i", 0);
        }
        if (r >= 0) r = sd_bus_message_close_container(m);
        return r < 0 ? r : sd_bus_message_close_container(m);
    });
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, readHashArray(wide, &read));
    sd_bus_message* tall = sealed([](sd_bus_message* m) {
        int r = sd_bus_message_open_container(m, 'a', "a{sv}");
        for (size_t i = 0; r >= 0 && i <= kMaxHashes; ++i) r = sd_bus_message_append(m, "a{sv}", 0);
        return r < 0 ? r : sd_bus_message_close_container(m);
    });
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, readHashArray(tall, &read));
}

TEST_F(TheWireFormat, CarriesEventParametersAsIntegersThenStringsInOrder) {
    const int ints[] = {3, -1, 0};
    const char* texts[] = {"one", "", "thr\xc3\xa9\x65"};
    const EventParamsView view = {ints, 3, texts, 3};
    ASSERT_EQ(ZUMI_OK, checkEventParams(view));
    sd_bus_message* message = sealed([&](sd_bus_message* m) { return appendEventParams(m, view); });
    EXPECT_STREQ("aias", sd_bus_message_get_signature(message, 1));
    EventParams params;
    ASSERT_EQ(ZUMI_OK, readEventParams(message, &params));
    EXPECT_EQ((std::vector<int>{3, -1, 0}), params.ints);
    EXPECT_EQ((std::vector<std::string>{"one", "", "thr\xc3\xa9\x65"}), params.texts);

    const EventParamsView none = {nullptr, 0, nullptr, 0};
    message = sealed([&](sd_bus_message* m) { return appendEventParams(m, none); });
    ASSERT_EQ(ZUMI_OK, readEventParams(message, &params));
    EXPECT_TRUE(params.ints.empty() && params.texts.empty());
}

TEST_F(TheWireFormat, RefusesEventParametersThatAreNullTooManyOrNotUtf8) {
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, checkEventParams({nullptr, 1, nullptr, 0}));
    const char* withNull[] = {"a", nullptr};
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, checkEventParams({nullptr, 0, withNull, 2}));
    const char* latin1[] = {"caf\xe9"};
    EXPECT_EQ(ZUMI_ERR_INVALID_ARGUMENT, checkEventParams({nullptr, 0, latin1, 1}));
    std::vector<int> tooMany(kMaxEventParams + 1);
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, checkEventParams({tooMany.data(), tooMany.size(), nullptr, 0}));
    const std::string longText(kMaxTextBytes + 1, 't');
    const char* tooLong[] = {longText.c_str()};
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, checkEventParams({nullptr, 0, tooLong, 1}));

    EventParams params;
    sd_bus_message* many = sealed([&](sd_bus_message* m) {
        int r = sd_bus_message_append_array(m, 'i', tooMany.data(), tooMany.size() * sizeof(int));
        return r < 0 ? r : sd_bus_message_append(m, "as", 0);
    });
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, readEventParams(many, &params));
    sd_bus_message* manyTexts = sealed([&](sd_bus_message* m) {
        int r = sd_bus_message_append(m, "ai", 0);
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "s");
        for (size_t i = 0; r >= 0 && i <= kMaxEventParams; ++i) r = sd_bus_message_append(m, "s", "x");
        return r < 0 ? r : sd_bus_message_close_container(m);
    });
    EXPECT_EQ(ZUMI_ERR_TOO_LARGE, readEventParams(manyTexts, &params));
    sd_bus_message* shape = sealed([](sd_bus_message* m) { return sd_bus_message_append(m, "aiai", 1, 1, 1, 2); });
    EXPECT_EQ(ZUMI_ERR_PROTOCOL, readEventParams(shape, &params));
}

}  // namespace
}  // namespace zumi::bus
