#ifndef ZUMI_ZUMIEVENTQUEUE_H
#define ZUMI_ZUMIEVENTQUEUE_H

#include <stddef.h>
#include <stdint.h>

#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// The events of the whole process on their way from the bus thread to the
/// GLib main loop: each received event waits there, as one idle source, until
/// the main loop has delivered it. While the main loop is busy they pile up,
/// so their number is bounded. An event that arrives while getLimit() events
/// are waiting is dropped on the bus thread, which never waits for the main
/// loop, and counted; the events that are delivered keep the order in which
/// they arrived. Once the main loop has worked through every waiting event,
/// one W line (tag "kesh.warn.vimoSystemEventManager.eventQueue.dropped") says
/// how many were dropped since the previous such line.
///
/// Threads: any. Nothing here takes a lock; the counts are atomic, and read
/// while events come and go they are a snapshot.
class ZUMI_EXPORT ZumiEventQueue {
public:
    /// The limit until setLimit changes it.
    static const size_t DEFAULT_LIMIT = 65536;

    /// Applies to the events that arrive from now on; those already waiting
    /// stay. Throws std::invalid_argument for 0 or for more than 2^32 - 1.
    static void setLimit(size_t limit);
    /// How many events may wait for the main loop.
    static size_t getLimit();
    /// Events waiting for the main loop now.
    static size_t getQueuedCount();
    /// Events dropped since the process started.
    static uint64_t getDroppedCount();

    ZumiEventQueue() = delete;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
