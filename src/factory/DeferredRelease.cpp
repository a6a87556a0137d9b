#include "factory/DeferredRelease.h"

#include <glib.h>
#include <pthread.h>

#include <new>
#include <vector>

#include "handler/VimoZumiHandler.h"
#include "platform/GdkThreadsAutoLock.h"
#include "util/AutoLock.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::AutoLock;
using util::LogLevel;
using util::logLine;

namespace {

pthread_mutex_t g_queueMutex = PTHREAD_MUTEX_INITIALIZER;
// Never destroyed: a handler may be released from a static destructor.
std::vector<VimoZumiHandler*>& queue() {
    static std::vector<VimoZumiHandler*>* handlers = new std::vector<VimoZumiHandler*>();
    return *handlers;
}
bool g_sourceAdded = false;  // guarded by g_queueMutex

gboolean destroyQueued(gpointer) {
    for (;;) {
        std::vector<VimoZumiHandler*> handlers;
        {
            AutoLock lock(g_queueMutex);
            if (queue().empty()) {
                g_sourceAdded = false;
                return G_SOURCE_REMOVE;
            }
            handlers.swap(queue());
        }
        // Destroying one may release the last reference to another (a hash
        // array holding its handler); it joins the queue and this loop.
        for (VimoZumiHandler* handler : handlers) delete handler;
    }
}

}  // namespace

void releaseHandler(VimoZumiHandler* handler) {
    if (!g_main_context_is_owner(g_main_context_default())) {
        if (util::GdkThreadsAutoLock::waiting() > 0) {
            logLine(LogLevel::W, "ZumiHandlerDeleter.release",
                    "W %s:%s:Last reference to the ZumiHandler for %s dropped off the main loop "
                    "while a bridged read waits for the GDK lock. If this thread holds that lock, "
                    "closing the connection never ends.:",
                    handler->getID());
        }
        delete handler;
        return;
    }
    try {
        AutoLock lock(g_queueMutex);
        queue().push_back(handler);
        if (!g_sourceAdded) {
            g_idle_add_full(G_PRIORITY_DEFAULT, &destroyQueued, nullptr, nullptr);
            g_sourceAdded = true;
        }
    } catch (const std::bad_alloc&) {
        delete handler;  // nowhere to keep it: the old way, which at least frees it
    }
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
