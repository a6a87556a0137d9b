#ifndef ZUMI_BENCH_HELPERS_H
#define ZUMI_BENCH_HELPERS_H

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "support/HelperProcess.h"

namespace zumi {
namespace bench {

// Helper processes are started once per benchmark executable, the first time
// a benchmark needs one, and live until the executable exits: starting a
// server per repetition would only measure fork and name acquisition.
//
// Threads: the benchmark thread only.

// The running helper registered under key, started with program and args
// when it is not running yet. nullptr (and the benchmark marked as skipped
// with the reason) when the helper needs the bus and there is none, or when
// it never got ready.
HelperProcess* sharedHelper(benchmark::State& state, const std::string& key,
                            const std::string& program, const std::vector<std::string>& args,
                            bool needsBus = true);

// The private temporary directory of this executable, for sockets.
const std::string& benchTempDir();

// True when DBUS_SESSION_BUS_ADDRESS names a bus; otherwise skips the
// benchmark, telling how to run it.
bool requireBus(benchmark::State& state);

}  // namespace bench
}  // namespace zumi

#endif
