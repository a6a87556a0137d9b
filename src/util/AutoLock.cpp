#include "util/AutoLock.h"

#include <cerrno>
#include <stdexcept>

namespace veltra {
namespace kesh {
namespace util {

AutoLock::AutoLock(pthread_mutex_t& mutex) : m_mutex(mutex) {
    if (pthread_mutex_lock(&m_mutex) == EDEADLK) {
        throw std::runtime_error("mutex deadlock detected!");
    }
}

AutoLock::~AutoLock() { pthread_mutex_unlock(&m_mutex); }

}  // namespace util
}  // namespace kesh
}  // namespace veltra
