#include "TrackedGdkLock.h"

#include <gdk/gdk.h>
#include <pthread.h>

#include <atomic>
#include <thread>

namespace zumi {
namespace testing {

namespace {

pthread_mutex_t g_gdkMutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<std::thread::id> g_owner{std::thread::id()};
std::atomic<int> g_waiters{0};
std::atomic<bool> g_noLock{false};

void enter() {
    if (g_noLock) return;
    ++g_waiters;
    pthread_mutex_lock(&g_gdkMutex);
    --g_waiters;
    g_owner.store(std::this_thread::get_id());
}

void leave() {
    if (g_noLock) return;
    g_owner.store(std::thread::id());
    pthread_mutex_unlock(&g_gdkMutex);
}

}  // namespace

void installTrackedGdkLock() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    gdk_threads_set_lock_functions(G_CALLBACK(&enter), G_CALLBACK(&leave));
#pragma GCC diagnostic pop
}

bool gdkLockHeldByThisThread() { return g_owner.load() == std::this_thread::get_id(); }

int gdkLockWaiters() { return g_waiters.load(); }

void setGdkLockDoesNothing(bool doesNothing) { g_noLock = doesNothing; }

}  // namespace testing
}  // namespace zumi
