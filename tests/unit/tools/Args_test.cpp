#include <gtest/gtest.h>

#include "Args.h"

namespace zumi {
namespace tool {
namespace {

const std::vector<OptionSpec> SEND_OPTIONS = {{"as", true}, {"int", true}, {"hash", false}};

std::string usageError(const std::vector<std::string>& argv) {
    try {
        Args args(argv, SEND_OPTIONS);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(AnArgumentParser, KeepsNegativeNumbersAndSingleDashesAsValues) {
    Args args({"svc", "-5", "-", "--int", "-7"}, SEND_OPTIONS);
    EXPECT_EQ((std::vector<std::string>{"svc", "-5", "-"}), args.positionals());
    EXPECT_EQ("-7", args.value("int"));
}

TEST(AnArgumentParser, KeepsRepeatedValuesInCommandLineOrderInEitherSpelling) {
    Args args({"--int=3", "ev", "--int", "1", "--int=", "--hash"}, SEND_OPTIONS);
    EXPECT_EQ((std::vector<std::string>{"3", "1", ""}), args.values("int"));
    EXPECT_EQ("", args.value("int"));
    EXPECT_TRUE(args.has("hash"));
    EXPECT_FALSE(args.has("as"));
    EXPECT_EQ("fallback", args.value("as", "fallback"));
    EXPECT_EQ((std::vector<std::string>{"ev"}), args.positionals());
}

TEST(AnArgumentParser, TakesEverythingAfterTheDoubleDashAsPositionals) {
    Args args({"--", "--help", "--int"}, SEND_OPTIONS);
    EXPECT_FALSE(args.helpWanted());
    EXPECT_EQ((std::vector<std::string>{"--help", "--int"}), args.positionals());
}

TEST(AnArgumentParser, SeesHelpAnywhereInBothSpellings) {
    EXPECT_TRUE(Args({"a", "--help"}, SEND_OPTIONS).helpWanted());
    EXPECT_TRUE(Args({"-h", "a"}, SEND_OPTIONS).helpWanted());
}

TEST(AnArgumentParser, NamesEachMistakeInOneLine) {
    EXPECT_EQ("unknown option --bogus", usageError({"--bogus"}));
    EXPECT_EQ("unknown option --in", usageError({"--in=3"}));
    EXPECT_EQ("option --int needs a value", usageError({"ev", "--int"}));
    EXPECT_EQ("option --hash takes no value", usageError({"--hash=1"}));
}

TEST(AnArgumentParser, ChecksTheNumberOfPositionalsByName) {
    std::vector<std::string> names = {"SERVICE", "PROPERTY", "VALUE"};
    auto check = [&](std::vector<std::string> argv) -> std::string {
        try {
            Args(argv, SEND_OPTIONS).expectPositionals(names, 2);
        } catch (const UsageError& e) {
            return e.what();
        }
        return "(accepted)";
    };
    EXPECT_EQ("missing SERVICE", check({}));
    EXPECT_EQ("missing PROPERTY", check({"svc"}));
    EXPECT_EQ("(accepted)", check({"svc", "p"}));
    EXPECT_EQ("(accepted)", check({"svc", "p", "v"}));
    EXPECT_EQ("unexpected argument 'extra'", check({"svc", "p", "v", "extra"}));
}

TEST(AnIntegerArgument, AcceptsExactlyTheWholeIntRange) {
    EXPECT_EQ(-2147483647 - 1, parseInt("-2147483648", "VALUE"));
    EXPECT_EQ(2147483647, parseInt("2147483647", "VALUE"));
    EXPECT_EQ(0, parseInt("-0", "VALUE"));
    auto message = [](const char* text) -> std::string {
        try {
            parseInt(text, "--int");
        } catch (const UsageError& e) {
            return e.what();
        }
        return "(accepted)";
    };
    EXPECT_EQ("--int must be an integer, not '12x'", message("12x"));
    EXPECT_EQ("--int must be an integer, not ''", message(""));
    EXPECT_EQ("--int must be an integer, not ' 5'", message(" 5"));
    EXPECT_EQ("--int must be an integer, not '+5'", message("+5"));
    EXPECT_EQ("--int is out of range: 2147483648", message("2147483648"));
    EXPECT_EQ("--int is out of range: -99999999999999999999", message("-99999999999999999999"));
}

TEST(ASecondsArgument, AcceptsFractionsButNoNegativeOrEndlessValue) {
    EXPECT_DOUBLE_EQ(0.25, parseSeconds("0.25", "--timeout"));
    EXPECT_DOUBLE_EQ(0.0, parseSeconds("0", "--timeout"));
    for (const char* bad : {"-1", "nan", "inf", "1s", ""}) {
        EXPECT_THROW(parseSeconds(bad, "--timeout"), UsageError) << bad;
    }
}

}  // namespace
}  // namespace tool
}  // namespace zumi
