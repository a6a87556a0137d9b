#ifndef ZUMI_ZUMIHANDLERFACTORY_H
#define ZUMI_ZUMIHANDLERFACTORY_H

#include <pthread.h>

#include <memory>
#include <string>
#include <unordered_map>

#include <zumi/ZumiExport.h>
#include <zumi/ZumiHandler.h>

namespace veltra {
namespace kesh {
namespace zumi {

class VimoZumiHandler;
class ZumiEventUtils;

/// Removes a handler's cache entry, then destroys the handler (closing its
/// connection). Runs on whichever thread drops the last strong reference; on
/// the thread that runs the default main context, the handler is destroyed a
/// little later from a plain GLib idle source, outside the GDK lock that a
/// bridged read waits for.
struct ZUMI_EXPORT ZumiHandlerDeleter {
    /// Called by the handler's shared pointer with its last reference.
    void operator()(VimoZumiHandler* handler) const;
};

/// The process-wide cache of handlers, one live handler per identifier.
///
/// Threads: every operation may be called from any thread.
/// Locks: m_defaultHandlerIdMutex before m_handlerMapMutex. getZumiHandler
/// holds m_handlerMapMutex while it creates a handler, so connections are
/// opened one at a time across the process.
class ZUMI_EXPORT ZumiHandlerFactory {
public:
    /// How applications hold a handler; the factory keeps only weak ones.
    typedef std::shared_ptr<ZumiHandler> ZumiHandlerSharedPtr;

    /// The live handler for zumiId, created and cached when there is none.
    /// zumiId must be a valid bus name (see ZumiHandler), such as
    /// "com.example.audio"; "" gives a connection that only calls others.
    /// Throws std::invalid_argument for a null zumiId, and whatever opening
    /// the connection throws (ZumiException, for an invalid name too).
    static ZumiHandlerSharedPtr getZumiHandler(const char* zumiId);
    /// The handler for the system identifier ("com.tessal.bramwick" unless
    /// changed with setSystemZumiHandler).
    static ZumiHandlerSharedPtr getSystemZumiHandler();
    /// Throws std::invalid_argument "zumiId argument was NULL" for null, and
    /// keeps the identifier it had. Not checked otherwise: an invalid bus name
    /// fails at the next getSystemZumiHandler.
    static void setSystemZumiHandler(const char* zumiId);
    /// A new utility object for the well-known system events, per call.
    static std::shared_ptr<ZumiEventUtils> getZumiEventUtils();
    /// Forgets every cache entry; live handlers stay alive and usable.
    static void emptyMap();

    /// The cache: identifier to its live handler. Guarded by m_handlerMapMutex.
    static std::unordered_map<std::string, std::weak_ptr<ZumiHandler>> m_handlerMap;
    /// The system identifier. Guarded by m_defaultHandlerIdMutex.
    static std::string m_defaultHandlerId;
    /// Taken before m_handlerMapMutex when both are needed.
    static pthread_mutex_t m_defaultHandlerIdMutex;
    /// Held while a handler is looked up, created and cached.
    static pthread_mutex_t m_handlerMapMutex;

    ZumiHandlerFactory() = delete;
};

typedef ZumiHandlerFactory::ZumiHandlerSharedPtr ZumiHandlerSharedPtr;

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
