#ifndef ZUMI_VIMOUSERSTOREEVENTLISTENER_H
#define ZUMI_VIMOUSERSTOREEVENTLISTENER_H

#include <zumi/SystemEventListener.h>
#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// Subscribe to (USER_STORE_SOURCE, EVENT_DRIVEMODE_STATE) and implement
/// onDriveModeStateChanged, which receives the event's first parameter. The
/// two unmount events are named here for subscribing but ignored by onEvent.
/// A string first parameter makes onEvent throw std::runtime_error (the event
/// manager logs and swallows it); an event without parameters is logged and
/// ignored. Threads: as SystemEventListener; no state.
class ZUMI_EXPORT VimoUserStoreEventListener : public SystemEventListener {
public:
    /// The service that sends the user store's events, "com.tessal.cellard".
    static const char* const USER_STORE_SOURCE;
    /// An unmount that was announced will not happen (ignored by onEvent).
    static const char* const EVENT_UNMOUNT_REQUEST_CANCELED;
    /// The user store is likely to be unmounted soon (ignored by onEvent).
    static const char* const EVENT_LIKELY_TO_UNMOUNT;
    /// "driveModeStateChanged", with the new state as its first parameter.
    static const char* const EVENT_DRIVEMODE_STATE;

    /// Reads the event and calls the handler method below; runs on the main
    /// loop like every listener (see SystemEventListener).
    void onEvent(const char* source, const char* event, const SystemEventDataList& data) override;
    /// The drive mode's new state, the event's first parameter.
    virtual void onDriveModeStateChanged(int state) = 0;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
