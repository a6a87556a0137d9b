#ifndef ZUMI_VIMOMEMORYEVENTLISTENER_H
#define ZUMI_VIMOMEMORYEVENTLISTENER_H

#include <zumi/SystemEventListener.h>
#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {

// Subscribe to MEMORY_EVENT_SOURCE with any of the four events and implement
// onMemoryEvent, which receives 1 (low), 2 (very low), 3 (critical) or 257
// (process too large). Other sources and events are logged and ignored.
// Threads: as SystemEventListener; no state.
class ZUMI_EXPORT VimoMemoryEventListener : public SystemEventListener {
public:
    static const char* const MEMORY_EVENT_SOURCE;
    static const char* const EVENT_PROCESS_TOO_LARGE;
    static const char* const EVENT_SYSTEM_MEMORY_CRITICAL;
    static const char* const EVENT_SYSTEM_MEMORY_VERY_LOW;
    static const char* const EVENT_SYSTEM_MEMORY_LOW;

    void onEvent(const char* source, const char* event, const SystemEventDataList& data) override;
    virtual void onMemoryEvent(int kind) = 0;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
