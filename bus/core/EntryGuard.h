#ifndef ZUMI_BUS_CORE_ENTRYGUARD_H
#define ZUMI_BUS_CORE_ENTRYGUARD_H

// Every operation of the C contract (libzumi/ZumiBus.h) runs its body inside
// this guard. Its callers may be C, or C++ built without
// exceptions: an exception from inside the bus library (memory, a thread
// that cannot start, a lock that reports a deadlock) becomes a status here
// instead of unwinding into a caller that cannot catch it. The operations
// that answer a pointer allocate without throwing and need no guard.

#include <new>

#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

template <typename Body>
ZumiStatus guardedStatus(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ZUMI_ERR_NO_MEMORY;
    } catch (...) {
        return ZUMI_ERR_FAILED;
    }
}

}  // namespace bus
}  // namespace zumi

#endif
