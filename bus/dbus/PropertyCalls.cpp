#include "dbus/PropertyCalls.h"

#include <string.h>

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

#include "dbus/Registry.h"
#include "dbus/WireFormat.h"

namespace zumi {
namespace bus {

namespace {

ZumiStatus callStringGetter(const PropertyEntry& entry, ZumiHandle handle, const char* name,
                            std::string* value) {
    char small[256];
    std::vector<char> large;
    char* buffer = small;
    unsigned int capacity = sizeof small;
    for (int attempt = 0; attempt < kStringGetterAttempts; ++attempt) {
        buffer[0] = '\0';
        unsigned int size = capacity;
        ZumiStatus status = entry.stringGetter(handle, name, buffer, &size, entry.data);
        if (status == ZUMI_ERR_BUFFER_TOO_SMALL) {
            if (size <= capacity) return ZUMI_ERR_BUFFER_TOO_SMALL;
            if (size > kMaxTextBytes + 1) return ZUMI_ERR_TOO_LARGE;
            large.resize(size);
            buffer = large.data();
            capacity = size;
            continue;
        }
        if (status != ZUMI_OK) return status;
        size_t length = strnlen(buffer, capacity);
        if (length == capacity) return ZUMI_ERR_PROTOCOL;  // no terminating NUL
        value->assign(buffer, length);
        return ZUMI_OK;
    }
    return ZUMI_ERR_BUFFER_TOO_SMALL;
}

// The steps every request shares: find the property among this process's
// connections (false: not our service), refuse it when the callback that
// `chosen` picks is missing, and call it so that nothing escapes.
template <typename Callback, typename Call>
bool serve(const std::string& service, const std::string& property, int type,
           Callback PropertyEntry::*chosen, ZumiStatus* status, Call call) {
    PropertyEntry entry;
    CallbackScope scope;
    if (!Registry::instance().findLocal(service, property, type, &entry, &scope, status)) {
        return false;
    }
    if (*status != ZUMI_OK) return true;
    if (entry.*chosen == nullptr) {
        *status = ZUMI_ERR_ACCESS_DENIED;
        return true;
    }
    try {
        *status = call(entry, scope.owner()->handle(), property.c_str());
    } catch (...) {
        *status = ZUMI_ERR_SERVICE_FAILED;
    }
    return true;
}

}  // namespace

bool servesInProcess(const std::string& service) { return Registry::instance().server(service) != nullptr; }

bool servedInProcess(const std::string& service, LocalCall::Work work, LocalOutcome* outcome) {
    if (Connection::onAnyDispatchThread()) return work(*outcome);
    std::chrono::steady_clock::time_point deadline;
    for (bool first = true;; first = false) {
        std::shared_ptr<Connection> server = Registry::instance().server(service);
        if (!server) return false;
        if (first) {
            deadline = std::chrono::steady_clock::now() +
                       std::chrono::microseconds(server->callers().timeoutUsec());
        }
        std::shared_ptr<LocalCall> call(new LocalCall(work));
        switch (server->runOnDispatchThread(call, deadline)) {
            case LocalCall::kServed:
                outcome->status = call->outcome().status;
                outcome->number = call->outcome().number;
                outcome->text.swap(call->outcome().text);
                std::swap(outcome->reply, call->outcome().reply);
                return true;
            case LocalCall::kTimedOut:
                outcome->status = ZUMI_ERR_TIMEOUT;
                return true;
            case LocalCall::kNotServed:
            case LocalCall::kDropped:
                break;  // not served there after all: the connection closed meanwhile
        }
    }
}

bool serveGetInt(const std::string& service, const std::string& property, int* value,
                 ZumiStatus* status) {
    return serve(service, property, ZUMI_TYPE_INT, &PropertyEntry::intGetter, status,
                 [value](const PropertyEntry& entry, ZumiHandle handle, const char* name) {
                     int result = 0;
                     ZumiStatus answer = entry.intGetter(handle, name, &result, entry.data);
                     if (answer == ZUMI_OK) *value = result;
                     return answer;
                 });
}

bool serveSetInt(const std::string& service, const std::string& property, int value,
                 ZumiStatus* status) {
    return serve(service, property, ZUMI_TYPE_INT, &PropertyEntry::intSetter, status,
                 [value](const PropertyEntry& entry, ZumiHandle handle, const char* name) {
                     return entry.intSetter(handle, name, value, entry.data);
                 });
}

bool serveGetString(const std::string& service, const std::string& property, std::string* value,
                    ZumiStatus* status) {
    return serve(service, property, ZUMI_TYPE_STRING, &PropertyEntry::stringGetter, status,
                 [value](const PropertyEntry& entry, ZumiHandle handle, const char* name) {
                     return callStringGetter(entry, handle, name, value);
                 });
}

bool serveSetString(const std::string& service, const std::string& property, const char* value,
                    ZumiStatus* status) {
    return serve(service, property, ZUMI_TYPE_STRING, &PropertyEntry::stringSetter, status,
                 [value](const PropertyEntry& entry, ZumiHandle handle, const char* name) {
                     return entry.stringSetter(handle, name, value, entry.data);
                 });
}

namespace {

// The accessor's own array of what was sent: a copy of `input`, or the
// hashes of `taken` (the same array, of a caller that has no further use for it).
HashArray* accessorInput(const HashArray* input, HashArray* taken) {
    if (taken == nullptr) return hashArrayClone(input);
    HashArray* own = hashArrayNew();
    if (own != nullptr) own->hashes.swap(taken->hashes);
    return own;
}

bool access(const std::string& service, const std::string& property, const HashArray* input,
            HashArray* taken, HashArray** reply, ZumiStatus* status) {
    return serve(service, property, ZUMI_TYPE_HASHARRAY, &PropertyEntry::accessor, status,
                 [input, taken, reply](const PropertyEntry& entry, ZumiHandle handle, const char* name) {
                     // The accessor gets its own array of what was sent and an
                     // empty reply; the reply goes to the requester whatever
                     // the accessor answers, unless the property cannot be
                     // read: then there is no value to send back, and an
                     // empty array would pass for one.
                     const unsigned access = entry.access();
                     if ((access & (input == nullptr ? ZUMI_ACCESS_READ : ZUMI_ACCESS_WRITE)) == 0) {
                         return static_cast<ZumiStatus>(ZUMI_ERR_ACCESS_DENIED);
                     }
                     std::unique_ptr<HashArray> own(input == nullptr ? nullptr
                                                                     : accessorInput(input, taken));
                     std::unique_ptr<HashArray> output(hashArrayNew());
                     if ((input != nullptr && own == nullptr) || output == nullptr) {
                         return static_cast<ZumiStatus>(ZUMI_ERR_NO_MEMORY);
                     }
                     ZumiStatus answer =
                         entry.accessor(handle, name, own.get(), output.get(), entry.data);
                     output->readOnly = false;
                     // A reply that could not cross the bus is not handed over
                     // in this process either.
                     if ((access & ZUMI_ACCESS_READ) != 0 && keepReply(output.get(), &answer)) {
                         *reply = output.release();
                     }
                     return answer;
                 });
}

}  // namespace

bool serveAccess(const std::string& service, const std::string& property, const HashArray* input,
                 HashArray** reply, ZumiStatus* status) {
    return access(service, property, input, nullptr, reply, status);
}

bool serveAccessTaking(const std::string& service, const std::string& property, HashArray* input,
                       HashArray** reply, ZumiStatus* status) {
    return access(service, property, input, input, reply, status);
}

}  // namespace bus
}  // namespace zumi
