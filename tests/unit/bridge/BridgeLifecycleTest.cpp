// Creating, publishing, detaching and destroying bridges.

#include <gmock/gmock.h>

#include <cstdio>
#include <stdexcept>

#include <zumi/ZumiException.h>

#include "BridgeTestSupport.h"
#include "MockHandler.h"
#include "util/Log.h"

namespace zumi {
namespace testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class ABridgeBeingCreated : public BridgeTest {};

TEST_F(ABridgeBeingCreated, RefusesAnEmptyHandlerBeforeLookingAtTheUIObject) {
    try {
        zk::createNewBridge<int>(zk::ZumiHandlerSharedPtr(), nullptr, Access{{"a", READ_WRITE}});
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ("ZumiHandler passed into method was NULL", e.what());
    }
}

TEST_F(ABridgeBeingCreated, RefusesANullUIObjectWithoutPublishingAnything) {
    try {
        zk::createNewBridge<const char*>(handler, nullptr, Access{{"a", READ_WRITE}});
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ("uiPublisher argument was NULL", e.what());
    }
    EXPECT_EQ(0u, bus().count("ZumiRegisterStringProperty"));
}

TEST_F(ABridgeBeingCreated, WithNoPropertiesWarnsAndWithdrawsNothingOnDetach) {
    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{});
    ASSERT_TRUE(bridge);
    auto lines = logs().withFormat(
        "W %s:%s:ZumiPropertyPublisherToGTKBridge created with no published properties.:");
    ASSERT_EQ(1u, lines.size());
    EXPECT_THAT(lines[0].text, HasSubstr(":ZumiPropertyPublisherToGTKBridge.createNewInstance:"));
    bridge->detachFromUI();
    EXPECT_EQ(0u, bus().count("ZumiUnregisterProperty"));
}

// b readable only, a with no access at all: both are published, in name
// order, each with exactly the callbacks its flags allow; detach withdraws
// them in the reverse order.
TEST_F(ABridgeBeingCreated, PublishesEveryNameWithItsAccessAndDetachWithdrawsInReverse) {
    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"b", READ_ONLY}, {"a", NO_ACCESS}});
    auto registrations = bus().calls("ZumiRegisterIntProperty");
    ASSERT_EQ(2u, registrations.size());
    EXPECT_EQ("a", registrations[0].name);
    EXPECT_FALSE(registrations[0].hasGetter);
    EXPECT_FALSE(registrations[0].hasSetter);
    EXPECT_EQ("b", registrations[1].name);
    EXPECT_TRUE(registrations[1].hasGetter);
    EXPECT_FALSE(registrations[1].hasSetter);

    bridge->detachFromUI();
    EXPECT_THAT(callNames("ZumiUnregisterProperty"), ElementsAre("b", "a"));

    const size_t linesBefore = logs().lines().size();
    bridge->detachFromUI();
    EXPECT_EQ(2u, bus().count("ZumiUnregisterProperty")) << "a second detach withdrew again";
    EXPECT_EQ(linesBefore, logs().lines().size());
}

TEST_F(ABridgeBeingCreated, PublishesHashArraysWithTheAccessorWhenOnlyWritable) {
    RecordingUI<ZumiHasharrayHandleStruct*> ui;
    auto bridge = zk::createNewBridge<ZumiHasharrayHandleStruct*>(
        handler, &ui, Access{{"list", WRITE_ONLY}, {"none", NO_ACCESS}});
    auto registrations = bus().calls("ZumiRegisterHasharrayProperty");
    ASSERT_EQ(2u, registrations.size());
    EXPECT_EQ("list", registrations[0].name);
    EXPECT_TRUE(registrations[0].hasGetter);
    EXPECT_EQ("none", registrations[1].name);
    EXPECT_FALSE(registrations[1].hasGetter);
    bridge->detachFromUI();
}

