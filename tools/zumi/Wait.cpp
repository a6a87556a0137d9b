// zumi wait: subscribe through the handler and print events as they arrive.
//
// The library delivers events on the GLib default main loop, so the command
// runs that loop on its main thread; the listener, the timeout and the loop
// all live on that one thread, which is why they share plain variables.

#include <glib.h>

#include <cmath>
#include <cstdio>

#include <zumi/zumi.h>

#include "Commands.h"
#include "EventLine.h"
#include "Json.h"

namespace zumi {
namespace tool {

using veltra::kesh::zumi::SystemEventDataList;
using veltra::kesh::zumi::SystemEventListener;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

std::string formatEvent(const char* source, const char* event, const SystemEventDataList& data) {
    std::string line = std::string(source != nullptr ? source : "") + " " +
                       (event != nullptr ? event : "");
    for (const SystemEventListener::SystemEventData& item : data) {
        line += ' ';
        line += item.getType() == SystemEventListener::SystemEventData::INTEGER
                    ? std::to_string(item.getIntValue())
                    : quoteString(item.getStringValue());
    }
    return line;
}

namespace {

class PrintingListener : public SystemEventListener {
public:
    PrintingListener(std::ostream& out, long limit, GMainLoop* loop)
        : m_out(out), m_limit(limit), m_loop(loop) {}

    // Runs on the main loop; nothing may escape into the library.
    void onEvent(const char* source, const char* event, const SystemEventDataList& data) override {
        if (m_limit > 0 && m_seen >= m_limit) return;  // already queued past the count
        try {
            m_out << formatEvent(source, event, data) << std::endl;  // flushed: a pipe sees it now
        } catch (...) {
        }
        if (++m_seen == m_limit) g_main_loop_quit(m_loop);
    }

    long seen() const { return m_seen; }

private:
    std::ostream& m_out;
    long m_limit;  // 0: no limit
    GMainLoop* m_loop;
    long m_seen = 0;
};

struct Timeout {
    GMainLoop* loop;
    bool expired = false;
};

gboolean onTimeout(gpointer data) {
    Timeout* timeout = static_cast<Timeout*>(data);
    timeout->expired = true;
    g_main_loop_quit(timeout->loop);
    return G_SOURCE_REMOVE;
}

int runWait(const Args& args, std::ostream& out, std::ostream& err) {
    args.expectPositionals({"SOURCE", "EVENT"}, 2);
    long count = 0;
    if (args.has("count")) {
        count = parseInt(args.value("count"), "--count");
        if (count < 1) throw UsageError("--count must be at least 1");
    }
    double seconds = args.has("timeout") ? parseSeconds(args.value("timeout"), "--timeout") : -1;
    // The main loop counts milliseconds in 32 bits: about 49 days at most.
    if (seconds > 86400.0 * 30) throw UsageError("--timeout is at most 2592000 seconds (30 days)");
    const std::string& source = args.positionals()[0];
    const std::string& event = args.positionals()[1];

    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(CLIENT_ID);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    PrintingListener listener(out, count, loop);
    Timeout timeout{loop};
    guint timeoutId = 0;
    try {
        handler->subscribe(source.c_str(), event.c_str(), &listener);
    } catch (...) {
        g_main_loop_unref(loop);
        throw;
    }
    if (seconds >= 0) {
        timeoutId = g_timeout_add(static_cast<guint>(std::llround(seconds * 1000)), onTimeout,
                                  &timeout);
    }
    g_main_loop_run(loop);
    if (!timeout.expired && timeoutId != 0) g_source_remove(timeoutId);
    handler->unsubscribe(source.c_str(), event.c_str(), &listener);
    g_main_loop_unref(loop);
    if (timeout.expired) {
        err << "zumi wait: timed out" << std::endl;
        return EXIT_TIMEOUT;
    }
    return EXIT_DONE;
}

}  // namespace

const Command& waitCommand() {
    static const Command command{
        "wait", "print events as they arrive",
        "Usage: zumi wait [--count N] [--timeout SECONDS] SOURCE EVENT\n"
        "\n"
        "Subscribes to EVENT sent by SOURCE and prints one line per event as it\n"
        "arrives: the source, the event, then its parameters in order, integers\n"
        "first, strings in double quotes (JSON escapes). Receivers built on\n"
        "libbramwickzumi, this one included, read as many strings as the last\n"
        "integer parameter announces.\n"
        "\n"
        "Options:\n"
        "  --count N          exit after N events (default: keep waiting)\n"
        "  --timeout SECONDS  give up after SECONDS (fractions allowed): print\n"
        "                     \"zumi wait: timed out\" on stderr and exit with\n"
        "                     status 3 (also after some events, with --count)\n"
        "  -h, --help         show this help\n",
        {{"count", true}, {"timeout", true}}, runWait};
    return command;
}

}  // namespace tool
}  // namespace zumi
