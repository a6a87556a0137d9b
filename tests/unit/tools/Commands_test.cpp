// The zumi command's exit statuses and one-line mistakes, and the hash-array
// JSON reader's refusals; the commands' work is tested end to end elsewhere.

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "Commands.h"
#include "Json.h"
#include "Traffic.h"
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
         "zumi set: invalid hash array JSON: hash 0, key \"a\": only integers and strings fit a hash value, not 1.5"},
        {2, {"send", "--as=", "ev"}, "zumi send: --as needs a service name (see zumi send --help)"},
        {2, {"wait", "--timeout", "5000000", "s", "e"},
         "zumi wait: --timeout is at most 2592000 seconds (30 days) (see zumi wait --help)"},
        {2, {"list", "a", "b"}, "zumi list: unexpected argument 'b' (see zumi list --help)"},
        {1, {"list", "com.example.absent"},
         "zumi: Could not list the properties. --source: com.example.absent --errorCode: 5 "
         "--error: No service owns that identifier"},
        {3, {"wait", "--timeout", "0.05", "s", "e"}, "zumi wait: timed out"},
        {2, {"policy", "com.example.audio"}, "zumi policy: missing --owner USER (see zumi policy --help)"},
        {2, {"policy", "audio", "--owner", "a"}, "zumi policy: 'audio' is not a bus name (see zumi policy --help)"},
        {2, {"policy", "com.example.audio", "--owner", "a", "--writer", "x\"/><allow own=\"*"},
         "zumi policy: 'x\"/><allow own=\"*' is not a group name (see zumi policy --help)"},
        {2, {"help", "frob"}, "zumi: unknown command 'frob' (see zumi --help)"},
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

TEST_F(AZumiCommand, GivesTheSameHelpForHelpCommandAsForCommandHelp) {
    for (const Command* command : allCommands()) {
        std::ostringstream viaHelp, viaOption, err;
        EXPECT_EQ(0, runTool({"help", command->name}, viaHelp, err));
        EXPECT_EQ(0, runTool({command->name, "--help"}, viaOption, err));
        EXPECT_EQ(viaOption.str(), viaHelp.str()) << command->name;
        EXPECT_EQ(command->help, viaHelp.str());
    }
}

// The installed policies are the table's output, never edited apart from it.
TEST(TheInstalledPolicies, AreWhatZumiPolicyPrints) {
    const struct {
        const char* file;
        std::vector<std::string> argv;
    } policies[] = {
        {ZUMI_BASE_POLICY, {"policy", "--base"}},
        {ZUMI_EXAMPLE_POLICY,
         {"policy", "com.tessal.example.settings", "--owner", "zumi-settings", "--writer", "zumi-settings-writers"}},
    };
    for (const auto& policy : policies) {
        std::ifstream file(policy.file);
        std::stringstream installed;
        installed << file.rdbuf();
        std::ostringstream out, err;
        EXPECT_EQ(0, runTool(policy.argv, out, err)) << err.str();
        EXPECT_EQ(installed.str(), out.str()) << policy.file << " is no longer what zumi policy prints";
    }
}

// "--" ends nothing in XML but may not stand inside a comment: a daemon would
// refuse the whole file, while bus names and user names may hold it.
TEST(AServicesPolicy, KeepsItsCommentWellFormedAndItsRulesExactWhateverTheNames) {
    std::ostringstream out, err;
    ASSERT_EQ(0, runTool({"policy", "com.tessal.odd--name", "--owner", "svc--user"}, out, err)) << err.str();
    const std::string text = out.str();
    const size_t open = text.find("<!--"), close = text.find("-->", open + 4);
    ASSERT_NE(std::string::npos, close) << text;
    EXPECT_EQ(std::string::npos, text.substr(open + 4, close - open - 4).find("--")) << text;
    EXPECT_NE(std::string::npos, text.find("<policy user=\"svc--user\">\n    <allow own=\"com.tessal.odd--name\"/>"));
}

TEST(AHashListReader, RejectsEverythingOutsideTheShapeNamingWhereItIs) {
    const std::pair<const char*, const char*> cases[] = {
        {"{}", "expected a list of hashes, not an object"},
        {"[{}, 3]", "hash 1 is a number, not an object"},
        {"[{},]", "parse error at line 1, column 5: syntax error while parsing value - unexpected ']'; "
                  "expected '[', '{', or a literal"},
        {"[{}, {\"a\": 1, \"a\": 2}]", "hash 1: duplicate key \"a\""},
        {"[{\"\": 1}]", "hash 0: a key cannot be empty"},
        {"[{\"a\": true}]", "hash 0, key \"a\": only integers and strings fit a hash value, not true"},
        {"[{\"a\": {\"b\": 1}}]", "hash 0, key \"a\": only integers and strings fit a hash value, not {\"b\":1}"},
        {"[{\"a\": 2147483648}]", "hash 0, key \"a\": 2147483648 does not fit in 32 bits"},
        {"[{\"a\": -2147483649}]", "hash 0, key \"a\": -2147483649 does not fit in 32 bits"},
        {"[{\"a\": \"\\u0000\"}]", "hash 0, key \"a\": a string cannot hold \\u0000"},
        {"[] x", "parse error at line 1, column 4: syntax error while parsing value - invalid literal; "
                 "last read: '[] x'; expected end of input"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, zumi::testing::thrownMessage<JsonError>([&] { parseHashList(c.first); }))
            << c.first;
    }
}

// A recording made on the 32-bit device after January 2038 must not carry a
// date from 1901: the build gives 32-bit targets a 64-bit time_t.
TEST(ARecordingsTimestamp, IsTheDateItWasTakenOnBeforeAndAfter2038) {
    EXPECT_EQ("2038-01-19T03:14:07.000001Z", isoTime(2147483647LL * 1000000 + 1));
    EXPECT_EQ("2038-01-19T03:14:08.500000Z", isoTime(2147483648LL * 1000000 + 500000));
    EXPECT_EQ("2100-01-01T00:00:00.250000Z", isoTime(4102444800LL * 1000000 + 250000));
}

}  // namespace
}  // namespace tool
}  // namespace zumi
