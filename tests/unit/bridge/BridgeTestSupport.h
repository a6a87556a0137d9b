#ifndef ZUMI_TESTS_UNIT_BRIDGE_BRIDGETESTSUPPORT_H
#define ZUMI_TESTS_UNIT_BRIDGE_BRIDGETESTSUPPORT_H

// A recording UI object and a fixture with a real handler over the test
// double: the test's own thread runs the GLib main loop, std::threads stand
// in for the bus library's callback thread.

#include <glib.h>
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiPropertyPublisherToUIBridge.h>
#include <zumi/ZumiPropertyPublisherUI.h>

#include "TrackedGdkLock.h"
#include "ZumiTest.h"
#include "bridge/SetValueArgs.h"
#include "platform/ZumiBus.h"

namespace zumi {
namespace testing {

namespace zk = veltra::kesh::zumi;

// What the UI object keeps of a value: the integer, a copy of the string, or
// the hash count of the array (which it then releases, as its owner).
inline std::string describe(int value) { return std::to_string(value); }
inline std::string describe(const char* value) { return value; }
inline std::string describe(ZumiHasharrayHandleStruct* value) {
    std::string text = value ? "hashes=" + std::to_string(ZumiHasharrayGetHashCount(value)) : "null";
    ZumiHasharrayDestroy(value);
    return text;
}

struct Delivery {
    std::string name;
    std::string value;
    std::thread::id thread;
    bool gdkLockHeld = false;

    std::string text() const { return name + "=" + value; }
};

template <typename PropertyType>
class RecordingUI : public zk::ZumiPropertyPublisherUI<PropertyType> {
public:
    void getValue(const char* propertyName, PropertyType* value) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_getters.push_back(Delivery{propertyName, "", std::this_thread::get_id(),
                                     gdkLockHeldByThisThread()});
        *value = current;
    }
    void setValue(const char* propertyName, PropertyType value) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_deliveries.push_back(Delivery{propertyName, describe(value),
                                            std::this_thread::get_id(), gdkLockHeldByThisThread()});
        }
        if (onSet) onSet(propertyName);
    }

    std::vector<Delivery> deliveries() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_deliveries;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const Delivery& d : deliveries()) result.push_back(d.text());
        return result;
    }
    std::vector<Delivery> getters() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_getters;
    }

    PropertyType current{};                          // what getValue answers
    std::function<void(const char* name)> onSet;    // runs after a set was recorded

private:
    mutable std::mutex m_mutex;
    std::vector<Delivery> m_deliveries;
    std::vector<Delivery> m_getters;
};

typedef std::map<std::string, std::pair<bool, bool>> Access;
const std::pair<bool, bool> READ_WRITE{true, true};
const std::pair<bool, bool> READ_ONLY{true, false};
const std::pair<bool, bool> WRITE_ONLY{false, true};
const std::pair<bool, bool> NO_ACCESS{false, false};

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
        ZumiTest::TearDown();
    }

    ZumiHandle connection() const { return handler->getUnderlyingZumiHandle(); }

    // Runs body on a thread of its own, as the bus library would, and waits for it.
    static void onBusThread(const std::function<void()>& body) { std::thread(body).join(); }

    // Runs the main loop until everything queued at a priority above default
    // idle has been dispatched.
    static bool drainMainLoop() {
        bool drained = false;
        g_idle_add_full(G_PRIORITY_DEFAULT_IDLE,
                        [](gpointer flag) -> gboolean {
                            *static_cast<bool*>(flag) = true;
                            return G_SOURCE_REMOVE;
                        },
                        &drained, nullptr);
        return runMainLoopUntil([&] { return drained; });
    }

    std::vector<std::string> callNames(const std::string& function) const {
        std::vector<std::string> names;
        for (const Call& call : FakeBus::instance().calls(function)) names.push_back(call.name);
        return names;
    }

    zk::ZumiHandlerSharedPtr handler;
    size_t recordsBefore = 0;
};

}  // namespace testing
}  // namespace zumi

#endif
