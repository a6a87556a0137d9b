// zumi-snapshot: saves an X window as a PNG, with GDK alone, so that the
// screenshot script needs no image tools beyond what GTK brings.
//
//   zumi-snapshot OUTPUT.png [TITLE]
//
// With TITLE, the first top-level window of that name is saved, else the
// whole screen.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

namespace {

Window findTopLevel(Display* display, Window parent, const char* title) {
    Window root = 0, parentOut = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) && name != nullptr) {
            if (std::strcmp(name, title) == 0) found = children[i];
            XFree(name);
        }
        if (found == 0) found = findTopLevel(display, children[i], title);
    }
    if (children != nullptr) XFree(children);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: zumi-snapshot OUTPUT.png [TITLE]\n");
        return 2;
    }
    gtk_init(&argc, &argv);
    GdkWindow* window = gdk_get_default_root_window();
    GdkDisplay* display = gdk_display_get_default();
    if (argc == 3) {
        Window xid = findTopLevel(GDK_DISPLAY_XDISPLAY(display),
                                  GDK_WINDOW_XID(window), argv[2]);
        if (xid == 0) {
            std::fprintf(stderr, "zumi-snapshot: no window titled '%s'\n", argv[2]);
            return 1;
        }
        window = gdk_x11_window_foreign_new_for_display(display, xid);
    }
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                   gdk_window_get_height(window));
    GError* error = nullptr;
    if (pixbuf == nullptr || !gdk_pixbuf_save(pixbuf, argv[1], "png", &error, nullptr)) {
        std::fprintf(stderr, "zumi-snapshot: could not save %s: %s\n", argv[1],
                     error != nullptr ? error->message : "no image of the window");
        return 1;
    }
    g_object_unref(pixbuf);
    return 0;
}
