#ifndef ZUMI_ZUMIPROPERTYPUBLISHERUI_H
#define ZUMI_ZUMIPROPERTYPUBLISHERUI_H

#include <zumi/ZumiExport.h>
#include <zumi/ZumiTypes.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// Implemented by a GTK user-interface object whose properties are served on
/// the bus through a bridge (createNewBridge). PropertyType is int,
/// const char* or ZumiHasharrayHandleStruct*.
///
/// Threads and locks, as the bridge calls it:
///  - getValue runs on the bus library's thread while the GDK threads lock is
///    held. A const char* stored in *value must stay valid after the call
///    returns: it is copied only once the bridge has released its locks.
///  - setValue runs on the GLib main-loop thread from a GDK-threads idle
///    callback, so with the GDK threads lock held. The string of the
///    const char* instance is valid during the call only. A hash-array handle
///    belongs to the UI object from then on (release it with
///    ZumiHasharrayDestroy).
///  - setValue handles every std::exception itself; one that escapes is only
///    logged. Nothing that does not derive from std::exception may escape.
template <typename PropertyType>
class ZUMI_EXPORT ZumiPropertyPublisherUI {
public:
    virtual ~ZumiPropertyPublisherUI() {}
    /// Stores the current value of propertyName in *value (bus thread).
    virtual void getValue(const char* propertyName, PropertyType* value) = 0;
    /// Applies a value written to propertyName (main-loop thread).
    virtual void setValue(const char* propertyName, PropertyType value) = 0;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
