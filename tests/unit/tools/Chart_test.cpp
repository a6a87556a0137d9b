// zumi chart from recordings written here: where each operation lands in the
// diagram, the figures beside it, that the SVG is well-formed XML whatever
// the bus carried, that the page carries everything inside and nothing that
// could end its script early, and that a large recording is aggregated.

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

ChartModel chartOf(const std::vector<std::string>& lines) {
    std::string text = std::string(HEADER) + "\n";
    for (const std::string& line : lines) text += line + "\n";
    std::istringstream in(text);
    std::string started;
    std::vector<Operation> operations = readRecording(in, "test", &started);
    return buildChart(std::move(operations), started);
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

TEST(AChartModel, PlacesEachCallFromItsRequestOnLifelinesInTheOrderTheyTakePart) {
    const ChartModel model = chartOf(SESSION);
    // Services first, then the processes that only call.
    EXPECT_EQ((std::vector<std::string>{"com.example.audio", "com.example.panel", "zumi[11]", "zumi[12]", "zumi[13]"}),
              model.lanes);
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
    EXPECT_EQ(6, xml.classes.at("lane"));
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
