#ifndef ZUMI_VIMOMEMORYEVENTLISTENER_H
#define ZUMI_VIMOMEMORYEVENTLISTENER_H

#include <zumi/SystemEventListener.h>
#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// Subscribe to MEMORY_EVENT_SOURCE with any of the four events and implement
/// onMemoryEvent, which receives 1 (low), 2 (very low), 3 (critical) or 257
/// (process too large). Other sources and events are logged and ignored.
/// Threads: as SystemEventListener; no state.
class ZUMI_EXPORT VimoMemoryEventListener : public SystemEventListener {
public:
    /// The service that watches memory, "com.tessal.memwatchd".
    static const char* const MEMORY_EVENT_SOURCE;
    /// "processTooLarge": this process uses too much (kind 257).
    static const char* const EVENT_PROCESS_TOO_LARGE;
    /// "systemMemoryCritical" (kind 3).
    static const char* const EVENT_SYSTEM_MEMORY_CRITICAL;
    /// "systemMemoryVeryLow" (kind 2).
    static const char* const EVENT_SYSTEM_MEMORY_VERY_LOW;
    /// "systemMemoryLow" (kind 1).
    static const char* const EVENT_SYSTEM_MEMORY_LOW;

    /// Reads the event and calls the handler method below; runs on the main
    /// loop like every listener (see SystemEventListener).
    void onEvent(const char* source, const char* event, const SystemEventDataList& data) override;
    /// 1 (low), 2 (very low), 3 (critical) or 257 (process too large).
    virtual void onMemoryEvent(int kind) = 0;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
