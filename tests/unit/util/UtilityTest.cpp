// The lock guards and the log line's gate; the message builder and the log
// line's text are checked wherever the library uses them.

#include <cerrno>
#include <stdexcept>

#include <gmock/gmock.h>

#include <thread>

#include "TrackedGdkLock.h"
#include "ZumiTest.h"
#include "platform/GdkThreadsAutoLock.h"
#include "util/AutoLock.h"
#include "util/Log.h"

namespace zumi {
namespace testing {
namespace {

using veltra::kesh::util::AutoLock;
using veltra::kesh::util::GdkThreadsAutoLock;
using veltra::kesh::util::LogLevel;
using veltra::kesh::util::logLine;

TEST(AnAutoLock, ReportsARelockByItsOwnerAndReleasesOnlyWhatItLocked) {
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
            ADD_FAILURE() << "locking twice did not throw";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ("mutex deadlock detected!", e.what());
        }
        EXPECT_EQ(EBUSY, pthread_mutex_trylock(&mutex)) << "the failed guard unlocked";
    }
    EXPECT_EQ(0, pthread_mutex_trylock(&mutex)) << "the guard kept the mutex";
    pthread_mutex_unlock(&mutex);
    pthread_mutex_destroy(&mutex);
}

class ALogLine : public ZumiTest {};

TEST_F(ALogLine, IsWrittenWithItsPriorityOnlyWhileItsMaskBitIsSet) {
    const struct {
        LogLevel level;
        unsigned int bit;
        int priority;
    } levels[] = {{LogLevel::E, 0x02000000u, 3},
                  {LogLevel::W, 0x01000000u, 4},
                  {LogLevel::I, 0x00800000u, 5},
                  {LogLevel::D, 0x00008000u, 7}};
    for (const auto& level : levels) {
        logs().clear();
        setLogMask(~level.bit);
        logLine(level.level, "t", "X %s:%s:off:");
        setLogMask(level.bit);
        logLine(level.level, "t", "X %s:%s:on:");
        ASSERT_EQ(1u, logs().lines().size()) << level.bit;
        EXPECT_EQ("X %s:%s:on:", logs().lines()[0].format);
        EXPECT_EQ(level.priority, logs().lines()[0].priority);
    }
}

// The guard cannot ask GDK whether its lock is real; it notices when two of
// its kind hold the lock at once, which a real lock never lets happen.
TEST_F(ALogLine, WarnsOnceWhenTheGdkLockIsSeenDoingNothingAndNeverWhileItWorks) {
    auto manyGuards = [] {
        for (int i = 0; i < 2000; ++i) GdkThreadsAutoLock guard;
    };
    std::thread other(manyGuards);
    manyGuards();
    other.join();
    EXPECT_THAT(logs().lines(), ::testing::IsEmpty());

    setGdkLockDoesNothing(true);
    for (int i = 0; i < 2; ++i) {
        GdkThreadsAutoLock outer;
        GdkThreadsAutoLock inner;
    }
    setGdkLockDoesNothing(false);
    EXPECT_THAT(logs().texts(),
                ::testing::ElementsAre(logged(
                    "W", "GdkThreadsAutoLock",
                    "The GDK threads lock was held twice at once, so it does nothing: "
                    "gdk_threads_init was not called. Bridged properties are then read while the "
                    "main loop may be changing them. Call gdk_threads_init before gtk_init.")));
}

}  // namespace
}  // namespace testing
}  // namespace zumi
