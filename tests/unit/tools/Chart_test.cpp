// zumi chart from recordings written here: where each operation lands in the
// diagram, the figures beside it, that the SVG is well-formed XML whatever
// the bus carried, that the page carries everything inside and nothing that
// could end its script early, and that a large recording is aggregated.

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Chart.h"
#include "Commands.h"
#include "Recording.h"
#include "XmlCheck.h"

namespace zumi {
namespace tool {
namespace {

using nlohmann::json;

const char* const HEADER = R"({"format":"zumi-recording","started":"2026-12-06T03:29:24.996712Z","version":1})";

ChartModel chartOf(const std::vector<std::string>& lines, bool perProcess = false) {
    std::string text = std::string(HEADER) + "\n";
    for (const std::string& line : lines) text += line + "\n";
    std::istringstream in(text);
    std::string started;
    std::vector<Operation> operations = readRecording(in, "test", &started);
    return buildChart(std::move(operations), started, perProcess);
}

std::string laneName(const ChartModel& model, const std::string& party) {
    const auto found = std::find(model.parties.begin(), model.parties.end(), party);
    if (found == model.parties.end()) return "(no such party)";
    return model.lanes.names.at(static_cast<size_t>(model.lane(static_cast<int>(found - model.parties.begin()))));
}

// A panel that reads a slow service, is refused a write, and an event that
// a stranger forged, in an order that differs from the order of answers.
const std::vector<std::string> SESSION = {
    R"({"op":"property","service":"com.example.audio","property":"level","type":"int","value":5,"status":0,"t":0})",
    R"({"op":"service-up","service":"com.example.panel","caller":"com.example.panel","t":0.35})",
    R"({"op":"get","caller":"com.example.panel","pid":10,"service":"com.example.audio","property":"level","type":"int","value":5,"status":0,"latency_ms":300,"t":0.5})",
    R"({"op":"set","caller":"zumi[11]","pid":11,"service":"com.example.audio","property":"mode","type":"string","value":"loud \u0001<&>","status":9,"latency_ms":1,"t":0.3})",
    R"({"op":"event","caller":"zumi[12]","source":"com.example.audio","event":"changed","ints":[2],"strings":["</script>"],"spoofed":true,"t":0.6})",
    R"({"op":"event","caller":"com.example.audio","source":"com.example.audio","event":"changed","ints":[],"strings":[],"spoofed":false,"t":0.7})",
    R"({"op":"list","caller":"zumi[13]","service":"com.example.audio","status":0,"latency_ms":0.5,"t":0.8})",
    R"({"op":"get","caller":"com.example.panel","service":"com.example.audio","property":"level","type":"int","value":6,"status":0,"latency_ms":100,"t":0.9})",
};

TEST(AChartModel, PlacesEachCallFromItsRequestBetweenItsParties) {
    const ChartModel model = chartOf(SESSION);
    // Services first, then the processes that only call.
    EXPECT_EQ((std::vector<std::string>{"com.example.audio", "com.example.panel", "zumi[11]", "zumi[12]", "zumi[13]"}),
              model.parties);
    ASSERT_EQ(7u, model.items.size());
    // The slow get was asked at 0.2 s, before the refused set (0.299 s).
    EXPECT_EQ(Operation::Get, model.items[0].op->kind);
    EXPECT_DOUBLE_EQ(0.2, model.items[0].start);
    EXPECT_DOUBLE_EQ(0.5, model.items[0].end);
    EXPECT_EQ(1, model.items[0].from);
    EXPECT_EQ(0, model.items[0].to);
    // The forged event is drawn from its real sender, the true one from its source.
    EXPECT_EQ(3, model.items[3].origin());
    EXPECT_EQ(0, model.items[4].origin());
    EXPECT_EQ(-1, model.items[4].from);
    EXPECT_EQ(1u, model.startValues.size());
    EXPECT_EQ(4, model.calls);
    EXPECT_EQ(2, model.events);
    EXPECT_EQ(1, model.refusals);
    EXPECT_DOUBLE_EQ(0.2, model.first);
    EXPECT_DOUBLE_EQ(0.7, model.span());
    EXPECT_EQ("get level → 5", itemLabel(model.items[0]));
    EXPECT_EQ("set mode = \"loud \\u0001<&>\" ✗ 9 The property does not allow this access", itemLabel(model.items[1]));
    EXPECT_EQ("event changed(2, \"</script>\") SPOOFED as com.example.audio", itemLabel(model.items[3]));
}

TEST(AChartModel, GivesTheProcessesOfOneProgramOneLifelineAndEachServiceItsOwn) {
    std::vector<std::string> lines = SESSION;
    // A second service run by the same program as the panel: a service all the same.
    lines.push_back(R"({"op":"get","caller":"com.example.clock","pid":14,"service":"com.example.panel","property":"p","type":"int","value":1,"status":0,"t":0.91})");
    // Callers of an unknown program, connections known by bus name only, a program of one process.
    for (const char* caller : {"pid[20]", "pid[21]", ":1.5", ":1.6", "tool[30]"}) {
        lines.push_back(std::string(R"({"op":"list","caller":")") + caller +
                        R"(","service":"com.example.audio","status":0,"t":0.92})");
    }
    const ChartModel model = chartOf(lines);
    EXPECT_EQ("zumi (3 processes)", laneName(model, "zumi[11]"));
    EXPECT_EQ("zumi (3 processes)", laneName(model, "zumi[12]"));  // a spoofed event's sender too
    EXPECT_EQ("zumi (3 processes)", laneName(model, "zumi[13]"));
    EXPECT_EQ("com.example.panel", laneName(model, "com.example.panel"));
    EXPECT_EQ("com.example.clock", laneName(model, "com.example.clock"));
    EXPECT_EQ("com.example.audio", laneName(model, "com.example.audio"));
    EXPECT_EQ("unknown (2 processes)", laneName(model, "pid[21]"));
    EXPECT_EQ("unnamed (2 connections)", laneName(model, ":1.6"));
    EXPECT_EQ("tool[30]", laneName(model, "tool[30]"));
    EXPECT_EQ(7u, model.lanes.names.size());
    EXPECT_FALSE(model.perProcess);
    // The other way, for the page's switch: every party on its own.
    EXPECT_EQ(model.parties.size(), model.otherLanes.names.size());

