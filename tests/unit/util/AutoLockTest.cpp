#include "util/AutoLock.h"

#include <gtest/gtest.h>

#include <stdexcept>

using veltra::kesh::util::AutoLock;

namespace {

TEST(AnAutoLock, ReportsADeadlockOfAnErrorCheckingMutexLockedAgainByItsOwner) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    pthread_mutex_t mutex;
    pthread_mutex_init(&mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    {
        AutoLock outer(mutex);
        try {
            AutoLock inner(mutex);
            FAIL() << "locking twice did not throw";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ("mutex deadlock detected!", e.what());
        }
    }
    // The failed guard did not unlock: the mutex is free again only because
    // the outer guard released it.
    EXPECT_EQ(0, pthread_mutex_trylock(&mutex));
    pthread_mutex_unlock(&mutex);
    pthread_mutex_destroy(&mutex);
}

TEST(AnAutoLock, ReleasesTheMutexWhenItGoesOutOfScope) {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    { AutoLock guard(mutex); EXPECT_NE(0, pthread_mutex_trylock(&mutex)); }
    EXPECT_EQ(0, pthread_mutex_trylock(&mutex));
    pthread_mutex_unlock(&mutex);
}

}  // namespace
