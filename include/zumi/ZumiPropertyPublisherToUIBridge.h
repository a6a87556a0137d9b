#ifndef ZUMI_ZUMIPROPERTYPUBLISHERTOUIBRIDGE_H
#define ZUMI_ZUMIPROPERTYPUBLISHERTOUIBRIDGE_H

#include <map>
#include <memory>
#include <string>
#include <utility>

#include <zumi/ZumiExport.h>
#include <zumi/ZumiHandler.h>
#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiPropertyPublisherUI.h>
#include <zumi/ZumiTypes.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// A property publisher that serves a handler's properties on behalf of a UI
/// object: reads are answered at once by asking the UI object under the GDK
/// threads lock; writes reach the UI object later, in order, on the GLib
/// main loop. PropertyType is int, const char* or ZumiHasharrayHandleStruct*.
///
/// The UI object holds its bridge and must call detachFromUI before it goes
/// away (normally from its destructor, on the main-loop thread), and keep a
/// strong reference to the bridge for the length of that call. Destroying a
/// bridge that was never detached ends the process with exit status 1.
///
/// A hash-array handle passed to setValue belongs to the bridge from then on:
/// the UI object receives it, or, when the set is refused, cancelled by
/// detachFromUI or dropped, the bridge releases it with ZumiHasharrayDestroy.
/// A null string passed to the const char* bridge's setValue is refused with
/// std::invalid_argument "value argument was NULL".
template <typename PropertyType>
class ZUMI_EXPORT ZumiPropertyPublisherToUIBridge
    : public ZumiHandler::ZumiPropertyPublisher<PropertyType> {
public:
    /// Withdraws the bridge's names from its handler, cancels the writes not
    /// yet delivered and forgets the UI object, which the bridge never calls
    /// again afterwards. A second call does nothing.
    virtual void detachFromUI() noexcept = 0;
};

/// Creates a bridge to uiPublisher and publishes every name of properties on
/// handler, with the accesses (readable, writable) given for it.
/// Throws std::invalid_argument "ZumiHandler passed into method was NULL" or
/// "uiPublisher argument was NULL"; a failure to publish (ZumiException) is
/// passed on after the names already published have been withdrawn again.
template <typename PropertyType>
ZUMI_EXPORT std::shared_ptr<ZumiPropertyPublisherToUIBridge<PropertyType>> createNewBridge(
    ZumiHandlerSharedPtr handler, ZumiPropertyPublisherUI<PropertyType>* uiPublisher,
    const std::map<std::string, std::pair<bool, bool>>& properties);

extern template ZUMI_EXPORT std::shared_ptr<ZumiPropertyPublisherToUIBridge<int>>
createNewBridge<int>(ZumiHandlerSharedPtr, ZumiPropertyPublisherUI<int>*,
                     const std::map<std::string, std::pair<bool, bool>>&);
extern template ZUMI_EXPORT std::shared_ptr<ZumiPropertyPublisherToUIBridge<const char*>>
createNewBridge<const char*>(ZumiHandlerSharedPtr, ZumiPropertyPublisherUI<const char*>*,
                             const std::map<std::string, std::pair<bool, bool>>&);
extern template ZUMI_EXPORT
    std::shared_ptr<ZumiPropertyPublisherToUIBridge<ZumiHasharrayHandleStruct*>>
    createNewBridge<ZumiHasharrayHandleStruct*>(
        ZumiHandlerSharedPtr, ZumiPropertyPublisherUI<ZumiHasharrayHandleStruct*>*,
        const std::map<std::string, std::pair<bool, bool>>&);

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
