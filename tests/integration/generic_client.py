#!/usr/bin/python3
"""A client of one of our services that knows nothing of our library: GLib's
own D-Bus bindings, the object path, the interface and D-Bus's types.

Usage: generic_client.py ADDRESS SERVICE. Reads and writes the integer
`level`, reads everything, prints "ready" once subscribed to the service's
events and then the first event, and sends a hash array to `echo`, whose
publisher answers with what it received. One line per step, for the test to
compare."""

import json
import sys

from gi.repository import Gio, GLib

PATH = "/com/tessal/zumi"
INTERFACE = "com.tessal.Zumi"
PROPERTIES = "org.freedesktop.DBus.Properties"


def main(address, service):
    bus = Gio.DBusConnection.new_for_address_sync(
        address,
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)

    def call(interface, method, signature, args, reply):
        return bus.call_sync(service, PATH, interface, method, GLib.Variant(signature, args),
                             GLib.VariantType(reply), Gio.DBusCallFlags.NONE, 20000, None).unpack()

    def show(*words):
        print(" ".join(json.dumps(w, sort_keys=True, ensure_ascii=False) for w in words), flush=True)

    show("get", call(PROPERTIES, "Get", "(ss)", (INTERFACE, "level"), "(v)")[0])
    call(PROPERTIES, "Set", "(ssv)", (INTERFACE, "level", GLib.Variant("i", 11)), "()")
    show("all", call(PROPERTIES, "GetAll", "(s)", (INTERFACE,), "(a{sv})")[0])

    loop = GLib.MainLoop()
    events = []

    def on_event(_bus, _sender, _path, _interface, _member, parameters):
        events.append(parameters.unpack())
        loop.quit()

    bus.signal_subscribe(service, INTERFACE, "Event", PATH, None, Gio.DBusSignalFlags.NONE, on_event)
    # A round trip to the daemon after the subscription: the daemon has taken
    # the match rule by the time it answers.
    bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
                  None, None, Gio.DBusCallFlags.NONE, 20000, None)
    show("ready")
    GLib.timeout_add_seconds(20, loop.quit)
    loop.run()
    show("event", *(list(events[0]) if events else ["none"]))

    sent = [{"text": GLib.Variant("s", "h\u00e9llo w\u00f6rld"), "number": GLib.Variant("i", -3)}, {}]
    show("hash", call(INTERFACE, "AccessHash", "(sbaa{sv})", ("echo", True, sent), "(ubaa{sv})"))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
