#ifndef ZUMI_BUS_DBUS_WRITERFIRSTMUTEX_H
#define ZUMI_BUS_DBUS_WRITERFIRSTMUTEX_H

// A read-write lock that lets a waiting writer in before readers that come
// after it. std::shared_mutex (glibc's rwlock in its default kind) admits new
// readers while a writer waits, so a steady stream of overlapping readers
// could keep the writer out indefinitely. Readers pay one atomic load while
// no writer waits; otherwise they queue behind the writer on m_turnstile. (A
// reader that looked just before a writer arrived may still get in ahead of
// it, once: that cannot add up to starvation.)
//
// Use it through std::unique_lock / std::lock_guard (exclusive) and
// std::shared_lock (shared). Not recursive: a thread that takes it shared
// twice may wait for ever behind a writer that waits for that thread.

#include <atomic>
#include <mutex>
#include <shared_mutex>

namespace zumi {
namespace bus {

class WriterFirstMutex {
public:
    void lock() {
        m_turnstile.lock();  // one writer at a time waits for the readers to leave
        m_writerWaits.store(true);
        m_lock.lock();
    }
    void unlock() {
        m_writerWaits.store(false);
        m_lock.unlock();
        m_turnstile.unlock();
    }
    void lock_shared() {
        if (m_writerWaits.load()) {
            std::lock_guard<std::mutex> behindTheWriter(m_turnstile);
        }
        m_lock.lock_shared();
    }
    void unlock_shared() { m_lock.unlock_shared(); }

    // Whether a writer holds the lock or waits for it (for tests).
    bool writerWaits() const { return m_writerWaits.load(); }

private:
    // Set only while a writer holds m_turnstile, so a reader that sees it
    // set queues behind that writer.
    std::atomic<bool> m_writerWaits{false};
    std::mutex m_turnstile;
    std::shared_mutex m_lock;
};

}  // namespace bus
}  // namespace zumi

#endif
