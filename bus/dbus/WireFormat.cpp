#include "dbus/WireFormat.h"

#include <string.h>

#include <new>

#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

namespace {

void putU32(std::vector<uint8_t>* out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

ZumiStatus putText(std::vector<uint8_t>* out, const char* text, size_t length, size_t limit) {
    if (length > limit) return ZUMI_ERR_TOO_LARGE;
    putU32(out, static_cast<uint32_t>(length));
    out->insert(out->end(), text, text + length);
    if (out->size() > kMaxBlobBytes) return ZUMI_ERR_TOO_LARGE;
    return ZUMI_OK;
}

// Reads with bounds checks; every failure is sticky so callers test once.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool u32(uint32_t* value) {
        if (m_size - m_pos < 4) return false;
        *value = static_cast<uint32_t>(m_data[m_pos]) | static_cast<uint32_t>(m_data[m_pos + 1]) << 8 |
                 static_cast<uint32_t>(m_data[m_pos + 2]) << 16 |
                 static_cast<uint32_t>(m_data[m_pos + 3]) << 24;
        m_pos += 4;
        return true;
    }
    bool u8(uint8_t* value) {
        if (m_pos >= m_size) return false;
        *value = m_data[m_pos++];
        return true;
    }
    // ZUMI_OK, ZUMI_ERR_TOO_LARGE or ZUMI_ERR_PROTOCOL.
    ZumiStatus text(std::string* out, size_t limit) {
        uint32_t length = 0;
        if (!u32(&length)) return ZUMI_ERR_PROTOCOL;
        if (length > limit) return ZUMI_ERR_TOO_LARGE;
        if (m_size - m_pos < length) return ZUMI_ERR_PROTOCOL;
        const char* begin = reinterpret_cast<const char*>(m_data + m_pos);
        if (memchr(begin, '\0', length) != nullptr) return ZUMI_ERR_PROTOCOL;
        out->assign(begin, length);
        m_pos += length;
        return ZUMI_OK;
    }
    bool atEnd() const { return m_pos == m_size; }
    size_t remaining() const { return m_size - m_pos; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

ZumiStatus decodeHash(Reader& reader, HashArray::Hash* hash) {
    uint32_t entries = 0;
    if (!reader.u32(&entries)) return ZUMI_ERR_PROTOCOL;
    if (entries > kMaxEntriesPerHash) return ZUMI_ERR_TOO_LARGE;
    // Each entry takes at least 9 bytes; refuse counts the bytes cannot hold
    // before reserving anything for them.
    if (entries > reader.remaining() / 9) return ZUMI_ERR_PROTOCOL;
    for (uint32_t i = 0; i < entries; ++i) {
        std::string key;
        ZumiStatus status = reader.text(&key, kMaxKeyBytes);
        if (status != ZUMI_OK) return status;
        uint8_t kind = 0;
        if (!reader.u8(&kind)) return ZUMI_ERR_PROTOCOL;
        HashArray::Value value;
        if (kind == 0) {
            uint32_t number = 0;
            if (!reader.u32(&number)) return ZUMI_ERR_PROTOCOL;
            value.number = static_cast<int>(number);
        } else if (kind == 1) {
            value.isString = true;
            status = reader.text(&value.text, kMaxTextBytes);
            if (status != ZUMI_OK) return status;
        } else {
            return ZUMI_ERR_PROTOCOL;
        }
        if (!hash->emplace(std::move(key), std::move(value)).second) return ZUMI_ERR_PROTOCOL;
    }
    return ZUMI_OK;
}

}  // namespace

ZumiStatus encodeHashArray(const HashArray& array, std::vector<uint8_t>* out) {
    try {
        out->clear();
        if (array.hashes.size() > kMaxHashes) return ZUMI_ERR_TOO_LARGE;
        putU32(out, static_cast<uint32_t>(array.hashes.size()));
        for (const HashArray::Hash& hash : array.hashes) {
            if (hash.size() > kMaxEntriesPerHash) return ZUMI_ERR_TOO_LARGE;
            putU32(out, static_cast<uint32_t>(hash.size()));
            for (const auto& entry : hash) {
                ZumiStatus status = putText(out, entry.first.data(), entry.first.size(), kMaxKeyBytes);
                if (status != ZUMI_OK) return status;
                out->push_back(entry.second.isString ? 1 : 0);
                if (entry.second.isString) {
                    status = putText(out, entry.second.text.data(), entry.second.text.size(),
                                     kMaxTextBytes);
                    if (status != ZUMI_OK) return status;
                } else {
                    putU32(out, static_cast<uint32_t>(entry.second.number));
                }
            }
        }
        return out->size() > kMaxBlobBytes ? ZUMI_ERR_TOO_LARGE : ZUMI_OK;
    } catch (const std::bad_alloc&) {
        return ZUMI_ERR_NO_MEMORY;
    }
}

ZumiStatus decodeHashArray(const uint8_t* data, size_t size, HashArray* out) {
    if (size > kMaxBlobBytes) return ZUMI_ERR_TOO_LARGE;
    try {
        out->hashes.clear();
        Reader reader(data, size);
        uint32_t count = 0;
        if (!reader.u32(&count)) return ZUMI_ERR_PROTOCOL;
        if (count > kMaxHashes) return ZUMI_ERR_TOO_LARGE;
        if (count > reader.remaining() / 4) return ZUMI_ERR_PROTOCOL;
        out->hashes.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            out->hashes.emplace_back();
            ZumiStatus status = decodeHash(reader, &out->hashes.back());
            if (status != ZUMI_OK) return status;
        }
        return reader.atEnd() ? ZUMI_OK : ZUMI_ERR_PROTOCOL;
    } catch (const std::bad_alloc&) {
        return ZUMI_ERR_NO_MEMORY;
    }
}

