#ifndef ZUMI_EVENTS_MANAGERLOCK_H
#define ZUMI_EVENTS_MANAGERLOCK_H

// Internal to VimoSystemEventManager's sources.

#include <optional>

#include "events/VimoSystemEventManager.h"
#include "util/AutoLock.h"

namespace veltra {
namespace kesh {
namespace zumi {

// Holds m_listenerMapMutex for one operation, unless the calling thread is
// delivering for this manager and so holds it already (a listener calling
// back from onEvent). When it lets go of the lock it hands the handler
// reference that attemptUnprotectHandler parked over to `released`, which
// the caller declares before the MapLock so that it is dropped after the
// unlock.
class VimoSystemEventManager::MapLock {
public:
    MapLock(VimoSystemEventManager& manager, ZumiHandlerSharedPtr& released)
        : m_manager(manager), m_released(released) {
        if (!manager.isDeliveringOnThisThread()) {
            m_lock.emplace(manager.m_listenerMapMutex);
        }
    }
    ~MapLock() {
        if (m_lock) {
            m_released.swap(m_manager.m_pendingRelease);
        }
    }
    MapLock(const MapLock&) = delete;
    MapLock& operator=(const MapLock&) = delete;

private:
    VimoSystemEventManager& m_manager;
    ZumiHandlerSharedPtr& m_released;
    std::optional<util::AutoLock> m_lock;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
