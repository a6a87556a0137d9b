// The lock guard and the log line's gate; the message builder and the log
// line's text are checked wherever the library uses them.

#include <cerrno>
#include <stdexcept>

#include "ZumiTest.h"
#include "util/AutoLock.h"
#include "util/Log.h"

namespace zumi {
namespace testing {
namespace {

using veltra::kesh::util::AutoLock;
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

}  // namespace
}  // namespace testing
}  // namespace zumi
