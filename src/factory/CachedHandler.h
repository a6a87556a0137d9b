#ifndef ZUMI_FACTORY_CACHEDHANDLER_H
#define ZUMI_FACTORY_CACHEDHANDLER_H

#include <zumi/ZumiHandlerFactory.h>

namespace veltra {
namespace kesh {
namespace zumi {

// The live cached handler for zumiId, or empty; never creates one. Takes the
// factory's m_handlerMapMutex briefly. Threads: any.
ZumiHandlerSharedPtr cachedZumiHandler(const char* zumiId);

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
