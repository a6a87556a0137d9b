// zumi monitor, record and replay between real processes: peers serve and
// call services on the private bus while the commands watch, record and
// play the traffic back.

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

using nlohmann::json;

// Times, latencies and process ids vary from run to run. A short-lived
// zumi command may have left before the monitor could ask who it was, and is
// then named by its unique bus name.
std::string masked(const std::string& line) {
    static const std::regex time("^\\d\\d:\\d\\d:\\d\\d\\.\\d{6} "), latency(" \\d+\\.\\d{3} ms$"),
        program("[^ ]+\\[\\d+\\]|:\\d+\\.\\d+");
    return std::regex_replace(
        std::regex_replace(std::regex_replace(line, time, ""), latency, " <ms>"), program, "PROGRAM[PID]");
}

std::vector<json> parsed(const std::vector<std::string>& lines) {
    std::vector<json> objects;
    for (const std::string& line : lines) objects.push_back(json::parse(line));
    return objects;
}

// The first object that has all of the fields of `wanted`.
json findLike(const std::vector<json>& objects, const json& wanted) {
    for (const json& object : objects) {
        bool all = true;
        for (auto field = wanted.begin(); field != wanted.end(); ++field) {
            all = all && object.contains(field.key()) && object[field.key()] == field.value();
        }
        if (all) return object;
    }
    return json();
}

std::vector<json> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<json> objects;
    for (std::string line; std::getline(in, line);) objects.push_back(json::parse(line));
    return objects;
}

// How many events a recording that is still being written holds so far. A
// recorder stopped at once after the last event was sent may not have read
// it off the bus yet (under the ARM emulator it often had not): the tests
// wait for this count first.
size_t eventsWrittenTo(const std::string& path) {
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string marker = "\"op\":\"event\"";
    size_t count = 0;
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) ++count;
    return count;
}

// The events of a recording, without their times: source, event, parameters.
std::vector<json> eventsOf(const std::vector<json>& recording) {
    std::vector<json> events;
    for (const json& line : recording) {
        if (line.value("op", "") == "event") {
            events.push_back({line["source"], line["event"], line["ints"], line["strings"], line["spoofed"]});
        }
    }
    return events;
}

class AZumiMonitor : public PeerServiceTest {};

