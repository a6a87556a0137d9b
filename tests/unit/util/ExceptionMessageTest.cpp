#include "util/ExceptionMessage.h"

#include <gtest/gtest.h>

#include "platform/ZumiBus.h"

using veltra::kesh::util::ExceptionMessage;

namespace {

TEST(AnExceptionMessage, JoinsTheHeadlineAndEachFieldWithItsSeparator) {
    std::string message = ExceptionMessage("Could not set the request property.")
                              .field("source", "s")
                              .field("property", "p")
                              .field("value", -1)
                              .status(5)
                              .str();
    EXPECT_EQ(std::string("Could not set the request property. --source: s --property: p"
                          " --value: -1 --errorCode: 5 --error: ") +
                  ZumiGetErrorString(5),
              message);
}

TEST(AnExceptionMessage, ShowsTheStatusCodeUnsigned) {
    std::string message = ExceptionMessage("H.").status(0xFFFFFFFFu).str();
    EXPECT_EQ(std::string("H. --errorCode: 4294967295 --error: ") + ZumiGetErrorString(0xFFFFFFFFu),
              message);
}

TEST(AnExceptionMessage, WritesANullTextAsNullInParentheses) {
    EXPECT_EQ("H. --source: (null)", ExceptionMessage("H.").field("source", nullptr).str());
}

}  // namespace
