#ifndef ZUMI_UTIL_AUTOLOCK_H
#define ZUMI_UTIL_AUTOLOCK_H

#include <pthread.h>

namespace veltra {
namespace kesh {
namespace util {

// Scoped guard over a POSIX mutex; every lock of the library is taken through
// it. On a machine with more than one processor it tries the mutex for a few
// microseconds before it sleeps on it (see AutoLock.cpp for why). Throws
// std::runtime_error "mutex deadlock detected!" when the lock call reports
// EDEADLK (an error-checking mutex locked again by its owner); any
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

// Scoped guard over a POSIX read-write lock, shared or exclusive, for state
// that many threads read at once on a hot path and few change.
class AutoRwLock {
public:
    enum Mode { kShared, kExclusive };
    AutoRwLock(pthread_rwlock_t& lock, Mode mode) : m_lock(lock) {
        if (mode == kShared) {
            pthread_rwlock_rdlock(&m_lock);
        } else {
            pthread_rwlock_wrlock(&m_lock);
        }
    }
    ~AutoRwLock() { pthread_rwlock_unlock(&m_lock); }
    AutoRwLock(const AutoRwLock&) = delete;
    AutoRwLock& operator=(const AutoRwLock&) = delete;

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
