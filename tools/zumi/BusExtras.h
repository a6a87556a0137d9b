#ifndef ZUMI_TOOLS_BUSEXTRAS_H
#define ZUMI_TOOLS_BUSEXTRAS_H

// What the zumi command needs beyond libbramwickzumi's public API: listing
// services and properties, sending an event with parameters, and hash arrays
// as raw arrays whose keys can be listed. These call the bus contract
// (platform/ZumiBus.h) directly on a handler's connection. Failures are
// thrown as ZumiException with a message in the library's shape (headline,
// then " --field: value" pieces), so that every refusal reads alike on stderr.
//
// Threads: the caller's, one synchronous bus call at a time.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zumi/ZumiTypes.h>

#include "Json.h"

namespace zumi {
namespace tool {

enum class PropertyType { Int, String, Hash };

struct PropertyInfo {
    std::string name;
    PropertyType type;
    bool readable;
    bool writable;
};

const char* typeName(PropertyType type);

// Throws the ZumiException of a refused call: headline, the fields, then
// errorCode and the bus library's error text.
[[noreturn]] void throwBusFailure(const char* headline,
                                  const std::vector<std::pair<const char*, std::string>>& fields,
                                  ZumiStatus status);

// The services running on the bus, or those the daemon starts when called.
std::vector<std::string> listServices(ZumiHandle handle, bool activatable = false);
std::vector<PropertyInfo> listProperties(ZumiHandle handle, const std::string& service);
// The same without throwing: the bus's status, *properties filled on 0.
ZumiStatus tryListProperties(ZumiHandle handle, const std::string& service,
                             std::vector<PropertyInfo>* properties);

void sendEventWithParams(ZumiHandle handle, const std::string& event, const std::vector<int>& ints,
                         const std::vector<std::string>& strings);

struct HashArrayDeleter {
    void operator()(ZumiHasharrayHandleStruct* array) const;
};
typedef std::unique_ptr<ZumiHasharrayHandleStruct, HashArrayDeleter> HashArrayPtr;

HashList readHashArray(ZumiHasharrayHandleStruct* array);
// Appends list's hashes to array; the first failing status, else ZUMI_OK.
ZumiStatus fillHashArray(ZumiHasharrayHandleStruct* array, const HashList& list);
HashArrayPtr buildHashArray(ZumiHandle handle, const HashList& list);

// Sends list to a hash-array property and returns the service's reply;
// nothing when it sent none (a property that cannot be read answers none).
std::optional<HashList> accessHashProperty(ZumiHandle handle, const std::string& service,
                            const std::string& property, const HashList& list);

}  // namespace tool
}  // namespace zumi

#endif
