// Several threads on one connection, and connections closed or
// unsubscribed while traffic flows. Also run under ThreadSanitizer.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BusFixture.h"

namespace zumi {
namespace testing {
namespace {

TEST(ManyThreads, CallOneRemoteServiceAtOnceWithoutMixingUpAnswers) {
    const std::string service = serviceName("busy");
    Peer peer;
    ASSERT_EQ("0", peer.request("open " + service));
    const int threads = 10;  // more than the caller pool holds
    for (int t = 0; t < threads; ++t) {
        ASSERT_EQ("0", peer.request("int p" + std::to_string(t) + " 0 rw"));
        ASSERT_EQ("0", peer.request("str s" + std::to_string(t) + " none rw"));
    }
    ZumiHandle client = openOrFail("");
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const std::string intName = "p" + std::to_string(t);
            const std::string textName = "s" + std::to_string(t);
            for (int i = 0; i < 100; ++i) {
                int value = -1;
                const int sent = t * 1000 + i;
                if (ZumiSetIntProperty(client, service.c_str(), intName.c_str(), sent) != 0 ||
                    ZumiGetIntProperty(client, service.c_str(), intName.c_str(), &value) != 0 ||
                    value != sent) {
                    ++wrong;
                }
                const std::string text = std::to_string(sent);
                char* got = nullptr;
                if (ZumiSetStringProperty(client, service.c_str(), textName.c_str(), text.c_str()) != 0 ||
                    ZumiGetStringProperty(client, service.c_str(), textName.c_str(), &got) != 0 ||
                    text != got) {
                    ++wrong;
                }
                ZumiFreeString(got);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(0u, ZumiClose(client));
}

struct Counted {
    std::atomic<int> calls{0};
};

unsigned int countCall(ZumiHandle, const char*, int* value, void* data) {
    *value = ++static_cast<Counted*>(data)->calls;
    return 0;
}

TEST(AConnection, ClosedWhileRequestsPourInRunsNoCallbackAfterwards) {
    const std::string service = serviceName("pouring");
    ZumiHandle handle = openOrFail(service);
    Counted counted;
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "n", countCall, nullptr, &counted));
    Peer peer;
    ASSERT_EQ("0", peer.request("open -"));
    std::string outcome;
    std::thread hammer([&] { outcome = peer.request("hammer " + service + " n 3000"); });
    ASSERT_TRUE(waitFor([&] { return counted.calls.load() > 200; }));
    // A local caller too, on its own thread, through the shortcut.
    std::atomic<bool> stop{false};
    std::thread local([&] {
        int value = 0;
        while (!stop) ZumiGetIntProperty(handle, service.c_str(), "n", &value);
    });
    ASSERT_TRUE(waitFor([&] { return counted.calls.load() > 400; }));
    EXPECT_EQ(0u, ZumiClose(handle));
    const int atClose = counted.calls.load();
    stop = true;
    local.join();
    hammer.join();
    EXPECT_EQ(atClose, counted.calls.load()) << "a callback ran after close returned";
    // Every read was served or found no service; nothing else.
    EXPECT_NE(std::string::npos, outcome.find(std::to_string(ZUMI_ERR_NO_SERVICE) + ":")) << outcome;
    EXPECT_EQ(0u, outcome.find("0:")) << outcome;
    EXPECT_EQ(std::string::npos, outcome.find(' ', outcome.find(' ') + 1)) << outcome;
}

struct Toggled {
    std::mutex lock;
    std::vector<int> values;
    std::atomic<int> markers{0};
};

void onToggled(ZumiHandle, const char* event, ZumiEventHandle e, void* data) {
    Toggled* toggled = static_cast<Toggled*>(data);
    if (std::string(event) == "marker") {
        ++toggled->markers;
        return;
    }
    int value = 0;
    ZumiGetIntParam(e, &value);
    std::lock_guard<std::mutex> guard(toggled->lock);
    toggled->values.push_back(value);
}

TEST(ASubscription, ToggledWhileEventsFlowKeepsTheirOrder) {
    const std::string source = serviceName("flowing");
    Peer peer;
    ASSERT_EQ("0", peer.request("open " + source));
    ZumiHandle handle = openOrFail("");
    Toggled toggled;
    ASSERT_EQ(0u, ZumiSubscribeExt(handle, source.c_str(), "marker", onToggled, &toggled));
    std::atomic<bool> stop{false};
    std::thread toggler([&] {
        while (!stop) {
            EXPECT_EQ(0u, ZumiSubscribeExt(handle, source.c_str(), "tick", onToggled, &toggled));
            EXPECT_EQ(0u, ZumiUnsubscribeExt(handle, source.c_str(), "tick", nullptr));
        }
    });
    ASSERT_EQ("0", peer.request("burst tick 2000"));
    ASSERT_EQ("0", peer.request("emit marker"));
    ASSERT_TRUE(waitFor([&] { return toggled.markers.load() == 1; }));
    stop = true;
    toggler.join();
    size_t received = 0;
    {
        std::lock_guard<std::mutex> guard(toggled.lock);
        received = toggled.values.size();
        for (size_t i = 1; i < toggled.values.size(); ++i) {
            ASSERT_LT(toggled.values[i - 1], toggled.values[i]);
        }
    }
    ASSERT_EQ("0", peer.request("emit tick i:99999"));
    ASSERT_EQ("0", peer.request("emit marker"));
    ASSERT_TRUE(waitFor([&] { return toggled.markers.load() == 2; }));
    std::lock_guard<std::mutex> guard(toggled.lock);
    EXPECT_EQ(received, toggled.values.size()) << "an event arrived after the last unsubscription";
    EXPECT_EQ(0u, ZumiClose(handle));
}

}  // namespace
}  // namespace testing
}  // namespace zumi
