#ifndef ZUMI_TESTS_UNIT_HANDLER_HANDLERTESTSUPPORT_H
#define ZUMI_TESTS_UNIT_HANDLER_HANDLERTESTSUPPORT_H

// A handler on the test double, with APP_ID fixed so that log lines can be
// compared whole. The opening of its connection is forgotten by the double.

#include <gmock/gmock.h>

#include <memory>
#include <string>

#include <zumi/ZumiException.h>

#include "ZumiTest.h"
#include "handler/VimoZumiHandler.h"

namespace zumi {
namespace testing {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using veltra::kesh::zumi::VimoZumiHandler;
using veltra::kesh::zumi::ZumiException;

class AHandler : public ZumiTest {
protected:
    void SetUp() override {
        ZumiTest::SetUp();
        setAppId("app");
        handler.reset(new VimoZumiHandler("com.app"));
        bus().reset();
    }
    void TearDown() override {
        handler.reset();
        ZumiTest::TearDown();
    }
    // " --errorCode: <status> --error: <its text>"
    static std::string statusFields(ZumiStatus status) {
        return " --errorCode: " + std::to_string(status) + " --error: " + ZumiGetErrorString(status);
    }

    std::unique_ptr<VimoZumiHandler> handler;
};

}  // namespace testing
}  // namespace zumi

#endif
