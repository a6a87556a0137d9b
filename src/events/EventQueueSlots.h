#ifndef ZUMI_EVENTS_EVENTQUEUESLOTS_H
#define ZUMI_EVENTS_EVENTQUEUESLOTS_H

// The accounting behind ZumiEventQueue: how many events of the process wait
// for the main loop, and how many were dropped because too many did.
//
// One 64-bit word holds both the events waiting (low half) and the drops not
// yet reported (high half), changed by compare-and-swap only. A drop happens
// only while the queue is full, so it is always in the word before the
// release that empties the queue, and that release takes it out for its W
// line: no drop goes unreported, none is reported twice, and neither side
// ever waits for the other.
//
// Threads: take() on the bus thread, release() wherever a queued event ends
// (the main loop, or the bus thread when queueing failed).

#include <stddef.h>

namespace veltra {
namespace kesh {
namespace zumi {
namespace eventQueue {

// True when the event may be queued (it then holds a place until release());
// false when it is dropped, and counted.
bool take();
// Gives a place back; the one that empties the queue logs the W line of the
// drops since the last one.
void release();

// Holds a place taken with take() until it is handed over to whatever
// releases it later.
class Slot {
public:
    Slot() : m_held(take()) {}
    ~Slot() {
        if (m_held) release();
    }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    bool held() const { return m_held; }
    void handOver() { m_held = false; }

private:
    bool m_held;
};

}  // namespace eventQueue
}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
