// Listing, for tools: a service's properties and the services on the bus.

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/EntryGuard.h"
#include "dbus/BusNames.h"
#include "dbus/Registry.h"
#include <libzumi/ZumiBus.h>

using zumi::bus::Connection;
using zumi::bus::PropertyEntry;
using zumi::bus::Registry;
using zumi::bus::guardedStatus;

namespace {

// How long a service gets to show that it is one of ours when listing.
constexpr uint64_t kProbeTimeoutUsec = 1000 * 1000;

struct Listed {
    std::string name;
    int type;
    unsigned access;
    bool operator<(const Listed& other) const {
        return name != other.name ? name < other.name : type < other.type;
    }
};

ZumiStatus readListing(sd_bus_message* reply, std::vector<Listed>* out) {
    if (!sd_bus_message_has_signature(reply, "a(siu)")) return ZUMI_ERR_PROTOCOL;
    if (sd_bus_message_enter_container(reply, 'a', "(siu)") < 0) return ZUMI_ERR_PROTOCOL;
    for (;;) {
        const char* name = nullptr;
        int type = 0;
        uint32_t access = 0;
        int r = sd_bus_message_read(reply, "(siu)", &name, &type, &access);
        if (r < 0) return ZUMI_ERR_PROTOCOL;
        if (r == 0) break;
        out->push_back(Listed{name, type, access});
    }
    return sd_bus_message_exit_container(reply) < 0 ? ZUMI_ERR_PROTOCOL : ZUMI_OK;
}

ZumiStatus listRemote(Connection& connection, const char* service, std::vector<Listed>* out,
                      uint64_t timeoutUsec) {
    return connection.callers().call(
        service, "List", [](sd_bus_message*) { return 0; },
        [out](sd_bus_message* reply) { return readListing(reply, out); }, timeoutUsec);
}

// The well-known names a method of the daemon lists (its own left out).
ZumiStatus daemonNames(Connection& connection, const char* method, std::vector<std::string>* out) {
    char** all = nullptr;
    ZumiStatus status = connection.callers().callDaemon(method, [&all](sd_bus_message* reply) {
        return static_cast<ZumiStatus>(sd_bus_message_read_strv(reply, &all) < 0 ? ZUMI_ERR_PROTOCOL : ZUMI_OK);
    });
    for (char** name = all; name != nullptr && *name != nullptr; ++name) {
        if (zumi::bus::isOwnableBusName(*name)) out->emplace_back(*name);
        free(*name);
    }
    free(all);
    return status;
}

// The names, sorted, as the C API hands them out.
ZumiStatus namesOut(std::vector<std::string> found, char*** names, size_t* count) {
    std::sort(found.begin(), found.end());
    if (found.empty()) return ZUMI_OK;
    char** result = static_cast<char**>(calloc(found.size(), sizeof(char*)));
    if (result == nullptr) return ZUMI_ERR_NO_MEMORY;
    for (size_t i = 0; i < found.size(); ++i) {
        result[i] = strdup(found[i].c_str());
        if (result[i] == nullptr) {
            ZumiFreeServiceList(result, i);
            return ZUMI_ERR_NO_MEMORY;
        }
    }
    *names = result;
    *count = found.size();
    return ZUMI_OK;
}

}  // namespace

extern "C" {

ZumiStatus ZumiListProperties(ZumiHandle handle, const char* service, ZumiPropertyInfo** list,
                              size_t* count) {
    if (service == nullptr || list == nullptr || count == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    *list = nullptr;
    *count = 0;
    if (!zumi::bus::isOwnableBusName(service)) return ZUMI_ERR_INVALID_NAME;
    std::shared_ptr<Connection> connection = Registry::instance().find(handle);
    if (!connection) return ZUMI_ERR_DISCONNECTED;
    return guardedStatus([&]() -> ZumiStatus {
        std::vector<Listed> listed;
        std::vector<std::pair<std::string, PropertyEntry>> local;
        if (Registry::instance().listLocal(service, &local)) {
            for (const auto& entry : local) {
                listed.push_back(Listed{entry.first, entry.second.type, entry.second.access()});
            }
        } else {
            ZumiStatus status = listRemote(*connection, service, &listed, 0);
            if (status != ZUMI_OK) return status;
        }
        std::sort(listed.begin(), listed.end());
        if (listed.empty()) return ZUMI_OK;
        ZumiPropertyInfo* infos =
            static_cast<ZumiPropertyInfo*>(calloc(listed.size(), sizeof(ZumiPropertyInfo)));
        if (infos == nullptr) return ZUMI_ERR_NO_MEMORY;
        for (size_t i = 0; i < listed.size(); ++i) {
            infos[i].name = strdup(listed[i].name.c_str());
            infos[i].type = listed[i].type;
            infos[i].access = listed[i].access;
            if (infos[i].name == nullptr) {
                ZumiFreePropertyList(infos, i);
                return ZUMI_ERR_NO_MEMORY;
            }
        }
        *list = infos;
        *count = listed.size();
        return ZUMI_OK;
    });
}

void ZumiFreePropertyList(ZumiPropertyInfo* list, size_t count) {
    if (list == nullptr) return;
    for (size_t i = 0; i < count; ++i) free(list[i].name);
    free(list);
}

ZumiStatus ZumiListServices(ZumiHandle handle, char*** names, size_t* count) {
    if (names == nullptr || count == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    *names = nullptr;
    *count = 0;
    std::shared_ptr<Connection> connection = Registry::instance().find(handle);
    if (!connection) return ZUMI_ERR_DISCONNECTED;
    return guardedStatus([&]() -> ZumiStatus {
        std::vector<std::string> found = Registry::instance().localServices();
        std::vector<std::string> candidates;
        ZumiStatus status = daemonNames(*connection, "ListNames", &candidates);
        if (status != ZUMI_OK) return status;
        // Only our services answer List; the daemon's other clients refuse it.
        for (const std::string& name : candidates) {
            std::vector<Listed> ignored;
            if (std::find(found.begin(), found.end(), name) == found.end() &&
                listRemote(*connection, name.c_str(), &ignored, kProbeTimeoutUsec) == ZUMI_OK) {
                found.push_back(name);
            }
        }
        return namesOut(std::move(found), names, count);
    });
}

ZumiStatus ZumiListActivatableServices(ZumiHandle handle, char*** names, size_t* count) {
    if (names == nullptr || count == nullptr) return ZUMI_ERR_INVALID_ARGUMENT;
    *names = nullptr;
    *count = 0;
    std::shared_ptr<Connection> connection = Registry::instance().find(handle);
    if (!connection) return ZUMI_ERR_DISCONNECTED;
    return guardedStatus([&]() -> ZumiStatus {
        std::vector<std::string> found;
        ZumiStatus status = daemonNames(*connection, "ListActivatableNames", &found);
        return status != ZUMI_OK ? status : namesOut(std::move(found), names, count);
    });
}

void ZumiFreeServiceList(char** names, size_t count) {
    if (names == nullptr) return;
    for (size_t i = 0; i < count; ++i) free(names[i]);
    free(names);
}

}  // extern "C"