TEST_F(AZumiMonitor, ShowsEveryKindOfOperationInTheLibrarysTermsFilteredAsJsonAndAsStatistics) {
    peer.requestAll({"int level 5 rw", "str name hello r", "hash items 0"});
    // A call that no answer reaches is shown once the monitor's call timeout
    // (and a second more) has passed.
    Zumi text({"monitor", "--service", service, "--property", "level", "--property", "items", "--event", "changed"},
              "watching the bus", {"ZUMI_CALL_TIMEOUT_MS=100"});
    Zumi all({"monitor", "--json"}, "watching the bus");
    // Nine calls and events on the service, then its statistics.
    Zumi stats({"monitor", "--stats", "--json", "--service", service, "--count", "9"}, "watching the bus");
    const std::string callerService = serviceName("caller");
    Peer caller({"ZUMI_CALL_TIMEOUT_MS=300"});
    ASSERT_EQ("0", caller.request("open " + callerService));
    EXPECT_EQ("0 5", caller.request("getint " + service + " level"));
    EXPECT_EQ("0", caller.request("setint " + service + " level -3"));
    EXPECT_EQ("0 hello", caller.request("getstr " + service + " name"));
    EXPECT_EQ("8 -1", caller.request("getint " + service + " items"));
    EXPECT_EQ(0, zumi({"set", "--hash", service, "items", "[{\"text\": \"say \\\"hi\\\"\", \"number\": 4}]"}).status);
    EXPECT_EQ(0, zumi({"get", "--hash", service, "items"}).status);
    peer.requestAll({"emit other", "emit changed i:2 i:-7 s:alpha"});
    const std::vector<std::string> expected = {
        callerService + " get " + service + " level int = 5 [0 No error] <ms>",
        callerService + " set " + service + " level int = -3 [0 No error] <ms>",
        callerService + " get " + service + " items int [8 The service publishes no such property] <ms>",
        "PROGRAM[PID] set " + service +
            " items hash = [{\"number\":4,\"text\":\"say \\\"hi\\\"\"}] reply [{\"number\":4,\"text\":\"say "
            "\\\"hi\\\"\"},{\"sent\":1}] [0 No error] <ms>",
        "PROGRAM[PID] get " + service + " items hash = [{\"sent\":-1}] [0 No error] <ms>",
        service + " event " + service + " changed 2 -7 \"alpha\"",
    };
    std::string line;
    for (const std::string& want : expected) {
        ASSERT_TRUE(text.nextLine(&line, deadlineIn(kPatience))) << "missing: " << want;
        EXPECT_EQ(want, masked(line));
    }
    // Only after the real one has passed: a forger's copy, which no
    // subscriber receives but the monitor shows for what it is.
    forgeEvent("", service, "changed");
    ASSERT_TRUE(text.nextLine(&line, deadlineIn(kPatience)));
    EXPECT_EQ("PROGRAM[PID] event " + service + " changed SPOOFED (the sender does not own " + service + ")",
              masked(line));

    ASSERT_EQ("0", peer.request("emit end"));
    std::vector<std::string> lines;
    while (all.nextLine(&line, deadlineIn(kPatience)) && line.find("\"event\":\"end\"") == std::string::npos) {
        lines.push_back(line);
    }
    EXPECT_TRUE(all.stop().empty());
    const std::vector<json> seen = parsed(lines);
    EXPECT_FALSE(findLike(seen, {{"op", "service-up"}, {"service", callerService}, {"caller", callerService}}).is_null());
    json get = findLike(seen, {{"op", "get"}, {"property", "level"}});
    ASSERT_FALSE(get.is_null());
    EXPECT_GE(get["latency_ms"].get<double>(), 0.0);
    for (const char* varying : {"latency_ms", "time", "pid"}) get.erase(varying);
    EXPECT_EQ((json{{"op", "get"}, {"caller", callerService}, {"service", service}, {"property", "level"},
                    {"type", "int"}, {"value", 5}, {"status", 0}, {"error", "No error"}}),
              get);
    EXPECT_EQ((json{{"number", 4}, {"text", "say \"hi\""}}), findLike(seen, {{"op", "set"}, {"type", "hash"}})["value"][0]);
    EXPECT_FALSE(findLike(seen, {{"event", "changed"}, {"ints", {2, -7}}, {"strings", {"alpha"}}, {"spoofed", false}})
                     .is_null());
    EXPECT_FALSE(findLike(seen, {{"event", "changed"}, {"spoofed", true}}).is_null());

    std::string table;
    EXPECT_EQ(0, stats.finish(&table));
    const json printed = json::parse(table);
    std::map<std::string, json> rows;
    for (const json& row : printed["stats"]) rows[row.value("property", row.value("event", ""))] = row;
    const struct { const char* name; int calls, errors; bool timed; } wanted[] = {
        {"level", 2, 0, true}, {"name", 1, 0, true}, {"items", 3, 1, true}, {"changed", 2, 1, false}, {"other", 1, 0, false}};
    ASSERT_EQ(5u, rows.size()) << table;
    for (const auto& w : wanted) {
        const json& row = rows[w.name];
        EXPECT_EQ(w.calls, row.value("calls", -1)) << w.name;
        EXPECT_EQ(w.errors, row.value("errors", -1)) << w.name;
        EXPECT_GT(row.value("per_second", 0.0), 0.0) << w.name;
        EXPECT_EQ(w.timed, row.contains("p99_ms")) << w.name;
        if (w.timed) {
            EXPECT_LE(row["p50_ms"].get<double>(), row["p99_ms"].get<double>()) << w.name;
        }
    }

    peer.signal(SIGSTOP);
    EXPECT_EQ("6 -1", caller.request("getint " + service + " level"));
    // Still stopped: an answer that came later would be shown as one.
    EXPECT_TRUE(text.nextLine(&line, deadlineIn(kPatience)));
    peer.signal(SIGCONT);
    EXPECT_EQ(callerService + " get " + service + " level int [6 The service did not answer in time]", masked(line));
}

