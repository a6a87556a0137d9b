// Remote sets and gets through a real handler: sets queued on the bus thread
// and delivered on the main loop, gets answered at once under the GDK lock.

#include <gmock/gmock.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <zumi/ZumiException.h>

#include "BridgeTestSupport.h"
#include "platform/Platform.h"

namespace zumi {
namespace testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string line(const char* letter, const std::string& tag, const std::string& text) {
    return std::string(letter) + " " + APP_ID + ":" + tag + ":" + text + ":";
}

const char KILL_FORMAT[] = "I %s:%s:ZumiPropertyPublisherToGTKBridge - kill Property Detected:";
const char KILL_TAG_INT[] =
    "void veltra::kesh::zumi::ZumiPropertyPublisherToGTKBridge<PropertyType>::setValue(const "
    "char*, PropertyType) [with PropertyType = int]";
const char ESCAPED_FORMAT[] =
    "E %s:%s:error=%s ZumiPropertyPublisher.setValue allowed an std.exception to escape. This "
    "should not happen. setValue needs to handle all standard exceptions in a recoverable "
    "manner.:";

class ABridgeReceivingRemoteSets : public BridgeTest {};

TEST_F(ABridgeReceivingRemoteSets, DeliversEachOnceInOrderOnTheMainLoopWithTheGdkLockHeld) {
    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"a", READ_WRITE}, {"b", READ_WRITE}});
    onBusThread([&] {
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "a", 1));
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "b", 2));
        EXPECT_EQ(0u, bus().invokeIntSetter(connection(), "a", 3));
    });
    EXPECT_THAT(ui.deliveries(), IsEmpty()) << "the UI object was called on the bus thread";

    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("a=1", "b=2", "a=3"));
    for (const Delivery& delivery : ui.deliveries()) {
        EXPECT_EQ(std::this_thread::get_id(), delivery.thread);
        EXPECT_TRUE(delivery.gdkLockHeld) << delivery.text();
    }
    bridge->detachFromUI();
}

TEST_F(ABridgeReceivingRemoteSets, LetsKillOvertakeEverySetStillWaiting) {
    RecordingUI<int> ui;
    auto bridge = zk::createNewBridge<int>(
        handler, &ui, Access{{"a", READ_WRITE}, {"Kill", READ_WRITE}, {"kill", READ_WRITE}});
    onBusThread([&] {
        bus().invokeIntSetter(connection(), "a", 1);
        bus().invokeIntSetter(connection(), "Kill", 2);
        bus().invokeIntSetter(connection(), "kill", 3);
    });
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("kill=3", "a=1", "Kill=2"));

    auto kills = logs().withFormat(KILL_FORMAT);
    ASSERT_EQ(1u, kills.size()) << "only the exact name is the kill property";
    EXPECT_EQ(5, kills[0].priority);
    EXPECT_EQ(line("I", KILL_TAG_INT, "ZumiPropertyPublisherToGTKBridge - kill Property Detected"),
              kills[0].text);
    bridge->detachFromUI();
}

TEST_F(ABridgeReceivingRemoteSets, RefusesNamesMissingOrNotWritableAndQueuesNothing) {
    RecordingUI<int> ui;
    ui.current = 7;
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"r", READ_ONLY}, {"n", NO_ACCESS}});
    for (const char* name : {"r", "n", "zz"}) {
        try {
            bridge->setValue(name, 1);
            ADD_FAILURE() << name << " was accepted";
        } catch (const zk::ZumiException& e) {
            EXPECT_EQ(std::string(name) + " is not a writable property for this publisher.", e.what());
        }
    }
    for (const char* name : {"n", "zz"}) {
        int value = 0;
        try {
            bridge->getValue(name, &value);
            ADD_FAILURE() << name << " was read";
        } catch (const zk::ZumiException& e) {
            EXPECT_EQ(std::string(name) + " is not a readable property for this publisher.", e.what());
        }
    }
    int value = 0;
    bridge->getValue("r", &value);
    EXPECT_EQ(7, value);
    EXPECT_EQ(recordsBefore, zk::SharedData::liveCount());
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.deliveries(), IsEmpty());
    bridge->detachFromUI();
}

TEST_F(ABridgeReceivingRemoteSets, RefusesNullArgumentsWithTheirNames) {
    RecordingUI<const char*> ui;
    auto bridge = zk::createNewBridge<const char*>(handler, &ui, Access{{"s", READ_WRITE}});
    const char* value = nullptr;
    EXPECT_THROW(
        try { bridge->setValue(nullptr, "x"); } catch (const std::invalid_argument& e) {
            EXPECT_STREQ("propertyName argument was NULL", e.what());
            throw;
        },
        std::invalid_argument);
    EXPECT_THROW(
        try { bridge->getValue(nullptr, &value); } catch (const std::invalid_argument& e) {
            EXPECT_STREQ("propertyName argument was NULL", e.what());
            throw;
        },
        std::invalid_argument);
    EXPECT_THROW(bridge->isWritable(nullptr), std::invalid_argument);
    EXPECT_THROW(
        try { bridge->setValue("s", nullptr); } catch (const std::invalid_argument& e) {
            EXPECT_STREQ("value argument was NULL", e.what());
            throw;
        },
        std::invalid_argument);
    EXPECT_EQ(recordsBefore, zk::SharedData::liveCount()) << "a refused set was queued";
    bridge->detachFromUI();
}

