#ifndef ZUMI_ZUMIEVENTUTILS_H
#define ZUMI_ZUMIEVENTUTILS_H

#include <zumi/SystemEventListener.h>
#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// Names of well-known system events and parsers for three of them. Obtain one
/// with ZumiHandlerFactory::getZumiEventUtils().
///
/// Threads: stateless; every operation may run on any thread at once.
/// The parsers take what a listener received in onEvent; they never throw:
/// they log one line and return their error result (0 for time and
/// registration, -1 for MCC) when the event is not the expected one or does
/// not carry exactly one integer.
class ZUMI_EXPORT ZumiEventUtils {
public:
    /// The service that announces a change of the system time.
    virtual const char* getTimeChangedSource() const = 0;
    /// The event it sends then.
    virtual const char* getTimeChangedEventName() const = 0;
    /// The event's one integer, or 0 when it is not that event.
    virtual int parseTimeChangedEvent(const char* source, const char* event,
                                      const SystemEventDataList& data) const = 0;
    /// The service that announces a change of the mobile country code.
    virtual const char* getMCCChangedSource() const = 0;
    /// The event it sends then.
    virtual const char* getMCCChangedEventName() const = 0;
    /// The new country code, or -1 when it is not that event.
    virtual int parseMCCChangedEvent(const char* source, const char* event,
                                     const SystemEventDataList& data) const = 0;
    /// The service that announces a change of the device's registration.
    virtual const char* getRegistrationChangedSource() const = 0;
    /// The event it sends then (see parseRegistrationChangedEvent).
    virtual const char* getRegistrationChangedEventName() const = 0;
    /// The service that sends the power events below.
    virtual const char* getEnergydSource() const = 0;
    /// Sent when the device resumes from suspend.
    virtual const char* getResumingEventName() const = 0;
    /// Sent when the device comes out of a shutdown it did not complete.
    virtual const char* getOutOfShutdownEventName() const = 0;
    /// Sent when the device may not suspend yet.
    virtual const char* getNotReadyToSuspendEventName() const = 0;
    /// Maps the service's status 1..4 to 2, 1, 3 (or 2 without flag), 3 (or 1
    /// without flag); any other value gives 0.
    virtual int parseRegistrationChangedEvent(const char* source, const char* event,
                                              const SystemEventDataList& data,
                                              bool flag) const = 0;
    virtual ~ZumiEventUtils();
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
