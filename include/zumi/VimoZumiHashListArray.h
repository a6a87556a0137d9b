#ifndef ZUMI_VIMOZUMIHASHLISTARRAY_H
#define ZUMI_VIMOZUMIHASHLISTARRAY_H

#include <memory>

#include <zumi/ZumiExport.h>
#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiHashListArray.h>
#include <zumi/ZumiTypes.h>

namespace veltra {
namespace kesh {
namespace zumi {

class VimoZumiHashListArrayPrivate;

/// The hash array that applications construct. It holds its handler strongly,
/// so the connection stays open for the array's whole life, and owns exactly
/// one bus hash array: copies and assignments clone it, never share it.
///
/// States: writable (after any constructor or assignment); read-only (sent
/// without destroyAfterPublish and the writable copy could not be made: reads
/// work, writes throw ZumiException); emptied (sent with destroyAfterPublish:
/// no array, no hashes). An assignment makes any state writable again.
///
/// Threads: no lock is taken; see ZumiHashListArray.
class ZUMI_EXPORT VimoZumiHashListArray : public ZumiHashListArray {
public:
    /// A new, empty array on the connection of the factory's handler for
    /// handlerId. Throws what ZumiHandlerFactory::getZumiHandler throws, and
    /// ZumiException when the bus library gives no array.
    explicit VimoZumiHashListArray(const char* handlerId);
    /// Adopts hashArray, which this object destroys from then on. Throws
    /// std::invalid_argument for an empty handler or a null array; the caller
    /// then keeps the array.
    VimoZumiHashListArray(ZumiHandlerSharedPtr handler, ZumiHasharrayHandleStruct* hashArray);
    /// A clone of other's array on other's handler, without other's hashes.
    /// Throws ZumiException when the clone fails (also for an emptied other).
    VimoZumiHashListArray(const VimoZumiHashListArray& other);
    /// Replaces this array by a clone of other's and takes other's handler;
    /// every hash handed out by this object becomes invalid. When the clone
    /// fails, ZumiException is thrown and this object is unchanged. Assigning
    /// an object to itself gives it a fresh clone of its own array.
    VimoZumiHashListArray& operator=(const VimoZumiHashListArray& other);
    ~VimoZumiHashListArray() override;

    ZumiHashList& operator[](int index) override;
    int addNewHash() override;
    std::shared_ptr<ZumiHashListArray> publishSynchronously(const char* publisher,
                                                            const char* propertyName,
                                                            bool destroyAfterPublish) override;
    int length() const override;
    ZumiHandlerSharedPtr getZumiHandler() const override;

private:
    VimoZumiHashListArrayPrivate* m_private;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