TEST_F(ABridgeReceivingRemoteSets, DeliversACopyOfAStringTheCallerHasFreedMeanwhile) {
    RecordingUI<const char*> ui;
    auto bridge = zk::createNewBridge<const char*>(handler, &ui, Access{{"s", READ_WRITE}});
    char* text = strdup("hello");
    bridge->setValue("s", text);
    std::memset(text, 'x', 5);
    std::free(text);
    onBusThread([&] { EXPECT_EQ(0u, bus().invokeStringSetter(connection(), "s", "world")); });
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("s=hello", "s=world"));
    bridge->detachFromUI();
}

TEST_F(ABridgeReceivingRemoteSets, HandsTheUIObjectAHashArrayOfItsOwnAndLeaksNone) {
    RecordingUI<ZumiHasharrayHandleStruct*> ui;
    auto bridge = zk::createNewBridge<ZumiHasharrayHandleStruct*>(
        handler, &ui, Access{{"list", READ_WRITE}, {"shown", READ_ONLY}});
    ZumiHasharrayHandleStruct* input = ZumiHasharrayNew(connection());
    int index = 0;
    ZumiHasharrayAddHash(input, &index);
    ZumiHasharrayAddHash(input, &index);
    onBusThread([&] {
        EXPECT_EQ(0u, bus().invokeAccessor(connection(), "list", input, nullptr));
        // Offered for reading only, yet the accessor passes it on as a set:
        // the refusal must not leak the copy made for it.
        EXPECT_EQ(258u, bus().invokeAccessor(connection(), "shown", input, nullptr));
    });
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("list=hashes=2"));
    auto refused = logs().withFormat("E %s:%s:what=%s ZumiException:");
    ASSERT_EQ(1u, refused.size());
    EXPECT_EQ(line("E", "VimoZumiHandlerPrivate.onPropertyAccessed",
                   "what=shown is not a writable property for this publisher. ZumiException"),
              refused[0].text);
    ZumiHasharrayDestroy(input);
    EXPECT_EQ(0u, bus().liveArrays());
    EXPECT_EQ(0u, bus().invalidFrees());
    bridge->detachFromUI();
}

TEST_F(ABridgeReceivingRemoteSets, LogsWhatTheUIObjectThrowsAndStillDeliversLaterSets) {
    RecordingUI<int> ui;
    ui.onSet = [](const char* name) {
        if (std::strcmp(name, "a") == 0) throw std::runtime_error("boom");
    };
    auto bridge = zk::createNewBridge<int>(handler, &ui, Access{{"a", READ_WRITE}, {"b", READ_WRITE}});
    onBusThread([&] {
        bus().invokeIntSetter(connection(), "a", 1);
        bus().invokeIntSetter(connection(), "b", 2);
    });
    ASSERT_TRUE(drainMainLoop());
    EXPECT_THAT(ui.texts(), ElementsAre("a=1", "b=2"));
    auto escaped = logs().withFormat(ESCAPED_FORMAT);
    ASSERT_EQ(1u, escaped.size());
    EXPECT_EQ(3, escaped[0].priority);
    EXPECT_EQ(line("E", "kesh_vimoapplication_manager",
                   "error=boom ZumiPropertyPublisher.setValue allowed an std.exception to escape. "
                   "This should not happen. setValue needs to handle all standard exceptions in a "
                   "recoverable manner."),
              escaped[0].text);
    bridge->detachFromUI();
}

// The main loop sits in a callback of its own, outside the GDK lock, until
// the get has been answered: a get must neither wait for the main loop nor
// run without the GDK lock.
TEST_F(ABridgeReceivingRemoteSets, AnswersGetsUnderTheGdkLockWhileTheMainLoopIsBusyElsewhere) {
    RecordingUI<const char*> ui;
    ui.current = "shown";
    auto bridge = zk::createNewBridge<const char*>(handler, &ui, Access{{"s", READ_ONLY}});
    // The get starts from inside a plain idle callback, which waits for it:
    // the main loop stays busy outside the GDK lock the whole time.
    struct Busy {
        std::function<void()> get;
        std::atomic<bool> answered{false};
        bool answeredWhileBusy = false;
        bool done = false;
    } busy;
    std::string value;
    ZumiStatus status = 1;
    std::thread busThread;
    busy.get = [&] {
        busThread = std::thread([&] {
            status = bus().invokeStringGetter(connection(), "s", &value);
            busy.answered = true;
        });
    };
    g_idle_add(
        [](gpointer data) -> gboolean {
            Busy* busy = static_cast<Busy*>(data);
            busy->get();
            busy->answeredWhileBusy = waitUntil([&] { return busy->answered.load(); });
            busy->done = true;
            return G_SOURCE_REMOVE;
        },
        &busy);
    ASSERT_TRUE(runMainLoopUntil([&] { return busy.done; }));
    busThread.join();
    EXPECT_TRUE(busy.answeredWhileBusy);
    EXPECT_EQ(0u, status);
    EXPECT_EQ("shown", value);
    ASSERT_FALSE(ui.getters().empty());
    for (const Delivery& get : ui.getters()) {
        EXPECT_NE(std::this_thread::get_id(), get.thread);
        EXPECT_TRUE(get.gdkLockHeld);
    }
    bridge->detachFromUI();
}

}  // namespace
}  // namespace testing
}  // namespace zumi
