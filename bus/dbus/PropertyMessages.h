#ifndef ZUMI_BUS_DBUS_PROPERTYMESSAGES_H
#define ZUMI_BUS_DBUS_PROPERTYMESSAGES_H

// The requests and replies of the property methods, written and read in one
// place for the synchronous calls (PropertyApi, HashArrayApi) and the
// asynchronous ones (AsyncCalls).
//
//   GetInt(s property)                 -> (u status, i value)
//   GetString(s property)              -> (u status, ay text)
//   SetInt(s property, i value)        -> (u status)
//   SetString(s property, ay text)     -> (u status)
//   AccessHash(s property, b sent, aa{sv}) -> (u status, b hasReply, aa{sv} array)
//
// Appenders return an sd-bus result; readers return the service's status, or
// ZUMI_ERR_PROTOCOL for a reply of the wrong shape. Outputs are written only
// on ZUMI_OK, except the hash-array reply, delivered with any status.
// Threads: pure functions on the messages given.

#include <stdint.h>

#include <string>
#include <vector>

#include <systemd/sd-bus.h>

#include <libzumi/ZumiBus.h>

#include "core/HashArray.h"

namespace zumi {
namespace bus {

int appendProperty(sd_bus_message* message, const char* property);
int appendIntSet(sd_bus_message* message, const char* property, int value);
int appendTextSet(sd_bus_message* message, const char* property, const char* value, size_t length);
// input null: a read, with an empty array. An input must have passed checkHashArray.
int appendAccess(sd_bus_message* message, const char* property, const HashArray* input);

ZumiStatus readStatusReply(sd_bus_message* reply);
ZumiStatus readIntReply(sd_bus_message* reply, int* value);
ZumiStatus readTextReply(sd_bus_message* reply, std::string* value);
// *array is a new array owned by the caller, or untouched when none came.
ZumiStatus readHashReply(sd_bus_message* reply, HashArray** array);

}  // namespace bus
}  // namespace zumi

#endif
