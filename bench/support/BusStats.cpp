#include "support/BusStats.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace zumi {
namespace bench {

namespace {

const char DAEMON[] = "org.freedesktop.DBus";
const char DAEMON_PATH[] = "/org/freedesktop/DBus";

// Finds the "MatchRules" entry of the a{sv} the reply holds.
int readMatchRules(sd_bus_message* reply) {
    if (sd_bus_message_enter_container(reply, 'a', "{sv}") < 0) return -1;
    while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(reply, "s", &key) < 0) return -1;
        if (strcmp(key, "MatchRules") == 0) {
            uint32_t rules = 0;
            if (sd_bus_message_read(reply, "v", "u", &rules) < 0) return -1;
            return static_cast<int>(rules);
        }
        if (sd_bus_message_skip(reply, "v") < 0 || sd_bus_message_exit_container(reply) < 0) {
            return -1;
        }
    }
    return -1;
}

}  // namespace

int matchRulesOf(const char* busName) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return -1;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* owner = nullptr;
    sd_bus_message* stats = nullptr;
    const char* unique = nullptr;
    int rules = -1;
    if (sd_bus_call_method(bus, DAEMON, DAEMON_PATH, DAEMON, "GetNameOwner", &error, &owner, "s",
                           busName) >= 0 &&
        sd_bus_message_read(owner, "s", &unique) >= 0 &&
        sd_bus_call_method(bus, DAEMON, DAEMON_PATH, "org.freedesktop.DBus.Debug.Stats",
                           "GetConnectionStats", &error, &stats, "s", unique) >= 0) {
        rules = readMatchRules(stats);
    }
    sd_bus_message_unref(stats);
    sd_bus_message_unref(owner);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return rules;
}

int processIdOf(const char* busName) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return -1;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    uint32_t pid = 0;
    int result = -1;
    if (sd_bus_call_method(bus, DAEMON, DAEMON_PATH, DAEMON, "GetConnectionUnixProcessID", &error,
                           &reply, "s", busName) >= 0 &&
        sd_bus_message_read(reply, "u", &pid) >= 0) {
        result = static_cast<int>(pid);
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return result;
}

}  // namespace bench
}  // namespace zumi