    const ChartModel apart = chartOf(lines, true);
    EXPECT_TRUE(apart.perProcess);
    EXPECT_EQ("zumi[11]", laneName(apart, "zumi[11]"));
    EXPECT_EQ("zumi[13]", laneName(apart, "zumi[13]"));
    EXPECT_EQ("pid[20]", laneName(apart, "pid[20]"));
    EXPECT_EQ(apart.parties.size(), apart.lanes.names.size());
    EXPECT_EQ(7u, apart.otherLanes.names.size());

    // Nothing to share: nothing to switch.
    EXPECT_TRUE(chartOf({SESSION[2]}).otherLanes.empty());
}

TEST(AChartModel, StandsEachLifelineBesideThoseItCallsMostAndEventSourcesLast) {
    auto call = [](const std::string& caller, const std::string& service, double t) {
        return R"({"op":"get","caller":")" + caller + R"(","service":")" + service +
               R"(","property":"p","type":"int","value":1,"status":0,"latency_ms":0.1,"t":)" + std::to_string(t) + "}";
    };
    const std::vector<std::string> lines = {
        R"({"op":"event","caller":"com.example.alarm","source":"com.example.alarm","event":"ring","ints":[],"strings":[],"spoofed":false,"t":0.1})",
        call("x[1]", "com.example.relay", 0.3), call("x[2]", "com.example.relay", 0.4),
        call("x[3]", "com.example.relay", 0.5), call("y[4]", "com.example.store", 0.6),
        call("y[4]", "com.example.store", 0.7), call("y[4]", "com.example.relay", 0.8),
    };
    const ChartModel model = chartOf(lines);
    // Every arrow joins neighbours, though the order of first appearance
    // would put the store two lifelines from its caller and the relay three.
    int length = 0;
    for (const ChartItem& item : model.items) {
        if (item.op->kind == Operation::Get) length += std::abs(model.lane(item.from) - model.lane(item.to));
    }
    EXPECT_EQ(6, length);
    ASSERT_EQ(5u, model.lanes.names.size());
    EXPECT_EQ("com.example.alarm", model.lanes.names.back());
}

