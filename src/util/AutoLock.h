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

// Initialises `mutex` as a recursive mutex (the attribute object is
// destroyed again at once).
void initRecursiveMutex(pthread_mutex_t& mutex);

}  // namespace util
}  // namespace kesh
}  // namespace veltra

#endif
