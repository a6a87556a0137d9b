#include "core/PropertyEntry.h"

namespace zumi {
namespace bus {

unsigned PropertyEntry::access() const {
    unsigned access = 0;
    if (type == ZUMI_TYPE_INT) {
        if (intGetter != nullptr) access |= ZUMI_ACCESS_READ;
        if (intSetter != nullptr) access |= ZUMI_ACCESS_WRITE;
    } else if (type == ZUMI_TYPE_STRING) {
        if (stringGetter != nullptr) access |= ZUMI_ACCESS_READ;
        if (stringSetter != nullptr) access |= ZUMI_ACCESS_WRITE;
    } else if (accessor != nullptr) {
        access = hashAccess;
    }
    return access;
}

}  // namespace bus
}  // namespace zumi
