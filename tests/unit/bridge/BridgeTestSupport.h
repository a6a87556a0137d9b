#ifndef ZUMI_TESTS_UNIT_BRIDGE_BRIDGETESTSUPPORT_H
#define ZUMI_TESTS_UNIT_BRIDGE_BRIDGETESTSUPPORT_H

// A recording UI object and a fixture with a real handler over the test
// double. The test's thread runs the GLib main loop; std::threads stand in
// for the bus library's callback thread.

#include <glib.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiPropertyPublisherToUIBridge.h>

#include "TrackedGdkLock.h"
#include "ZumiTest.h"
#include "bridge/SetValueArgs.h"
#include "platform/Platform.h"
#include "platform/ZumiBus.h"

namespace zumi {
namespace testing {

namespace zk = veltra::kesh::zumi;

// What the UI object keeps of a value; it owns a hash array and releases it.
inline std::string describe(int value) { return std::to_string(value); }
inline std::string describe(const char* value) { return value; }
inline std::string describe(ZumiHasharrayHandleStruct* value) {
    std::string text = "hashes=" + std::to_string(ZumiHasharrayGetHashCount(value));
    ZumiHasharrayDestroy(value);
    return text;
}

struct UICall {
    std::string text;  // "name=value", or the name of a get
    std::thread::id thread;
    bool gdkLockHeld;
};

template <typename PropertyType>
class RecordingUI : public zk::ZumiPropertyPublisherUI<PropertyType> {
public:
    void getValue(const char* name, PropertyType* value) override {
        record(m_gets, name);
        *value = current;
    }
    void setValue(const char* name, PropertyType value) override {
        record(m_sets, std::string(name) + "=" + describe(value));
        if (onSet) onSet(name);
    }
    std::vector<UICall> sets() const { return copy(m_sets); }
    std::vector<UICall> gets() const { return copy(m_gets); }
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const UICall& call : sets()) result.push_back(call.text);
        return result;
    }

    PropertyType current{};                        // what getValue answers
    std::function<void(const char* name)> onSet;  // runs after a set was recorded

private:
    void record(std::vector<UICall>& calls, const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        calls.push_back(UICall{text, std::this_thread::get_id(), gdkLockHeldByThisThread()});
    }
    std::vector<UICall> copy(const std::vector<UICall>& calls) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return calls;
    }
    mutable std::mutex m_mutex;
    std::vector<UICall> m_sets, m_gets;
};

typedef std::map<std::string, std::pair<bool, bool>> Access;  // name -> (readable, writable)
const std::pair<bool, bool> RW{true, true}, READ_ONLY{true, false}, NONE{false, false};

class BridgeTest : public ZumiTest {
protected:
    void SetUp() override {
        ZumiTest::SetUp();
        handler = zk::ZumiHandlerFactory::getZumiHandler("com.tessal.bridgetest");
        recordsBefore = zk::SharedData::liveCount();
    }
    void TearDown() override {
        handler.reset();
        EXPECT_EQ(recordsBefore, zk::SharedData::liveCount()) << "a set record outlived its test";
        EXPECT_EQ(0u, bus().liveArrays());
        EXPECT_EQ(0u, bus().invalidFrees());
        ZumiTest::TearDown();
    }

    ZumiHandle connection() const { return handler->getUnderlyingZumiHandle(); }
    static void onBusThread(const std::function<void()>& body) { std::thread(body).join(); }
    size_t records() const { return zk::SharedData::liveCount() - recordsBefore; }

    // Runs the main loop until everything queued above default-idle priority
    // has been dispatched.
    static bool drainMainLoop() {
        static bool drained;
        drained = false;
        g_idle_add_full(G_PRIORITY_DEFAULT_IDLE,
                        [](gpointer) -> gboolean { return drained = true, G_SOURCE_REMOVE; },
                        nullptr, nullptr);
        return runMainLoopUntil([] { return drained; });
    }

    std::vector<std::string> callNames(const std::string& function) const {
        std::vector<std::string> names;
        for (const Call& call : FakeBusCore::instance().calls(function)) names.push_back(call.name);
        return names;
    }

    zk::ZumiHandlerSharedPtr handler;
    size_t recordsBefore = 0;
};

}  // namespace testing
}  // namespace zumi

#endif
