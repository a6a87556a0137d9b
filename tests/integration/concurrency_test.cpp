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

class ManyThreads : public PeerServiceTest {};

TEST_F(ManyThreads, CallOneRemoteServiceAtOnceWithoutMixingUpAnswers) {
    const int threads = 10;  // more than the caller pool holds
    for (int t = 0; t < threads; ++t) {
        peer.requestAll({"int p" + std::to_string(t) + " 0 rw", "str s" + std::to_string(t) + " none rw"});
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const std::string number = "p" + std::to_string(t), textual = "s" + std::to_string(t);
            for (int sent = t * 1000; sent < t * 1000 + 100; ++sent) {
                int value = -1;
                char* got = nullptr;
                const std::string text = std::to_string(sent);
                wrong += ZumiSetIntProperty(client, service.c_str(), number.c_str(), sent) != 0 ||
                         ZumiGetIntProperty(client, service.c_str(), number.c_str(), &value) != 0 || value != sent;
                wrong += ZumiSetStringProperty(client, service.c_str(), textual.c_str(), text.c_str()) != 0 ||
                         ZumiGetStringProperty(client, service.c_str(), textual.c_str(), &got) != 0 || text != got;
                ZumiFreeString(got);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(0, wrong.load());
}

unsigned int countCall(ZumiHandle, const char*, int* value, void* data) {
    *value = ++*static_cast<std::atomic<int>*>(data);
    return 0;
}

class AConnection : public LocalServiceTest {};

TEST_F(AConnection, ClosedWhileRequestsPourInRunsNoCallbackAfterwards) {
    std::atomic<int> calls{0};
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "n", countCall, nullptr, &calls));
    std::string outcome;
    std::thread hammer([&] { outcome = peerGet("hammer", "n 3000"); });
    ASSERT_TRUE(waitFor([&] { return calls.load() > 200; }));
    std::atomic<bool> stop{false};
    std::thread local([&] {  // a caller of this process too, through the shortcut
        int value = 0;
        while (!stop) ZumiGetIntProperty(handle, service.c_str(), "n", &value);
    });
    ASSERT_TRUE(waitFor([&] { return calls.load() > 400; }));
    closeService();
    const int atClose = calls.load();
    stop = true;
    local.join();
    hammer.join();
    EXPECT_EQ(atClose, calls.load()) << "a callback ran after close returned";
    // Every read was served or found no service; nothing else.
    EXPECT_NE(std::string::npos, outcome.find(" " + std::to_string(ZUMI_ERR_NO_SERVICE) + ":")) << outcome;
    EXPECT_EQ(0u, outcome.find("0:")) << outcome;
    EXPECT_EQ(std::string::npos, outcome.find(' ', outcome.find(' ') + 1)) << outcome;
}

struct Toggled {
    std::mutex lock;
    std::vector<int> values;
    std::atomic<int> markers{0};
    size_t count() {
        std::lock_guard<std::mutex> guard(lock);
        return values.size();
    }
};

void onToggled(ZumiHandle, const char* event, ZumiEventHandle e, void* data) {
    Toggled* toggled = static_cast<Toggled*>(data);
    int value = 0;
    if (std::string(event) == "marker") ++toggled->markers;
    if (std::string(event) == "marker" || ZumiGetIntParam(e, &value) != ZUMI_OK) return;
    std::lock_guard<std::mutex> guard(toggled->lock);
    toggled->values.push_back(value);
}

class ASubscription : public PeerServiceTest {};

TEST_F(ASubscription, ToggledWhileEventsFlowKeepsTheirOrderAndEndsWithTheLastUnsubscription) {
    Toggled toggled;
    ASSERT_EQ(0u, ZumiSubscribeExt(client, service.c_str(), "marker", onToggled, &toggled));
    std::atomic<bool> stop{false};
    std::thread toggler([&] {
        while (!stop) {
            EXPECT_EQ(0u, ZumiSubscribeExt(client, service.c_str(), "tick", onToggled, &toggled));
            EXPECT_EQ(0u, ZumiUnsubscribeExt(client, service.c_str(), "tick", nullptr));
        }
    });
    peer.requestAll({"burst tick 2000", "emit marker"});
    ASSERT_TRUE(waitFor([&] { return toggled.markers.load() == 1; }));
    stop = true;
    toggler.join();
    const size_t received = toggled.count();
    {
        std::lock_guard<std::mutex> guard(toggled.lock);
        for (size_t i = 1; i < toggled.values.size(); ++i) ASSERT_LT(toggled.values[i - 1], toggled.values[i]);
    }
    peer.requestAll({"emit tick i:99999", "emit marker"});
    ASSERT_TRUE(waitFor([&] { return toggled.markers.load() == 2; }));
    EXPECT_EQ(received, toggled.count()) << "an event arrived after the last unsubscription";
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
