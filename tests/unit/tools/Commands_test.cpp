// The zumi command's exit statuses and one-line mistakes, and the hash-array
// JSON reader's refusals; the commands' work is tested end to end elsewhere.

#include <sstream>

#include <gtest/gtest.h>

#include "Commands.h"
#include "Json.h"
#include "ZumiTest.h"

namespace zumi {
namespace tool {
namespace {

class AZumiCommand : public zumi::testing::ZumiTest {};

TEST_F(AZumiCommand, AnswersEachMistakeWithOneLineAndItsExitStatus) {
    struct Case {
        int status;
        std::vector<std::string> argv;
        std::string err;
    };
    const Case cases[] = {
        {2, {}, "zumi: missing COMMAND (see zumi --help)"},
        {2, {"frob"}, "zumi: unknown command 'frob' (see zumi --help)"},
        {2, {"get", "--int", "--hash", "s", "p"},
         "zumi get: give at most one of --int, --string, --hash (see zumi get --help)"},
        {2, {"set", "--int", "s", "p", "ten"},
         "zumi set: VALUE must be an integer, not 'ten' (see zumi set --help)"},
        {2, {"set", "--hash", "s", "p", "[{\"a\": 1.5}]"},
         "zumi set: invalid hash array JSON: only integers fit a hash value at offset 7"},
        {2, {"send", "--as=", "ev"}, "zumi send: --as needs a service name (see zumi send --help)"},
        {2, {"wait", "--timeout", "5000000", "s", "e"},
         "zumi wait: --timeout is at most 2592000 seconds (30 days) (see zumi wait --help)"},
        {2, {"list", "a", "b"}, "zumi list: unexpected argument 'b' (see zumi list --help)"},
        {1, {"list", "com.example.absent"},
         "Could not list the properties. --source: com.example.absent --errorCode: 5 "
         "--error: No service owns that identifier"},
        {1, {"wait", "--timeout", "0.05", "s", "e"}, "timed out"},
    };
    for (const Case& c : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(c.status, runTool(c.argv, out, err)) << c.err;
        EXPECT_EQ(c.err + "\n", err.str());
        EXPECT_EQ("", out.str()) << c.err;
    }
    EXPECT_EQ(0u, bus().liveArrays());
    EXPECT_EQ(0u, bus().liveStrings());
}

TEST(AHashListReader, RejectsEverythingOutsideTheShapeNamingTheOffset) {
    const std::pair<const char*, const char*> cases[] = {
        {"{}", "expected '[' to start the list of hashes at offset 0"},
        {"[{},]", "expected '{' to start a hash at offset 4"},
        {"[{\"a\": 1, \"a\": 2}]", "duplicate key \"a\" at offset 10"},
        {"[{\"a\": true}]", "expected an integer or a string value at offset 7"},
        {"[{\"a\": 2147483648}]", "integer out of range at offset 7"},
        {"[{\"a\": \"x\ny\"}]", "control character in a string at offset 9"},
        {"[{\"a\": \"\\u0000\"}]", "a string cannot hold \\u0000 at offset 8"},
        {"[{\"a\": \"\\ud83d\"}]", "unpaired surrogate at offset 8"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, zumi::testing::thrownMessage<JsonError>([&] { parseHashList(c.first); }))
            << c.first;
    }
}

}  // namespace
}  // namespace tool
}  // namespace zumi
