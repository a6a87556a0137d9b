// A process with a UI object whose integer property "level" is served on the
// bus through a bridge. Each value the UI object receives (on the GLib main
// loop, GDK lock held) is written to stdout as 4 raw bytes, so that the
// benchmark can time a remote set until it has really reached the UI.
#include <gdk/gdk.h>
#include <glib-unix.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiPropertyPublisherToUIBridge.h>

#include "support/BenchNames.h"

using namespace zumi::bench;
using veltra::kesh::zumi::createNewBridge;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;
using veltra::kesh::zumi::ZumiPropertyPublisherUI;

namespace {

class ReportingUi : public ZumiPropertyPublisherUI<int> {
public:
    void getValue(const char*, int* value) override { *value = m_value; }
    void setValue(const char*, int value) override {
        m_value = value;
        if (write(STDOUT_FILENO, &value, sizeof(value)) != sizeof(value)) {
            fprintf(stderr, "bench_zumi_ui_peer: the benchmark went away\n");
        }
    }

private:
    int m_value = 0;
};

gboolean quit(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main() {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_threads_init();
    G_GNUC_END_IGNORE_DEPRECATIONS
    try {
        ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(UI_PEER_SERVICE);
        ReportingUi ui;
        auto bridge = createNewBridge<int>(handler, &ui, {{UI_PROPERTY, {true, true}}});
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        g_unix_signal_add(SIGTERM, quit, loop);
        if (write(STDOUT_FILENO, "ready\n", 6) != 6) return 1;
        g_main_loop_run(loop);
        g_main_loop_unref(loop);
        bridge->detachFromUI();
    } catch (const std::exception& e) {
        fprintf(stderr, "bench_zumi_ui_peer: %s\n", e.what());
        return 1;
    }
    return 0;
}
