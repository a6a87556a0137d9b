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
// An int the peer answers only after SLOW_ANSWER_MS.
constexpr const char* SLOW_PROPERTY = "slow";
constexpr unsigned SLOW_ANSWER_MS = 2000;
// A second peer whose UI object serves UI_PROPERTY through a bridge and
// reports each value it receives on the main loop back to the benchmark.
constexpr const char* UI_PEER_SERVICE = "com.zumi.bench.UiPeer";
constexpr const char* UI_PROPERTY = "level";

// The many-callers figures: this many threads of one process, or processes,
// read INT_PROPERTY at once, each this many times per round.
constexpr int CALLERS = 16;
constexpr int CALLS_PER_ROUND = 200;

// How many events or signals one throughput run sends.
constexpr unsigned THROUGHPUT_COUNT = 100000;

// The event flood: a sender sends FLOOD_COUNT events while the receiver's
// main loop is busy for FLOOD_BUSY_MS. Both report on their stdout.
constexpr const char* FLOOD_SENDER = "com.zumi.bench.FloodSender";
constexpr const char* FLOOD_RECEIVER = "com.zumi.bench.FloodReceiver";
constexpr unsigned FLOOD_COUNT = 200000;
constexpr int FLOOD_BUSY_MS = 5000;
struct FloodReceiverReport {
    unsigned long long delivered = 0, dropped = 0, told = 0, reordered = 0, peakKiB = 0;
};
struct FloodSenderReport {
    unsigned long long sent = 0, failed = 0, worstSendUs = 0, peakKiB = 0;
};

}  // namespace bench
}  // namespace zumi

#endif
