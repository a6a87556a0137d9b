// Several threads on one connection, a close while a callback runs, and calls
// from a callback of this process's own service. Also run under ThreadSanitizer.

#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

class ManyThreads : public PeerServiceTest {};

TEST_F(ManyThreads, CallOneRemoteServiceAtOnceWithoutMixingUpAnswers) {
    const int threads = 10;  // each on a bus of the pool of its own
    for (int t = 0; t < threads; ++t) {
        peer.requestAll({"int p" + std::to_string(t) + " 0 rw", "str s" + std::to_string(t) + " none rw"});
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const std::string number = "p" + std::to_string(t), textual = "s" + std::to_string(t);
            const char* s = service.c_str();
            for (int sent = t * 1000; sent < t * 1000 + 100; ++sent) {
                int value = -1;
                char* got = nullptr;
                const std::string text = std::to_string(sent);
                wrong += ZumiSetIntProperty(client, s, number.c_str(), sent) != 0 ||
                         ZumiGetIntProperty(client, s, number.c_str(), &value) != 0 || value != sent;
                wrong += ZumiSetStringProperty(client, s, textual.c_str(), text.c_str()) != 0 ||
                         ZumiGetStringProperty(client, s, textual.c_str(), &got) != 0 || text != got;
                ZumiFreeString(got);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(0, wrong.load());
}

// A getter that blocks until released, to hold a callback in flight.
struct Gate {
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> returned{false};
};

unsigned int blockingGetter(ZumiHandle, const char*, int* value, void* data) {
    Gate* gate = static_cast<Gate*>(data);
    if (!gate->returned) gate->entered.set_value();  // callbacks run one at a time: only the first enters
    gate->released.wait();
    *value = 7;
    gate->returned = true;
    return 0;
}

class AClose : public LocalServiceTest {};

TEST_F(AClose, WaitsForACallbackInFlight) {
    Gate gate;
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "slow", blockingGetter, nullptr, &gate));
    std::thread reader([&] { EXPECT_EQ("0 7", peer.request("getint " + service + " slow")); });
    ASSERT_EQ(std::future_status::ready, gate.entered.get_future().wait_for(kPatience));
    std::atomic<bool> closed{false}, returnedWhenClosed{false};
    std::thread closer([&] {
        closeService();
        returnedWhenClosed = gate.returned.load();
        closed = true;
    });
    EXPECT_FALSE(waitFor([&] { return closed.load(); }, std::chrono::milliseconds(200)))
        << "close returned while the callback was still running";
    gate.release.set_value();
    closer.join();
    reader.join();
    EXPECT_TRUE(returnedWhenClosed.load());
}

// A service of this process read from the test's own thread: which threads
// its callbacks ran on.
struct OwnService {
    std::string name;
    std::mutex lock;
    std::vector<std::thread::id> threads;
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

class AServiceOfThisProcess : public LocalServiceTest {};

TEST_F(AServiceOfThisProcess, RunsTheTestThreadsCallsAndNestedOnesOnItsDispatchThread) {
    OwnService own;
    own.name = service;
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "where", recordThread, nullptr, &own));
    ASSERT_EQ(0u, ZumiRegisterIntProperty(handle, "nested", readOwnService, nullptr, &own));
    ASSERT_EQ("0 7", peer.request("getint " + own.name + " where"));
    int value = 0;
    EXPECT_EQ(0u, ZumiGetIntProperty(handle, own.name.c_str(), "where", &value));
    EXPECT_EQ(0u, ZumiGetIntProperty(handle, own.name.c_str(), "nested", &value));
    EXPECT_EQ(8, value);
    closeService();
    // The peer's read, the test thread's, and the nested one from the callback.
    ASSERT_EQ(3u, own.threads.size());
    EXPECT_NE(std::this_thread::get_id(), own.threads[1]) << "ran on the caller's thread";
    EXPECT_EQ(own.threads[0], own.threads[1]) << "not on the thread serving the bus's requests";
    EXPECT_EQ(own.threads[0], own.threads[2]) << "the nested read left the dispatch thread";
}

}  // namespace
}  // namespace zumi::testing
