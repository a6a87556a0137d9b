// Remote sets and gets through a real handler, sets queued on the bus thread
// and delivered on the main loop, gets answered at once under the GDK lock;
// and detaching: cancelled sets, a handler that died first or dies with the
// detach, a detach from inside a delivery, and sets racing a detach.

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

// Sets queued from the bus thread reach the UI object once each, in order,
// on the main loop with the GDK lock held; only "kill" (exactly that name)
// overtakes the sets still waiting, and a UI object that throws from one set
// (a std::exception or anything else) still receives the later ones.
TEST_F(ABridgeReceivingRemoteSets, DeliversEachOnceInOrderOnTheMainLoopWhereKillAloneOvertakes) {
    RecordingUI<int> ui;
    ui.onSet = [](const char* name) {
        if (std::strcmp(name, "a") == 0) throw std::runtime_error("boom");
        if (std::strcmp(name, "b") == 0) throw 3;
    };
    auto bridge = zk::createNewBridge<int>(
        handler, &ui, Access{{"a", RW}, {"b", RW}, {"Kill", RW}, {"kill", RW}});
    onBusThread([&] {
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "a", 1));
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "Kill", 2));
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "b", 3));
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "kill", 4));
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "a", 5));
    });
    EXPECT_THAT(ui.sets(), IsEmpty()) << "the UI object was called on the bus thread";
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("kill=4", "a=1", "Kill=2", "b=3", "a=5"));
    for (const UICall& set : ui.sets()) {
        EXPECT_EQ(std::this_thread::get_id(), set.thread);
        EXPECT_TRUE(set.gdkLockHeld) << set.text;
    }
    const std::string escaped =
        "ZumiPropertyPublisher.setValue allowed an std.exception to escape. This should not "
        "happen. setValue needs to handle all standard exceptions in a recoverable manner.";
    const std::string kill = "ZumiPropertyPublisherToGTKBridge - kill Property Detected";
    EXPECT_THAT(logs().texts("I %s:%s:" + kill + ":"),
                ElementsAre(logged("I",
                                   "void veltra::kesh::zumi::ZumiPropertyPublisherToGTKBridge<"
                                   "PropertyType>::setValue(const char*, PropertyType) [with "
                                   "PropertyType = int]",
                                   kill)));
    const std::string error = logged("E", "kesh_vimoapplication_manager", "error=boom " + escaped);
    EXPECT_THAT(logs().texts("E %s:%s:error=%s " + escaped + ":"), ElementsAre(error, error));
    const std::string nonStandard =
        "ZumiPropertyPublisher.setValue allowed a non-standard exception (not derived from "
        "std.exception) to escape. This should not happen. setValue must not let any exception "
        "escape.";
    EXPECT_THAT(logs().texts("E %s:%s:" + nonStandard + ":"),
                ElementsAre(logged("E", "kesh_vimoapplication_manager", nonStandard)));
    bridge->detachFromUI();
}

