#ifndef ZUMI_EVENTS_EVENTCOPYPOOL_H
#define ZUMI_EVENTS_EVENTCOPYPOOL_H

// The copies of received events, kept for reuse.
//
// An event's copy is made on the bus thread and freed on the main loop. Made
// with new and freed with delete, every event cost the bus thread half a
// dozen allocations (the copy, its strings, one list node per parameter) that
// the allocator had to bring back across threads: arena lock, consolidation,
// fresh pages. A copy given back after its delivery keeps the buffers of its
// strings and the nodes of its parameter list, so that a stream of like
// events is copied without allocating at all.
//
// A copy (VimoSystemEventManager::EventData) goes through:
//   Pooled   in the pool: no manager, no queue place; its strings and list
//            still hold the last event's text, and it still holds the
//            liveness token of the last manager that queued it. Keeping the
//            token spares the bus thread and the main loop an atomic count
//            that both would change for every event (one cache line shared
//            by two cores); a stale token costs a few bytes until the copy
//            is reused by another manager.
//   Filling  taken by the bus thread, fields being overwritten; given back
//            if filling fails, without a queue place to return.
//   Queued   holdsQueuePlace set: handed to the main loop, owns a place in
//            the bounded event queue.
//   Given back by the main loop once delivered or dropped: the queue place
//            is returned and the copy pooled again, or deleted when the pool
//            is full.
//
// Threads: any; one pool per process. Locks: the pool's own mutex, held
// only to push or pop a pointer (nothing is allocated or freed under it).

#include <memory>

#include "events/VimoSystemEventManager.h"

namespace veltra {
namespace kesh {
namespace zumi {
namespace eventCopies {

typedef VimoSystemEventManager::EventData EventData;

// A pooled copy, or a new one when the pool is empty. Throws std::bad_alloc.
EventData* take();
// Ends a copy's trip: see the states above. Never throws.
void giveBack(EventData* copy) noexcept;

struct GiveBack {
    void operator()(EventData* copy) const noexcept { giveBack(copy); }
};
typedef std::unique_ptr<EventData, GiveBack> Owned;

// How many copies the pool keeps at most: enough for the bursts that one
// main-loop iteration delivers at once, small next to the event queue bound.
const size_t POOL_CAPACITY = 256;

}  // namespace eventCopies
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
