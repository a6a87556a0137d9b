// Key listing of a hash, for tools that print hash arrays they know nothing
// about. It lives beside the in-memory hash array so that libzumi and the test
// double, which share that array, answer it alike.

#include <stdlib.h>
#include <string.h>

#include "core/HashArray.h"
#include <libzumi/ZumiBus.h>

extern "C" {

ZumiStatus ZumiHasharrayGetKeys(struct ZumiHasharrayHandleStruct* array, int index, char*** keys,
                                size_t* count) {
    if (array == nullptr) return ZUMI_ERR_INVALID_ARRAY;
    if (keys == nullptr || count == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (index < 0 || static_cast<size_t>(index) >= array->hashes.size()) {
        return ZUMI_ERR_INVALID_INDEX;
    }
    const zumi::bus::HashArray::Hash& hash = array->hashes[static_cast<size_t>(index)];
    // calloc(0) may give NULL; one spare slot keeps "no keys" a valid list.
    char** list = static_cast<char**>(calloc(hash.size() + 1, sizeof(char*)));
    if (list == nullptr) return ZUMI_ERR_NO_MEMORY;
    size_t n = 0;
    for (const auto& entry : hash) {  // std::map: already sorted
        list[n] = strdup(entry.first.c_str());
        if (list[n] == nullptr) {
            ZumiFreeKeyList(list, n);
            return ZUMI_ERR_NO_MEMORY;
        }
        ++n;
    }
    *keys = list;
    *count = n;
    return ZUMI_OK;
}

void ZumiFreeKeyList(char** keys, size_t count) {
    if (keys == nullptr) return;
    for (size_t i = 0; i < count; ++i) free(keys[i]);
    free(keys);
}
}
