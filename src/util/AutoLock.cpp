#include "util/AutoLock.h"

#include <cerrno>
#include <stdexcept>

namespace veltra {
namespace kesh {
namespace util {

void initRecursiveMutex(pthread_mutex_t& mutex) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

AutoLock::AutoLock(pthread_mutex_t& mutex) : m_mutex(mutex) {
    if (pthread_mutex_lock(&m_mutex) == EDEADLK) {
        throw std::runtime_error("mutex deadlock detected!");
    }
}

AutoLock::~AutoLock() { pthread_mutex_unlock(&m_mutex); }

}  // namespace util
}  // namespace kesh
}  // namespace veltra
