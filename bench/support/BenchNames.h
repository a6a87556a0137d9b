#ifndef ZUMI_BENCH_BENCHNAMES_H
#define ZUMI_BENCH_BENCHNAMES_H

// Names shared by the benchmark executables and their helper processes.
namespace zumi {
namespace bench {

// The plain sd-bus and GDBus servers the baselines call.
constexpr const char* SDBUS_SERVICE = "com.zumi.bench.SdServer";
constexpr const char* GDBUS_SERVICE = "com.zumi.bench.GServer";
constexpr const char* PROBE_PATH = "/com/zumi/bench";
constexpr const char* PROBE_INTERFACE = "com.zumi.bench.Probe";
constexpr const char* TICK_SIGNAL = "Tick";

// The two-hop relay baseline: every message is exactly this long.
constexpr int RELAY_MESSAGE_SIZE = 64;

// How many events or signals one throughput run sends.
constexpr unsigned THROUGHPUT_COUNT = 100000;

}  // namespace bench
}  // namespace zumi

#endif
