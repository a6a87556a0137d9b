#ifndef ZUMI_HANDLER_VIMOZUMIHANDLERPRIVATE_H
#define ZUMI_HANDLER_VIMOZUMIHANDLERPRIVATE_H

#include <memory>
#include <string>

#include <zumi/ZumiHandler.h>
#include <zumi/ZumiTypes.h>

#include "handler/VimoZumiPropertyPublisherRegistrar.h"

namespace veltra {
namespace kesh {
namespace zumi {

// The state of a VimoZumiHandler: its open connection, its identifier and
// the three registries of published properties. The handler works on these
// fields directly; sendEvent and the publish operations live here.
//
// Construction: m_id, then the registries (string, int, hash array), then the
// identifier is checked and the connection opened; a failure there destroys
// the registries and m_id again. Destruction: the connection is closed first,
// so no callback runs any more, then the registries release their publishers
// (hash array, int, string; no unregister calls, the connection is gone),
// then m_id.
//
// Threads: any application thread; the bus library's thread reaches the
// registries through the callbacks. No lock of its own.
class VimoZumiHandlerPrivate {
public:
    // Throws std::invalid_argument for a null zumiID (no connection is
    // tried), ZumiException when the connection cannot be opened.
    explicit VimoZumiHandlerPrivate(const char* zumiID);
    virtual ~VimoZumiHandlerPrivate();
    VimoZumiHandlerPrivate(const VimoZumiHandlerPrivate&) = delete;
    VimoZumiHandlerPrivate& operator=(const VimoZumiHandlerPrivate&) = delete;

    void sendEvent(const char* eventName);

    void publishStringProperty(
        const char* propertyName,
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<const char*>>& publisher);
    void publishIntegerProperty(
        const char* propertyName,
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>>& publisher);
    void publishHasharrayProperty(
        const char* propertyName,
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<ZumiHasharrayHandleStruct*>>& publisher);

    // One algorithm for the three types; PropertyTraits holds the differences.
    template <typename PropertyType>
    void publish(const char* propertyName,
                 std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<PropertyType>>& publisher);

    ZumiHandleStruct* m_handle;
    std::string m_id;
    VimoZumiPropertyPublisherRegistrar<const char*> m_stringRegistrar;
    VimoZumiPropertyPublisherRegistrar<int> m_intRegistrar;
    VimoZumiPropertyPublisherRegistrar<ZumiHasharrayHandleStruct*> m_hasharrayRegistrar;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
