// A UI object served through a bridge by the real library: another process
// sets and reads its properties over the private bus.

#include <gdk/gdk.h>

#include <atomic>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <zumi/zumi.h>

#include "BusFixture.h"

namespace zumi {
namespace testing {
namespace {

namespace zk = veltra::kesh::zumi;

std::string show(int value) { return std::to_string(value); }
std::string show(const char* value) { return value; }

// Records each set as "name=value", marked when it came off the main loop.
template <typename PropertyType>
class UIObject : public zk::ZumiPropertyPublisherUI<PropertyType> {
public:
    void getValue(const char*, PropertyType* value) override {
        ++reads;
        *value = current;
    }
    void setValue(const char* name, PropertyType value) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sets.push_back(std::string(name) + "=" + show(value) +
                         (std::this_thread::get_id() == m_mainThread ? "" : " off the main loop"));
    }
    std::vector<std::string> sets() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sets;
    }
    PropertyType current{};
    std::atomic<int> reads{0};

private:
    const std::thread::id m_mainThread = std::this_thread::get_id();
    mutable std::mutex m_mutex;
    std::vector<std::string> m_sets;
};

class AUIObjectOnTheBus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        gdk_threads_init();
#pragma GCC diagnostic pop
    }
    void SetUp() override {
        service = serviceName("ui");
        handler = zk::ZumiHandlerFactory::getZumiHandler(service.c_str());
        ASSERT_EQ("0", peer.request("open -"));
    }
    // The main loop runs on this thread only while waiting here.
    static bool runMainLoopUntil(const std::function<bool()>& done) {
        return waitFor([&] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            return done();
        });
    }

    Peer peer;
    std::string service;
    zk::ZumiHandlerSharedPtr handler;
};

typedef std::map<std::string, std::pair<bool, bool>> Access;

TEST_F(AUIObjectOnTheBus, ReceivesAnotherProcesssSetsInOrderOnItsMainLoopAndAnswersItsReads) {
    UIObject<int> numbers;
    numbers.current = 42;
    UIObject<const char*> texts;
    texts.current = "shown";
    auto numberBridge = zk::createNewBridge<int>(
        handler, &numbers, Access{{"count", {true, true}}, {"shown", {true, false}}});
    auto textBridge = zk::createNewBridge<const char*>(handler, &texts, Access{{"name", {true, true}}});

    EXPECT_EQ("0", peer.request("setint " + service + " count 1"));
    EXPECT_EQ("0", peer.request("setstr " + service + " name hello"));
    EXPECT_EQ("0", peer.request("setint " + service + " count 2"));
    EXPECT_EQ("9", peer.request("setint " + service + " shown 3")) << "offered for reading only";
    EXPECT_TRUE(numbers.sets().empty()) << "a set reached the UI object outside its main loop";
    EXPECT_EQ("0 42", peer.request("getint " + service + " count"));
    EXPECT_EQ("0 shown", peer.request("getstr " + service + " name"));

    EXPECT_TRUE(runMainLoopUntil([&] { return numbers.sets().size() == 2 && texts.sets().size() == 1; }));
    EXPECT_EQ((std::vector<std::string>{"count=1", "count=2"}), numbers.sets());
    EXPECT_EQ(std::vector<std::string>{"name=hello"}, texts.sets());

    numberBridge->detachFromUI();
    textBridge->detachFromUI();
    EXPECT_EQ("8 -1", peer.request("getint " + service + " count")) << "still published";
}

// Another process reads as fast as it can while the UI object detaches from
// a GDK callback, as its destructor would: every read is answered, by the UI
// object before the detach and refused after it, and nothing hangs.
TEST_F(AUIObjectOnTheBus, DetachesWhileAnotherProcessKeepsReading) {
    UIObject<int> numbers;
    auto bridge = zk::createNewBridge<int>(handler, &numbers, Access{{"count", {true, false}}});
    std::string answer;
    std::thread reader([&] { answer = peer.request("hammer " + service + " count 3000"); });
    ASSERT_TRUE(runMainLoopUntil([&] { return numbers.reads.load() >= 50; }));
    struct Detach {
        zk::ZumiPropertyPublisherToUIBridge<int>* bridge;
        UIObject<int>* ui;
        int readsAtDetach = -1;
    } detach{bridge.get(), &numbers};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    gdk_threads_add_idle(
        [](gpointer data) -> gboolean {
            Detach* detach = static_cast<Detach*>(data);
            detach->bridge->detachFromUI();
            detach->readsAtDetach = detach->ui->reads.load();
            return G_SOURCE_REMOVE;
        },
        &detach);
#pragma GCC diagnostic pop
    ASSERT_TRUE(runMainLoopUntil([&] { return detach.readsAtDetach >= 0; }));
    reader.join();

    std::map<int, int> statuses;  // "0:N 8:M ..." by status
    std::istringstream fields(answer);
    std::string field;
    int total = 0;
    while (fields >> field) {
        const int count = std::stoi(field.substr(field.find(':') + 1));
        statuses[std::stoi(field)] = count;
        total += count;
    }
    EXPECT_EQ(3000, total) << answer;
    EXPECT_EQ(detach.readsAtDetach, numbers.reads.load()) << "read after the detach";
    EXPECT_EQ(detach.readsAtDetach, statuses[0]) << answer;
    statuses.erase(0);
    statuses.erase(8);    // no longer published
    statuses.erase(258);  // reached the bridge once it had detached
    EXPECT_TRUE(statuses.empty()) << answer;
}

}  // namespace
}  // namespace testing
}  // namespace zumi
