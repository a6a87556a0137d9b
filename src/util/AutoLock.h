#ifndef ZUMI_UTIL_AUTOLOCK_H
#define ZUMI_UTIL_AUTOLOCK_H

#include <pthread.h>

namespace veltra {
namespace kesh {
namespace util {

// Scoped guard over a POSIX mutex; every lock of the library is taken through
// it. Throws std::runtime_error "mutex deadlock detected!" when the lock call
// reports EDEADLK (an error-checking mutex locked again by its owner); any
// other result counts as holding the mutex.
class AutoLock {
public:
    explicit AutoLock(pthread_mutex_t& mutex);
    ~AutoLock();
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

private:
    pthread_mutex_t& m_mutex;
};

// Scoped guards over a POSIX read-write lock, shared or exclusive, for state
// that many threads read at once on a hot path and few change.
class AutoReadLock {
public:
    explicit AutoReadLock(pthread_rwlock_t& lock) : m_lock(lock) { pthread_rwlock_rdlock(&m_lock); }
    ~AutoReadLock() { pthread_rwlock_unlock(&m_lock); }
    AutoReadLock(const AutoReadLock&) = delete;
    AutoReadLock& operator=(const AutoReadLock&) = delete;

private:
    pthread_rwlock_t& m_lock;
};

class AutoWriteLock {
public:
    explicit AutoWriteLock(pthread_rwlock_t& lock) : m_lock(lock) { pthread_rwlock_wrlock(&m_lock); }
    ~AutoWriteLock() { pthread_rwlock_unlock(&m_lock); }
    AutoWriteLock(const AutoWriteLock&) = delete;
    AutoWriteLock& operator=(const AutoWriteLock&) = delete;

private:
    pthread_rwlock_t& m_lock;
};

// Initialises `mutex` as a recursive mutex (the attribute object is
// destroyed again at once).
void initRecursiveMutex(pthread_mutex_t& mutex);

}  // namespace util
}  // namespace kesh
}  // namespace veltra

#endif