// What a generic client reads and writes through org.freedesktop.DBus.Properties,
// to be shown and recorded as the library's own reads and writes; the calls
// end with a listing of our own (zumi list).
void standardTraffic(const std::string& service) {
    const char* const path = "/com/tessal/zumi";
    const char* const interface = "com.tessal.Zumi";
    const std::string properties = "org.freedesktop.DBus.Properties.";
    EXPECT_EQ("i 5\n", busctl({"get-property", service, path, interface, "level"}).out);
    EXPECT_EQ(0, busctl({"set-property", service, path, interface, "level", "i", "7"}).status);
    EXPECT_NE(0, busctl({"set-property", service, path, interface, "name", "s", "other"}).status) << "read-only";
    EXPECT_NE(0, busctl({"set-property", service, path, interface, "level", "s", "seven"}).status) << "wrong type";
    EXPECT_NE(0, busctl({"set-property", service, path, interface, "level", "u", "3"}).status) << "no type of ours";
    EXPECT_NE(0, busctl({"get-property", service, path, interface, "missing"}).status);
    EXPECT_NE(0, busctl({"get-property", service, path, interface, "wo"}).status) << "write-only";
    EXPECT_NE(0, gdbusCall(service, properties + "Get", {interface, "failing"}).status);
    EXPECT_NE(0, gdbusCall(service, properties + "Get", {"org.example.Other", "level"}).status) << "not ours: unseen";
    // What cannot be read now (failing) is left out.
    EXPECT_EQ("({'level': <7>, 'name': <'hello'>},)\n",
              gdbusCall(service, properties + "GetAll", {""}).out);
    EXPECT_EQ(0, zumi({"list", service}).status);
}

TEST_F(AZumiMonitor, ShowsTheStandardPropertiesInterfacesGetSetAndGetAllAsReadsWritesAndAListing) {
    peer.requestAll({"int level 5 rw", "str name hello r", "int wo 2 w", "int failing 0 rw 258"});
    Zumi monitor({"monitor", "--service", service}, "watching the bus");
    standardTraffic(service);
    const std::string prefix = "PROGRAM[PID] ";
    const std::vector<std::string> expected = {
        "get " + service + " level int = 5 [0 No error] <ms>",
        "set " + service + " level int = 7 [0 No error] <ms>",
        "set " + service + " name string = \"other\" [9 The property does not allow this access] <ms>",
        "set " + service + " level string = \"seven\" [1 Invalid argument] <ms>",
        // No value of ours: the type that the answered calls showed.
        "set " + service + " level int [1 Invalid argument] <ms>",
        "get " + service + " missing int [8 The service publishes no such property] <ms>",
        "get " + service + " wo int [9 The property does not allow this access] <ms>",
        "get " + service + " failing int [258 The service failed to serve the request] <ms>",
        "list " + service + " [0 No error] <ms>",
        "get " + service + " level int = 7 [0 No error] <ms>",
        "get " + service + " name string = \"hello\" [0 No error] <ms>",
        "list " + service + " [0 No error] <ms>",
    };
    std::string line;
    for (const std::string& want : expected) {
        ASSERT_TRUE(monitor.nextLine(&line, deadlineIn(kPatience))) << "missing: " << want;
        EXPECT_EQ(prefix + want, masked(line));
    }
    EXPECT_TRUE(monitor.stop().empty());
}

TEST(AZumiMonitorOfItsOwnBus, KeepsWatchingAcrossARestartOfTheBusDaemon) {
    const std::string path = "/tmp/zumi-restart-" + std::to_string(getpid());
    const std::vector<std::string> env = {"ZUMI_BUS_ADDRESS=unix:path=" + path};
    auto onPath = [&] {
        unlink(path.c_str());
        return startDaemon("unix:path=" + path);
    };
    std::unique_ptr<Process> daemon = onPath();
    Zumi monitor({"monitor", "--event", "ping"}, "watching the bus", env);
    const std::string service = serviceName("pinger");
    std::string line;
    for (const char* round : {"1", "2"}) {
        {
            Peer pinger(env);
            pinger.requestAll({"open " + service, std::string("emit ping i:") + round, "close"});
        }
        ASSERT_TRUE(monitor.nextLine(&line, deadlineIn(kPatience))) << "round " << round;
        EXPECT_EQ(service + " event " + service + " ping " + round, masked(line));
        if (*round == '2') break;
        daemon = onPath();  // the old one is killed once the new one listens
        EXPECT_NE("", monitor.errorLineWith("zumi monitor: lost the bus, reconnecting"));
        EXPECT_NE("", monitor.errorLineWith("zumi monitor: watching the bus again"));
    }
    EXPECT_TRUE(monitor.stop().empty());
    unlink(path.c_str());
}

