// Remote sets and gets through a real handler: sets queued on the bus thread
// and delivered on the main loop, gets answered at once under the GDK lock.

#include <gmock/gmock.h>

#include <atomic>
#include <cstring>
#include <stdexcept>

#include <zumi/ZumiException.h>

#include "BridgeTestSupport.h"

namespace zumi {
namespace testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ABridgeReceivingRemoteSets : public BridgeTest {};

TEST_F(ABridgeReceivingRemoteSets, DeliversEachOnceInOrderOnTheMainLoopWithTheGdkLockHeld) {
    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"a", RW}, {"b", RW}});
    onBusThread([&] {
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "a", 1));
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "b", 2));
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "a", 3));
    });
    EXPECT_THAT(ui.sets(), IsEmpty()) << "the UI object was called on the bus thread";
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("a=1", "b=2", "a=3"));
    for (const UICall& set : ui.sets()) {
        EXPECT_EQ(std::this_thread::get_id(), set.thread);
        EXPECT_TRUE(set.gdkLockHeld) << set.text;
    }
    bridge->detachFromUI();
}

TEST_F(ABridgeReceivingRemoteSets, LetsKillAloneOvertakeEverySetStillWaiting) {
    RecordingUI<int> ui;
    auto bridge =
        zk::createNewBridge<int>(handler, &ui, Access{{"a", RW}, {"Kill", RW}, {"kill", RW}});
    onBusThread([&] {
        bus().invokeIntSetter(connection(), "a", 1);
        bus().invokeIntSetter(connection(), "Kill", 2);
        bus().invokeIntSetter(connection(), "kill", 3);
    });
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("kill=3", "a=1", "Kill=2"));
    auto kills =
        logs().withFormat("I %s:%s:ZumiPropertyPublisherToGTKBridge - kill Property Detected:");
    ASSERT_EQ(1u, kills.size());
    EXPECT_EQ(5, kills[0].priority);
    EXPECT_EQ(logged("I",
                     "void veltra::kesh::zumi::ZumiPropertyPublisherToGTKBridge<PropertyType>::"
                     "setValue(const char*, PropertyType) [with PropertyType = int]",
                     "ZumiPropertyPublisherToGTKBridge - kill Property Detected"),
              kills[0].text);
    bridge->detachFromUI();
}

TEST_F(ABridgeReceivingRemoteSets, RefusesMissingNamesUnwantedAccessAndNullArgumentsQueuingNothing) {
    RecordingUI<const char*> ui;
    ui.current = "shown";
    auto bridge = zk::createNewBridge<const char*>(handler, &ui, Access{{"r", READ_ONLY}, {"n", NONE}});
    for (std::string name : {"r", "n", "zz"}) {
        EXPECT_EQ(name + " is not a writable property for this publisher.",
                  thrown<zk::ZumiException>([&] { bridge->setValue(name.c_str(), "x"); }));
    }
    const char* value = nullptr;
    for (std::string name : {"n", "zz"}) {
        EXPECT_EQ(name + " is not a readable property for this publisher.",
                  thrown<zk::ZumiException>([&] { bridge->getValue(name.c_str(), &value); }));
    }
    bridge->getValue("r", &value);
    EXPECT_STREQ("shown", value);

    const std::string nullName = "propertyName argument was NULL";
    EXPECT_EQ(nullName, thrown<std::invalid_argument>([&] { bridge->setValue(nullptr, "x"); }));
    EXPECT_EQ(nullName, thrown<std::invalid_argument>([&] { bridge->getValue(nullptr, &value); }));
    EXPECT_EQ(nullName, thrown<std::invalid_argument>([&] { bridge->isWritable(nullptr); }));
    bridge->detachFromUI();
    bridge = zk::createNewBridge<const char*>(handler, &ui, Access{{"s", RW}});
    EXPECT_EQ("value argument was NULL",
              thrown<std::invalid_argument>([&] { bridge->setValue("s", nullptr); }));

    EXPECT_EQ(0u, records());
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.sets(), IsEmpty());
    bridge->detachFromUI();
}

