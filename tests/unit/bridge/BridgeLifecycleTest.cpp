// Creating, publishing and destroying bridges.

#include <gmock/gmock.h>

#include <cstdio>
#include <stdexcept>

#include <zumi/ZumiException.h>

#include "BridgeTestSupport.h"
#include "util/Log.h"

namespace zumi {
namespace testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ABridgeBeingCreated : public BridgeTest {};

TEST_F(ABridgeBeingCreated, RefusesAnEmptyHandlerThenANullUIObjectAndWarnsOfNoProperties) {
    EXPECT_EQ("ZumiHandler passed into method was NULL", thrownMessage<std::invalid_argument>([] {
                  zk::createNewBridge<int>(zk::ZumiHandlerSharedPtr(), nullptr, Access{{"a", RW}});
              }));
    EXPECT_EQ("uiPublisher argument was NULL", thrownMessage<std::invalid_argument>([&] {
                  zk::createNewBridge<const char*>(handler, nullptr, Access{{"a", RW}});
              }));

    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{});
    const std::string none = "ZumiPropertyPublisherToGTKBridge created with no published properties.";
    EXPECT_THAT(logs().texts("W %s:%s:" + none + ":"),
                ElementsAre(logged("W", "ZumiPropertyPublisherToGTKBridge.createNewInstance", none)));
    bridge->detachFromUI();
    EXPECT_EQ(0u, bus().count("ZumiUnregisterPropertyOfType"));
}

// b readable only, a with no access at all: both are published, in name
// order, each with the callbacks its flags allow; detach withdraws them in
// reverse, once.
TEST_F(ABridgeBeingCreated, PublishesEveryNameWithItsAccessAndDetachWithdrawsThemInReverse) {
    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"b", READ_ONLY}, {"a", NONE}});
    auto registrations = bus().calls("ZumiRegisterIntProperty");
    ASSERT_EQ(2u, registrations.size());
    EXPECT_EQ("a", registrations[0].name);
    EXPECT_FALSE(registrations[0].hasGetter || registrations[0].hasSetter);
    EXPECT_EQ("b", registrations[1].name);
    EXPECT_TRUE(registrations[1].hasGetter && !registrations[1].hasSetter);

    bridge->detachFromUI();
    EXPECT_THAT(callNames("ZumiUnregisterPropertyOfType"), ElementsAre("b", "a"));
    bridge->detachFromUI();
    EXPECT_EQ(2u, bus().count("ZumiUnregisterPropertyOfType")) << "a second detach withdrew again";
}

// The bus refuses b, after a set of a was queued. The handler keeps its
// entry, and with it the bridge, after a refusal, so the bridge takes back
// what it holds: its integer a, by name and type, and b's entry. Not the
// string a, nor the a0 that another bridge holds (this one's was a discarded
// repeat), nor b on the bus, where b never was: no call, no W line. With no
// main loop running, the queued set is cancelled at once.
TEST_F(ABridgeBeingCreated, TakesBackOnlyWhatItPublishedWhenPublishingFails) {
    RecordingUI<const char*> textUI;
    auto text = zk::createNewBridge<const char*>(handler, &textUI, Access{{"a", RW}});
    RecordingUI<int> ui, holder;
    auto other = zk::createNewBridge<int>(handler, &holder, Access{{"a0", RW}});
    bus().hooks.observe = [&](const Call& call) {
        if (call.function == "ZumiRegisterIntProperty" && call.name == "b") {
            onBusThread([&] { EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "a", 1)); });
            bus().failNext("ZumiRegisterIntProperty", ZUMI_ERR_ALREADY_REGISTERED);
        }
    };
    logs().clear();
    EXPECT_THAT(thrownMessage<zk::ZumiException>([&] {
                    zk::createNewBridge<int>(handler, &ui,
                                             Access{{"a", RW}, {"a0", RW}, {"b", RW}, {"c", RW}});
                }),
                HasSubstr("Could not set the request property. --property: b"));
    bus().hooks.observe = nullptr;
    EXPECT_EQ(0u, records()) << "the queued set outlived the bridge's failure";
    EXPECT_THAT(callNames("ZumiRegisterIntProperty"), ElementsAre("a0", "a", "b"));
    EXPECT_THAT(callNames("ZumiUnregisterPropertyOfType"), ElementsAre("a"));
    EXPECT_FALSE(bus().isRegistered(connection(), "a", ZUMI_TYPE_INT));
    EXPECT_TRUE(bus().isRegistered(connection(), "a", ZUMI_TYPE_STRING));
    EXPECT_TRUE(bus().isRegistered(connection(), "a0", ZUMI_TYPE_INT));
    for (const LogLine& line : logs().lines()) EXPECT_NE('W', line.text[0]) << line.text;

    RecordingUI<int> next;  // b is free again, not discarded as a repeat
    auto second = zk::createNewBridge<int>(handler, &next, Access{{"b", RW}});
    EXPECT_TRUE(bus().isRegistered(connection(), "b", ZUMI_TYPE_INT));
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.sets(), ::testing::IsEmpty());
    for (auto* bridge : {&second, &other}) (*bridge)->detachFromUI();
    text->detachFromUI();
}

void toStderr(int, const char* format, va_list args) {
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

typedef BridgeTest AnAttachedBridgeDeathTest;

TEST_F(AnAttachedBridgeDeathTest, EndsTheProcessWithStatusOneAfterTheErrorLine) {
    EXPECT_EXIT(
        {
            veltra::kesh::util::setLogSink(&toStderr);
            RecordingUI<int> ui;
            auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"a", RW}});
            handler.reset();  // the handler's references to the bridge go with it
            bridge.reset();
            std::fputs("still running\n", stderr);
        },
        ::testing::ExitedWithCode(1),
        "^E [^:]*:ZumiPropertyPublisherToGTKBridge\\.dtor:Bridge was still connected to outer "
        "object on deletion\\. Call ZumiPropertyPublisherToGTKBridge\\.detach from your UI "
        "object's destructor!:\n$");
    EXPECT_EXIT(
        {
            veltra::kesh::util::setLogSink(&toStderr);
            setLogMask(0);
            RecordingUI<const char*> ui;
            zk::createNewBridge<const char*>(handler, &ui, Access{});
            std::fputs("still running\n", stderr);
        },
        ::testing::ExitedWithCode(1), "^$");
}

}  // namespace
}  // namespace testing
}  // namespace zumi
