// zumi-panel: a GTK window that serves its state on the message bus.
//
//   zumi-panel [SERVICE]     (default com.example.panel)
//
// Threads: main() runs GTK on this thread with the GDK threads lock held
// except while gtk_main() waits; the bus library calls the bridges from its
// own thread, and they take the GDK lock before touching the window.

#include <gtk/gtk.h>

#include <cstdio>
#include <exception>
#include <memory>

#include <zumi/zumi.h>

#include "PanelWindow.h"

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace {

// Called with the GDK lock held; returns with it released.
int runPanel(const char* service) {
    veltra::kesh::zumi::ZumiHandlerSharedPtr handler;
    std::unique_ptr<panel::PanelWindow> window;
    int status = 0;
    try {
        handler = veltra::kesh::zumi::ZumiHandlerFactory::getZumiHandler(service);
        window.reset(new panel::PanelWindow(handler));
        std::printf("zumi-panel: serving %s\n", service);
        std::fflush(stdout);
        gtk_main();
        window->shutdown();
        std::printf("zumi-panel: closed\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zumi-panel: %s\n", e.what());
        if (window) window->shutdown();
        status = 1;
    }
    // Release the GDK lock before the handler closes its connection: closing
    // waits for bus callbacks in flight, and a bridge's read may be waiting
    // for this very lock.
    gdk_threads_leave();
    window.reset();
    handler.reset();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // The bridges and the event delivery take the GDK threads lock from the
    // bus thread and from idle callbacks, so it must exist before GTK starts.
    gdk_threads_init();
    gtk_init(&argc, &argv);
    gdk_threads_enter();
    return runPanel(argc > 1 ? argv[1] : "com.example.panel");
}

G_GNUC_END_IGNORE_DEPRECATIONS
