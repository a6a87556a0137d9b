#ifndef ZUMI_TESTS_SUPPORT_TRACKEDGDKLOCK_H
#define ZUMI_TESTS_SUPPORT_TRACKEDGDKLOCK_H

// The GDK threads lock of the unit tests: a POSIX mutex that knows its owner,
// installed by the test main before gdk_threads_init. Tests can then check
// that code runs with the lock held, and ThreadSanitizer sees the ordering
// the lock provides (GDK's own lock is invisible to it).

namespace zumi {
namespace testing {

void installTrackedGdkLock();
bool gdkLockHeldByThisThread();
// How many threads wait for the lock right now.
int gdkLockWaiters();
// While set, entering and leaving do nothing, as with GDK before
// gdk_threads_init. Set and clear it only while nobody holds the lock.
void setGdkLockDoesNothing(bool doesNothing);

}  // namespace testing
}  // namespace zumi

#endif
