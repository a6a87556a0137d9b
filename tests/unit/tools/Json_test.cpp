#include <gtest/gtest.h>

#include "Json.h"

namespace zumi {
namespace tool {
namespace {

TEST(AHashListReader, ReadsIntegersAndStringsIncludingTheIntLimits) {
    HashList list = parseHashList(
        " [ {\"low\": -2147483648, \"high\": 2147483647, \"name\": \"disk\"},\n\t{} ] ");
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(HashValue::ofInt(-2147483648), list[0].at("low"));
    EXPECT_EQ(HashValue::ofInt(2147483647), list[0].at("high"));
    EXPECT_EQ(HashValue::ofString("disk"), list[0].at("name"));
    EXPECT_TRUE(list[1].empty());
    EXPECT_TRUE(parseHashList("[]").empty());
}

TEST(AHashListReader, KeepsAStringThatLooksLikeANumberAString) {
    HashList list = parseHashList("[{\"a\": \"7\", \"b\": 7}]");
    EXPECT_TRUE(list[0].at("a").isString);
    EXPECT_FALSE(list[0].at("b").isString);
}

TEST(AHashListReader, DecodesEscapesIntoUtf8) {
    HashList list = parseHashList(
        "[{\"s\": \"q\\\"b\\\\s\\/n\\nt\\t\\u00e9\\u20ac\\ud83d\\ude00\"}]");
    EXPECT_EQ("q\"b\\s/n\nt\t\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", list[0].at("s").text);
}

struct Rejection {
    const char* text;
    const char* message;
    size_t offset;
};

TEST(AHashListReader, RejectsEverythingOutsideTheShapeNamingTheOffset) {
    const Rejection cases[] = {
        {"", "expected '[' to start the list of hashes", 0},
        {"{}", "expected '[' to start the list of hashes", 0},
        {"[1]", "expected '{' to start a hash", 1},
        {"[{}", "expected ',' or ']' after a hash", 3},
        {"[{},]", "expected '{' to start a hash", 4},
        {"[{}] x", "unexpected text after the list", 5},
        {"[{\"a\": 1,}]", "expected a string key", 9},
        {"[{a: 1}]", "expected a string key", 2},
        {"[{\"\": 1}]", "a key cannot be empty", 2},
        {"[{\"a\" 1}]", "expected ':' after a key", 6},
        {"[{\"a\": 1, \"a\": 2}]", "duplicate key \"a\"", 10},
        {"[{\"a\": {}}]", "expected an integer or a string value", 7},
        {"[{\"a\": [1]}]", "expected an integer or a string value", 7},
        {"[{\"a\": true}]", "expected an integer or a string value", 7},
        {"[{\"a\": null}]", "expected an integer or a string value", 7},
        {"[{\"a\": -}]", "expected an integer or a string value", 7},
        {"[{\"a\": 1.5}]", "only integers fit a hash value", 7},
        {"[{\"a\": 1e3}]", "only integers fit a hash value", 7},
        {"[{\"a\": 01}]", "an integer cannot have a leading zero", 7},
        {"[{\"a\": 2147483648}]", "integer out of range", 7},
        {"[{\"a\": -2147483649}]", "integer out of range", 7},
        {"[{\"a\": 99999999999999999999}]", "integer out of range", 7},
        {"[{\"a\": \"x}]", "unterminated string", 11},
        {"[{\"a\": \"x\ny\"}]", "control character in a string", 9},
        {"[{\"a\": \"\\x\"}]", "invalid escape", 8},
        {"[{\"a\": \"\\u12\"}]", "invalid \\u escape", 8},
        {"[{\"a\": \"\\u0000\"}]", "a string cannot hold \\u0000", 8},
        {"[{\"a\": \"\\ud83d\"}]", "unpaired surrogate", 8},
        {"[{\"a\": \"\\ude00\"}]", "unpaired surrogate", 8},
        {"[{\"a\": 1 \"b\": 2}]", "expected ',' or '}' after a value", 9},
    };
    for (const Rejection& c : cases) {
        try {
            parseHashList(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const JsonError& e) {
            EXPECT_EQ(std::string(c.message) + " at offset " + std::to_string(c.offset), e.what())
                << "input: " << c.text;
            EXPECT_EQ(c.offset, e.offset()) << "input: " << c.text;
        }
    }
}

TEST(AHashListWriter, WritesSortedKeysThatReadBackToTheSameList) {
    HashList list(2);
    list[0]["zeta"] = HashValue::ofInt(-1);
    list[0]["alpha"] = HashValue::ofString("a \"b\"\n\x01\x7f\xC3\xA9");
    std::string text = writeHashList(list);
    EXPECT_EQ("[{\"alpha\": \"a \\\"b\\\"\\n\\u0001\\u007f\xC3\xA9\", \"zeta\": -1}, {}]", text);
    EXPECT_EQ(list, parseHashList(text));
    EXPECT_EQ("[]", writeHashList(HashList()));
}

TEST(AStringQuote, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ("\"\"", quoteString(""));
    EXPECT_EQ("\"tab\\there\\\\ \\r\\b\\f\"", quoteString("tab\there\\ \r\b\f"));
}

}  // namespace
}  // namespace tool
}  // namespace zumi