class AZumiRecording : public PeerServiceTest {
protected:
    void TearDown() override {
        std::filesystem::remove_all(dir);
        PeerServiceTest::TearDown();
    }
    std::string file(const std::string& name) const { return dir + "/" + name; }
    const std::string dir = [] {
        char pattern[] = "/tmp/zumi-traffic-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
};

TEST_F(AZumiRecording, PlaysBackWhatItRecordedSoThatARecordingOfTheReplayHasTheSameEvents) {
    peer.requestAll({"int level 5 rw", "str name hello r", "hash items 0"});
    const std::string first = file("first.jsonl"), second = file("second.jsonl"), third = file("third.jsonl");
    {
        Zumi record({"record", "--service", service, first}, "watching the bus");
        peer.requestAll({"emit changed i:1 s:one", "emit changed i:2 i:-2 s:two s:\"quoted\"", "emit other"});
        EXPECT_EQ(0, zumi({"set", service, "level", "7"}).status);
        peer.requestAll({"emit changed", "close"});
        // Stopping does not wait for what is still on its way to the recorder.
        EXPECT_TRUE(waitFor([&] { return eventsWrittenTo(first) >= 4; }));
        record.stop();
    }
    const std::vector<json> recorded = readLines(first);
    ASSERT_LE(5u, recorded.size());
    EXPECT_EQ(1, recorded[0]["version"]);
    EXPECT_EQ("zumi-recording", recorded[0]["format"]);
    const json starts[] = {{{"property", "items"}, {"type", "hash"}, {"access", "read-write"}, {"value", {{{"sent", -1}}}}},
                           {{"property", "level"}, {"type", "int"}, {"access", "read-write"}, {"value", 5}},
                           {{"property", "name"}, {"type", "string"}, {"access", "read-only"}, {"value", "hello"}}};
    for (size_t i = 0; i < 3; ++i) {
        json start = recorded[i + 1];
        EXPECT_EQ(0.0, start["t"].get<double>());
        for (const char* varying : {"t", "time", "op", "service", "status", "error"}) start.erase(varying);
        EXPECT_EQ(starts[i], start);
    }
    ASSERT_EQ(4u, eventsOf(recorded).size());
    {
        Zumi record({"record", "--service", service, second}, "watching the bus");
        Zumi replay({"replay", first}, "zumi replay: end of recording");
        // The recorded set was taken at its time; sets are served and applied.
        EXPECT_EQ("7\n", zumi({"get", service, "level"}).out);
        EXPECT_EQ(0, zumi({"set", service, "level", "3"}).status);
        EXPECT_EQ("3\n", zumi({"get", service, "level"}).out);
        EXPECT_EQ("\"hello\"\n", zumi({"get", service, "name"}).out);  // get prints strings as JSON
        EXPECT_EQ(1, zumi({"set", service, "name", "other"}).status);
        replay.stop();
        EXPECT_TRUE(waitFor([&] { return eventsWrittenTo(second) >= eventsOf(recorded).size(); }));
        record.stop();
    }
    EXPECT_EQ(eventsOf(recorded), eventsOf(readLines(second)));
    {
        Zumi record({"record", "--service", service, third}, "watching the bus");
        Zumi replay({"replay", "--fast", "--quit", second}, "zumi replay: end of recording");
        EXPECT_EQ(0, replay.finish());
        EXPECT_TRUE(waitFor([&] { return eventsWrittenTo(third) >= eventsOf(recorded).size(); }));
        record.stop();
    }
    EXPECT_EQ(eventsOf(recorded), eventsOf(readLines(third)));
}

TEST_F(AZumiRecording, KeepsTheStandardInterfacesReadsAndWritesSoThatReplayAndChartShowThem) {
    peer.requestAll({"int level 5 rw", "str name hello r", "int wo 2 w", "int failing 0 rw 258"});
    const std::string recording = file("standard.jsonl");
    {
        Zumi record({"record", "--service", service, recording}, "watching the bus");
        standardTraffic(service);
        ASSERT_TRUE(waitFor([&] {
            std::ifstream in(recording);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            return text.find("\"op\":\"list\"") != text.rfind("\"op\":\"list\"");  // both listings
        }));
        record.stop();
    }
    std::vector<json> lines = readLines(recording);
    for (json& line : lines) {
        for (const char* varying : {"t", "time", "caller", "pid", "latency_ms"}) line.erase(varying);
    }
    const json wanted[] = {
        {{"op", "set"}, {"service", service}, {"property", "level"}, {"type", "int"}, {"value", 7}, {"status", 0},
         {"error", "No error"}},
        {{"op", "set"}, {"service", service}, {"property", "name"}, {"type", "string"}, {"value", "other"},
         {"status", 9}, {"error", "The property does not allow this access"}},
        {{"op", "get"}, {"service", service}, {"property", "missing"}, {"type", "int"}, {"status", 8},
         {"error", "The service publishes no such property"}},
        {{"op", "get"}, {"service", service}, {"property", "name"}, {"type", "string"}, {"value", "hello"},
         {"status", 0}, {"error", "No error"}},
    };
    for (const json& want : wanted) {
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), want)) << want.dump();
    }

    peer.request("close");
    {
        Zumi replay({"replay", recording}, "zumi replay: end of recording");
        // The write through Properties was taken at its time.
        EXPECT_EQ("7\n", zumi({"get", service, "level"}).out);
        EXPECT_EQ("\"hello\"\n", zumi({"get", service, "name"}).out);
        replay.stop();
    }
    Outcome svg = zumi({"chart", "--format", "svg", recording, "-o", "-"});
    ASSERT_EQ(0, svg.status) << svg.err;
    for (const char* label : {"set level = 7", "get missing ✗ 8"}) {
        EXPECT_NE(std::string::npos, svg.out.find(label)) << label;
    }
}

