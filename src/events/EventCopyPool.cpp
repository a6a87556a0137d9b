#include "events/EventCopyPool.h"

#include <pthread.h>

#include <vector>

#include "events/EventQueueSlots.h"
#include "util/AutoLock.h"

namespace veltra {
namespace kesh {
namespace zumi {
namespace eventCopies {

namespace {

struct Pool {
    Pool() { shells.reserve(POOL_CAPACITY); }  // so that a push never allocates
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    std::vector<EventData*> shells;
};

// Never destroyed: copies may still come back from a main loop that runs
// while the process exits. The pooled copies stay reachable from it.
Pool& pool() {
    static Pool* const instance = new Pool;
    return *instance;
}

}  // namespace

EventData* take() {
    Pool& shared = pool();
    {
        util::AutoLock lock(shared.mutex);
        if (!shared.shells.empty()) {
            EventData* copy = shared.shells.back();
            shared.shells.pop_back();
            return copy;
        }
    }
    return new EventData;
}

void giveBack(EventData* copy) noexcept {
    if (copy == nullptr) {
        return;
    }
    if (copy->holdsQueuePlace) {
        copy->holdsQueuePlace = false;
        eventQueue::release();
    }
    copy->manager = nullptr;
    copy->handedOver.store(false, std::memory_order_relaxed);
    Pool& shared = pool();
    {
        util::AutoLock lock(shared.mutex);
        if (shared.shells.size() < POOL_CAPACITY) {
            shared.shells.push_back(copy);
            return;
        }
    }
    delete copy;
}

}  // namespace eventCopies
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