// The bus refuses the first name: it is withdrawn again (the handler keeps
// its entry, and with it the bridge, after a refusal), the later one is never
// touched, and the bridge that nobody received goes away without ending the
// process.
TEST_F(ABridgeBeingCreated, WithdrawsTheRefusedNameWhenTheBusRefusesIt) {
    RecordingUI<int> ui;
    bus().failNext("ZumiRegisterIntProperty", ZUMI_ERR_ALREADY_REGISTERED);
    try {
        zk::createNewBridge<int>(handler, &ui, Access{{"b", READ_WRITE}, {"c", READ_WRITE}});
        FAIL() << "no exception";
    } catch (const zk::ZumiException& e) {
        EXPECT_THAT(e.what(), HasSubstr("Could not set the request property. --property: b"));
    }
    EXPECT_THAT(callNames("ZumiRegisterIntProperty"), ElementsAre("b"));
    EXPECT_THAT(callNames("ZumiUnregisterProperty"), ElementsAre("b"));
    // The registry no longer holds the bridge, so a new publisher of b is
    // registered rather than discarded as a repeat.
    RecordingUI<int> other;
    auto second = zk::createNewBridge<int>(handler, &other, Access{{"b", READ_WRITE}});
    EXPECT_TRUE(bus().isRegistered(connection(), "b"));
    second->detachFromUI();
}

TEST_F(ABridgeBeingCreated, WithdrawsEveryNameTriedInReverseWhenALaterOneFails) {
    MockHandler mock;
    RecordingUI<const char*> ui;
    zk::ZumiHandlerSharedPtr shared(&mock, [](zk::ZumiHandler*) {});
    ::testing::InSequence order;
    EXPECT_CALL(mock, publishStringProperty(::testing::StrEq("a"), ::testing::_));
    EXPECT_CALL(mock, publishStringProperty(::testing::StrEq("b"), ::testing::_));
    EXPECT_CALL(mock, publishStringProperty(::testing::StrEq("c"), ::testing::_))
        .WillOnce(::testing::Throw(zk::ZumiException("refused")));
    EXPECT_CALL(mock, unpublishStringProperty(::testing::StrEq("c")));
    EXPECT_CALL(mock, unpublishStringProperty(::testing::StrEq("b")));
    EXPECT_CALL(mock, unpublishStringProperty(::testing::StrEq("a")));
    EXPECT_THROW(zk::createNewBridge<const char*>(
                     shared, &ui,
                     Access{{"a", READ_WRITE}, {"b", READ_ONLY}, {"c", READ_WRITE}, {"d", READ_WRITE}}),
                 zk::ZumiException);
}

}  // namespace
}  // namespace testing
}  // namespace zumi

namespace zumi {
namespace testing {
namespace {

void toStderr(int, const char* format, va_list args) {
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

const char DTOR_LINE[] =
    "ZumiPropertyPublisherToGTKBridge\\.dtor:Bridge was still connected to outer object on "
    "deletion\\. Call ZumiPropertyPublisherToGTKBridge\\.detach from your UI object's "
    "destructor!:";

typedef BridgeTest AnAttachedBridgeDeathTest;

TEST_F(AnAttachedBridgeDeathTest, EndsTheProcessWithStatusOneAfterTheErrorLine) {
    EXPECT_EXIT(
        {
            veltra::kesh::util::setLogSink(&toStderr);
            RecordingUI<int> ui;
            auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"a", READ_WRITE}});
            handler.reset();  // the handler's references to the bridge go with it
            bridge.reset();
            std::fputs("still running\n", stderr);
        },
        ::testing::ExitedWithCode(1), DTOR_LINE);
}

TEST_F(AnAttachedBridgeDeathTest, EndsTheProcessEvenWithErrorLinesSwitchedOff) {
    EXPECT_EXIT(
        {
            veltra::kesh::util::setLogSink(&toStderr);
            setLogMask(0);
            RecordingUI<const char*> ui;
            auto bridge = zk::createNewBridge<const char*>(handler, &ui, Access{});
            bridge.reset();
            std::fputs("still running\n", stderr);
        },
        ::testing::ExitedWithCode(1), "^$");
}

}  // namespace
}  // namespace testing
}  // namespace zumi
