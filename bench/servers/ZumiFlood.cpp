// The two processes of the event flood, both through libbramwickzumi:
//
//   bench_zumi_flood receive SOURCE COUNT BUSY_MS
//       subscribes to SOURCE's "tick" events, says ready, keeps its main loop
//       busy for BUSY_MS, then runs it until COUNT events were delivered or
//       dropped, and writes a FloodReceiverReport.
//   bench_zumi_flood send SOURCE COUNT
//       opens SOURCE, says ready, sends COUNT "tick" events (sequence number
//       first) as fast as the library takes them, and writes a
//       FloodSenderReport.
//
// Each then waits for SIGTERM. Fresh processes, so that their peak resident
// memory (VmHWM) is the flood's and nothing else's.
#include <gdk/gdk.h>
#include <glib-unix.h>
#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <zumi/SystemEventListener.h>
#include <zumi/ZumiEventQueue.h>
#include <zumi/ZumiHandlerFactory.h>

#include <libzumi/ZumiBus.h>
#include "support/BenchNames.h"
#include "support/SequenceCount.h"

using namespace zumi::bench;
namespace zk = veltra::kesh::zumi;

namespace {

std::atomic<uint64_t> g_told{0};

uint64_t peakKiB() {
    FILE* status = fopen("/proc/self/status", "r");
    char line[256];
    unsigned long long kib = 0;
    while (status != nullptr && fgets(line, sizeof line, status) != nullptr) {
        if (sscanf(line, "VmHWM: %llu kB", &kib) == 1) break;
    }
    if (status != nullptr) fclose(status);
    return kib;
}

bool report(const void* record, size_t size) {
    return write(STDOUT_FILENO, record, size) == static_cast<ssize_t>(size);
}

void waitForTerm() {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGTERM, [](gpointer l) {
        g_main_loop_quit(static_cast<GMainLoop*>(l));
        return gboolean(G_SOURCE_REMOVE);
    }, loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
}

struct Counter : zk::SystemEventListener {
    void onEvent(const char*, const char*, const zk::SystemEventDataList& data) override {
        seen.note(data.empty() ? -1 : data.front().getIntValue());
    }
    SequenceCount seen;
};

int receive(const char* source, uint64_t count, int busyMs) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_threads_init();
    G_GNUC_END_IGNORE_DEPRECATIONS
    zk::ZumiHandlerSharedPtr handler = zk::ZumiHandlerFactory::getZumiHandler(FLOOD_RECEIVER);
    Counter counter;
    handler->subscribe(source, TICK_EVENT, &counter);
    if (!report("ready\n", 6)) return 1;
    // Busy as a GTK application redrawing a large window would be: nothing
    // of the main loop runs meanwhile, the bus thread goes on receiving.
    std::this_thread::sleep_for(std::chrono::milliseconds(busyMs));
    auto quietSince = std::chrono::steady_clock::now();
    uint64_t seen = 0;
    while (counter.seen.received + zk::ZumiEventQueue::getDroppedCount() < count ||
           zk::ZumiEventQueue::getQueuedCount() > 0) {
        if (g_main_context_iteration(nullptr, FALSE)) {
            quietSince = std::chrono::steady_clock::now();
            continue;
        }
        const uint64_t now = counter.seen.received + zk::ZumiEventQueue::getDroppedCount();
        if (now != seen) {
            seen = now;
            quietSince = std::chrono::steady_clock::now();
        }
        if (std::chrono::steady_clock::now() - quietSince > std::chrono::seconds(3)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    FloodReceiverReport record;
    record.delivered = counter.seen.received;
    record.dropped = zk::ZumiEventQueue::getDroppedCount();
    record.told = g_told.load();
    record.reordered = counter.seen.reordered;
    record.peakKiB = peakKiB();
    if (!report(&record, sizeof record)) return 1;
    waitForTerm();
    handler->unsubscribe(source, TICK_EVENT, &counter);
    return 0;
}

int send(const char* source, uint64_t count) {
    zk::ZumiHandlerSharedPtr handler = zk::ZumiHandlerFactory::getZumiHandler(source);
    ZumiHandle connection = handler->getUnderlyingZumiHandle();
    if (!report("ready\n", 6)) return 1;
    FloodSenderReport record;
    for (uint64_t i = 0; i < count; ++i) {
        const int seq = static_cast<int>(i);
        const auto start = std::chrono::steady_clock::now();
        const ZumiStatus status = ZumiSendEventWithParams(connection, TICK_EVENT, &seq, 1, nullptr, 0);
        const uint64_t took = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
                .count());
        if (took > record.worstSendUs) record.worstSendUs = took;
        if (status == ZUMI_OK) {
            ++record.sent;
        } else {
            ++record.failed;
        }
    }
    record.peakKiB = peakKiB();
    if (!report(&record, sizeof record)) return 1;
    waitForTerm();
    return 0;
}

}  // namespace

// The library's W line of dropped events, counted here before it would reach
// syslog: this program's definition wins over the C library's.
extern "C" __attribute__((visibility("default"))) void vsyslog(int, const char* format, va_list args) {
    char text[512];
    vsnprintf(text, sizeof text, format, args);
    const char* marker = strstr(text, "eventQueue.dropped:");
    if (marker != nullptr) g_told += strtoull(marker + strlen("eventQueue.dropped:"), nullptr, 10);
}

int main(int argc, char** argv) {
    try {
        if (argc == 5 && strcmp(argv[1], "receive") == 0) {
            return receive(argv[2], strtoull(argv[3], nullptr, 10), atoi(argv[4]));
        }
        if (argc == 4 && strcmp(argv[1], "send") == 0) return send(argv[2], strtoull(argv[3], nullptr, 10));
        fprintf(stderr, "usage: bench_zumi_flood receive SOURCE COUNT BUSY_MS | send SOURCE COUNT\n");
    } catch (const std::exception& e) {
        fprintf(stderr, "bench_zumi_flood: %s\n", e.what());
    }
    return 1;
}
