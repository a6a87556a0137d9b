#include "core/StatusText.h"

#include <string>

#include <libzumi/ZumiBus.h>

namespace zumi {
namespace bus {

const char* statusText(ZumiStatus status) {
    switch (status) {
        case ZUMI_OK: return "No error";
        case ZUMI_ERR_INVALID_ARGUMENT: return "Invalid argument";
        case ZUMI_ERR_NO_BUS: return "The bus is not reachable";
        case ZUMI_ERR_NAME_TAKEN: return "The service identifier is owned by another process";
        case ZUMI_ERR_INVALID_NAME: return "The service identifier is not a valid bus name";
        case ZUMI_ERR_NO_SERVICE: return "No service owns that identifier";
        case ZUMI_ERR_TIMEOUT: return "The service did not answer in time";
        case ZUMI_ERR_NO_MEMORY: return "Out of memory";
        case ZUMI_ERR_NO_SUCH_PROPERTY: return "The service publishes no such property";
        case ZUMI_ERR_ACCESS_DENIED: return "The property does not allow this access";
        case ZUMI_ERR_BUFFER_TOO_SMALL: return "The buffer is too small for the value";
        case ZUMI_ERR_DISCONNECTED: return "The connection is closed";
        case ZUMI_ERR_ALREADY_REGISTERED: return "The property is already registered";
        case ZUMI_ERR_PROTOCOL: return "Malformed message";
        case ZUMI_ERR_NO_MORE_PARAMS: return "No more parameters of that kind";
        case ZUMI_ERR_READ_ONLY: return "The hash array is read-only";
        case ZUMI_ERR_INVALID_INDEX: return "No hash at that index";
        case ZUMI_ERR_INVALID_ARRAY: return "Invalid hash array";
        case ZUMI_ERR_NOT_SUBSCRIBED: return "Not subscribed to that event";
        case ZUMI_ERR_TOO_LARGE: return "The value exceeds the bus's size limits";
        case ZUMI_ERR_FAILED: return "The bus operation failed";
        case ZUMI_ERR_POLICY_DENIED: return "The bus's policy does not allow this";
        case ZUMI_ERR_BUS_LOST: return "The bus is not reachable at the moment; the connection is reconnecting";
        case ZUMI_HASH_KEY_ABSENT: return "The hash has no value under that key";
        case ZUMI_HASH_WRONG_TYPE: return "The hash holds a value of the other type under that key";
        case ZUMI_ERR_SERVICE_FAILED: return "The service failed to serve the request";
        default: return "Unknown status";
    }
}

namespace {
thread_local std::string t_refusal;
}  // namespace

void noteRefusal(const char* message) { t_refusal = message != nullptr ? message : ""; }

const char* lastRefusal() { return t_refusal.c_str(); }

}  // namespace bus
}  // namespace zumi