TEST(AChartModel, OpensAShortRecordingWhole) {
    const ChartModel model = chartOf(SESSION);
    EXPECT_TRUE(model.opensWhole);
    // The picture of it: the whole in one screen.
    EXPECT_LT(model.span() * model.pixelsPerSecond, 1000);
    std::vector<std::string> lines = SESSION;
    lines.push_back(R"({"op":"list","caller":"zumi[13]","service":"com.example.audio","status":0,"t":30})");
    EXPECT_FALSE(chartOf(lines).opensWhole);
}

TEST(AChartModel, CountsLatenciesErrorsAndRatesAsTheMonitorsStatisticsDo) {
    const ChartModel model = chartOf(SESSION);
    std::map<std::string, Stats::Summary> rows;
    for (const Stats::Summary& row : model.figures) rows[row.name] = row;
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ(2, rows["level"].calls);
    EXPECT_EQ(100000, rows["level"].p50);
    EXPECT_EQ(300000, rows["level"].p99);
    EXPECT_EQ(300000, rows["level"].max);
    EXPECT_EQ(1, rows["mode"].errors);
    EXPECT_TRUE(rows["changed"].isEvent);
    EXPECT_EQ(1, rows["changed"].errors);  // the spoofed one
    EXPECT_EQ(-1, rows["changed"].p50);
    double calls = 0, events = 0;
    for (double rate : model.rates.calls) calls += rate * model.rates.bucket;
    for (double rate : model.rates.events) events += rate * model.rates.bucket;
    EXPECT_NEAR(4.0, calls, 1e-9);
    EXPECT_NEAR(2.0, events, 1e-9);
    EXPECT_LE(model.rates.calls.size(), 100u);
}

TEST(AChartSvg, IsWellFormedWhateverTheBusCarriedAndShowsEveryOperation) {
    std::vector<std::string> lines = SESSION;
    lines.push_back(R"({"op":"set","caller":"zumi\u0001\u00ff[14]","service":"com.example.audio","property":"title","type":"string","value":"\u0002 ]]> \"'","status":0,"t":0.95})");
    std::ostringstream svg;
    writeChartSvg(chartOf(lines), svg);
    const zumi::testing::XmlCount xml = zumi::testing::readXml(svg.str());
    ASSERT_EQ("", xml.error);
    EXPECT_EQ(8, xml.classes.at("op"));
    EXPECT_EQ(2, xml.classes.at("get"));
    EXPECT_EQ(2, xml.classes.at("set"));
    EXPECT_EQ(1, xml.classes.at("refused"));
    EXPECT_EQ(1, xml.classes.at("spoofed"));
    EXPECT_EQ(4, xml.classes.at("lane"));  // the zumi processes share one
    // The shared lifeline's operations still name their own process.
    EXPECT_NE(std::string::npos, xml.text.find(R"("caller":"zumi[11]")"));
    EXPECT_NE(std::string::npos, xml.text.find(R"("caller":"zumi[13]")"));
    EXPECT_NE(std::string::npos, xml.text.find("✗ 9 The property does not allow this access"));
    EXPECT_NE(std::string::npos, xml.text.find("Recording started 2026-12-06T03:29:24.996712Z, spanning 950 ms (traffic from 200 ms)"));
    // Each operation's record is its tooltip, as the recording has it.
    EXPECT_NE(std::string::npos, xml.text.find(R"("latency_ms":300.0)"));
}

// The page's data as the script reads it: the JSON inside #chart-data.
json pageData(const std::string& page) {
    const std::string open = "<script type=\"application/json\" id=\"chart-data\">";
    const size_t start = page.find(open) + open.size();
    return json::parse(page.substr(start, page.find("</script>", start) - start));
}

