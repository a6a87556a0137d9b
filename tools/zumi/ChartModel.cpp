#include "ChartModel.h"

#include <stdio.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace zumi {
namespace tool {

namespace {

// A line of the diagram: where operations are about this far apart (a
// quarter of them are closer), the opening scale keeps them apart.
constexpr double LINE_PIXELS = 18;
constexpr double MIN_HEIGHT = 600, MAX_HEIGHT = 30000;
// The SVG's height for a recording that opens whole (the page fits its window).
constexpr double WHOLE_HEIGHT = 760;
constexpr size_t MAX_RATE_BUCKETS = 100;

class Parties {
public:
    explicit Parties(std::vector<std::string>* names) : m_names(names) {}
    int of(const std::string& name) {
        if (name.empty()) return -1;
        auto found = m_index.find(name);
        if (found != m_index.end()) return found->second;
        m_names->push_back(name);
        return m_index[name] = static_cast<int>(m_names->size()) - 1;
    }

private:
    std::vector<std::string>* m_names;
    std::map<std::string, int> m_index;
};

double startOf(const Operation& op) {
    return op.latencyUsec >= 0 ? op.offset - static_cast<double>(op.latencyUsec) / 1e6 : op.offset;
}

double openingScale(const std::vector<ChartItem>& items, double span) {
    std::vector<double> gaps;
    for (size_t i = 1; i < items.size(); ++i) {
        const double gap = items[i].start - items[i - 1].start;
        if (gap > 0) gaps.push_back(gap);
    }
    double scale = 100;
    if (!gaps.empty()) {
        std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 4, gaps.end());
        scale = LINE_PIXELS / gaps[gaps.size() / 4];
    }
    if (span <= 0) return scale;
    const double most =
        std::max(MIN_HEIGHT, std::min(MAX_HEIGHT, 2 * LINE_PIXELS * static_cast<double>(items.size())));
    return std::max(MIN_HEIGHT / span, std::min(scale, most / span));
}

// The smallest round bucket that keeps the plot within its number of points.
RateSeries rates(const std::vector<ChartItem>& items, double first, double span) {
    RateSeries series;
    for (double step : {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 30.0, 60.0,
                        300.0, 600.0, 1800.0, 3600.0, 21600.0, 86400.0}) {
        series.bucket = step;
        if (span / step <= static_cast<double>(MAX_RATE_BUCKETS)) break;
    }
    const size_t count = std::max<size_t>(1, static_cast<size_t>(std::ceil(span / series.bucket)));
    series.calls.assign(count, 0);
    series.events.assign(count, 0);
    for (const ChartItem& item : items) {
        const Operation::Kind kind = item.op->kind;
        if (!item.op->isPropertyCall() && kind != Operation::List && kind != Operation::Event) continue;
        size_t bucket = static_cast<size_t>((item.start - first) / series.bucket);
        bucket = std::min(bucket, count - 1);
        (kind == Operation::Event ? series.events : series.calls)[bucket] += 1.0 / series.bucket;
    }
    return series;
}

std::string clipped(std::string text, size_t most) {
    if (text.size() <= most) return text;
    size_t cut = most;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
    return text.substr(0, cut) + "…";
}

}  // namespace

std::string durationText(double seconds) {
    char text[32];
    const double size = std::fabs(seconds);
    if (size >= 1 || size == 0) {
        snprintf(text, sizeof text, "%.3f s", seconds);
    } else if (size >= 0.001) {
        snprintf(text, sizeof text, "%.3g ms", seconds * 1e3);
    } else {
        snprintf(text, sizeof text, "%.3g µs", seconds * 1e6);
    }
    return text;
}

std::string itemLabel(const ChartItem& item) {
    const Operation& op = *item.op;
    std::string label;
    switch (op.kind) {
        case Operation::Get:
            label = "get " + op.name + (op.hasValue ? " → " + valueText(op) : "");
            break;
        case Operation::Set: label = "set " + op.name + (op.hasValue ? " = " + valueText(op) : ""); break;
        case Operation::List: label = "list"; break;
        case Operation::Event: {
            std::string parameters;
            for (int number : op.ints) parameters += (parameters.empty() ? "" : ", ") + std::to_string(number);
            for (const std::string& text : op.strings) {
                parameters += (parameters.empty() ? "" : ", ") + quoteString(text);
            }
            label = "event " + op.name + "(" + parameters + ")";
            if (op.spoofed) label += " SPOOFED as " + op.service;
            return clipped(label, 90);
        }
        case Operation::ServiceUp: return "up";
        case Operation::ServiceDown: return "down";
        case Operation::Property: return op.name;
    }
    label = clipped(label, 70);
    if (op.status != ZUMI_OK) label += " ✗ " + std::to_string(op.status) + " " + ZumiGetErrorString(op.status);
    return label;
}

ChartModel buildChart(std::vector<Operation> operations, const std::string& started, bool perProcess) {
    ChartModel model;
    model.started = started;
    for (Operation& op : operations) {
        (op.kind == Operation::Property ? model.startValues : model.operations).push_back(std::move(op));
    }
    for (const Operation& op : model.operations) {
        ChartItem item;
        item.op = &op;
        item.start = startOf(op);
        item.end = op.offset;
        model.items.push_back(item);
    }
    std::stable_sort(model.items.begin(), model.items.end(),
                     [](const ChartItem& a, const ChartItem& b) { return a.start < b.start; });
    // The services first, then the processes that only call, each in order of
    // appearance: the order lifelines without calls keep.
    Parties parties(&model.parties);
    for (ChartItem& item : model.items) item.to = parties.of(item.op->service);
    Stats figures;
    for (ChartItem& item : model.items) {
        const Operation& op = *item.op;
        // A service's owner is not a party to its coming and going; an
        // event's sender is a party of its own only when it is not the source.
        const bool ownParty = op.kind != Operation::ServiceUp && op.kind != Operation::ServiceDown &&
                             (op.kind != Operation::Event || op.spoofed);
        if (ownParty) item.from = parties.of(op.caller.empty() ? "(unknown caller)" : op.caller);
        figures.add(op);
        if (op.kind == Operation::Event) {
            ++model.events;
        } else if (op.isPropertyCall() || op.kind == Operation::List) {
            ++model.calls;
            if (op.status != ZUMI_OK) ++model.refusals;
        }
    }
    model.figures = figures.summaries();
    if (!model.items.empty()) {
        // From the first request: a recording often starts well before its traffic.
        model.first = model.items.front().start;
        model.last = model.first;
        for (const ChartItem& item : model.items) model.last = std::max(model.last, item.end);
    }
    model.perProcess = perProcess;
    model.lanes = layLanes(model.parties, model.items, perProcess);
    model.otherLanes = layLanes(model.parties, model.items, !perProcess);
    if (model.otherLanes.names.size() == model.lanes.names.size()) model.otherLanes = LaneLayout();
    model.opensWhole = !model.items.empty() && model.span() > 0 && model.span() <= WHOLE_MOST_SECONDS &&
                       model.items.size() <= WHOLE_MOST_OPERATIONS;
    model.pixelsPerSecond = model.opensWhole ? WHOLE_HEIGHT / model.span() : openingScale(model.items, model.span());
    model.rates = rates(model.items, model.first, model.span());
    return model;
}

}  // namespace tool
}  // namespace zumi
