#ifndef ZUMI_EVENTS_VIMOZUMIEVENTUTILS_H
#define ZUMI_EVENTS_VIMOZUMIEVENTUTILS_H

#include <zumi/ZumiEventUtils.h>

#include "util/NotCopyable.h"

namespace veltra {
namespace kesh {
namespace zumi {

// The one ZumiEventUtils. No state: any thread, no lock.
class VimoZumiEventUtils : public ZumiEventUtils, private bramwick::util::NotCopyable {
public:
    VimoZumiEventUtils() = default;
    ~VimoZumiEventUtils() override;

    const char* getTimeChangedSource() const override;
    const char* getTimeChangedEventName() const override;
    int parseTimeChangedEvent(const char* source, const char* event,
                              const SystemEventDataList& data) const override;
    const char* getMCCChangedSource() const override;
    const char* getMCCChangedEventName() const override;
    int parseMCCChangedEvent(const char* source, const char* event,
                             const SystemEventDataList& data) const override;
    const char* getRegistrationChangedSource() const override;
    const char* getRegistrationChangedEventName() const override;
    const char* getEnergydSource() const override;
    const char* getResumingEventName() const override;
    const char* getOutOfShutdownEventName() const override;
    const char* getNotReadyToSuspendEventName() const override;
    int parseRegistrationChangedEvent(const char* source, const char* event,
                                      const SystemEventDataList& data,
                                      bool flag) const override;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
