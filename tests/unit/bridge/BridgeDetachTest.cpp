// Detaching: cancelled sets, a handler that died first, a detach from inside
// a delivery, and sets racing a detach.

#include <gmock/gmock.h>

#include <atomic>
#include <cstring>
#include <regex>

#include <zumi/ZumiException.h>

#include "BridgeTestSupport.h"
#include "bridge/ZumiPropertyPublisherToGTKBridge.h"
#include "platform/Platform.h"

namespace zumi {
namespace testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char ORPHAN_FORMAT[] =
    "W %s:%s:sourceId=%d We found an orphaned GTK main context source ID when detaching from the "
    "UI!:";
const char DETACHED[] = "Asynchronous publisher has detached from this bridge.";

class ADetachingBridge : public BridgeTest {};

TEST_F(ADetachingBridge, CancelsPendingSetsAndReleasesEachRecordAndArrayOnce) {
    RecordingUI<ZumiHasharrayHandleStruct*> ui;
    auto bridge =
        zk::createNewBridge<ZumiHasharrayHandleStruct*>(handler, &ui, Access{{"list", READ_WRITE}});
    ZumiHasharrayHandleStruct* input = ZumiHasharrayNew(connection());
    onBusThread([&] {
        for (int i = 0; i < 3; ++i) bus().invokeAccessor(connection(), "list", input, nullptr);
    });
    ZumiHasharrayDestroy(input);
    EXPECT_EQ(recordsBefore + 3, zk::SharedData::liveCount());
    EXPECT_EQ(3u, bus().liveArrays());

    bridge->detachFromUI();
    EXPECT_EQ(recordsBefore, zk::SharedData::liveCount());
    EXPECT_EQ(0u, bus().liveArrays());
    EXPECT_EQ(0u, bus().invalidFrees());
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.deliveries(), IsEmpty());
    EXPECT_THAT(logs().withFormat(ORPHAN_FORMAT), IsEmpty());
}

TEST_F(ADetachingBridge, RefusesGetsAndSetsAfterwardsButStillAnswersAccessChecks) {
    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"a", READ_WRITE}});
    bridge->detachFromUI();
    int value = 0;
    try {
        bridge->getValue("a", &value);
        ADD_FAILURE() << "read after detach";
    } catch (const zk::ZumiException& e) {
        EXPECT_STREQ(DETACHED, e.what());
    }
    try {
        bridge->setValue("a", 1);
        ADD_FAILURE() << "set after detach";
    } catch (const zk::ZumiException& e) {
        EXPECT_STREQ(DETACHED, e.what());
    }
    EXPECT_TRUE(bridge->isReadable("a"));
    EXPECT_TRUE(bridge->isWritable("a"));
}

TEST_F(ADetachingBridge, WithdrawsNothingButStillCancelsWhenTheHandlerHasDied) {
    RecordingUI<const char*> ui;
    auto bridge = zk::createNewBridge<const char*>(handler, &ui, Access{{"s", READ_WRITE}});
    onBusThread([&] {
        bus().invokeStringSetter(connection(), "s", "one");
        bus().invokeStringSetter(connection(), "s", "two");
    });
    handler.reset();
    bridge->detachFromUI();
    EXPECT_EQ(0u, bus().count("ZumiUnregisterProperty"));
    EXPECT_EQ(recordsBefore, zk::SharedData::liveCount());
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.deliveries(), IsEmpty());
}

// The UI object detaches and drops its bridge from inside its setValue, then
// still reads the name it was given: the record must outlive the delivery,
// be released once, and its late destroy notification must not touch the
// bridge that is gone by then.
TEST_F(ADetachingBridge, FromInsideADeliveryReleasesThatRecordAfterTheDelivery) {
    RecordingUI<ZumiHasharrayHandleStruct*> ui;
    auto bridge = zk::createNewBridge<ZumiHasharrayHandleStruct*>(
        handler, &ui, Access{{"a", READ_WRITE}, {"b", READ_WRITE}});
    std::string nameAfterDetach;
    ui.onSet = [&](const char* name) {
        bridge->detachFromUI();
        bridge.reset();
        nameAfterDetach = name;
    };
    ZumiHasharrayHandleStruct* input = ZumiHasharrayNew(connection());
    onBusThread([&] {
        bus().invokeAccessor(connection(), "a", input, nullptr);
        bus().invokeAccessor(connection(), "b", input, nullptr);
    });
    ZumiHasharrayDestroy(input);

    ASSERT_TRUE(drainMainLoop());
    EXPECT_EQ(nullptr, bridge);
    EXPECT_THAT(ui.texts(), ElementsAre("a=hashes=0"));
    EXPECT_EQ("a", nameAfterDetach);
    auto orphans = logs().withFormat(ORPHAN_FORMAT);
    ASSERT_EQ(1u, orphans.size());
    EXPECT_TRUE(std::regex_match(orphans[0].text,
                                 std::regex(std::string("W ") + APP_ID +
                                            ":ZumiPropertyPublisherToGTKBridge\\.detach:sourceId=[1-"
                                            "9][0-9]* We found an orphaned GTK main context source "
                                            "ID when detaching from the UI!:")))
        << orphans[0].text;
    EXPECT_EQ(recordsBefore, zk::SharedData::liveCount());
    EXPECT_EQ(0u, bus().liveArrays());
    EXPECT_EQ(0u, bus().invalidFrees());
}

