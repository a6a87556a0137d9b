// zumi chart: a recording drawn as a sequence diagram with its figures.

#include <errno.h>
#include <string.h>

#include <fstream>

#include "Chart.h"
#include "Commands.h"
#include "Recording.h"

namespace zumi {
namespace tool {

namespace {

int runChart(const Args& args, std::ostream& out, std::ostream&) {
    args.expectPositionals({"RECORDING"}, 1);
    if (!args.has("output")) throw UsageError("missing -o OUT.html, -o OUT.svg or -o -");
    const std::string outPath = args.value("output"), path = args.positionals()[0];
    chartFormat(outPath, args.value("format"));  // a usage error before the work
    std::ifstream file(path);
    if (!file) throw std::runtime_error("cannot read " + path + ": " + strerror(errno));
    std::string started;
    std::vector<Operation> operations = readRecording(file, path, &started);
    writeChart(buildChart(std::move(operations), started, args.has("per-process")), outPath, args.value("format"), out);
    return 0;
}

}  // namespace

const Command& chartCommand() {
    static const Command command{
        "chart", "draw a recording as a sequence diagram (HTML or SVG)",
        "Usage: zumi chart [--format html|svg] [--per-process] -o OUT RECORDING\n"
        "\n"
        "Draws the recording that zumi record made (RECORDING) as a sequence\n"
        "diagram, time running down to scale. Each service has a lifeline; callers\n"
        "that own no service share one per program, as \"zumi (21 processes)\"\n"
        "(each operation's record still names its process), unless --per-process.\n"
        "Lifelines stand so that arrows are short: each beside those it calls\n"
        "or is called by most. A get, set or listing is an arrow from its caller\n"
        "to the service at its request, labelled with the value read or written,\n"
        "and a bar on the service as long as the call took (a dashed arrow back\n"
        "when the answer came later); a refusal is red with its status and text.\n"
        "An event is a broadcast from its source with its parameters; a spoofed\n"
        "one is drawn from its real sender and marked SPOOFED. Services coming\n"
        "and going are marked on their lifelines. A heading gives the recording's\n"
        "start and span. Beside the diagram: per property and event, the count,\n"
        "calls per second, p50, p99 and max latency and the errors (as zumi\n"
        "monitor --stats counts them), and a plot of calls and events per second\n"
        "over time.\n"
        "\n"
        "OUT.html is one page that needs nothing else (no network). It opens with\n"
        "the whole recording in view when that is at most " +
            std::to_string(static_cast<int>(WHOLE_MOST_SECONDS)) + " s and " + std::to_string(WHOLE_MOST_OPERATIONS) +
            " operations; it\n"
            "scrolls, zooms in time (+ and -, or Ctrl and the wheel), filters by\n"
            "service, property or event, switches between a lifeline per program and\n"
            "one per process, and shows an operation's whole record when pointed at\n"
            "or clicked. Where more operations are in view than arrows can show, it\n"
            "draws how many start in each few pixels of time instead, and says so.\n"
        "OUT.svg is one picture of the whole at the page's opening scale (counts\n"
        "instead of arrows past " +
            std::to_string(SVG_MOST_ARROWS) +
            " operations); each operation's record is its\n"
            "tooltip.\n"
            "\n"
            "Options:\n"
            "  -o, --output OUT  the file to write; '-' for standard output\n"
            "  --format html|svg the page or the picture; without it, OUT's suffix\n"
            "                    tells (.html, .htm or .svg)\n"
            "  --per-process     one lifeline per calling process, not per program\n"
            "  -h, --help        show this help\n",
        {{"output", true, 'o'}, {"format", true}, {"per-process", false}}, runChart};
    return command;
}

}  // namespace tool
}  // namespace zumi