TEST_F(ABridgeReceivingRemoteSets, RefusesMissingNamesUnwantedAccessAndNullArgumentsQueuingNothing) {
    RecordingUI<const char*> ui;
    auto bridge = zk::createNewBridge<const char*>(handler, &ui,
                                                   Access{{"r", READ_ONLY}, {"n", NONE}, {"s", RW}});
    const char* value = nullptr;
    const std::pair<std::string, std::function<void()>> cases[] = {
        {"r is not a writable property for this publisher.", [&] { bridge->setValue("r", "x"); }},
        {"zz is not a writable property for this publisher.", [&] { bridge->setValue("zz", "x"); }},
        {"n is not a readable property for this publisher.", [&] { bridge->getValue("n", &value); }},
    };
    for (const auto& c : cases) EXPECT_EQ(c.first, thrownMessage<zk::ZumiException>(c.second));
    EXPECT_EQ("propertyName argument was NULL",
              thrownMessage<std::invalid_argument>([&] { bridge->setValue(nullptr, "x"); }));
    EXPECT_EQ("value argument was NULL",
              thrownMessage<std::invalid_argument>([&] { bridge->setValue("s", nullptr); }));
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

// ---- Detaching ------------------------------------------------------------------

const char ORPHAN_FORMAT[] =
    "W %s:%s:sourceId=%d We found an orphaned GTK main context source ID when detaching from the "
    "UI!:";
typedef ZumiHasharrayHandleStruct* Array;

class ADetachingBridge : public BridgeTest {
protected:
    // Queues `count` accesses of `name` from the bus thread, each with a copy
    // of one array, which is released again afterwards.
    void queueAccesses(const char* name, int count) {
        Array input = ZumiHasharrayNew(connection());
        onBusThread([&] {
            for (int i = 0; i < count; ++i) bus().invokeAccessor(connection(), name, input, nullptr);
        });
        ZumiHasharrayDestroy(input);
    }
};

// The handler dies first here, as it may in an application's teardown: the
// detach has nothing to withdraw but must still cancel what is pending.
TEST_F(ADetachingBridge, CancelsPendingSetsReleasingEachRecordAndArrayOnceThenRefusesAll) {
    RecordingUI<Array> ui;
    auto bridge = zk::createNewBridge<Array>(handler, &ui, Access{{"list", RW}});
    queueAccesses("list", 3);
    EXPECT_EQ(3u, records());
    EXPECT_EQ(3u, bus().liveArrays());

    handler.reset();
    bridge->detachFromUI();
    EXPECT_EQ(0u, bus().count("ZumiUnregisterPropertyOfType"));
    EXPECT_EQ(0u, records());
    EXPECT_EQ(0u, bus().liveArrays());
    EXPECT_EQ(0u, bus().invalidFrees());
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.sets(), IsEmpty());
    EXPECT_THAT(logs().withFormat(ORPHAN_FORMAT), IsEmpty());

    const std::string detached = "Asynchronous publisher has detached from this bridge.";
    Array value = nullptr;
    EXPECT_EQ(detached, thrownMessage<zk::ZumiException>([&] { bridge->getValue("list", &value); }));
    EXPECT_EQ(detached, thrownMessage<zk::ZumiException>([&] {
                  bridge->setValue("list", ZumiHasharrayNew(nullptr));
              }));
    EXPECT_EQ(0u, bus().liveArrays()) << "a refused array leaked";
    EXPECT_TRUE(bridge->isReadable("list") && bridge->isWritable("list"));
}

// The UI object detaches and drops its bridge from inside its setValue, then
// still reads the name it was given: that record must outlive the delivery
// and be released once, without its late destroy notification touching the
// bridge, which is gone by then.
TEST_F(ADetachingBridge, FromInsideADeliveryReleasesThatRecordOnlyAfterTheDelivery) {
    RecordingUI<Array> ui;
    auto bridge = zk::createNewBridge<Array>(handler, &ui, Access{{"a", RW}, {"b", RW}});
    std::string nameAfterDetach;
    ui.onSet = [&](const char* name) {
        bridge->detachFromUI();
        bridge.reset();
        nameAfterDetach = name;
    };
    queueAccesses("a", 1);
    queueAccesses("b", 1);
    ASSERT_TRUE(drainMainLoop());
    EXPECT_EQ(nullptr, bridge);
    EXPECT_THAT(ui.texts(), ElementsAre("a=hashes=0"));
    EXPECT_EQ("a", nameAfterDetach);
    auto orphans = logs().withFormat(ORPHAN_FORMAT);
    ASSERT_EQ(1u, orphans.size());
    EXPECT_THAT(orphans[0].text,
                ::testing::MatchesRegex(logged(
                    "W", "ZumiPropertyPublisherToGTKBridge\\.detach",
                    "sourceId=[1-9][0-9]* We found an orphaned GTK main context source ID when "
                    "detaching from the UI!")));
}

