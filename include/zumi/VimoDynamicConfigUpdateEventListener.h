#ifndef ZUMI_VIMODYNAMICCONFIGUPDATEEVENTLISTENER_H
#define ZUMI_VIMODYNAMICCONFIGUPDATEEVENTLISTENER_H

#include <list>
#include <string>

#include <zumi/SystemEventListener.h>
#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// Subscribe to (DC_UPDATE_EVENT_SOURCE, EVENT_DYNAMIC_CONFIG_UPDATED) and
/// implement onDynamicConfigUpdated, which receives the names of the updated
/// keys in the order sent (possibly none). The list lives for the call only.
/// An event without parameters, or from elsewhere, is logged and ignored.
/// Threads: as SystemEventListener; no state.
class ZUMI_EXPORT VimoDynamicConfigUpdateEventListener : public SystemEventListener {
public:
    /// The service that owns the dynamic configuration.
    static const char* const DC_UPDATE_EVENT_SOURCE;
    /// The event it sends with the names of the keys it updated.
    static const char* const EVENT_DYNAMIC_CONFIG_UPDATED;

    /// Reads the event and calls the handler method below; runs on the main
    /// loop like every listener (see SystemEventListener).
    void onEvent(const char* source, const char* event, const SystemEventDataList& data) override;
    /// The updated keys, in the order sent; valid during the call only.
    virtual void onDynamicConfigUpdated(std::list<std::string>& keys) = 0;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
