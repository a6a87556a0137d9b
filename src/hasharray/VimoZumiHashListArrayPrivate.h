#ifndef ZUMI_HASHARRAY_VIMOZUMIHASHLISTARRAYPRIVATE_H
#define ZUMI_HASHARRAY_VIMOZUMIHASHLISTARRAYPRIVATE_H

#include <map>
#include <memory>

#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiHashListArray.h>
#include <zumi/ZumiTypes.h>

#include "hasharray/VimoZumiHash.h"

namespace veltra {
namespace kesh {
namespace zumi {

// The state of one VimoZumiHashListArray. It lives on the heap for the
// wrapper's whole life, so the address of m_hashArray, which every proxy in
// m_hashes keeps, never moves.
//
// m_hashArray: owned; null only once a publish with destroyAfterPublish has
// destroyed it (the emptied state). m_hashes must stay node-based: references
// handed out by operator[] survive later insertions.
//
// Destruction: the bus array first, then (by member order) the proxies, and
// the handler reference last, so the connection outlives the array.
//
// Threads: those of the owning wrapper; takes no lock.
class VimoZumiHashListArrayPrivate {
public:
    // An empty shell on handler; the wrapper stores its array right after.
    explicit VimoZumiHashListArrayPrivate(ZumiHandlerSharedPtr handler);
    ~VimoZumiHashListArrayPrivate();
    VimoZumiHashListArrayPrivate(const VimoZumiHashListArrayPrivate&) = delete;
    VimoZumiHashListArrayPrivate& operator=(const VimoZumiHashListArrayPrivate&) = delete;

    std::shared_ptr<ZumiHashListArray> publishSynchronously(const char* publisher,
                                                            const char* propertyName,
                                                            bool destroyAfterPublish);

    ZumiHandlerSharedPtr m_handler;
    ZumiHasharrayHandleStruct* m_hashArray;
    std::map<int, VimoZumiHash> m_hashes;

private:
    // The sent array is read-only on the bus: swap it for a writable copy.
    void replaceSentArrayByClone();
};

// A clone of array; throws ZumiException "ZumiHasharrayClone returned NULL!"
// when the bus library gives none (also for a null array).
ZumiHasharrayHandleStruct* cloneOrThrow(ZumiHasharrayHandleStruct* array);

// array (which may be null: an empty pointer) wrapped on handler, which
// destroys it from then on; destroyed here if the wrapper cannot be made.
std::shared_ptr<ZumiHashListArray> adoptHashArray(const ZumiHandlerSharedPtr& handler,
                                                  ZumiHasharrayHandleStruct* array);

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
