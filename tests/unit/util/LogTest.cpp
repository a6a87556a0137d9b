#include "util/Log.h"

#include "ZumiTest.h"

using veltra::kesh::util::LogLevel;
using veltra::kesh::util::logLine;

namespace zumi {
namespace testing {

class ALogLine : public ZumiTest {};

TEST_F(ALogLine, CarriesTheApplicationIdTheTagAndTheArgumentsInTheGivenFormat) {
    const char* savedId = APP_ID;
    APP_ID = "app";
    logLine(LogLevel::W, "Some.tag", "W %s:%s:value=%d,text=%s:", -3, "abc");
    APP_ID = savedId;

    ASSERT_EQ(1u, logs().lines().size());
    EXPECT_EQ(4, logs().lines()[0].priority);
    EXPECT_EQ("W %s:%s:value=%d,text=%s:", logs().lines()[0].format);
    EXPECT_EQ("W app:Some.tag:value=-3,text=abc:", logs().lines()[0].text);
}

TEST_F(ALogLine, UsesTheSyslogPriorityOfItsLevel) {
    logLine(LogLevel::E, "t", "E %s:%s:e:");
    logLine(LogLevel::W, "t", "W %s:%s:w:");
    logLine(LogLevel::I, "t", "I %s:%s:i:");
    logLine(LogLevel::D, "t", "D %s:%s:d:");

    std::vector<int> priorities;
    for (const LogLine& line : logs().lines()) priorities.push_back(line.priority);
    EXPECT_EQ((std::vector<int>{3, 4, 5, 7}), priorities);
}

TEST_F(ALogLine, IsWrittenOnlyWhenItsMaskBitIsSetAtTheMomentOfTheCall) {
    const struct {
        LogLevel level;
        unsigned int bit;
    } levels[] = {{LogLevel::E, 0x02000000u},
                  {LogLevel::W, 0x01000000u},
                  {LogLevel::I, 0x00800000u},
                  {LogLevel::D, 0x00008000u}};
    for (const auto& level : levels) {
        logs().clear();
        setLogMask(~level.bit);
        logLine(level.level, "t", "X %s:%s:off:");
        setLogMask(level.bit);
        logLine(level.level, "t", "X %s:%s:on:");
        ASSERT_EQ(1u, logs().lines().size());
        EXPECT_EQ("X %s:%s:on:", logs().lines()[0].format);
    }
}

}  // namespace testing
}  // namespace zumi
