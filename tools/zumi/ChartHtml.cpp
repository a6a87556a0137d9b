// The HTML page: the recording's operations as columns of JSON inside the
// page, drawn by chart.js for the part of the time axis in view; the figures,
// the plot and the start values as plain HTML, readable without the script.

#include <stdio.h>

#include <cmath>
#include <map>
#include <set>

#include "Chart.h"

namespace zumi {
namespace tool {

using nlohmann::json;

namespace {

// An operation costs some forty bytes here: a hundred thousand of them stay
// a few megabytes. Its whole record is put together again by the script.
json columns(const ChartModel& model) {
    json kinds = json::array(), starts = json::array(), ends = json::array(), latencies = json::array(),
         from = json::array(), to = json::array(), callers = json::array(), pids = json::array(),
         names = json::array(), statuses = json::array(), types = json::array(), values = json::array(),
         labels = json::array(), spoofed = json::array(), replies = json::object();
    std::vector<std::string> strings;
    std::map<std::string, int> stringIndex;
    auto intern = [&](const std::string& text) {
        auto found = stringIndex.find(text);
        if (found != stringIndex.end()) return found->second;
        strings.push_back(text);
        return stringIndex[text] = static_cast<int>(strings.size()) - 1;
    };
    auto micro = [](double seconds) { return static_cast<long long>(std::llround(seconds * 1e6)); };
    std::map<int, std::string> errors;
    for (size_t i = 0; i < model.items.size(); ++i) {
        const ChartItem& item = model.items[i];
        const Operation& op = *item.op;
        const json record = toJson(op, true);
        kinds.push_back(static_cast<int>(op.kind));
        starts.push_back(micro(item.start));
        ends.push_back(micro(item.end));
        latencies.push_back(op.latencyUsec);
        from.push_back(item.from);
        to.push_back(item.to);
        callers.push_back(intern(op.caller));
        pids.push_back(op.callerPid);
        names.push_back(op.name.empty() ? -1 : intern(op.name));
        statuses.push_back(static_cast<int>(op.status));
        types.push_back(static_cast<int>(op.type));
        if (op.kind == Operation::Event) {
            values.push_back(json::array({record["ints"], record["strings"]}));
        } else {
            values.push_back(record.value("value", json()));
        }
        if (op.hasReply) replies[std::to_string(i)] = record["reply"];
        if (op.spoofed) spoofed.push_back(i);
        labels.push_back(itemLabel(item));
        errors[op.status] = ZumiGetErrorString(op.status);
    }
    json errorTexts = json::object();
    for (const auto& error : errors) errorTexts[std::to_string(error.first)] = error.second;
    json other;
    if (!model.otherLanes.empty()) other = {{"lanes", model.otherLanes.names}, {"at", model.otherLanes.of}};
    return {{"started", model.started}, {"first", model.first}, {"last", model.last},
            {"pps", model.pixelsPerSecond}, {"whole", model.opensWhole}, {"parties", model.parties},
            {"lanes", model.lanes.names}, {"at", model.lanes.of}, {"other", other},
            {"perProcess", model.perProcess}, {"strings", strings},
            {"errors", errorTexts}, {"k", kinds}, {"s", starts}, {"e", ends}, {"d", latencies},
            {"f", from}, {"o", to}, {"c", callers}, {"pid", pids}, {"n", names}, {"st", statuses},
            {"ty", types}, {"v", values}, {"l", labels}, {"sp", spoofed}, {"r", replies}};
}

// The JSON inside a <script> element: "</" must not close it.
std::string scriptSafe(std::string text) {
    for (size_t at = 0; (at = text.find("</", at)) != std::string::npos; at += 3) text.replace(at, 2, "<\\/");
    return text;
}

void options(std::ostream& out, const char* id, const char* what, const std::set<std::string>& names) {
    out << "<label>" << what << " <select id=\"" << id << "\"><option value=\"\">all</option>";
    for (const std::string& name : names) out << "<option>" << xmlText(name) << "</option>";
    out << "</select></label>\n";
}

void controls(const ChartModel& model, std::ostream& out) {
    std::set<std::string> services, properties, events;
    for (const Operation& op : model.operations) {
        services.insert(op.service);
        if (op.isPropertyCall()) properties.insert(op.name);
        if (op.kind == Operation::Event) events.insert(op.name);
    }
    out << "<nav id=\"controls\">\n";
    options(out, "filter-service", "Service", services);
    options(out, "filter-property", "Property", properties);
    options(out, "filter-event", "Event", events);
    if (!model.otherLanes.empty()) {
        out << "<label title=\"callers that run the same program share a lifeline unless this is ticked\">"
               "<input type=\"checkbox\" id=\"per-process\""
            << (model.perProcess ? " checked" : "") << "> one lifeline per process</label>\n";
    }
    out << "<span class=\"zoom\">Time <button id=\"zoom-in\" title=\"zoom in (+, or Ctrl and the wheel)\">+</button>"
           "<button id=\"zoom-out\" title=\"zoom out (-)\">−</button><button id=\"zoom-whole\" "
           "title=\"the whole recording in view\">whole</button> <span id=\"scale\"></span></span></nav>\n"
           "<p id=\"note\" class=\"note\"></p>\n";
}

void figures(const ChartModel& model, std::ostream& out) {
    out << "<section><h2>Per property and event</h2><table id=\"figures\"><thead><tr><th>service</th>"
           "<th>property or event</th><th>count</th><th>per s</th><th>p50 ms</th><th>p99 ms</th><th>max ms</th>"
           "<th>errors</th></tr></thead><tbody>\n";
    for (const Stats::Summary& row : model.figures) {
        char rate[32];
        snprintf(rate, sizeof rate, "%.2f", model.span() > 0 ? static_cast<double>(row.calls) / model.span() : 0.0);
        out << "<tr data-service=\"" << xmlText(row.service) << "\" data-" << (row.isEvent ? "event" : "property")
            << "=\"" << xmlText(row.name) << "\"" << (row.errors > 0 ? " class=\"errors\"" : "") << "><td>"
            << xmlText(row.service) << "</td><td>" << (row.isEvent ? "event " : "") << xmlText(row.name)
            << "</td><td>" << row.calls << "</td><td>" << rate << "</td><td>" << millisecondsText(row.p50)
            << "</td><td>" << millisecondsText(row.p99) << "</td><td>" << millisecondsText(row.max) << "</td><td>"
            << row.errors << "</td></tr>\n";
    }
    out << "</tbody></table><p class=\"note\">" << xmlText(figuresNote(model)) << "</p></section>\n"
        << "<section><h2>Calls and events per second</h2>" << rateSvg(model, 510, 190)
        << "<p class=\"note\">Click the plot to go to that time.</p></section>\n";
    if (model.startValues.empty()) return;
    out << "<section><h2>Values when recording started</h2><table id=\"start-values\"><tbody>\n";
    for (const Operation& op : model.startValues) {
        const std::string value = op.hasValue ? valueText(op) : ZumiGetErrorString(op.status);
        out << "<tr data-service=\"" << xmlText(op.service) << "\" data-property=\"" << xmlText(op.name) << "\"><td>"
            << xmlText(op.service) << "</td><td>" << xmlText(op.name) << "</td><td>" << xmlText(value.substr(0, 200))
            << "</td></tr>\n";
    }
    out << "</tbody></table></section>\n";
}

}  // namespace

void writeChartHtml(const ChartModel& model, std::ostream& out) {
    const std::string heading = chartHeading(model);
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>zumi chart: "
        << xmlText(model.started) << "</title>\n<style>\n"
        << DIAGRAM_CSS << CHART_CSS << "</style></head>\n<body>\n<header><h1>zumi chart</h1><p id=\"heading\">"
        << xmlText(heading) << "</p></header>\n";
    controls(model, out);
    out << "<main><section id=\"diagram-pane\"><div id=\"scroller\" tabindex=\"0\"><div id=\"spacer\">"
           "<svg id=\"diagram\" xmlns=\"http://www.w3.org/2000/svg\"></svg></div></div></section>\n"
           "<aside><section id=\"record\"><h2>Operation</h2><pre id=\"record-text\">Point at an arrow to see its "
           "whole record; click it to keep it here.</pre></section>\n";
    figures(model, out);
    out << "</aside></main>\n<div id=\"tip\" hidden></div>\n<script type=\"application/json\" id=\"chart-data\">"
        << scriptSafe(dumpLine(columns(model))) << "</script>\n<script>\n"
        << CHART_JS << "</script>\n</body></html>\n";
}

}  // namespace tool
}  // namespace zumi
