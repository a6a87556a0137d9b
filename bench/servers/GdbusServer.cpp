// A plain GDBus service with the same GetInt method as the sd-bus one: the
// baseline for what a GLib-native binding would cost on the same daemon.
#include <gio/gio.h>
#include <glib-unix.h>
#include <unistd.h>

#include <cstdio>

#include "support/BenchNames.h"

using namespace zumi::bench;

namespace {

const char kIntrospection[] =
    "<node><interface name='com.zumi.bench.Probe'>"
    "<method name='GetInt'><arg type='i' direction='out'/></method>"
    "</interface></node>";

void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
            GVariant*, GDBusMethodInvocation* invocation, gpointer) {
    if (g_strcmp0(method, "GetInt") == 0) {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(i)", 42));
    } else {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                              "no such method");
    }
}

const GDBusInterfaceVTable kVtable = {onCall, nullptr, nullptr, {nullptr}};

gboolean onTerm(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main() {
    GError* error = nullptr;
    GDBusConnection* conn = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!conn) {
        fprintf(stderr, "bench_gdbus_server: %s\n", error->message);
        return 1;
    }
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    g_dbus_connection_register_object(conn, PROBE_PATH, info->interfaces[0], &kVtable, nullptr,
                                      nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", GDBUS_SERVICE, 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!reply) {
        fprintf(stderr, "bench_gdbus_server: %s\n", error->message);
        return 1;
    }
    g_variant_unref(reply);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGTERM, onTerm, loop);
    if (write(STDOUT_FILENO, "ready\n", 6) != 6) return 1;
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    g_dbus_node_info_unref(info);
    g_object_unref(conn);
    return 0;
}
