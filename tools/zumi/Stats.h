#ifndef ZUMI_TOOLS_STATS_H
#define ZUMI_TOOLS_STATS_H

// zumi monitor --stats: per service and property (or event), how many calls
// passed, how many per second over the period, the 50th and 99th percentile
// of their latency (nearest rank, over the calls that were answered), and
// how many answered with a non-zero status or not at all; for an event, how
// many were spoofed. zumi chart shows the same figures beside its diagram.
//
// Threads: the command's thread.

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "Traffic.h"

namespace zumi {
namespace tool {

class Stats {
public:
    // One row's figures; latencies in microseconds, -1 without an answered call.
    struct Summary {
        std::string service, name;
        bool isEvent = false;
        long calls = 0, errors = 0;
        long long p50 = -1, p99 = -1, max = -1;
    };

    void add(const Operation& operation);
    // The rows so far, by service and name.
    std::vector<Summary> summaries();
    // One table (or one JSON object) for the period of `seconds`; then
    // starts a new period.
    void print(std::ostream& out, bool json, double seconds);

private:
    struct Row {
        bool isEvent = false;
        long calls = 0;
        long errors = 0;
        std::vector<long long> latencies;  // microseconds
    };
    std::map<std::pair<std::string, std::string>, Row> m_rows;  // (service, name)
};

// A latency in milliseconds with three decimals, "-" for -1 microseconds.
std::string millisecondsText(long long usec);

}  // namespace tool
}  // namespace zumi

#endif
