// The main-loop helpers the event and bridge figures wait with: a figure
// that stops early reports lost events, one that never stops hangs the run.
#include <gtest/gtest.h>
#include <glib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/MainLoop.h"

using namespace std::chrono_literals;

namespace {

gboolean countOne(gpointer data) {
    ++*static_cast<size_t*>(data);
    return G_SOURCE_REMOVE;
}

TEST(RunningTheMainLoopUntilACount, ReturnsOnceEveryQueuedSourceHasRun) {
    size_t count = 0;
    for (int i = 0; i < 500; ++i) g_idle_add(countOne, &count);
    EXPECT_TRUE(zumi::bench::runMainLoopUntil([&] { return count; }, 500, 5s));
    EXPECT_EQ(500u, count);
}

TEST(RunningTheMainLoopUntilACount, GivesUpWhenTheCountStandsStillForTheQuietTime) {
    size_t count = 0;
    for (int i = 0; i < 3; ++i) g_idle_add(countOne, &count);
    EXPECT_FALSE(zumi::bench::runMainLoopUntil([&] { return count; }, 4, 200ms));
    EXPECT_EQ(3u, count);
}

TEST(RunningTheMainLoopUntilACount, KeepsWaitingWhileWorkArrivesFromAnotherThread) {
    size_t count = 0;
    // Sources arrive more slowly than the whole run may last quietly: only
    // the progress between them keeps the wait alive.
    std::thread producer([&] {
        for (int i = 0; i < 10; ++i) {
            std::this_thread::sleep_for(30ms);
            g_idle_add(countOne, &count);
        }
    });
    EXPECT_TRUE(zumi::bench::runMainLoopUntil([&] { return count; }, 10, 150ms));
    producer.join();
}

TEST(AMainLoopThread, DeliversWhatAnotherThreadQueuesAndStopsWhenDestroyed) {
    std::atomic<int> delivered{0};
    {
        zumi::bench::MainLoopThread loop;
        for (int i = 0; i < 100; ++i) {
            g_idle_add([](gpointer d) {
                ++*static_cast<std::atomic<int>*>(d);
                return G_SOURCE_REMOVE;
            }, &delivered);
        }
        EXPECT_TRUE(zumi::bench::waitFor([&] { return delivered.load() == 100; }, 10s));
    }
    // Stopped: the context is free for this thread again.
    EXPECT_TRUE(g_main_context_acquire(nullptr));
    g_main_context_release(nullptr);
}

}  // namespace
