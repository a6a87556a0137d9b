#include "BusExtras.h"

#include <utility>

#include <zumi/ZumiException.h>

#include <libzumi/ZumiBus.h>

namespace zumi {
namespace tool {

using veltra::kesh::zumi::ZumiException;

namespace {

typedef std::vector<std::pair<const char*, std::string>> Fields;

// Hash reads answer 81/82 without a value; everything else non-zero is a fault.
void checkHashCall(ZumiStatus status, const char* what) {
    if (status != ZUMI_OK) throwBusFailure(what, {}, status);
}

}  // namespace

void throwBusFailure(const char* headline, const Fields& fields, ZumiStatus status) {
    std::string message = headline;
    for (const auto& field : fields) {
        message += std::string(" --") + field.first + ": " + field.second;
    }
    message += " --errorCode: " + std::to_string(status);
    message += std::string(" --error: ") + ZumiGetErrorString(status);
    // The daemon says which rule refused what; the library's messages carry it too.
    if (status == ZUMI_ERR_POLICY_DENIED && *ZumiGetLastRefusal() != '\0') {
        message += std::string(": ") + ZumiGetLastRefusal();
    }
    throw ZumiException(message);
}

const char* typeName(PropertyType type) {
    switch (type) {
        case PropertyType::Int: return "int";
        case PropertyType::String: return "string";
        case PropertyType::Hash: return "hash";
    }
    return "?";
}

std::vector<std::string> listServices(ZumiHandle handle, bool activatable) {
    char** names = nullptr;
    size_t count = 0;
    ZumiStatus status = activatable ? ZumiListActivatableServices(handle, &names, &count)
                                    : ZumiListServices(handle, &names, &count);
    if (status != ZUMI_OK) throwBusFailure("Could not list the services.", {}, status);
    std::vector<std::string> result(names, names + count);
    ZumiFreeServiceList(names, count);
    return result;
}

std::vector<PropertyInfo> listProperties(ZumiHandle handle, const std::string& service) {
    std::vector<PropertyInfo> result;
    ZumiStatus status = tryListProperties(handle, service, &result);
    if (status != ZUMI_OK) throwBusFailure("Could not list the properties.", {{"source", service}}, status);
    return result;
}

ZumiStatus tryListProperties(ZumiHandle handle, const std::string& service,
                             std::vector<PropertyInfo>* properties) {
    ZumiPropertyInfo* list = nullptr;
    size_t count = 0;
    ZumiStatus status = ZumiListProperties(handle, service.c_str(), &list, &count);
    if (status != ZUMI_OK) return status;
    std::vector<PropertyInfo>& result = *properties;
    result.clear();
    for (size_t i = 0; i < count; ++i) {
        PropertyInfo info;
        info.name = list[i].name;
        info.type = list[i].type == ZUMI_TYPE_INT      ? PropertyType::Int
                    : list[i].type == ZUMI_TYPE_STRING ? PropertyType::String
                                                       : PropertyType::Hash;
        info.readable = (list[i].access & ZUMI_ACCESS_READ) != 0;
        info.writable = (list[i].access & ZUMI_ACCESS_WRITE) != 0;
        result.push_back(info);
    }
    ZumiFreePropertyList(list, count);
    return ZUMI_OK;
}

void sendEventWithParams(ZumiHandle handle, const std::string& event, const std::vector<int>& ints,
                         const std::vector<std::string>& strings) {
    std::vector<const char*> texts;
    for (const std::string& s : strings) texts.push_back(s.c_str());
    ZumiStatus status = ZumiSendEventWithParams(handle, event.c_str(), ints.data(), ints.size(),
                                                texts.data(), texts.size());
    if (status != ZUMI_OK) throwBusFailure("Could not send event.", {{"event", event}}, status);
}

void HashArrayDeleter::operator()(ZumiHasharrayHandleStruct* array) const {
    ZumiHasharrayDestroy(array);
}

HashList readHashArray(ZumiHasharrayHandleStruct* array) {
    HashList result;
    int count = ZumiHasharrayGetHashCount(array);
    if (count < 0) throwBusFailure("Could not read the hash array.", {}, ZUMI_ERR_INVALID_ARRAY);
    for (int index = 0; index < count; ++index) {
        char** keys = nullptr;
        size_t keyCount = 0;
        checkHashCall(ZumiHasharrayGetKeys(array, index, &keys, &keyCount),
                      "Could not read the hash array.");
        Hash hash;
        try {
            for (size_t k = 0; k < keyCount; ++k) {
                int number = 0;
                ZumiStatus status = ZumiHasharrayGetInt(array, index, keys[k], &number);
                if (status == ZUMI_OK) {
                    hash[keys[k]] = HashValue::ofInt(number);
                    continue;
                }
                const char* text = nullptr;
                if (status == ZUMI_HASH_WRONG_TYPE) {
                    status = ZumiHasharrayGetString(array, index, keys[k], &text);
                }
                checkHashCall(status, "Could not read the hash array.");
                hash[keys[k]] = HashValue::ofString(text != nullptr ? text : "");
            }
        } catch (...) {
            ZumiFreeKeyList(keys, keyCount);
            throw;
        }
        ZumiFreeKeyList(keys, keyCount);
        result.push_back(std::move(hash));
    }
    return result;
}

ZumiStatus fillHashArray(ZumiHasharrayHandleStruct* array, const HashList& list) {
    for (const Hash& hash : list) {
        int index = -1;
        ZumiStatus status = ZumiHasharrayAddHash(array, &index);
        for (auto entry = hash.begin(); status == ZUMI_OK && entry != hash.end(); ++entry) {
            const char* key = entry->first.c_str();
            status = entry->second.isString
                         ? ZumiHasharrayPutString(array, index, key, entry->second.text.c_str())
                         : ZumiHasharrayPutInt(array, index, key, entry->second.number);
        }
        if (status != ZUMI_OK) return status;
    }
    return ZUMI_OK;
}

HashArrayPtr buildHashArray(ZumiHandle handle, const HashList& list) {
    HashArrayPtr array(ZumiHasharrayNew(handle));
    if (!array) throwBusFailure("Could not create a hash array.", {}, ZUMI_ERR_NO_MEMORY);
    checkHashCall(fillHashArray(array.get(), list), "Could not fill the hash array.");
    return array;
}

std::optional<HashList> accessHashProperty(ZumiHandle handle, const std::string& service,
                            const std::string& property, const HashList& list) {
    HashArrayPtr input = buildHashArray(handle, list);
    ZumiHasharrayHandleStruct* rawReply = nullptr;
    ZumiStatus status = ZumiAccessHasharrayProperty(handle, service.c_str(), property.c_str(),
                                                    input.get(), &rawReply);
    HashArrayPtr reply(rawReply);  // ours whatever the status
    if (status != ZUMI_OK) {
        throwBusFailure("Could not set the request property.", {{"source", service}, {"property", property}},
             status);
    }
    if (!reply) return std::nullopt;
    return readHashArray(reply.get());
}

}  // namespace tool
}  // namespace zumi
