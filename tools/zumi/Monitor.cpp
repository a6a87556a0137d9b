// zumi monitor: the bus's traffic between other processes, one line per
// operation, as it happens.

#include "Chart.h"
#include "Commands.h"
#include "Stats.h"
#include "Traffic.h"
#include "Watch.h"

namespace zumi {
namespace tool {

namespace {

int runMonitor(const Args& args, std::ostream& out, std::ostream& err) {
    args.expectPositionals({}, 0);
    const Filter filter = Filter::fromArgs(args);
    const bool json = args.has("json");
    const bool stats = args.has("stats") || args.has("every");
    WatchLimits limits = watchLimits(args);
    if (args.has("every")) {
        limits.every = parseSeconds(args.value("every"), "--every");
        if (limits.every <= 0) throw UsageError("--every must be more than 0 seconds");
    }
    const std::string chartPath = args.value("chart");
    if (args.has("chart")) {
        if (chartPath.empty() || chartPath == "-") throw UsageError("--chart needs a file (OUT.html or OUT.svg)");
        chartFormat(chartPath, "");
    } else if (args.has("per-process")) {
        throw UsageError("--per-process goes with --chart");
    }
    std::vector<Operation> charted;
    int64_t start = 0;
    StopSignals signals;
    Stats table;
    double periodStart = monotonicSeconds();
    auto printStats = [&] {
        const double now = monotonicSeconds();
        table.print(out, json, now - periodStart);
        periodStart = now;
    };
    watchBus(
        "zumi monitor", limits, err,
        [&](const ZumiTraffic& traffic) {
            Operation op = fromTraffic(traffic);
            if (!filter.accepts(op)) return false;
            if (!chartPath.empty()) {
                op.offset = op.timeUsec > start ? static_cast<double>(op.timeUsec - start) / 1e6 : 0.0;
                charted.push_back(op);
            }
            if (stats) {
                table.add(op);
            } else {
                out << (json ? dumpLine(toJson(op, false)) : toLine(op)) << std::endl;
            }
            return true;
        },
        printStats, [&] { start = realtimeUsec(); });
    if (stats) printStats();
    if (!chartPath.empty()) {
        const size_t count = charted.size();
        writeChart(buildChart(std::move(charted), isoTime(start), args.has("per-process")), chartPath, "", out);
        err << "zumi monitor: wrote the chart of " << count << " operations to " << chartPath << std::endl;
    }
    return 0;
}

}  // namespace

const Command& monitorCommand() {
    static const Command command{
        "monitor", "show the bus traffic as it happens",
        "Usage: zumi monitor [--service NAME]... [--property NAME]... [--event NAME]...\n"
        "                    [--json] [--stats] [--every SECS] [--count N] [--duration SECS]\n"
        "                    [--chart OUT [--per-process]]\n"
        "\n"
        "Shows the traffic between the processes on the bus, one line per operation,\n"
        "until interrupted (SIGINT or SIGTERM, exit status 0):\n"
        "  TIME CALLER get|set SERVICE PROPERTY TYPE [= VALUE] [reply ARRAY] [STATUS TEXT] LATENCY\n"
        "  TIME CALLER list SERVICE [STATUS TEXT] LATENCY\n"
        "  TIME SENDER event SOURCE EVENT [INT]... [STRING]... [SPOOFED (...)]\n"
        "  TIME OWNER service-up|service-down SERVICE\n"
        "A get shows the value read, a set the value written; strings are JSON\n"
        "string literals and hash arrays JSON. CALLER is the service that the\n"
        "calling process owns, else PROGRAM[PID]. A call that no answer reaches\n"
        "shows status 6 and no latency. Calls of org.freedesktop.DBus.Properties\n"
        "(busctl, gdbus, any binding) show as the same operations: Get as a get, Set\n"
        "as a set, GetAll as a list and a get of each property it returned; a\n"
        "refusal shows the status its D-Bus error stands for. An event whose\n"
        "sender does not own its source is marked SPOOFED; subscribers never\n"
        "receive it. Calls that a process makes on a service it serves itself do\n"
        "not pass the bus daemon and are not shown. New services are followed as\n"
        "they appear; when the bus daemon restarts, the monitor reconnects (notes\n"
        "on stderr).\n"
        "\n"
        "Options:\n" +
            std::string(FILTER_HELP) +
            "  --json            one JSON object per line instead (the fields of the\n"
            "                    recording format, docs/recording-format.md)\n"
            "  --stats           instead of the operations, print per service and\n"
            "                    property or event: calls, calls per second, p50 and\n"
            "                    p99 latency in ms, errors (non-zero statuses, calls\n"
            "                    not answered, spoofed events); at the end\n"
            "  --every SECS      print those statistics every SECS seconds\n"
            "  --chart OUT       when the monitor ends, also write what it showed as\n"
            "                    zumi chart draws a recording: OUT.html or OUT.svg\n"
            "  --per-process     in that chart, one lifeline per calling process\n"
            "  -h, --help        show this help\n",
        withFilterOptions({{"json", false}, {"stats", false}, {"every", true}, {"chart", true}, {"per-process", false}}), runMonitor};
    return command;
}

}  // namespace tool
}  // namespace zumi
