#ifndef ZUMI_BENCH_SUPPORT_TIMEDGET_H
#define ZUMI_BENCH_SUPPORT_TIMEDGET_H

// One read of the peer's integer, timed the same way by both sides of the
// many-callers figure (the threads of bench_zumi_bus and the processes of
// bench_zumi_caller), so that their latencies compare.

#include <stdint.h>
#include <time.h>

#include <exception>

#include <zumi/ZumiHandler.h>

#include "support/BenchNames.h"

namespace zumi {
namespace bench {

// The latency of a call that failed.
constexpr uint32_t LOST_CALL = UINT32_MAX;

// Nanoseconds of the read, or LOST_CALL.
inline uint32_t timedGet(const veltra::kesh::zumi::ZumiHandler& handler) {
    auto nowNs = [] {
        struct timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
    };
    const uint64_t start = nowNs();
    try {
        handler.getIntProperty(PEER_SERVICE, INT_PROPERTY);
        return static_cast<uint32_t>(nowNs() - start);
    } catch (const std::exception&) {
        return LOST_CALL;
    }
}

}  // namespace bench
}  // namespace zumi

#endif