// The bus thread keeps setting while the main loop delivers and then detaches
// from a GDK callback, as a UI object's destructor would. Every set is either
// delivered in order before the detach or refused; none after.
TEST_F(ADetachingBridge, RacingRemoteSetsDeliversAnOrderedPrefixAndNothingAfter) {
    const int total = 300;
    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"a", READ_WRITE}});
    std::atomic<int> accepted{0};
    std::atomic<bool> detached{false};
    std::thread busThread([&] {
        for (int i = 1; i <= total; ++i) {
            if (bus().invokeIntSetter(connection(), "a", i) == 0) ++accepted;
        }
    });
    size_t deliveredAtDetach = 0;
    ui.onSet = [&](const char*) {
        if (ui.deliveries().size() == 20) {
            bridge->detachFromUI();
            deliveredAtDetach = ui.deliveries().size();
            detached = true;
        }
    };
    EXPECT_TRUE(runMainLoopUntil([&] { return detached.load(); }));
    busThread.join();
    ASSERT_TRUE(drainMainLoop());

    auto texts = ui.texts();
    ASSERT_EQ(deliveredAtDetach, texts.size()) << "a set reached the UI object after the detach";
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ("a=" + std::to_string(i + 1), texts[i]);
    EXPECT_GE(accepted.load(), static_cast<int>(texts.size()));
    EXPECT_EQ(recordsBefore, zk::SharedData::liveCount());
}

typedef zk::ZumiPropertyPublisherToGTKBridge<ZumiHasharrayHandleStruct*> HashBridge;

TEST_F(ADetachingBridge, DropsASetThatReachesItAfterwardsAndReleasesItsArray) {
    RecordingUI<ZumiHasharrayHandleStruct*> ui;
    auto bridge =
        zk::createNewBridge<ZumiHasharrayHandleStruct*>(handler, &ui, Access{{"list", READ_WRITE}});
    bridge->detachFromUI();
    HashBridge* gtk = static_cast<HashBridge*>(bridge.get());
    auto* late = new zk::SetValueArgs<ZumiHasharrayHandleStruct*>("list", gtk,
                                                                   ZumiHasharrayNew(connection()));
    EXPECT_EQ(FALSE, HashBridge::onGDKIdle_setValue(late));
    HashBridge::onSourceDestory_setValue(late);

    EXPECT_THAT(ui.deliveries(), IsEmpty());
    auto dropped = logs().withFormat(
        "D %s:%s:ZumiPropertyPublisherToGTKBridge.onSourceMessage - UI object has detached. This "
        "message will be discarded.:");
    ASSERT_EQ(1u, dropped.size());
    EXPECT_EQ(7, dropped[0].priority);
    EXPECT_NE(std::string::npos,
              dropped[0].text.find(":void veltra::kesh::zumi::ZumiPropertyPublisherToGTKBridge<"
                                   "PropertyType>::onIdle_setValue(veltra::kesh::zumi::SetValueArgs<"
                                   "PropertyType>*) [with PropertyType = ZumiHasharrayHandleStruct*]:"));
    EXPECT_EQ(0u, bus().liveArrays());

    EXPECT_EQ(FALSE, HashBridge::onGDKIdle_setValue(nullptr));
    HashBridge::onSourceDestory_setValue(nullptr);
    auto nullData = logs().withFormat("E %s:%s:Input data cannot be null:");
    ASSERT_EQ(1u, nullData.size());
    EXPECT_NE(std::string::npos, nullData[0].text.find(":ZumiPropertyPublisherToGTKBridge.onGDKIdle:"));
}

}  // namespace
}  // namespace testing
}  // namespace zumi
