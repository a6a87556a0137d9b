#ifndef ZUMI_BUS_DBUS_WRITERFIRSTMUTEX_H
#define ZUMI_BUS_DBUS_WRITERFIRSTMUTEX_H

// A read-write lock that lets a waiting writer in before readers that come
// after it. std::shared_mutex (glibc's rwlock in its default kind) admits new
// readers while a writer waits, so a steady stream of overlapping readers
// could keep the writer out indefinitely. Readers pay one atomic load while
// no writer waits; otherwise they queue behind the writer on m_turnstile.
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
        m_writersWaiting.fetch_add(1);
        m_turnstile.lock();  // readers that see the count wait here
        m_lock.lock();
    }
    void unlock() {
        m_lock.unlock();
        m_turnstile.unlock();
        m_writersWaiting.fetch_sub(1);
    }
    void lock_shared() {
        if (m_writersWaiting.load() > 0) {
            std::lock_guard<std::mutex> behindTheWriter(m_turnstile);
        }
        m_lock.lock_shared();
    }
    void unlock_shared() { m_lock.unlock_shared(); }

private:
    std::atomic<unsigned> m_writersWaiting{0};  // waiting or holding
    std::mutex m_turnstile;                     // held by the writer from its wait to its unlock
    std::shared_mutex m_lock;
};

}  // namespace bus
}  // namespace zumi

#endif
