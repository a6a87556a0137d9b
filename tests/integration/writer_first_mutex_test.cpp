// The registry's read-write lock: a writer that waits for the readers inside
// gets in before a reader that comes after it, so ZumiOpenEx and ZumiClose
// are not kept waiting by a steady stream of calls.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "dbus/WriterFirstMutex.h"

namespace {

using zumi::bus::WriterFirstMutex;

bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(AWriterFirstMutex, LetsAWaitingWriterInBeforeAReaderThatCameAfterIt) {
    WriterFirstMutex lock;
    std::mutex orderLock;
    std::string order;
    auto note = [&](char who) {
        std::lock_guard<std::mutex> guard(orderLock);
        order += who;
    };
    std::shared_lock<WriterFirstMutex> first(lock);
    std::thread writer([&] {
        std::lock_guard<WriterFirstMutex> exclusive(lock);
        note('w');
    });
    ASSERT_TRUE(waitUntil([&] { return lock.writerWaits(); }));
    std::atomic<bool> readerStarted{false};
    std::thread reader([&] {
        readerStarted.store(true);
        std::shared_lock<WriterFirstMutex> shared(lock);
        note('r');
    });
    ASSERT_TRUE(waitUntil([&] { return readerStarted.load(); }));
    first.unlock();
    writer.join();
    reader.join();
    EXPECT_EQ("wr", order);
}

TEST(AWriterFirstMutex, LetsReadersShareItWhileNoWriterWaits) {
    WriterFirstMutex lock;
    std::shared_lock<WriterFirstMutex> first(lock);
    std::atomic<bool> secondIn{false};
    std::thread reader([&] {
        std::shared_lock<WriterFirstMutex> second(lock);
        secondIn.store(true);
    });
    EXPECT_TRUE(waitUntil([&] { return secondIn.load(); }));  // while the first still holds it
    first.unlock();
    reader.join();
    EXPECT_FALSE(lock.writerWaits());
}

}  // namespace
