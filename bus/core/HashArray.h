#ifndef ZUMI_BUS_CORE_HASHARRAY_H
#define ZUMI_BUS_CORE_HASHARRAY_H

// The in-memory hash array behind the opaque ZumiHasharrayHandleStruct: a list
// of hashes from string keys to an integer or a string. Shared by libzumi
// (which also puts it on the wire) and the test double, so that both answer
// the contract's hash-array operations the same way.
//
// Statuses: an index outside [0, count) is ZUMI_ERR_INVALID_INDEX; a read of
// a key that the hash lacks is ZUMI_HASH_KEY_ABSENT (81) and of a key holding
// the other type ZUMI_HASH_WRONG_TYPE (82), both without a value; a write to a
// sent (read-only) array is ZUMI_ERR_READ_ONLY; a null array is
// ZUMI_ERR_INVALID_ARRAY, and a null key ZUMI_ERR_INVALID_ARGUMENT.
//
// Threads: an array is used by one thread at a time; distinct arrays are
// independent.

#include <map>
#include <string>
#include <vector>

#include <libzumi/ZumiTypes.h>

struct ZumiHasharrayHandleStruct {
    struct Value {
        bool isString = false;
        int number = 0;
        std::string text;
        bool operator==(const Value& other) const {
            return isString == other.isString && number == other.number && text == other.text;
        }
    };
    typedef std::map<std::string, Value> Hash;

    std::vector<Hash> hashes;
    bool readOnly = false;
};

namespace zumi {
namespace bus {

typedef ZumiHasharrayHandleStruct HashArray;

HashArray* hashArrayNew();
HashArray* hashArrayClone(const HashArray* array);  // writable copy; NULL for NULL
void hashArrayDestroy(HashArray* array);
int hashArrayCount(const HashArray* array);         // negative for NULL
ZumiStatus hashArrayAddHash(HashArray* array, int* index);
ZumiStatus hashArrayGetInt(const HashArray* array, int index, const char* key, int* value);
ZumiStatus hashArrayGetString(const HashArray* array, int index, const char* key,
                              const char** value);
ZumiStatus hashArrayPutInt(HashArray* array, int index, const char* key, int value);
ZumiStatus hashArrayPutString(HashArray* array, int index, const char* key, const char* value);

}  // namespace bus
}  // namespace zumi

#endif