ZumiStatus encodeEventParams(const int* ints, size_t intCount, const char* const* texts,
                             size_t textCount, std::vector<uint8_t>* out) {
    if ((intCount > 0 && ints == nullptr) || (textCount > 0 && texts == nullptr)) {
        return ZUMI_ERR_INVALID_ARGUMENT;
    }
    if (intCount > kMaxEventParams || textCount > kMaxEventParams) return ZUMI_ERR_TOO_LARGE;
    try {
        out->clear();
        putU32(out, static_cast<uint32_t>(intCount));
        for (size_t i = 0; i < intCount; ++i) putU32(out, static_cast<uint32_t>(ints[i]));
        putU32(out, static_cast<uint32_t>(textCount));
        for (size_t i = 0; i < textCount; ++i) {
            if (texts[i] == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
            ZumiStatus status = putText(out, texts[i], strlen(texts[i]), kMaxTextBytes);
            if (status != ZUMI_OK) return status;
        }
        return ZUMI_OK;
    } catch (const std::bad_alloc&) {
        return ZUMI_ERR_NO_MEMORY;
    }
}

ZumiStatus decodeEventParams(const uint8_t* data, size_t size, EventParams* out) {
    if (size > kMaxBlobBytes) return ZUMI_ERR_TOO_LARGE;
    try {
        out->ints.clear();
        out->texts.clear();
        Reader reader(data, size);
        uint32_t count = 0;
        if (!reader.u32(&count)) return ZUMI_ERR_PROTOCOL;
        if (count > kMaxEventParams) return ZUMI_ERR_TOO_LARGE;
        if (count > reader.remaining() / 4) return ZUMI_ERR_PROTOCOL;
        out->ints.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t number = 0;
            reader.u32(&number);
            out->ints.push_back(static_cast<int>(number));
        }
        if (!reader.u32(&count)) return ZUMI_ERR_PROTOCOL;
        if (count > kMaxEventParams) return ZUMI_ERR_TOO_LARGE;
        if (count > reader.remaining() / 4) return ZUMI_ERR_PROTOCOL;
        out->texts.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            out->texts.emplace_back();
            ZumiStatus status = reader.text(&out->texts.back(), kMaxTextBytes);
            if (status != ZUMI_OK) return status;
        }
        return reader.atEnd() ? ZUMI_OK : ZUMI_ERR_PROTOCOL;
    } catch (const std::bad_alloc&) {
        return ZUMI_ERR_NO_MEMORY;
    }
}

}  // namespace bus
}  // namespace zumi