TEST(AChartPage, CarriesEveryOperationInsideAndFetchesNothing) {
    std::ostringstream page;
    writeChartHtml(chartOf(SESSION), page);
    const std::string html = page.str();
    // Nothing loaded from elsewhere: no src, no link, no url(), no import.
    EXPECT_FALSE(std::regex_search(html, std::regex("<script[^>]* src|<link|url\\(|@import|<iframe|<img")));
    EXPECT_EQ(std::string::npos, html.find("https:"));
    // The forged event's "</script>" did not end the data early.
    const json data = pageData(html);
    ASSERT_EQ(7u, data["k"].size());
    EXPECT_EQ((json{{json::array({2}), json::array({"</script>"})}}), json::array({data["v"][3]}));
    EXPECT_EQ(200000, data["s"][0]);
    EXPECT_EQ(500000, data["e"][0]);
    EXPECT_EQ(json::array({3}), data["sp"]);
    EXPECT_EQ("The property does not allow this access", data["errors"]["9"]);
    // The refused set: drawn from the zumi processes' lifeline, its record
    // naming its own process.
    EXPECT_EQ("zumi (3 processes)", data["lanes"][data["at"][data["f"][1].get<int>()].get<int>()]);
    EXPECT_EQ("zumi[11]", data["strings"][data["c"][1].get<int>()]);
    EXPECT_EQ(5u, data["other"]["lanes"].size());
    EXPECT_TRUE(data["whole"].get<bool>());
    // The figures are plain HTML, there without the script.
    EXPECT_NE(std::string::npos, html.find("<tr data-service=\"com.example.audio\" data-property=\"level\"><td>"));
    EXPECT_NE(std::string::npos, html.find("<option>changed</option>"));
}

TEST(AChartOfManyOperations, DrawsCountsInsteadOfArrowsAndSaysSo) {
    std::vector<std::string> lines;
    for (size_t i = 0; i <= SVG_MOST_ARROWS; ++i) {
        lines.push_back(R"({"op":"get","caller":"c","service":"s","property":"p","type":"int","value":1,"status":)" +
                        std::string(i % 10 == 0 ? "8" : "0") + R"(,"latency_ms":0.1,"t":)" + std::to_string(i * 0.001) +
                        "}");
    }
    std::ostringstream svg;
    writeChartSvg(chartOf(lines), svg);
    const zumi::testing::XmlCount xml = zumi::testing::readXml(svg.str());
    ASSERT_EQ("", xml.error);
    EXPECT_EQ(0u, xml.classes.count("op"));
    EXPECT_GT(xml.classes.at("bin"), 10);
    EXPECT_GT(xml.classes.at("refused"), 10);
    EXPECT_NE(std::string::npos, xml.text.find(std::to_string(SVG_MOST_ARROWS + 1) +
                                               " operations: too many to draw one by one"));
}

TEST(AZumiChartCommand, TellsWhatIsMissingOrWrongOnOneLine) {
    struct Case {
        std::vector<std::string> argv;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{"chart", "r.jsonl"}, 2, "zumi chart: missing -o OUT.html, -o OUT.svg or -o - (see zumi chart --help)\n"},
        {{"chart", "-o", "-", "r.jsonl"}, 2,
         "zumi chart: give --format html or svg: the output '-' ends in neither .html nor .svg (see zumi chart "
         "--help)\n"},
        {{"chart", "--format", "png", "-o", "x.png", "r.jsonl"}, 2,
         "zumi chart: --format is html or svg, not 'png' (see zumi chart --help)\n"},
        {{"chart", "-o", "x.html", "/nonexistent/r.jsonl"}, 1,
         "zumi chart: cannot read /nonexistent/r.jsonl: No such file or directory\n"},
        {{"monitor", "--chart", "-"}, 2,
         "zumi monitor: --chart needs a file (OUT.html or OUT.svg) (see zumi monitor --help)\n"},
        {{"monitor", "--per-process"}, 2, "zumi monitor: --per-process goes with --chart (see zumi monitor --help)\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(c.status, runTool(c.argv, out, err)) << c.argv[1];
        EXPECT_EQ(c.err, err.str());
    }
}

}  // namespace
}  // namespace tool
}  // namespace zumi
