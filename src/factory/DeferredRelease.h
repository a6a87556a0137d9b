#ifndef ZUMI_FACTORY_DEFERREDRELEASE_H
#define ZUMI_FACTORY_DEFERREDRELEASE_H

namespace veltra {
namespace kesh {
namespace zumi {

class VimoZumiHandler;

// Destroys a handler whose last reference is gone, on a thread where closing
// its connection cannot deadlock.
//
// Closing a connection waits for that connection's callbacks in progress, and
// a bridged UI object's read runs on the bus thread and waits for the GDK
// lock. The thread that runs the default main context holds that lock in GTK
// signal handlers, in GDK-threads idle callbacks (event delivery, deferred
// sets), and wherever the application took it; closing there would wait for
// a read that waits for it. So on that thread the handler is queued and
// destroyed from a plain GLib idle source on the default context instead:
// GLib dispatches a plain source without the GDK lock (only GDK's event
// source and the gdk_threads_add_* wrappers take it, around their own
// callbacks), so the read gets the lock, finishes, and the close that waits
// for it ends. Nothing else changes: the handler's destruction runs whole and
// in its usual order, and no callback of its connection runs once it is done.
//
// On any other thread the handler is destroyed at once. That is safe unless
// the thread holds the GDK lock itself, which the library cannot see; it
// logs a W line when a bridged read is waiting for the lock at that moment.
//
// Handlers queued while the main loop no longer iterates stay open until the
// process ends. Threads: any. Locks: a leaf mutex guarding the queue, never
// held while a handler is destroyed.
void releaseHandler(VimoZumiHandler* handler);

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
