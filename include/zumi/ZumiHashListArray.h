#ifndef ZUMI_ZUMIHASHLISTARRAY_H
#define ZUMI_ZUMIHASHLISTARRAY_H

#include <memory>

#include <zumi/ZumiExport.h>
#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiHashList.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// A value object owning one bus hash array: a list of hashes that can be
/// read, written and sent synchronously to a hash-array property of another
/// service.
///
/// Threads: no lock is taken. One array, with its hashes, is used by one
/// thread at a time; distinct arrays are independent, even when they share a
/// handler.
class ZUMI_EXPORT ZumiHashListArray {
public:
    virtual ~ZumiHashListArray();

    /// The hash at index, without any bus call and without checking the index
    /// against length(): a hash outside the array fails on its first use. The
    /// same index gives the same object; the reference stays valid while
    /// further indices are used, and is invalidated by an assignment to the
    /// array, by a publishSynchronously that destroys the array, and by the
    /// array's destruction.
    virtual ZumiHashList& operator[](int index) = 0;
    /// Appends an empty hash and returns its index.
    virtual int addNewHash() = 0;
    /// Sends the array to the hash-array property propertyName of the service
    /// publisher and waits for the answer. Returns the service's reply array
    /// as a new array sharing this one's handler, or an empty pointer when the
    /// service sent none. A sent array becomes read-only on the bus, so it is
    /// afterwards replaced by a writable copy (hashes handed out keep working
    /// on it); with destroyAfterPublish it is destroyed instead and this
    /// object is left empty. Throws std::invalid_argument for a null argument
    /// and ZumiException for a non-zero status, leaving the array unchanged.
    virtual std::shared_ptr<ZumiHashListArray> publishSynchronously(const char* publisher,
                                                                    const char* propertyName,
                                                                    bool destroyAfterPublish) = 0;
    /// The number of hashes (0 for an array without any); 0 with a warning for an
    /// invalid array, such as none at all after a destroying publishSynchronously.
    virtual int length() const = 0;
    /// The handler whose connection the array is used with.
    virtual ZumiHandlerSharedPtr getZumiHandler() const = 0;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
