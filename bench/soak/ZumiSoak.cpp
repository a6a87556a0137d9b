// zumi_soak SECONDS | zumi_soak serve
//
// A process that uses the library as an application does for a long time,
// while scripts/soak.sh stops and restarts the bus daemon under it. Each
// round makes a handler for one of twenty identifiers, publishes an integer,
// subscribes another handler to its events, reads the integer back, sends an
// event and waits for it, then lets everything go again; meanwhile 64
// asynchronous reads stay in flight on the main loop. Once a second it prints
// one line of counts, and "end ..." when the time is over and every
// asynchronous read has been answered:
//   t=SECONDS rounds=N failures=N lost=N async_ok=N async_failed=N
//   worst_call_ms=N rss_kb=N
// A failure is a round whose calls threw (the bus was away); lost counts
// events that did not arrive within two seconds. "zumi_soak serve" is the
// other process, which publishes what the asynchronous reads ask for.
#include <gdk/gdk.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include <zumi/zumi.h>

using namespace veltra::kesh::zumi;
using Clock = std::chrono::steady_clock;

namespace {

const char SERVED[] = "com.zumi.soak.served";

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

long msSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class Fortytwo : public ZumiHandler::ZumiPropertyPublisher<int> {
public:
    void getValue(const char*, int* value) override { *value = 42; }
    void setValue(const char*, int) override {}
    bool isReadable(const char*) const override { return true; }
    bool isWritable(const char*) const override { return false; }
};

class Counter : public SystemEventListener {
public:
    void onEvent(const char*, const char*, const SystemEventDataList&) override { ++count; }
    long count = 0;  // main loop only
};

struct Counts {
    long rounds = 0, failures = 0, lost = 0, worstCallMs = 0;
    std::atomic<long> asyncStarted{0}, asyncOk{0}, asyncFailed{0};
};

// One round; returns false when a call threw.
bool round(long number, const ZumiHandlerSharedPtr& listening, Counter& counter, Counts& counts) {
    const std::string id = "com.zumi.soak.h" + std::to_string(number % 20);
    const Clock::time_point start = Clock::now();
    long waitedMs = 0;
    bool ok = true;
    try {
        ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(id.c_str());
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>> publisher = std::make_shared<Fortytwo>();
        handler->publishIntegerProperty("x", publisher);
        listening->subscribe(id.c_str(), "tick", &counter);
        if (listening->getIntProperty(id.c_str(), "x") != 42) ok = false;
        const long before = counter.count;
        handler->sendEvent("tick");
        const Clock::time_point waitStart = Clock::now();
        while (counter.count == before && msSince(waitStart) < 2000) g_main_context_iteration(nullptr, FALSE);
        if (counter.count == before) ++counts.lost;
        waitedMs = msSince(waitStart);
        listening->unsubscribe(id.c_str(), "tick", &counter);
        handler->unpublishIntegerProperty("x");
    } catch (const std::exception&) {
        ok = false;
    }
    counts.worstCallMs = std::max(counts.worstCallMs, msSince(start) - waitedMs);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_threads_init();
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (argc > 1 && std::string(argv[1]) == "serve") {
        // The other process: serves what the asynchronous reads ask for.
        ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(SERVED);
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>> publisher = std::make_shared<Fortytwo>();
        handler->publishIntegerProperty("x", publisher);
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        g_main_loop_run(loop);
        return 0;
    }
    const long seconds = argc > 1 ? std::atol(argv[1]) : 60;
    ZumiHandlerSharedPtr listening = ZumiHandlerFactory::getZumiHandler("com.zumi.soak.listening");
    Counter counter;
    Counts counts;
    bool running = true;
    std::function<void()> readAgain = [&] {
        if (!running) return;
        ++counts.asyncStarted;
        ZumiAsync::getIntProperty(listening, SERVED, "x", [&](const ZumiResult<int>& result) {
            if (result.ok() && result.get() == 42) {
                ++counts.asyncOk;
                readAgain();
                return;
            }
            // While the bus is away reads fail at once: try again a little
            // later rather than spin, as an application would.
            ++counts.asyncFailed;
            g_timeout_add(100, [](gpointer again) -> gboolean {
                std::function<void()>& read = *static_cast<std::function<void()>*>(again);
                read();
                return G_SOURCE_REMOVE;
            }, &readAgain);
        });
    };
    for (int i = 0; i < 64; ++i) readAgain();

    const Clock::time_point start = Clock::now();
    long printedAt = 0;
    auto print = [&](const char* head) {
        std::printf("%s t=%ld rounds=%ld failures=%ld lost=%ld async_ok=%ld async_failed=%ld worst_call_ms=%ld "
                    "rss_kb=%ld\n",
                    head, msSince(start) / 1000, counts.rounds, counts.failures, counts.lost, counts.asyncOk.load(),
                    counts.asyncFailed.load(), counts.worstCallMs, residentKb());
        std::fflush(stdout);
    };
    while (msSince(start) < seconds * 1000) {
        if (!round(counts.rounds, listening, counter, counts)) {
            ++counts.failures;
            g_usleep(10000);  // the bus is away: a moment before the next try
        }
        ++counts.rounds;
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        if (msSince(start) / 1000 > printedAt) {
            printedAt = msSince(start) / 1000;
            print("at");
        }
    }
    running = false;
    const Clock::time_point drain = Clock::now();
    while (counts.asyncOk + counts.asyncFailed != counts.asyncStarted && msSince(drain) < 10000) {
        g_main_context_iteration(nullptr, FALSE);
    }
    print(counts.asyncOk + counts.asyncFailed == counts.asyncStarted ? "end" : "unanswered");
    return 0;
}
