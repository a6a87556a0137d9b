#ifndef ZUMI_VIMODEVICEREGISTRATIONEVENTLISTENER_H
#define ZUMI_VIMODEVICEREGISTRATIONEVENTLISTENER_H

#include <zumi/SystemEventListener.h>
#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// Subscribe to (DEVICE_REGISTRATION_EVENT_SOURCE,
/// DEVICE_REGISTRATION_CHANGED_EVENT) and implement onRegistrationStatusChanged,
/// which receives 1 or 2 for the service's statuses, or 0 when the event could
/// not be read (after the parser's log line). Statuses 3 and 4 of the service
/// are not passed on. Threads: as SystemEventListener; no state.
class ZUMI_EXPORT VimoDeviceRegistrationEventListener : public SystemEventListener {
public:
    /// The service that sends registration changes.
    static const char* const DEVICE_REGISTRATION_EVENT_SOURCE;
    /// The event it sends when the device's registration status changes.
    static const char* const DEVICE_REGISTRATION_CHANGED_EVENT;

    /// Reads the event and calls the handler method below; runs on the main
    /// loop like every listener (see SystemEventListener).
    void onEvent(const char* source, const char* event, const SystemEventDataList& data) override;
    /// The new status: 1 or 2, or 0 when the event could not be read.
    virtual void onRegistrationStatusChanged(int status) = 0;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
