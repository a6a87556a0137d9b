#ifndef ZUMI_BUS_CORE_PROPERTYENTRY_H
#define ZUMI_BUS_CORE_PROPERTYENTRY_H

// A published property as the bus library keeps it: its type and the
// callbacks and user data it was registered with. Shared by libzumi and the
// test double, which answer the listing of a service's properties alike.

#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

struct PropertyEntry {
    int type = ZUMI_TYPE_INT;
    ZumiIntGetter intGetter = nullptr;
    ZumiIntSetter intSetter = nullptr;
    ZumiStringGetter stringGetter = nullptr;
    ZumiStringSetter stringSetter = nullptr;
    ZumiHasharrayAccessor accessor = nullptr;
    void* data = nullptr;
    // What a hash array's one accessor serves: both unless registered otherwise.
    unsigned hashAccess = ZUMI_ACCESS_READ | ZUMI_ACCESS_WRITE;

    // ZUMI_ACCESS_* bits: the callbacks of its type that were given; for a
    // hash array, hashAccess when there is an accessor.
    unsigned access() const;
};

}  // namespace bus
}  // namespace zumi

#endif