// A set of a is on its way into the bridge when detach starts withdrawing,
// and the application drops its handler meanwhile, so the detach lets go of
// the last reference. Closing the connection waits for the callbacks in
// progress, as the bus library does: the set must be able to finish.
TEST_F(ADetachingBridge, LetsASetInProgressFinishWhenItDropsTheLastHandlerReference) {
    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"a", RW}, {"b", RW}});
    const ZumiHandle handle = connection();
    std::atomic<bool> setFinished{false};
    bool closeSawTheSetFinish = false;
    ZumiStatus setStatus = 0;
    std::thread busThread;
    bus().hooks.unregisterPropertyOfType = [&](ZumiHandle, const char* name, int) -> ZumiStatus {
        if (std::string(name) != "b") return ZUMI_OK;
        busThread = std::thread([&] {
            setStatus = bus().invokeIntSetter(handle, "a", 1);
            setFinished = true;
        });
        // The bus thread holds the bridge once it is past the lookup of a.
        EXPECT_TRUE(waitUntil([&] { return bridge.use_count() == 3; }));
        handler.reset();
        return ZUMI_OK;
    };
    bus().hooks.close = [&](ZumiHandle) -> ZumiStatus {
        closeSawTheSetFinish = waitUntil([&] { return setFinished.load(); },
                                         std::chrono::seconds(2));
        return ZUMI_OK;
    };
    bridge->detachFromUI();
    busThread.join();
    EXPECT_TRUE(closeSawTheSetFinish) << "the connection closed under the bridge's lock";
    EXPECT_EQ(258u, setStatus);
}

// The bus thread keeps setting while the main loop delivers and detaches from
// a GDK callback, as a UI object's destructor would: the UI object sees an
// ordered prefix of the sets and nothing after its detach.
TEST_F(ADetachingBridge, RacingRemoteSetsDeliversAnOrderedPrefixAndNothingAfter) {
    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"a", RW}});
    std::thread busThread([&] {
        for (int i = 1; i <= 300; ++i) bus().invokeIntSetter(connection(), "a", i);
    });
    size_t deliveredAtDetach = 0;
    ui.onSet = [&](const char*) {
        if (ui.sets().size() == 20) {
            bridge->detachFromUI();
            deliveredAtDetach = 20;
        }
    };
    EXPECT_TRUE(runMainLoopUntil([&] { return deliveredAtDetach != 0; }));
    busThread.join();
    ASSERT_TRUE(drainMainLoop());
    auto texts = ui.texts();
    ASSERT_EQ(deliveredAtDetach, texts.size()) << "a set reached the UI object after the detach";
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ("a=" + std::to_string(i + 1), texts[i]);
}

// A bridge is created on a thread of its own while the main loop delivers a
// set of the name it just published, and a second set waits; then the next
// name fails. Its rollback must leave both sets to the main loop: cancelled
// from the creating thread, the one in delivery would be orphaned and its
// delivery left holding a bridge that the failure frees.
TEST_F(ADetachingBridge, AfterAFailedPublishOffTheMainLoopLeavesItsSetsToTheMainLoop) {
    RecordingUI<int> ui;
    std::atomic<bool> delivering{false}, failed{false};
    ui.onSet = [&](const char*) {
        delivering = true;
        EXPECT_TRUE(waitUntil([&] { return failed.load(); }));
    };
    bus().hooks.observe = [&](const Call& call) {
        if (call.function != "ZumiRegisterIntProperty" || call.name != "b") return;
        EXPECT_EQ(0u, bus().invokeIntSetter(call.handle, "a", 1));
        EXPECT_TRUE(waitUntil([&] { return delivering.load(); }));
        EXPECT_EQ(0u, bus().invokeIntSetter(call.handle, "a", 2));
        bus().failNext("ZumiRegisterIntProperty", ZUMI_ERR_FAILED);
    };
    std::thread creator([&] {
        EXPECT_THAT(thrownMessage<zk::ZumiException>([&] {
                        zk::createNewBridge<int>(handler, &ui, Access{{"a", RW}, {"b", RW}});
                    }),
                    ::testing::HasSubstr("--property: b"));
        failed = true;
    });
    EXPECT_TRUE(runMainLoopUntil([&] { return failed.load(); }));
    creator.join();
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("a=1")) << "a set reached the UI object after the failure";
    EXPECT_THAT(logs().withFormat(ORPHAN_FORMAT), IsEmpty());
}

}  // namespace
}  // namespace testing
}  // namespace zumi
