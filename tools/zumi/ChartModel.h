#ifndef ZUMI_TOOLS_CHARTMODEL_H
#define ZUMI_TOOLS_CHARTMODEL_H

// What zumi chart draws, worked out once for the HTML page and the SVG
// picture alike: the parties (each service, each caller as the recording
// names it) and their lifelines, every operation placed in time (a call from
// its request to its answer, which is when the recording wrote it), the
// per-property and per-event figures of zumi monitor --stats, and the calls
// and events per second over time.
//
// Lifelines: a service has one of its own. Callers that own no service and
// run the same program share one, "zumi (21 processes)", unless one per
// process is asked for; callers of an unknown program ("pid[42]") share
// "unknown (2 processes)", connections known only by their bus name (":1.7")
// "unnamed (2 connections)". The lifelines stand in the order that keeps the
// arrows short: the busiest first, then, one by one, the one that exchanges
// the most calls with those placed, at the end where its calls are shortest;
// lifelines without calls (a source of events only) last, in the order they
// first take part.
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
    int from = -1;     // party of the caller (or the event's sender); -1 for none
    int to = -1;       // party of the service (or the event's source)
    // Where an event is drawn from: its source, or for a spoofed one the
    // process that really sent it.
    int origin() const { return op->spoofed && from >= 0 ? from : to; }
};

// The parties on lifelines, left to right.
struct LaneLayout {
    std::vector<std::string> names;   // of the lifelines
    std::vector<int> of;              // the lifeline of each party
    bool empty() const { return names.empty(); }
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
    std::vector<std::string> parties;      // services and callers, as the recording names them
    LaneLayout lanes;                      // the lifelines the chart opens with
    // The other way to draw them (one per process, or shared by program);
    // empty when it would draw the same lifelines.
    LaneLayout otherLanes;
    bool perProcess = false;               // lanes has one lifeline per process
    std::vector<ChartItem> items;          // by start time
    std::vector<Stats::Summary> figures;
    long calls = 0, events = 0, refusals = 0;
    RateSeries rates;
    // The scale both outputs open with: operations about a line apart where
    // the traffic is dense, the whole within a few screens.
    double pixelsPerSecond = 100;
    // A short recording opens whole in view, whatever the window's height.
    bool opensWhole = false;

    double span() const { return last - first; }
    int lane(int party) const { return party < 0 ? -1 : lanes.of[static_cast<size_t>(party)]; }
};

// Past these the page opens at pixelsPerSecond rather than whole.
constexpr double WHOLE_MOST_SECONDS = 10;
constexpr size_t WHOLE_MOST_OPERATIONS = 1000;

ChartModel buildChart(std::vector<Operation> operations, const std::string& started, bool perProcess = false);

// The lifelines of the parties (see above); items give the calls between them.
LaneLayout layLanes(const std::vector<std::string>& parties, const std::vector<ChartItem>& items, bool perProcess);
// A lifeline's name in at most about `most` bytes: a shared one keeps its
// program and count ("zumi (21)"), another its end ("…tessal.paramd").
std::string laneTitle(const std::string& name, size_t most);

// "4.213 s", "250 ms": a span of time for headings and axes.
std::string durationText(double seconds);
// What an arrow says: "get brightness → 80", "set title = \"x\"", "list",
// "event changed(2, \"a\")"; a refusal adds its status and text.
std::string itemLabel(const ChartItem& item);

}  // namespace tool
}  // namespace zumi

#endif
