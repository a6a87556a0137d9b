#include "core/HashArray.h"

#include <new>

#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

namespace {

// The value slot for a read, or the status that explains why there is none.
ZumiStatus findValue(const HashArray* array, int index, const char* key,
                     const HashArray::Value** value) {
    if (array == nullptr) return ZUMI_ERR_INVALID_ARRAY;
    if (key == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (index < 0 || static_cast<size_t>(index) >= array->hashes.size()) {
        return ZUMI_ERR_INVALID_INDEX;
    }
    const HashArray::Hash& hash = array->hashes[static_cast<size_t>(index)];
    auto found = hash.find(key);
    if (found == hash.end()) return ZUMI_HASH_KEY_ABSENT;
    *value = &found->second;
    return ZUMI_OK;
}

ZumiStatus writableSlot(HashArray* array, int index, const char* key, HashArray::Value** slot) {
    if (array == nullptr) return ZUMI_ERR_INVALID_ARRAY;
    if (key == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (array->readOnly) return ZUMI_ERR_READ_ONLY;
    if (index < 0 || static_cast<size_t>(index) >= array->hashes.size()) {
        return ZUMI_ERR_INVALID_INDEX;
    }
    *slot = &array->hashes[static_cast<size_t>(index)][key];
    return ZUMI_OK;
}

}  // namespace

HashArray* hashArrayNew() { return new (std::nothrow) HashArray(); }

HashArray* hashArrayClone(const HashArray* array) {
    if (array == nullptr) return nullptr;
    HashArray* copy = new (std::nothrow) HashArray();
    if (copy == nullptr) return nullptr;
    try {
        copy->hashes = array->hashes;
    } catch (const std::bad_alloc&) {
        delete copy;
        return nullptr;
    }
    return copy;
}

void hashArrayDestroy(HashArray* array) { delete array; }

int hashArrayCount(const HashArray* array) {
    return array == nullptr ? -1 : static_cast<int>(array->hashes.size());
}

ZumiStatus hashArrayAddHash(HashArray* array, int* index) {
    if (array == nullptr) return ZUMI_ERR_INVALID_ARRAY;
    if (index == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    if (array->readOnly) return ZUMI_ERR_READ_ONLY;
    array->hashes.emplace_back();
    *index = static_cast<int>(array->hashes.size() - 1);
    return ZUMI_OK;
}

ZumiStatus hashArrayGetInt(const HashArray* array, int index, const char* key, int* value) {
    if (value == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    const HashArray::Value* slot = nullptr;
    ZumiStatus status = findValue(array, index, key, &slot);
    if (status != ZUMI_OK) return status;
    if (slot->isString) return ZUMI_HASH_WRONG_TYPE;
    *value = slot->number;
    return ZUMI_OK;
}

ZumiStatus hashArrayGetString(const HashArray* array, int index, const char* key,
                              const char** value) {
    if (value == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    const HashArray::Value* slot = nullptr;
    ZumiStatus status = findValue(array, index, key, &slot);
    if (status != ZUMI_OK) return status;
    if (!slot->isString) return ZUMI_HASH_WRONG_TYPE;
    *value = slot->text.c_str();
    return ZUMI_OK;
}

ZumiStatus hashArrayPutInt(HashArray* array, int index, const char* key, int value) {
    HashArray::Value* slot = nullptr;
    ZumiStatus status = writableSlot(array, index, key, &slot);
    if (status != ZUMI_OK) return status;
    slot->isString = false;
    slot->number = value;
    slot->text.clear();
    return ZUMI_OK;
}

ZumiStatus hashArrayPutString(HashArray* array, int index, const char* key, const char* value) {
    if (value == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    HashArray::Value* slot = nullptr;
    ZumiStatus status = writableSlot(array, index, key, &slot);
    if (status != ZUMI_OK) return status;
    slot->isString = true;
    slot->number = 0;
    slot->text = value;
    return ZUMI_OK;
}

}  // namespace bus
}  // namespace zumi
