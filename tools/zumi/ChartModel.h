#ifndef ZUMI_TOOLS_CHARTMODEL_H
#define ZUMI_TOOLS_CHARTMODEL_H

// What zumi chart draws, worked out once for the HTML page and the SVG
// picture alike: the lifelines (one per service or calling process, in the
// order they first take part), every operation placed in time (a call from
// its request to its answer, which is when the recording wrote it), the
// per-property and per-event figures of zumi monitor --stats, and the calls
// and events per second over time.
//
// Threads: plain values; the caller's thread.

#include <string>
#include <vector>

#include "Stats.h"
#include "Traffic.h"

namespace zumi {
namespace tool {

struct ChartItem {
    const Operation* op = nullptr;
    double start = 0;  // seconds from the recording's start: the request
    double end = 0;    // the answer (start for an event, a service coming or going)
    int from = -1;     // lane of the caller (or the event's sender); -1 for none
    int to = -1;       // lane of the service (or the event's source)
    // Where an event is drawn from: its source, or for a spoofed one the
    // process that really sent it.
    int origin() const { return op->spoofed && from >= 0 ? from : to; }
};

struct RateSeries {
    double bucket = 1;               // seconds per bucket
    std::vector<double> calls;       // gets, sets and listings per second in each bucket
    std::vector<double> events;      // events per second in each bucket
};

// Not copied: the items point into its operations.
struct ChartModel {
    ChartModel() = default;
    ChartModel(ChartModel&&) = default;
    ChartModel(const ChartModel&) = delete;
    ChartModel& operator=(const ChartModel&) = delete;

    std::string started;              // the recording's start, as its header has it
    double first = 0, last = 0;       // the time axis: the first request, the last answer (s from the start)
    std::vector<Operation> operations;     // what the items point into
    std::vector<Operation> startValues;    // "property" lines: values when recording started
    std::vector<std::string> lanes;
    std::vector<ChartItem> items;          // by start time
    std::vector<Stats::Summary> figures;
    long calls = 0, events = 0, refusals = 0;
    RateSeries rates;
    // The scale both outputs open with: operations about a line apart where
    // the traffic is dense, the whole within a few screens.
    double pixelsPerSecond = 100;

    double span() const { return last - first; }
};

ChartModel buildChart(std::vector<Operation> operations, const std::string& started);

// "4.213 s", "250 ms": a span of time for headings and axes.
std::string durationText(double seconds);
// What an arrow says: "get brightness → 80", "set title = \"x\"", "list",
// "event changed(2, \"a\")"; a refusal adds its status and text.
std::string itemLabel(const ChartItem& item);

}  // namespace tool
}  // namespace zumi

#endif
