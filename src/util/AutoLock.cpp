#include "util/AutoLock.h"

#include <unistd.h>

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

namespace {

// Tries before a waiter sleeps. The library's mutexes are held for short
// stretches, but some across a system call: the bridge keeps its mutex while
// it adds an idle source, which writes the main loop's wake-up descriptor. A
// waiter that went to sleep at once would cost both threads a futex round
// trip (the sleep, then the owner's wake-up call), dearer than the wait
// itself. About a thousand tries span a few microseconds; a longer hold
// (a get waiting for the GDK lock) still puts the waiter to sleep.
const int SPIN_TRIES = 1000;

inline void relaxCpu() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
    __asm__ __volatile__("yield");
#endif
}

// On one processor the owner cannot run while we spin: sleep at once.
bool spinningHelps() {
    static const bool helps = sysconf(_SC_NPROCESSORS_ONLN) > 1;
    return helps;
}

}  // namespace

AutoLock::AutoLock(pthread_mutex_t& mutex) : m_mutex(mutex) {
    if (spinningHelps()) {
        for (int i = 0; i < SPIN_TRIES; ++i) {
            if (pthread_mutex_trylock(&m_mutex) == 0) {
                return;
            }
            relaxCpu();
        }
    }
    if (pthread_mutex_lock(&m_mutex) == EDEADLK) {
        throw std::runtime_error("mutex deadlock detected!");
    }
}

AutoLock::~AutoLock() { pthread_mutex_unlock(&m_mutex); }

}  // namespace util
}  // namespace kesh
}  // namespace veltra
