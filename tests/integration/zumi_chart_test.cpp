// zumi chart and zumi monitor --chart over real traffic between processes,
// and what a real browser makes of the page: Debian's chromium, headless,
// prints the document its script built and takes a screenshot of it.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <nlohmann/json.hpp>

#include "BusFixture.h"
#include "XmlCheck.h"

namespace zumi::testing {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int countOf(const std::string& text, const std::string& pattern) {
    const std::regex wanted(pattern);
    return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), wanted), std::sregex_iterator()));
}

class AZumiChart : public PeerServiceTest {
protected:
    void SetUp() override {
        PeerServiceTest::SetUp();
        char pattern[] = "/tmp/zumi-chart-XXXXXX";
        dir = mkdtemp(pattern);
    }
    void TearDown() override {
        if (!getenv("ZUMI_KEEP")) std::filesystem::remove_all(dir);
        PeerServiceTest::TearDown();
    }

    // Headless chromium as CI runs it (as root: without its sandbox), with a
    // profile of its own; the deadline of every process of the tests ends it.
    Outcome chromium(const std::vector<std::string>& what) {
        std::vector<std::string> argv = {"chromium", "--headless", "--no-sandbox", "--disable-gpu",
                                         "--user-data-dir=" + dir + "/profile", "--disable-dev-shm-usage",
                                         "--window-size=1400,900",
                                         "--virtual-time-budget=3000"};
        argv.insert(argv.end(), what.begin(), what.end());
        return runToEnd(argv, {"HOME=" + dir});
    }

    // Calls, a refusal and an event on the service, from a process of
    // another service.
    void traffic() {
        Peer caller;
        ASSERT_EQ("0", caller.request("open " + callerService));
        EXPECT_EQ("0 5", caller.request("getint " + service + " level"));
        EXPECT_EQ("0", caller.request("setint " + service + " level 7"));
        EXPECT_EQ("8 -1", caller.request("getint " + service + " volume"));
        ASSERT_EQ("0", peer.request("emit changed i:2 s:alpha"));
    }

    std::string dir;
    std::string callerService = serviceName("panel");
};

TEST_F(AZumiChart, DrawsARecordingThatChromiumShowsWithItsLifelinesArrowsAndRefusal) {
    ASSERT_TRUE(std::filesystem::exists("/usr/bin/chromium")) << "chromium is missing: scripts/install-deps.sh installs it";
    peer.requestAll({"int level 5 rw"});
    const std::string recording = dir + "/traffic.jsonl", page = dir + "/traffic.html", picture = dir + "/traffic.svg";
    {
        Zumi record({"record", "--service", service, recording}, "watching the bus");
        traffic();
        ASSERT_TRUE(waitFor([&] { return readFile(recording).find("\"event\":\"changed\"") != std::string::npos; }));
        record.stop();
    }
    Outcome html = zumi({"chart", recording, "-o", page});
    ASSERT_EQ(0, html.status) << html.err;
    Outcome svg = zumi({"chart", "--format", "svg", recording, "-o", "-"});
    ASSERT_EQ(0, svg.status) << svg.err;

    const Outcome dom = chromium({"--dump-dom", "file://" + page});
    ASSERT_EQ(0, dom.status) << dom.err;
    for (const std::string& lane : {service, callerService}) {
        EXPECT_EQ(1, countOf(dom.out, "<g class=\"lane\"><title>" + lane + "</title>")) << lane;
    }
    EXPECT_EQ(1, countOf(dom.out, "<g class=\"op get\" data-i=\"\\d+\">"));
    EXPECT_EQ(1, countOf(dom.out, "<g class=\"op set\" data-i=\"\\d+\">"));
    EXPECT_EQ(1, countOf(dom.out, "<g class=\"op get refused\" data-i=\"\\d+\">"));
    EXPECT_EQ(1, countOf(dom.out, "<g class=\"op event\" data-i=\"\\d+\">"));
    // Labels that would overlap give way, but never a refusal's.
    EXPECT_NE(std::string::npos, dom.out.find(">get volume ✗ 8 The service publishes no such property</text>"));

    // Not blank: the diagram's part of the window (left of the figures,
    // below the controls) has ink, the refusal's red among it.
    const std::string shot = dir + "/shot.png";
    ASSERT_EQ(0, chromium({"--screenshot=" + shot, "file://" + page}).status);
    GError* error = nullptr;
    GdkPixbuf* image = gdk_pixbuf_new_from_file(shot.c_str(), &error);
    ASSERT_NE(nullptr, image) << (error != nullptr ? error->message : "");
    const int width = gdk_pixbuf_get_width(image), height = gdk_pixbuf_get_height(image);
    const int stride = gdk_pixbuf_get_rowstride(image), channels = gdk_pixbuf_get_n_channels(image);
    const guchar* pixels = gdk_pixbuf_get_pixels(image);
    long inked = 0, red = 0;
    const int right = 800, top = 100;
    for (int y = top; y < height; ++y) {
        for (int x = 0; x < right; ++x) {
            const guchar* p = pixels + y * stride + x * channels;
            if (p[0] < 200 || p[1] < 200 || p[2] < 200) ++inked;
            if (p[0] > 180 && p[1] < 90 && p[2] < 90) ++red;
        }
    }
    g_object_unref(image);
    EXPECT_EQ(1400, width);
    EXPECT_GT(inked, right * (height - top) / 200);
    EXPECT_GT(red, 20);

    XmlCount xml = readXml(svg.out);
    ASSERT_EQ("", xml.error);
    EXPECT_EQ(4, xml.classes["op"]);
    EXPECT_EQ(1, xml.classes["refused"]);
    EXPECT_NE(std::string::npos, xml.text.find("Recording started "));
}

