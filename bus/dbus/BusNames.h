#ifndef ZUMI_BUS_DBUS_BUSNAMES_H
#define ZUMI_BUS_DBUS_BUSNAMES_H

// Where a service lives on the bus and how its names are checked.
//
// Every service answers on one object, kObjectPath, with the interface
// kInterface:
//   GetInt(s name) -> (u status, i value)
//   SetInt(s name, i value) -> (u status)
//   GetString(s name) -> (u status, ay text)       texts travel as bytes: the
//   SetString(s name, ay text) -> (u status)       C API allows any non-NUL byte
//   AccessHash(s name, b send, aa{sv} array) -> (u status, b hasReply, aa{sv} array)
//   List() -> (a(siu) name, type, access)
// and sends its events as the signal Event(s source, s event, ai ints, as texts)
// (WireFormat.h). The same object serves org.freedesktop.DBus.Introspectable,
// org.freedesktop.DBus.Properties (integer and string properties, through the
// same callbacks) and org.freedesktop.DBus.Peer, for clients of any binding.
// The status that a service's callback returned travels in the reply body
// unchanged; D-Bus errors mean the request itself was refused.

#include <string>

#include "core/Sendable.h"  // isValidMemberName, which the test double shares

namespace zumi {
namespace bus {

extern const char* const kObjectPath;
extern const char* const kInterface;
extern const char* const kEventMember;
extern const char* const kErrorTooLarge;  // D-Bus error name for values over the limits
// The bus daemon's own name, which is also its interface, and its object path.
extern const char* const kDaemon;
extern const char* const kDaemonPath;

// A well-known bus name that a connection may own: not unique (":1.4"), not
// the daemon's own.
bool isOwnableBusName(const char* name);

// The quoted form of a value inside a match rule.
std::string quoteMatchValue(const std::string& value);

}  // namespace bus
}  // namespace zumi

#endif
