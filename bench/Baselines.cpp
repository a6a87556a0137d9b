// The baselines of the cross-process figures: what the same exchange costs
// without our code, measured in the same run as the figures they judge.
#include <benchmark/benchmark.h>
#include <gio/gio.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "support/BenchNames.h"
#include "support/Helpers.h"
#include "support/MainLoop.h"
#include "support/SequenceCount.h"

namespace zumi {
namespace bench {
namespace {

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;

// A client connection that has finished its handshake with the daemon, so
// that no figure pays for it in its first iteration.
BusPtr openClient() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return nullptr;
    const char* unique = nullptr;
    sd_bus_get_unique_name(bus, &unique);
    return BusPtr(bus);
}

bool sdbusServer(benchmark::State& state) {
    return sharedHelper(state, "sdbus", "bench_sdbus_server", {}) != nullptr;
}

// One synchronous method call; the reply is read the way a client must.
template <typename Read>
bool call(sd_bus* bus, const char* method, Read read, const char* types = "", int arg = 0,
          const char* text = nullptr) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = text ? sd_bus_call_method(bus, SDBUS_SERVICE, PROBE_PATH, PROBE_INTERFACE, method,
                                      &error, &reply, types, text)
                 : sd_bus_call_method(bus, SDBUS_SERVICE, PROBE_PATH, PROBE_INTERFACE, method,
                                      &error, &reply, types, arg);
    bool ok = r >= 0 && read(reply) >= 0;
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return ok;
}

int readNothing(sd_bus_message*) { return 0; }

void BM_Baseline_SdBusGetInt(benchmark::State& state) {
    if (!sdbusServer(state)) return;
    BusPtr bus = openClient();
    int value = 0;
    for (auto _ : state) {
        if (!call(bus.get(), "GetInt",
                  [&](sd_bus_message* m) { return sd_bus_message_read(m, "i", &value); })) {
            state.SkipWithError("GetInt failed");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
}

void BM_Baseline_SdBusSetInt(benchmark::State& state) {
    if (!sdbusServer(state)) return;
    BusPtr bus = openClient();
    int value = 0;
    for (auto _ : state) {
        if (!call(bus.get(), "SetInt", readNothing, "i", ++value)) {
            state.SkipWithError("SetInt failed");
            break;
        }
    }
}

void BM_Baseline_SdBusGetString(benchmark::State& state) {
    if (!sdbusServer(state)) return;
    BusPtr bus = openClient();
    std::string copy;
    for (auto _ : state) {
        if (!call(bus.get(), "GetString", [&](sd_bus_message* m) {
                const char* s = nullptr;
                int r = sd_bus_message_read(m, "s", &s);
                if (r >= 0) copy = s;  // a caller keeps the text, as getStringProperty does
                return r;
            })) {
            state.SkipWithError("GetString failed");
            break;
        }
    }
}

void BM_Baseline_SdBusSetString(benchmark::State& state) {
    if (!sdbusServer(state)) return;
    BusPtr bus = openClient();
    for (auto _ : state) {
        if (!call(bus.get(), "SetString", readNothing, "s", 0, "bench-value")) {
            state.SkipWithError("SetString failed");
            break;
        }
    }
}

void BM_Baseline_GdbusGetInt(benchmark::State& state) {
    if (!sharedHelper(state, "gdbus", "bench_gdbus_server", {})) return;
    GError* error = nullptr;
    GDBusConnection* conn = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!conn) {
        state.SkipWithError(error->message);
        g_error_free(error);
        return;
    }
    for (auto _ : state) {
        GVariant* reply = g_dbus_connection_call_sync(conn, GDBUS_SERVICE, PROBE_PATH,
                                                      PROBE_INTERFACE, "GetInt", nullptr,
                                                      G_VARIANT_TYPE("(i)"), G_DBUS_CALL_FLAGS_NONE,
                                                      -1, nullptr, &error);
        if (!reply) {
            state.SkipWithError(error->message);
            g_clear_error(&error);
            break;
        }
        int value = 0;
        g_variant_get(reply, "(i)", &value);
        benchmark::DoNotOptimize(value);
        g_variant_unref(reply);
    }
    g_object_unref(conn);
}

void BM_Baseline_UnixRelay64(benchmark::State& state) {
    const std::string echoPath = benchTempDir() + "/echo";
    const std::string relayPath = benchTempDir() + "/relay";
    if (!sharedHelper(state, "echo", "bench_unix_hop", {"echo", echoPath}, false) ||
        !sharedHelper(state, "relay", "bench_unix_hop", {"relay", relayPath, echoPath}, false)) {
        return;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    strncpy(a.sun_path, relayPath.c_str(), sizeof(a.sun_path) - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        close(fd);
        state.SkipWithError("cannot reach the relay");
        return;
    }
    char message[RELAY_MESSAGE_SIZE];
    memset(message, 'z', sizeof(message));
    for (auto _ : state) {
        // 64 bytes go out in one write and come back in one read: the kernel
        // delivers a stream this small whole.
        if (write(fd, message, sizeof(message)) != RELAY_MESSAGE_SIZE ||
            recv(fd, message, sizeof(message), MSG_WAITALL) != RELAY_MESSAGE_SIZE) {
            state.SkipWithError("relay broke");
            break;
        }
    }
    close(fd);
}

// Signals counted as they arrive; a missing one is lost.
int onTick(sd_bus_message* m, void* data, sd_bus_error*) {
    uint32_t seq = 0;
    if (sd_bus_message_read(m, "u", &seq) < 0) return 0;
    static_cast<SequenceCount*>(data)->note(seq);
    return 0;
}

void BM_Baseline_SdBusSignals(benchmark::State& state) {
    if (!sdbusServer(state)) return;
    BusPtr bus = openClient();
    SequenceCount count;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(bus.get(), &slot, SDBUS_SERVICE, PROBE_PATH, PROBE_INTERFACE,
                            TICK_SIGNAL, onTick, &count) < 0) {
        state.SkipWithError("cannot add the signal match");
        return;
    }
    unsigned lost = 0, reordered = 0;
    for (auto _ : state) {
        count = SequenceCount();
        if (!call(bus.get(), "Blast", readNothing, "u", static_cast<int>(THROUGHPUT_COUNT))) {
            state.SkipWithError("Blast failed");
            break;
        }
        // Stop when all arrived, or when nothing arrived for two seconds.
        auto quietSince = std::chrono::steady_clock::now();
        while (count.received < THROUGHPUT_COUNT &&
               std::chrono::steady_clock::now() - quietSince < std::chrono::seconds(2)) {
            int r = sd_bus_process(bus.get(), nullptr);
            if (r > 0) {
                quietSince = std::chrono::steady_clock::now();
                continue;
            }
            if (r < 0 || sd_bus_wait(bus.get(), 100000) < 0) break;
        }
        lost += THROUGHPUT_COUNT - count.received;
        reordered += count.reordered;
    }
    sd_bus_slot_unref(slot);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * THROUGHPUT_COUNT);
    state.counters["lost"] = lost;
    state.counters["reordered"] = reordered;
}

// The floor of the library's design for the same signals: each read on a
// bus thread of its own and handed to the main loop by one raw g_idle_add,
// counted there. Blast is called on a second connection, so that only the
// bus thread touches the receiving one.
struct IdleTick {
    SequenceCount* count;
    uint32_t seq;
};

gboolean countIdleTick(gpointer data) {
    std::unique_ptr<IdleTick> tick(static_cast<IdleTick*>(data));
    tick->count->note(tick->seq);
    return G_SOURCE_REMOVE;
}

int onTickToMainLoop(sd_bus_message* m, void* data, sd_bus_error*) {
    uint32_t seq = 0;
    if (sd_bus_message_read(m, "u", &seq) < 0) return 0;
    g_idle_add(countIdleTick, new IdleTick{static_cast<SequenceCount*>(data), seq});
    return 0;
}

void BM_Baseline_SdBusSignalsViaIdle(benchmark::State& state) {
    if (!sdbusServer(state)) return;
    BusPtr receiving = openClient();
    BusPtr calling = openClient();
    SequenceCount count;  // main loop only
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(receiving.get(), &slot, SDBUS_SERVICE, PROBE_PATH, PROBE_INTERFACE,
                            TICK_SIGNAL, onTickToMainLoop, &count) < 0) {
        state.SkipWithError("cannot add the signal match");
        return;
    }
    std::atomic<bool> stop{false};
    std::thread busThread([&] {
        while (!stop.load()) {
            int r = sd_bus_process(receiving.get(), nullptr);
            if (r > 0) continue;
            if (r < 0 || sd_bus_wait(receiving.get(), 50000) < 0) break;
        }
    });
    unsigned lost = 0, reordered = 0;
    for (auto _ : state) {
        count = SequenceCount();
        if (!call(calling.get(), "Blast", readNothing, "u", static_cast<int>(THROUGHPUT_COUNT))) {
            state.SkipWithError("Blast failed");
            break;
        }
        runMainLoopUntil([&] { return static_cast<size_t>(count.received); }, THROUGHPUT_COUNT,
                         std::chrono::seconds(2));
        lost += THROUGHPUT_COUNT - count.received;
        reordered += count.reordered;
    }
    stop.store(true);
    busThread.join();
    drainMainLoop();  // idle sources of a broken run, before count goes
    sd_bus_slot_unref(slot);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * THROUGHPUT_COUNT);
    state.counters["lost"] = lost;
    state.counters["reordered"] = reordered;
}

}  // namespace

BENCHMARK(BM_Baseline_SdBusGetInt)->UseRealTime();
BENCHMARK(BM_Baseline_SdBusSetInt)->UseRealTime();
BENCHMARK(BM_Baseline_SdBusGetString)->UseRealTime();
BENCHMARK(BM_Baseline_SdBusSetString)->UseRealTime();
BENCHMARK(BM_Baseline_GdbusGetInt)->UseRealTime();
BENCHMARK(BM_Baseline_UnixRelay64)->UseRealTime();
BENCHMARK(BM_Baseline_SdBusSignals)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_SdBusSignalsViaIdle)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace bench
}  // namespace zumi
