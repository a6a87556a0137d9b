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

// The library's side: a peer process publishing properties through
// libbramwickzumi, and the identifiers the benchmark's own handlers use.
constexpr const char* PEER_SERVICE = "com.zumi.bench.Peer";
constexpr const char* CLIENT_SERVICE = "com.zumi.bench.Client";
constexpr const char* INT_PROPERTY = "count";
constexpr const char* STRING_PROPERTY = "name";
constexpr const char* TABLE_PROPERTY = "table";
// Setting it to n makes the peer send n TICK_EVENT events, each carrying its
// sequence number as its one integer.
constexpr const char* BLAST_PROPERTY = "blast";
constexpr const char* TICK_EVENT = "tick";
// A second peer whose UI object serves UI_PROPERTY through a bridge and
// reports each value it receives on the main loop back to the benchmark.
constexpr const char* UI_PEER_SERVICE = "com.zumi.bench.UiPeer";
constexpr const char* UI_PROPERTY = "level";

// How many events or signals one throughput run sends.
constexpr unsigned THROUGHPUT_COUNT = 100000;

}  // namespace bench
}  // namespace zumi

#endif
