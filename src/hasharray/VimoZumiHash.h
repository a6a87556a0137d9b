#ifndef ZUMI_HASHARRAY_VIMOZUMIHASH_H
#define ZUMI_HASHARRAY_VIMOZUMIHASH_H

#include <zumi/ZumiHashList.h>
#include <zumi/ZumiTypes.h>

namespace veltra {
namespace kesh {
namespace zumi {

// One hash of a VimoZumiHashListArray, made only by its operator[] and kept
// in its map. It points at the owner's array field rather than at the array,
// so it always works on whatever array the owner holds at the moment of the
// call, also after a publish swapped the sent array for a writable clone.
// Owns nothing.
//
// Threads: those of its owning array (one at a time); takes no lock.
class VimoZumiHash : public ZumiHashList {
public:
    VimoZumiHash(ZumiHasharrayHandleStruct** hashArrayRef, int index);
    ~VimoZumiHash() override;

    void putString(const char* key, const char* value) override;
    const char* getString(const char* key) override;
    void putInt(const char* key, int value) override;
    int getInt(const char* key) override;

private:
    ZumiHasharrayHandleStruct** m_hashArrayRef;
    int m_index;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
