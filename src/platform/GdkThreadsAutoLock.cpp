#include "platform/GdkThreadsAutoLock.h"

#include <gdk/gdk.h>

#include <atomic>

// The GDK threads lock is deprecated API, but it is the lock that the GDK idle
// wrappers hold while they dispatch, so it is the one we must share.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace veltra {
namespace kesh {
namespace util {

namespace {

thread_local unsigned t_heldDepth = 0;
std::atomic<unsigned> g_waiting{0};

}  // namespace

GdkThreadsAutoLock::GdkThreadsAutoLock() {
    ++g_waiting;
    gdk_threads_enter();
    --g_waiting;
    ++t_heldDepth;
}

GdkThreadsAutoLock::~GdkThreadsAutoLock() {
    --t_heldDepth;
    gdk_threads_leave();
}

bool GdkThreadsAutoLock::heldByThisThread() { return t_heldDepth > 0; }

unsigned GdkThreadsAutoLock::waiting() { return g_waiting.load(); }

GdkLockedByDispatch::GdkLockedByDispatch() { ++t_heldDepth; }

GdkLockedByDispatch::~GdkLockedByDispatch() { --t_heldDepth; }

}  // namespace util
}  // namespace kesh
}  // namespace veltra

#pragma GCC diagnostic pop