TEST_F(AZumiRecording, PlaysARecordingOfAnotherToolWithItsTimingAtTheGivenSpeedOnlyWhatIsAskedOrInALoop) {
    const std::string ticker = serviceName("ticker"), tocker = serviceName("tocker");
    const std::string script = file("script.jsonl"), out = file("out.jsonl");
    {
        std::ofstream file(script);
        file << "{\"version\": 1, \"format\": \"zumi-recording\", \"made-by\": \"a script\"}\n"
             << "\n"
             << "{\"op\": \"event\", \"t\": 0.2, \"source\": \"" << ticker << "\", \"event\": \"tick\", \"ints\": [0]}\n"
             << "{\"t\": 0.7, \"source\": \"" << ticker << "\", \"op\": \"event\", \"event\": \"tick\", \"ints\": [1], \"strings\": [\"x\"]}\n"
             << "{\"op\": \"note\", \"t\": 0.8, \"text\": \"not for this version\"}\n"
             << "{\"op\": \"event\", \"t\": 0.9, \"source\": \"" << tocker << "\", \"event\": \"tock\"}\n"
             << "{\"op\": \"event\", \"t\": 1.2, \"source\": \"" << ticker << "\", \"event\": \"tick\", \"ints\": [2]}\n"
             << "{\"op\": \"event\", \"t\": 1.7, \"source\": \"" << ticker << "\", \"event\": \"tick\", \"ints\": [3]}\n";
    }
    for (const double speed : {1.0, 2.0}) {
        {
            Zumi record({"record", "--event", "tick", "--event", "tock", out}, "watching the bus");
            std::vector<std::string> args = {"replay", "--quit", "--speed", std::to_string(speed), script};
            if (speed == 2.0) args.insert(args.begin() + 1, {"--only", "tick"});
            Zumi replay(args, "zumi replay: serving");
            EXPECT_EQ(0, replay.finish());
            record.stop();
        }
        std::vector<double> ticks;
        std::vector<std::string> names;
        for (const json& event : readLines(out)) {
            if (event.value("op", "") != "event") continue;
            names.push_back(event["event"]);
            if (event["event"] == "tick") ticks.push_back(event["t"]);
        }
        const std::vector<std::string> sent =
            speed == 1.0 ? std::vector<std::string>{"tick", "tick", "tock", "tick", "tick"}
                         : std::vector<std::string>{"tick", "tick", "tick", "tick"};
        EXPECT_EQ(sent, names);
        ASSERT_EQ(4u, ticks.size());
        // Each tick at its time from the first, within a tenth of the 1.5 s the
        // ticks span (what the monitor adds in delay is inside that too).
        for (size_t i = 1; i < ticks.size(); ++i) {
            EXPECT_NEAR(0.5 * i / speed, ticks[i] - ticks[0], 0.15 / speed) << "speed " << speed << ", tick " << i;
        }
    }
    Zumi record({"record", "--event", "tick", "--count", "8", out}, "watching the bus");
    Zumi replay({"replay", "--loop", "--fast", script}, "zumi replay: serving");
    EXPECT_EQ(0, record.finish());
    replay.stop();
    std::vector<int> order;
    for (const json& event : eventsOf(readLines(out))) order.push_back(event[2][0]);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3}), order);
}

}  // namespace
}  // namespace zumi::testing
