// zumi chart on a large recording: 100,000 operations (gets, sets, listings
// and events between 20 callers and 8 services over 100 s, one call in fifty
// refused) read, laid out and written as the HTML page and as the SVG. The
// recording is made here, the same for every run; the page's size is the
// page_mib counter.

#include <sstream>
#include <string>

#include <benchmark/benchmark.h>

#include "Chart.h"
#include "Recording.h"

namespace {

using namespace zumi::tool;

std::string largeRecording(int operations) {
    std::ostringstream out;
    writeRecordingHeader(out, 1796000000000000LL);
    unsigned seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFF; };
    for (int i = 0; i < operations; ++i) {
        Operation op;
        const unsigned pick = next();
        op.kind = pick % 10 < 4 ? Operation::Get : pick % 10 < 7 ? Operation::Set
                  : pick % 10 < 9 ? Operation::Event : Operation::List;
        op.offset = 100.0 * i / operations;
        op.caller = "client" + std::to_string(pick % 20) + "[" + std::to_string(1000 + pick % 20) + "]";
        op.callerPid = 1000 + static_cast<int>(pick % 20);
        op.service = "com.example.service" + std::to_string(next() % 8);
        op.name = (op.kind == Operation::Event ? "changed" : "value") + std::to_string(next() % 12);
        if (op.kind == Operation::Event) {
            op.caller = op.service;
            op.ints = {static_cast<int>(next()), 3};
            op.strings = {"volume"};
        } else {
            op.latencyUsec = 50 + next() % 2000;
            op.status = next() % 50 == 0 ? ZUMI_ERR_ACCESS_DENIED : ZUMI_OK;
            op.type = next() % 2 ? PropertyType::Int : PropertyType::String;
            op.hasValue = op.status == ZUMI_OK && op.kind != Operation::List;
            op.number = static_cast<int>(next());
            op.text = "value " + std::to_string(next());
        }
        out << dumpLine(toJson(op, true)) << "\n";
    }
    return out.str();
}

void BM_Tool_Chart(benchmark::State& state, bool html) {
    const std::string recording = largeRecording(static_cast<int>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        std::istringstream in(recording);
        std::string started;
        std::vector<Operation> operations = readRecording(in, "large", &started);
        const ChartModel model = buildChart(std::move(operations), started);
        std::ostringstream page;
        if (html) {
            writeChartHtml(model, page);
        } else {
            writeChartSvg(model, page);
        }
        bytes = page.str().size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["page_mib"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
    state.counters["recording_mib"] = static_cast<double>(recording.size()) / (1024.0 * 1024.0);
}

BENCHMARK_CAPTURE(BM_Tool_Chart, Html, true)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Tool_Chart, Svg, false)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
