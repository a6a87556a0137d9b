#include "HandlerTestSupport.h"

namespace zumi {
namespace testing {

namespace {
const char NIMBO[] = "com.tessal.nimbo";
const char TITLERAIL[] = "com.tessal.titlerail";
const std::string READ_FAILED = "Could not retrieve the request property. --source: svc --property: p";
}  // namespace

class AHandlerUnderConstruction : public AHandler {
protected:
    void SetUp() override { ZumiTest::SetUp(); }
};

TEST_F(AHandlerUnderConstruction, RefusesANullIdentifierWithoutOpeningAConnection) {
    EXPECT_THAT([] { VimoZumiHandler handler(nullptr); },
                ThrowsMessage<std::invalid_argument>(StrEq("zumiID argument was NULL")));
    EXPECT_EQ(0u, bus().count("ZumiOpenEx"));
}

TEST_F(AHandlerUnderConstruction, FailsOnANullConnectionEvenWithStatusZero) {
    bus().hooks.openEx = [](const char*, ZumiStatus* status) -> ZumiHandle {
        *status = ZUMI_OK;
        return nullptr;
    };
    EXPECT_THAT([] { VimoZumiHandler handler("com.app"); },
                ThrowsMessage<ZumiException>(
                    StrEq("Could not register zumi handle." + statusFields(0))));
    EXPECT_THAT(logs().lines(), IsEmpty());
}

TEST_F(AHandlerUnderConstruction, ClosesAConnectionThatCameWithAFailureStatus) {
    bus().hooks.openEx = [this](const char* id, ZumiStatus* status) {
        *status = ZUMI_ERR_NAME_TAKEN;
        return bus().openConnection(id);
    };
    EXPECT_THAT([] { VimoZumiHandler handler("com.app"); },
                ThrowsMessage<ZumiException>(
                    StrEq("Could not register zumi handle." + statusFields(3))));
    EXPECT_EQ(1u, bus().count("ZumiClose"));
    EXPECT_EQ(0u, bus().openConnections());
}

TEST_F(AHandler, CopiesAReadTextAndReleasesTheBusCopyExactlyOnceOnEveryPath) {
    bus().setRemoteString("svc", "p", "hello");
    EXPECT_EQ("hello", handler->getStringProperty("svc", "p"));

    char* answer = nullptr;
    ZumiStatus status = ZUMI_OK;
    bus().hooks.getStringProperty = [&](ZumiHandle, const char*, const char*, char** text) {
        *text = answer;
        return status;
    };
    EXPECT_THAT([this] { handler->getStringProperty("svc", "p"); },
                ThrowsMessage<ZumiException>(StrEq(READ_FAILED + statusFields(0))));
    answer = bus().handOutString("stale");  // a text that comes with a failure
    status = ZUMI_ERR_TIMEOUT;
    EXPECT_THAT([this] { handler->getStringProperty("svc", "p"); },
                ThrowsMessage<ZumiException>(StrEq(READ_FAILED + statusFields(6))));
    EXPECT_EQ(0u, bus().liveStrings());
    EXPECT_EQ(0u, bus().invalidFrees());
}

TEST_F(AHandler, BuildsFailureMessagesWithSignedValuesUnsignedStatusesAndNullTexts) {
    bus().failNext("ZumiGetIntProperty", ZUMI_ERR_NO_SERVICE);
    EXPECT_THAT([this] { handler->getIntProperty("svc", "p"); },
                ThrowsMessage<ZumiException>(StrEq(READ_FAILED + statusFields(5))));
    bus().failNext("ZumiSetIntProperty", 0xFFFFFFFFu);
    EXPECT_THAT([this] { handler->setIntProperty("svc", "p", -1); },
                ThrowsMessage<ZumiException>(StrEq(
                    "Could not set the request property. --source: svc --property: p --value: -1"
                    " --errorCode: 4294967295 --error: " + std::string(ZumiGetErrorString(~0u)))));
    // The double refuses a null value with status 1.
    EXPECT_THAT([this] { handler->setStringProperty("svc", nullptr, nullptr); },
                ThrowsMessage<ZumiException>(StrEq("Could not set the request property. --source: "
                                                   "svc --property: (null) --value: (null)" +
                                                   statusFields(1))));
    EXPECT_THAT([this] { handler->sendEvent(nullptr); },
                ThrowsMessage<std::invalid_argument>(StrEq("eventName argument was NULL")));
    EXPECT_EQ(0u, bus().count("ZumiCreateAndSendEvent"));
    bus().failNext("ZumiCreateAndSendEvent", ZUMI_ERR_DISCONNECTED);
    EXPECT_THAT([this] { handler->sendEvent("ev"); },
                ThrowsMessage<ZumiException>(
                    StrEq("Could not send event. --event: ev" + statusFields(11))));
}

TEST_F(AHandler, LeavesAHashReplyToTheCallerEvenWhenTheReadFails) {
    bus().hooks.accessHasharrayProperty = [](ZumiHandle, const char*, const char*,
                                             ZumiHasharrayHandleStruct* sent,
                                             ZumiHasharrayHandleStruct** reply) {
        *reply = ZumiHasharrayNew(nullptr);
        return ZumiStatus(sent == nullptr ? ZUMI_ERR_FAILED : ZUMI_ERR_PROTOCOL);
    };
    ZumiHasharrayHandleStruct* result = nullptr;
    EXPECT_THAT([&] { handler->getHashProperty("svc", "p", result); },
                ThrowsMessage<ZumiException>(StrEq(READ_FAILED + statusFields(20))));
    EXPECT_TRUE(bus().isLiveArray(result));
    ZumiHasharrayDestroy(result);
}

// ---- The nimbo / titlerail string-set fallback ------------------------------

class AStringSetOnNimbo : public AHandler {
protected:
    std::vector<std::string> servicesCalled() {
        std::vector<std::string> services;
        for (const Call& call : bus().calls("ZumiSetStringProperty")) {
            EXPECT_EQ("p/v", call.name + "/" + call.text);
            services.push_back(call.source);
        }
        return services;
    }
};

TEST_F(AStringSetOnNimbo, SucceedsThroughTitlerailAfterOneErrorLine) {
    bus().failNext("ZumiSetStringProperty", ZUMI_ERR_NO_SERVICE);
    handler->setStringProperty(NIMBO, "p", "v");
    EXPECT_THAT(servicesCalled(), ElementsAre(NIMBO, TITLERAIL));
    EXPECT_THAT(logs().texts(), ElementsAre("E app:VZH:ssp:Failed setting p for com.tessal.nimbo "
                                            "but succeeded for com.tessal.titlerail:"));
    EXPECT_EQ(3, logs().lines()[0].priority);
}

TEST_F(AStringSetOnNimbo, ReportsNimboWithTheRetrysStatusWhenBothFail) {
    bus().failNext("ZumiSetStringProperty", ZUMI_ERR_NO_SERVICE);
    bus().failNext("ZumiSetStringProperty", ZUMI_ERR_TIMEOUT);
    EXPECT_THAT([this] { handler->setStringProperty(NIMBO, "p", "v"); },
                ThrowsMessage<ZumiException>(StrEq("Could not set the request property. --source: "
                                                   "com.tessal.nimbo --property: p --value: v" +
                                                   statusFields(6))));
    EXPECT_THAT(servicesCalled(), ElementsAre(NIMBO, TITLERAIL));
    EXPECT_THAT(logs().texts(), ElementsAre("E app:VZH:ssp:Failed setting p for com.tessal.nimbo "
                                            "as well as com.tessal.titlerail:"));
}

TEST_F(AStringSetOnNimbo, IsNotRetriedForOtherServicesAfterSuccessOrWhenLinesAreMasked) {
    for (const char* service : {TITLERAIL, "com.tessal.nimbo.extra", "svc"}) {
        bus().reset();
        bus().failNext("ZumiSetStringProperty", ZUMI_ERR_NO_SERVICE);
        EXPECT_THROW(handler->setStringProperty(service, "p", "v"), ZumiException) << service;
        EXPECT_THAT(servicesCalled(), ElementsAre(service));
    }
    bus().reset();
    handler->setStringProperty(NIMBO, "p", "v");
    EXPECT_THAT(servicesCalled(), ElementsAre(NIMBO));
    EXPECT_THAT(logs().lines(), IsEmpty());

    setLogMask(~0x02000000u);
    bus().failNext("ZumiSetStringProperty", ZUMI_ERR_NO_SERVICE);
    handler->setStringProperty(NIMBO, "p", "v");
    bus().failNext("ZumiSetStringProperty", ZUMI_ERR_NO_SERVICE, 2);
    EXPECT_THROW(handler->setStringProperty(NIMBO, "p", "v"), ZumiException);
    EXPECT_EQ(5u, bus().count("ZumiSetStringProperty"));
    EXPECT_THAT(logs().lines(), IsEmpty());
}

}  // namespace testing
}  // namespace zumi
