#include "hasharray/VimoZumiHash.h"

#include <stdexcept>

#include <zumi/ZumiException.h>

#include "platform/ZumiBus.h"
#include "util/ExceptionMessage.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::ExceptionMessage;

namespace {

void requireKey(const char* key) {
    if (key == nullptr) throw std::invalid_argument("key argument was NULL");
}

// The readers treat an absent key (81) and a key of the other type (82) like
// success: no value is delivered, and the caller sees the preset one.
bool isAcceptedRead(ZumiStatus status) {
    return status == ZUMI_OK || status == ZUMI_HASH_KEY_ABSENT || status == ZUMI_HASH_WRONG_TYPE;
}

// The failure of a read or of putString: index and key, never a string value
// (strings may carry user data).
[[noreturn]] void throwHashFailure(const char* headline, int index, const char* key,
                                   ZumiStatus status) {
    throw ZumiException(
        ExceptionMessage(headline).field("index", index).field("key", key).status(status).str());
}

}  // namespace

ZumiHashList::~ZumiHashList() = default;

VimoZumiHash::VimoZumiHash(ZumiHasharrayHandleStruct** hashArrayRef, int index)
    : m_hashArrayRef(hashArrayRef), m_index(index) {}

VimoZumiHash::~VimoZumiHash() = default;

void VimoZumiHash::putString(const char* key, const char* value) {
    requireKey(key);
    if (value == nullptr) throw std::invalid_argument("value argument was NULL");
    ZumiStatus status = ZumiHasharrayPutString(*m_hashArrayRef, m_index, key, value);
    if (status != ZUMI_OK) {
        throwHashFailure("ZumiHasharrayPutString method failed.", m_index, key, status);
    }
}

const char* VimoZumiHash::getString(const char* key) {
    requireKey(key);
    const char* value = nullptr;
    ZumiStatus status = ZumiHasharrayGetString(*m_hashArrayRef, m_index, key, &value);
    if (!isAcceptedRead(status)) {
        throwHashFailure("ZumiHasharrayGetString method failed.", m_index, key, status);
    }
    return value;
}

void VimoZumiHash::putInt(const char* key, int value) {
    requireKey(key);
    ZumiStatus status = ZumiHasharrayPutInt(*m_hashArrayRef, m_index, key, value);
    if (status != ZUMI_OK) {
        throw ZumiException(ExceptionMessage("ZumiHasharrayPutInt method failed.")
                                .field("index", m_index)
                                .field("key", key)
                                .field("value", value)
                                .status(status)
                                .str());
    }
}

int VimoZumiHash::getInt(const char* key) {
    requireKey(key);
    // 81 and 82 deliver no integer; 0 is what the caller then gets.
    int value = 0;
    ZumiStatus status = ZumiHasharrayGetInt(*m_hashArrayRef, m_index, key, &value);
    if (!isAcceptedRead(status)) {
        throwHashFailure("ZumiHasharrayGetInt method failed.", m_index, key, status);
    }
    return value;
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
