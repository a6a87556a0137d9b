#ifndef ZUMI_TOOLS_STATS_H
#define ZUMI_TOOLS_STATS_H

// zumi monitor --stats: per service and property (or event), how many calls
// passed, how many per second over the period, the 50th and 99th percentile
// of their latency (nearest rank, over the calls that were answered), and
// how many answered with a non-zero status or not at all; for an event, how
// many were spoofed.
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
    void add(const Operation& operation);
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

}  // namespace tool
}  // namespace zumi

#endif