// Two processes of one program and a service calling another, a burst and
// then calls seconds later: the opening scale of a busy burst would leave
// the later ones out of view.
TEST_F(AZumiChart, OpensWholeWithTheProcessesOfOneProgramOnOneLifelineOrEachOnItsOwn) {
    const std::string recording = dir + "/burst.jsonl";
    {
        std::ofstream out(recording);
        out << R"({"format":"zumi-recording","started":"2026-12-06T03:29:24.996712Z","version":1})" << "\n";
        for (int i = 0; i < 60; ++i) {
            const std::string caller = i % 3 == 0 ? "com.example.clock" : i % 3 == 1 ? "zumi[11]" : "zumi[12]";
            const double t = i < 55 ? 0.1 + i * 0.001 : 0.5 + (i - 55) * 0.6;
            out << R"({"op":"get","caller":")" << caller << R"(","service":"com.example.panel","property":"p",)"
                << R"("type":"int","value":)" << i << R"(,"status":0,"latency_ms":0.1,"t":)" << t << "}\n";
        }
    }
    const std::string grouped = dir + "/grouped.html", apart = dir + "/apart.html";
    ASSERT_EQ(0, zumi({"chart", recording, "-o", grouped}).status);
    ASSERT_EQ(0, zumi({"chart", "--per-process", recording, "-o", apart}).status);
    const std::string opCount = "<g class=\"op get\" data-i=\"\\d+\">";
    const std::string lane = "<g class=\"lane\"><title>";

    const Outcome whole = chromium({"--dump-dom", "file://" + grouped});
    ASSERT_EQ(0, whole.status) << whole.err;
    EXPECT_EQ(60, countOf(whole.out, opCount));  // the last, 3 s on, among them
    // Nothing to scroll: the diagram is no taller than its pane (the window's
    // 900 px less the 100 of the heading and controls).
    std::smatch height;
    ASSERT_TRUE(std::regex_search(whole.out, height, std::regex("id=\"spacer\" style=\"height: ([0-9.]+)px")));
    EXPECT_LE(std::stod(height[1]), 800);
    EXPECT_EQ(1, countOf(whole.out, lane + "zumi \\(2 processes\\)</title>"));
    EXPECT_EQ(1, countOf(whole.out, lane + "com.example.clock</title>"));
    EXPECT_EQ(1, countOf(whole.out, lane + "com.example.panel</title>"));
    EXPECT_EQ(0, countOf(whole.out, lane + "zumi\\[11\\]</title>"));
    EXPECT_EQ(1, countOf(whole.out, "<input type=\"checkbox\" id=\"per-process\">"));

    // The switch, as a link can set it, and the option.
    for (const std::string& url : {"file://" + grouped + "#per-process", "file://" + apart}) {
        const Outcome each = chromium({"--dump-dom", url});
        ASSERT_EQ(0, each.status) << each.err;
        EXPECT_EQ(60, countOf(each.out, opCount)) << url;
        EXPECT_EQ(1, countOf(each.out, lane + "zumi\\[11\\]</title>")) << url;
        EXPECT_EQ(1, countOf(each.out, lane + "zumi\\[12\\]</title>")) << url;
        EXPECT_EQ(0, countOf(each.out, lane + "zumi \\(2 processes\\)</title>")) << url;
    }
}

TEST_F(AZumiChart, IsWrittenByTheMonitorWhenItEndsByCountOrByInterruption) {
    peer.requestAll({"int level 5 rw"});
    const std::string counted = dir + "/counted.svg", interrupted = dir + "/interrupted.html";
    Zumi byCount({"monitor", "--service", service, "--count", "4", "--chart", counted}, "watching the bus");
    Zumi bySignal({"monitor", "--service", service, "--chart", interrupted}, "watching the bus");
    traffic();
    std::string out, err;
    EXPECT_EQ(0, byCount.finish(&out, &err)) << err;
    EXPECT_NE(std::string::npos, err.find("zumi monitor: wrote the chart of 4 operations to " + counted)) << err;
    XmlCount xml = readXml(readFile(counted));
    ASSERT_EQ("", xml.error);
    EXPECT_EQ(4, xml.classes["op"]);
    EXPECT_EQ(2, xml.classes["get"]);

    // Its lines as ever, then the page.
    std::string line;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(bySignal.nextLine(&line, deadlineIn(kPatience)));
    EXPECT_TRUE(bySignal.stop().empty());
    // The page's data: in the order of the requests as the monitor timed
    // them, which a loaded machine may shuffle.
    const std::string page = readFile(interrupted), open = "id=\"chart-data\">";
    const size_t start = page.find(open) + open.size();
    const nlohmann::json data = nlohmann::json::parse(page.substr(start, page.find("</script>", start) - start));
    std::multiset<int> kinds(data["k"].begin(), data["k"].end()), statuses(data["st"].begin(), data["st"].end());
    EXPECT_EQ((std::multiset<int>{0, 0, 1, 3}), kinds);
    EXPECT_EQ((std::multiset<int>{0, 0, 0, 8}), statuses);
}

}  // namespace
}  // namespace zumi::testing