// A name offered for reading only still gets the accessor, which passes an
// access on as a set: the refusal must not leak the copy made for it.
TEST_F(ABridgeReceivingRemoteSets, HandsTheUIObjectAHashArrayOfItsOwnAndLeaksNoRefusedOne) {
    RecordingUI<ZumiHasharrayHandleStruct*> ui;
    auto bridge = zk::createNewBridge<ZumiHasharrayHandleStruct*>(
        handler, &ui, Access{{"list", RW}, {"shown", READ_ONLY}});
    ZumiHasharrayHandleStruct* input = ZumiHasharrayNew(connection());
    int index = 0;
    ZumiHasharrayAddHash(input, &index);
    ZumiHasharrayAddHash(input, &index);
    onBusThread([&] {
        EXPECT_EQ(0u, bus().invokeAccessor(connection(), "list", input, nullptr));
        EXPECT_EQ(258u, bus().invokeAccessor(connection(), "shown", input, nullptr));
    });
    ZumiHasharrayDestroy(input);
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("list=hashes=2"));
    auto refused = logs().withFormat("E %s:%s:what=%s ZumiException:");
    ASSERT_EQ(1u, refused.size());
    EXPECT_EQ(logged("E", "VimoZumiHandlerPrivate.onPropertyAccessed",
                     "what=shown is not a writable property for this publisher. ZumiException"),
              refused[0].text);
    EXPECT_EQ(0u, bus().liveArrays());
    EXPECT_EQ(0u, bus().invalidFrees());
    bridge->detachFromUI();
}

TEST_F(ABridgeReceivingRemoteSets, LogsWhatTheUIObjectThrowsAndStillDeliversLaterSets) {
    RecordingUI<int> ui;
    ui.onSet = [](const char* name) {
        if (std::strcmp(name, "a") == 0) throw std::runtime_error("boom");
    };
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"a", RW}, {"b", RW}});
    onBusThread([&] {
        bus().invokeIntSetter(connection(), "a", 1);
        bus().invokeIntSetter(connection(), "b", 2);
    });
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("a=1", "b=2"));
    auto escaped = logs().withFormat(
        "E %s:%s:error=%s ZumiPropertyPublisher.setValue allowed an std.exception to escape. This "
        "should not happen. setValue needs to handle all standard exceptions in a recoverable "
        "manner.:");
    ASSERT_EQ(1u, escaped.size());
    EXPECT_EQ(3, escaped[0].priority);
    EXPECT_EQ(logged("E", "kesh_vimoapplication_manager",
                     "error=boom ZumiPropertyPublisher.setValue allowed an std.exception to escape. "
                     "This should not happen. setValue needs to handle all standard exceptions in "
                     "a recoverable manner."),
              escaped[0].text);
    bridge->detachFromUI();
}

// The main loop sits in a plain idle callback, outside the GDK lock, until
// the get is answered: a get must neither wait for the main loop nor ask the
// UI object without the GDK lock.
TEST_F(ABridgeReceivingRemoteSets, AnswersGetsUnderTheGdkLockWhileTheMainLoopIsBusyElsewhere) {
    RecordingUI<const char*> ui;
    ui.current = "shown";
    auto bridge = zk::createNewBridge<const char*>(handler, &ui, Access{{"s", READ_ONLY}});
    struct Busy {
        std::atomic<bool> inside{false}, answered{false};
        bool answeredWhileInside = false;
    } busy;
    std::string value;
    std::thread busThread([&] {
        waitUntil([&] { return busy.inside.load(); });
        EXPECT_EQ(0u, bus().invokeStringGetter(connection(), "s", &value));
        busy.answered = true;
    });
    g_idle_add(
        [](gpointer data) -> gboolean {
            Busy* busy = static_cast<Busy*>(data);
            busy->inside = true;
            busy->answeredWhileInside = waitUntil([&] { return busy->answered.load(); });
            return G_SOURCE_REMOVE;
        },
        &busy);
    EXPECT_TRUE(runMainLoopUntil([&] { return busy.answeredWhileInside; }));
    busThread.join();
    EXPECT_EQ("shown", value);
    ASSERT_FALSE(ui.gets().empty());
    for (const UICall& get : ui.gets()) {  // the bus asks again for a bigger buffer
        EXPECT_NE(std::this_thread::get_id(), get.thread);
        EXPECT_TRUE(get.gdkLockHeld);
    }
    bridge->detachFromUI();
}

}  // namespace
}  // namespace testing
}  // namespace zumi
