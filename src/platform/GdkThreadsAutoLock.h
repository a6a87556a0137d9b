#ifndef ZUMI_PLATFORM_GDKTHREADSAUTOLOCK_H
#define ZUMI_PLATFORM_GDKTHREADSAUTOLOCK_H

namespace veltra {
namespace kesh {
namespace util {

// Holds the GDK threads lock from construction to destruction. The lock is
// not recursive: never construct one on a thread that already holds it (GDK
// idle callbacks added with gdk_threads_add_idle* run with it held).
//
// Until the application calls gdk_threads_init, GDK's lock is no lock at
// all. GDK offers no way to ask whether it was called, so these guards count
// themselves while they hold the lock: two at once (the bridge's reads on the
// bus threads of two connections, say) can only mean that the lock does
// nothing, and the first time that is seen one W line says so, once per
// process. The GDK idle callbacks are not counted: an application may let go
// of the lock inside one (a nested gtk_main does), and a warning must never
// be wrong.
// Threads: any. Locks: the GDK threads lock.
//
// GDK cannot tell who holds its lock, so the library keeps what it knows:
// heldByThisThread() is true inside a guard and inside the library's own
// GDK-threads idle callbacks (GdkLockedByDispatch), false otherwise, even on
// a thread that took the lock itself or in a GTK signal handler. waiting()
// counts the guards still waiting for the lock, across all threads.
class GdkThreadsAutoLock {
public:
    GdkThreadsAutoLock();
    ~GdkThreadsAutoLock();
    GdkThreadsAutoLock(const GdkThreadsAutoLock&) = delete;
    GdkThreadsAutoLock& operator=(const GdkThreadsAutoLock&) = delete;

    static bool heldByThisThread();
    static unsigned waiting();
};

// Marks, for its lifetime, that GDK dispatched this thread's callback with
// the GDK lock held (gdk_threads_add_idle*).
class GdkLockedByDispatch {
public:
    GdkLockedByDispatch();
    ~GdkLockedByDispatch();
    GdkLockedByDispatch(const GdkLockedByDispatch&) = delete;
    GdkLockedByDispatch& operator=(const GdkLockedByDispatch&) = delete;
};

}  // namespace util
}  // namespace kesh
}  // namespace veltra

#endif
