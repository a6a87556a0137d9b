#include "platform/GdkThreadsAutoLock.h"

#include <gdk/gdk.h>

// The GDK threads lock is deprecated API, but it is the lock that the GDK idle
// wrappers hold while they dispatch, so it is the one we must share.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace veltra {
namespace kesh {
namespace util {

GdkThreadsAutoLock::GdkThreadsAutoLock() { gdk_threads_enter(); }

GdkThreadsAutoLock::~GdkThreadsAutoLock() { gdk_threads_leave(); }

}  // namespace util
}  // namespace kesh
}  // namespace veltra

#pragma GCC diagnostic pop
