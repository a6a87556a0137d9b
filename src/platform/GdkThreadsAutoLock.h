#ifndef ZUMI_PLATFORM_GDKTHREADSAUTOLOCK_H
#define ZUMI_PLATFORM_GDKTHREADSAUTOLOCK_H

namespace veltra {
namespace kesh {
namespace util {

// Holds the GDK threads lock from construction to destruction. The lock is
// not recursive: never construct one on a thread that already holds it (GDK
// idle callbacks added with gdk_threads_add_idle* run with it held).
// Threads: any. Locks: the GDK threads lock.
class GdkThreadsAutoLock {
public:
    GdkThreadsAutoLock();
    ~GdkThreadsAutoLock();
    GdkThreadsAutoLock(const GdkThreadsAutoLock&) = delete;
    GdkThreadsAutoLock& operator=(const GdkThreadsAutoLock&) = delete;
};

}  // namespace util
}  // namespace kesh
}  // namespace veltra

#endif
