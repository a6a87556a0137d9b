#include "Stats.h"

#include <stdio.h>

#include <algorithm>

namespace zumi {
namespace tool {

namespace {

// Nearest rank: the smallest latency that at least `percent` of the calls
// did not exceed. -1 without any answered call.
long long percentile(std::vector<long long>& sorted, int percent) {
    if (sorted.empty()) return -1;
    size_t rank = (sorted.size() * static_cast<size_t>(percent) + 99) / 100;
    return sorted[std::max<size_t>(rank, 1) - 1];
}

}  // namespace

std::string millisecondsText(long long usec) {
    if (usec < 0) return "-";
    char text[32];
    snprintf(text, sizeof text, "%.3f", static_cast<double>(usec) / 1000.0);
    return text;
}

void Stats::add(const Operation& op) {
    if (!op.isPropertyCall() && op.kind != Operation::Event) return;
    Row& row = m_rows[{op.service, op.name}];
    row.isEvent = op.kind == Operation::Event;
    ++row.calls;
    if (op.status != ZUMI_OK || op.spoofed) ++row.errors;
    if (op.latencyUsec >= 0) row.latencies.push_back(op.latencyUsec);
}

std::vector<Stats::Summary> Stats::summaries() {
    std::vector<Summary> rows;
    for (auto& entry : m_rows) {
        Row& row = entry.second;
        std::sort(row.latencies.begin(), row.latencies.end());
        Summary summary;
        summary.service = entry.first.first;
        summary.name = entry.first.second;
        summary.isEvent = row.isEvent;
        summary.calls = row.calls;
        summary.errors = row.errors;
        summary.p50 = percentile(row.latencies, 50);
        summary.p99 = percentile(row.latencies, 99);
        summary.max = row.latencies.empty() ? -1 : row.latencies.back();
        rows.push_back(std::move(summary));
    }
    return rows;
}

void Stats::print(std::ostream& out, bool json, double seconds) {
    nlohmann::json rows = nlohmann::json::array();
    std::vector<std::vector<std::string>> table = {
        {"SERVICE", "PROPERTY/EVENT", "CALLS", "PER-SECOND", "P50-MS", "P99-MS", "ERRORS"}};
    for (const Summary& row : summaries()) {
        const double perSecond = seconds > 0 ? static_cast<double>(row.calls) / seconds : 0;
        char rate[32];
        snprintf(rate, sizeof rate, "%.2f", perSecond);
        table.push_back({row.service, row.name, std::to_string(row.calls), rate, millisecondsText(row.p50),
                         millisecondsText(row.p99), std::to_string(row.errors)});
        nlohmann::json object = {{"service", row.service},
                                 {row.isEvent ? "event" : "property", row.name},
                                 {"calls", row.calls},
                                 {"per_second", perSecond},
                                 {"errors", row.errors}};
        if (row.p50 >= 0) object["p50_ms"] = static_cast<double>(row.p50) / 1000.0;
        if (row.p99 >= 0) object["p99_ms"] = static_cast<double>(row.p99) / 1000.0;
        rows.push_back(object);
    }
    m_rows.clear();
    if (json) {
        out << dumpLine({{"stats", rows}, {"seconds", seconds}}) << std::endl;
        return;
    }
    std::vector<size_t> widths(table[0].size(), 0);
    for (const auto& line : table) {
        for (size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
    }
    char header[64];
    snprintf(header, sizeof header, "-- %.1f s\n", seconds);
    out << header;
    for (const auto& line : table) {
        std::string text;
        for (size_t i = 0; i < line.size(); ++i) {
            // Names left-aligned, figures right-aligned.
            const std::string pad(widths[i] - line[i].size(), ' ');
            text += (i < 2 ? line[i] + pad : pad + line[i]) + (i + 1 < line.size() ? "  " : "");
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out << text << "\n";
    }
    out.flush();
}

}  // namespace tool
}  // namespace zumi
