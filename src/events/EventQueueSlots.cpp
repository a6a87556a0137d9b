#include "events/EventQueueSlots.h"

#include <atomic>
#include <cstdint>
#include <stdexcept>

#include <zumi/ZumiEventQueue.h>

#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

namespace {

constexpr uint64_t QUEUED_MASK = 0xffffffffu;
constexpr uint64_t ONE_DROP = uint64_t(1) << 32;

std::atomic<uint64_t> g_state{0};  // drops not yet reported << 32 | events waiting
std::atomic<uint64_t> g_limit{ZumiEventQueue::DEFAULT_LIMIT};
std::atomic<uint64_t> g_dropped{0};

}  // namespace

const size_t ZumiEventQueue::DEFAULT_LIMIT;

void ZumiEventQueue::setLimit(size_t limit) {
    if (limit == 0 || limit > QUEUED_MASK) {
        throw std::invalid_argument("event queue limit must lie between 1 and 4294967295");
    }
    g_limit.store(limit, std::memory_order_relaxed);
}

size_t ZumiEventQueue::getLimit() { return static_cast<size_t>(g_limit.load(std::memory_order_relaxed)); }

size_t ZumiEventQueue::getQueuedCount() {
    return static_cast<size_t>(g_state.load(std::memory_order_relaxed) & QUEUED_MASK);
}

uint64_t ZumiEventQueue::getDroppedCount() { return g_dropped.load(std::memory_order_relaxed); }

namespace eventQueue {

bool take() {
    const uint64_t limit = g_limit.load(std::memory_order_relaxed);
    uint64_t state = g_state.load(std::memory_order_relaxed);
    for (;;) {
        if ((state & QUEUED_MASK) < limit) {
            if (g_state.compare_exchange_weak(state, state + 1, std::memory_order_relaxed)) {
                return true;
            }
            continue;
        }
        // The unreported count saturates rather than spill into nothing; the
        // total below still counts every drop.
        const uint64_t next = (state >> 32) == QUEUED_MASK ? state : state + ONE_DROP;
        if (g_state.compare_exchange_weak(state, next, std::memory_order_relaxed)) {
            g_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
    }
}

void release() {
    uint64_t state = g_state.load(std::memory_order_relaxed);
    uint64_t next = 0;
    do {
        if ((state & QUEUED_MASK) == 0) {
            return;  // nothing was taken: never borrow from the drops
        }
        next = state - 1;
        if ((next & QUEUED_MASK) == 0) {
            next = 0;  // drained: the drops go into this release's line
        }
    } while (!g_state.compare_exchange_weak(state, next, std::memory_order_relaxed));
    const uint64_t drops = state >> 32;
    if (next == 0 && drops != 0) {
        util::logLine(util::LogLevel::W, "kesh.warn.vimoSystemEventManager.eventQueue.dropped",
                      "W %s:%s:%llu events dropped, the main loop's queue was full (limit %llu).:",
                      static_cast<unsigned long long>(drops),
                      static_cast<unsigned long long>(g_limit.load(std::memory_order_relaxed)));
    }
}

}  // namespace eventQueue
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
