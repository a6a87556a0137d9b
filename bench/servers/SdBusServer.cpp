// A plain sd-bus service, the baseline that the library's remote property
// access and events are compared with: the same daemon, the same kind of
// message, none of our code in the path.
//
// Methods of com.zumi.bench.Probe at /com/zumi/bench:
//   GetInt() -> i, SetInt(i), GetString() -> s, SetString(s)
//   Blast(u n): replies, then emits n signals Tick(u sequence) as fast as the
//   connection takes them.
#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/BenchNames.h"

using namespace zumi::bench;

namespace {

int g_value = 42;
std::string g_text = "bench";
volatile sig_atomic_t g_stop = 0;

int getInt(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "i", g_value);
}

int setInt(sd_bus_message* m, void*, sd_bus_error*) {
    int r = sd_bus_message_read(m, "i", &g_value);
    if (r < 0) return r;
    return sd_bus_reply_method_return(m, "");
}

int getString(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "s", g_text.c_str());
}

int setString(sd_bus_message* m, void*, sd_bus_error*) {
    const char* s = nullptr;
    int r = sd_bus_message_read(m, "s", &s);
    if (r < 0) return r;
    g_text = s;
    return sd_bus_reply_method_return(m, "");
}

int blast(sd_bus_message* m, void*, sd_bus_error*) {
    uint32_t n = 0;
    int r = sd_bus_message_read(m, "u", &n);
    if (r < 0) return r;
    r = sd_bus_reply_method_return(m, "");
    if (r < 0) return r;
    sd_bus* bus = sd_bus_message_get_bus(m);
    for (uint32_t i = 0; i < n; ++i) {
        r = sd_bus_emit_signal(bus, PROBE_PATH, PROBE_INTERFACE, TICK_SIGNAL, "u", i);
        if (r < 0) return r;
    }
    return sd_bus_flush(bus);
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetInt", "", "i", getInt, 0),
    SD_BUS_METHOD("SetInt", "i", "", setInt, 0),
    SD_BUS_METHOD("GetString", "", "s", getString, 0),
    SD_BUS_METHOD("SetString", "s", "", setString, 0),
    SD_BUS_METHOD("Blast", "u", "", blast, 0),
    SD_BUS_VTABLE_END,
};

void onTerm(int) { g_stop = 1; }

}  // namespace

int main() {
    signal(SIGTERM, onTerm);
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) {
        fprintf(stderr, "bench_sdbus_server: no bus at DBUS_SESSION_BUS_ADDRESS\n");
        return 1;
    }
    if (sd_bus_add_object_vtable(bus, nullptr, PROBE_PATH, PROBE_INTERFACE, kVtable, nullptr) < 0 ||
        sd_bus_request_name(bus, SDBUS_SERVICE, 0) < 0) {
        fprintf(stderr, "bench_sdbus_server: cannot serve %s\n", SDBUS_SERVICE);
        return 1;
    }
    if (write(STDOUT_FILENO, "ready\n", 6) != 6) return 1;
    while (!g_stop) {
        int r = sd_bus_process(bus, nullptr);
        if (r < 0) break;
        if (r > 0) continue;
        if (sd_bus_wait(bus, UINT64_MAX) < 0 && !g_stop) break;
    }
    sd_bus_flush_close_unref(bus);
    return 0;
}
