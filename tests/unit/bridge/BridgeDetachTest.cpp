// Detaching: cancelled sets, a handler that died first or dies with the
// detach, a detach from inside a delivery, and sets racing a detach.

#include <gmock/gmock.h>

#include <atomic>
#include <regex>

#include <zumi/ZumiException.h>

#include "BridgeTestSupport.h"

namespace zumi {
namespace testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

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

TEST_F(ADetachingBridge, CancelsPendingSetsReleasingEachRecordAndArrayOnceThenRefusesAll) {
    RecordingUI<Array> ui;
    auto bridge = zk::createNewBridge<Array>(handler, &ui, Access{{"list", RW}});
    queueAccesses("list", 3);
    EXPECT_EQ(3u, records());
    EXPECT_EQ(3u, bus().liveArrays());

    bridge->detachFromUI();
    EXPECT_EQ(0u, records());
    EXPECT_EQ(0u, bus().liveArrays());
    EXPECT_EQ(0u, bus().invalidFrees());
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.sets(), IsEmpty());
    EXPECT_THAT(logs().withFormat(ORPHAN_FORMAT), IsEmpty());

    const std::string detached = "Asynchronous publisher has detached from this bridge.";
    Array value = nullptr;
    EXPECT_EQ(detached, thrown<zk::ZumiException>([&] { bridge->getValue("list", &value); }));
    EXPECT_EQ(detached, thrown<zk::ZumiException>([&] {
                  bridge->setValue("list", ZumiHasharrayNew(connection()));
              }));
    EXPECT_EQ(0u, bus().liveArrays()) << "a refused array leaked";
    EXPECT_TRUE(bridge->isReadable("list") && bridge->isWritable("list"));
}

TEST_F(ADetachingBridge, WithdrawsNothingButStillCancelsWhenTheHandlerHasDied) {
    RecordingUI<const char*> ui;
    auto bridge = zk::createNewBridge<const char*>(handler, &ui, Access{{"s", RW}});
    onBusThread([&] {
        bus().invokeStringSetter(connection(), "s", "one");
        bus().invokeStringSetter(connection(), "s", "two");
    });
    handler.reset();
    bridge->detachFromUI();
    EXPECT_EQ(0u, bus().count("ZumiUnregisterProperty"));
    EXPECT_EQ(0u, records());
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.sets(), IsEmpty());
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
    EXPECT_TRUE(std::regex_match(
        orphans[0].text,
        std::regex(logged("W", "ZumiPropertyPublisherToGTKBridge\\.detach",
                          "sourceId=[1-9][0-9]* We found an orphaned GTK main context source ID "
                          "when detaching from the UI!"))))
        << orphans[0].text;
    EXPECT_EQ(0u, records());
    EXPECT_EQ(0u, bus().liveArrays());
    EXPECT_EQ(0u, bus().invalidFrees());
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
    bus().hooks.unregisterProperty = [&](ZumiHandle, const char* name) -> ZumiStatus {
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
    EXPECT_EQ(0u, records());
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
    EXPECT_EQ(0u, records());
}

}  // namespace
}  // namespace testing
}  // namespace zumi
