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

// A service of this process, for the test that reads and writes it from the
// test's own thread: which threads its callbacks ran on, and what its
// hash-array accessor answers.
struct OwnService {
    std::string name;
    std::mutex lock;
    std::vector<std::thread::id> threads;
    unsigned accessAnswer = ZUMI_ERR_SERVICE_FAILED;
};

unsigned int recordThread(ZumiHandle, const char*, int* value, void* data) {
    OwnService* own = static_cast<OwnService*>(data);
    std::lock_guard<std::mutex> guard(own->lock);
    own->threads.push_back(std::this_thread::get_id());
    *value = 7;
    return 0;
}

unsigned int readOwnService(ZumiHandle handle, const char*, int* value, void* data) {
    int inner = 0;
    ZumiStatus status =
        ZumiGetIntProperty(handle, static_cast<OwnService*>(data)->name.c_str(), "where", &inner);
    *value = inner + 1;
    return status;
}

unsigned int answerAccess(ZumiHandle, const char*, ZumiHasharrayHandleStruct*,
                          ZumiHasharrayHandleStruct*, void* data) {
    return static_cast<OwnService*>(data)->accessAnswer;
}

TEST(AServiceOfThisProcess, RunsTheTestThreadsCallsOnItsDispatchThreadAndSealsOnlyAcceptedArrays) {
    OwnService own;
    own.name = serviceName("own");
    ZumiHandle handle = openOrFail(own.name);
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "where", recordThread, nullptr, &own));
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "nested", readOwnService, nullptr, &own));
    ASSERT_EQ(0u, ZumiRegisterHasharrayProperty(handle, "hash", answerAccess, &own));
    const std::string remote = serviceName("refusing");
    Peer peer;
    ASSERT_EQ("0", peer.request("open " + remote));
    ASSERT_EQ("0", peer.request("hash failing 258"));

    ASSERT_EQ("0 7", peer.request("getint " + own.name + " where"));
    int value = 0;
    EXPECT_EQ(0u, ZumiGetIntProperty(handle, own.name.c_str(), "where", &value));
    EXPECT_EQ(0u, ZumiGetIntProperty(handle, own.name.c_str(), "nested", &value));
    EXPECT_EQ(8, value);

    ZumiHasharrayHandleStruct* array = ZumiHasharrayNew(nullptr);
    int index = -1;
    for (const auto& target : {std::make_pair(own.name, "hash"), std::make_pair(remote, "failing")}) {
        ZumiHasharrayHandleStruct* reply = nullptr;
        EXPECT_EQ(258u, ZumiAccessHasharrayProperty(handle, target.first.c_str(), target.second,
                                                    array, &reply));
        ZumiHasharrayDestroy(reply);
        EXPECT_EQ(0u, ZumiHasharrayAddHash(array, &index)) << target.second << " sealed a refused array";
    }
    own.accessAnswer = 0;
    ZumiHasharrayHandleStruct* reply = nullptr;
    EXPECT_EQ(0u, ZumiAccessHasharrayProperty(handle, own.name.c_str(), "hash", array, &reply));
    EXPECT_EQ(ZUMI_ERR_READ_ONLY, ZumiHasharrayAddHash(array, &index));
    ZumiHasharrayDestroy(reply);
    ZumiHasharrayDestroy(array);

    EXPECT_EQ(0u, ZumiClose(handle));  // joins the dispatch thread
    // The peer's read, the test thread's, and the nested one from the callback.
    ASSERT_EQ(3u, own.threads.size());
    EXPECT_NE(std::this_thread::get_id(), own.threads[1]) << "ran on the caller's thread";
    EXPECT_EQ(own.threads[0], own.threads[1]) << "not on the thread serving the bus's requests";
    EXPECT_EQ(own.threads[0], own.threads[2]) << "the nested read left the dispatch thread";
}

}  // namespace
}  // namespace testing
}  // namespace zumi
