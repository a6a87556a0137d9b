#ifndef ZUMI_ZUMIHASHLIST_H
#define ZUMI_ZUMIHASHLIST_H

#include <zumi/ZumiExport.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// One hash of a hash array: string keys mapped to integers or strings.
/// Obtained from ZumiHashListArray::operator[]; valid as long as the array
/// keeps it (see ZumiHashListArray).
///
/// Failures: a null key or value throws std::invalid_argument; a status the
/// bus library refuses throws ZumiException naming the index and the key.
/// A key that is absent or holds the other type is not a failure: getInt then
/// answers 0 and getString a null pointer.
class ZUMI_EXPORT ZumiHashList {
public:
    virtual ~ZumiHashList();

    /// value is copied into the array.
    virtual void putString(const char* key, const char* value) = 0;
    /// The text belongs to the hash array: never free it, and do not keep it
    /// past the next write to, copy of or publish of the array.
    virtual const char* getString(const char* key) = 0;
    /// Stores value under key, replacing what the key held.
    virtual void putInt(const char* key, int value) = 0;
    /// The integer under key, or 0 when the key is absent or holds a string.
    virtual int getInt(const char* key) = 0;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
