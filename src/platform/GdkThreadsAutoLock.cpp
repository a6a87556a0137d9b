#include "platform/GdkThreadsAutoLock.h"

#include <gdk/gdk.h>

#include <atomic>

#include "util/Log.h"

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
// Guards holding the lock: counted up only once it is held and down before
// it is let go, so with a real lock the count never passes one.
std::atomic<int> g_holders{0};
std::atomic<bool> g_warned{false};

}  // namespace

GdkThreadsAutoLock::GdkThreadsAutoLock() {
    ++g_waiting;
    gdk_threads_enter();
    --g_waiting;
    ++t_heldDepth;
    if (g_holders.fetch_add(1) != 0 && !g_warned.exchange(true)) {
        logLine(LogLevel::W, "GdkThreadsAutoLock",
                "W %s:%s:The GDK threads lock was held twice at once, so it does nothing: "
                "gdk_threads_init was not called. Bridged properties are then read while the "
                "main loop may be changing them. Call gdk_threads_init before gtk_init.:");
    }
}

GdkThreadsAutoLock::~GdkThreadsAutoLock() {
    g_holders.fetch_sub(1);
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
