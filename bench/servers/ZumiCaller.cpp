// One of the sixteen processes of the many-callers baseline: it reads the
// peer's "count" through a handler of its own, CALLS_PER_ROUND times in a
// row each time it gets SIGUSR1, and writes each call's latency back on its
// stdout (uint32_t nanoseconds). SIGTERM ends it.
//
//   bench_zumi_caller
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include <zumi/ZumiHandlerFactory.h>

#include "support/BenchNames.h"
#include "support/TimedGet.h"

using namespace zumi::bench;

namespace {

bool writeAll(const void* data, size_t size) {
    const char* from = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(STDOUT_FILENO, from, size);
        if (n <= 0) return false;
        from += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int main() {
    // Blocked before the library starts its threads, so that they inherit it.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        auto handler = veltra::kesh::zumi::ZumiHandlerFactory::getZumiHandler("");
        handler->getIntProperty(PEER_SERVICE, INT_PROPERTY);
        if (!writeAll("ready\n", 6)) return 1;
        std::vector<uint32_t> latencies(CALLS_PER_ROUND);
        for (int signal = 0; sigwait(&signals, &signal) == 0 && signal == SIGUSR1;) {
            for (uint32_t& latency : latencies) latency = timedGet(*handler);
            if (!writeAll(latencies.data(), latencies.size() * sizeof latencies[0])) return 1;
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "bench_zumi_caller: %s\n", e.what());
        return 1;
    }
    return 0;
}
