#ifndef ZUMI_ZUMIASYNC_H
#define ZUMI_ZUMIASYNC_H

// Remote access that never blocks its caller: the operations of ZumiHandler
// that reach other services (property gets and sets, sending an event), each
// returning at once.
//
// Callback forms. The result reaches `callback` on the GLib default main
// loop, with the GDK threads lock held, as events do: the value, or the
// exception that the synchronous operation would have thrown, with the same
// message (ZumiResult::get() throws it). Results of calls to one service
// arrive in the order the calls were made. Until its result is delivered or
// the call is cancelled, a pending call keeps its handler (and its callback)
// alive; afterwards it holds neither.
//
// Cancelling. ZumiPendingCall::cancel() answers true when the callback will
// never be called: made on the main loop's thread, that is certain from then
// on; made on another thread, it is certain once cancel() has returned true. It
// answers false when the callback has already been called or is being called
// at that moment; cancel() never waits for it. Dropping a ZumiPendingCall does
// not cancel the call: fire-and-forget sets need no handle, and a handle
// copied away keeps working.
//
// Future forms, for code on threads of its own: the same operations returning
// a std::future, fulfilled from the bus library's thread without the main
// loop (so they work in a program that runs none); they cannot be cancelled.
//
// A timeout of 0 means the synchronous operations' timeout. Arguments are
// copied when the call starts. A null handler, a null callback and a null
// event name throw std::invalid_argument at once; any other failure,
// including one the call could not even start with, arrives as the result.
//
// Threads: any, for every operation here. Locks: each pending call has a
// mutex of its own, a leaf, never held while a callback or the bus library's
// thread waits for anything.

#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <utility>

#include <zumi/ZumiExport.h>
#include <zumi/ZumiHandlerFactory.h>
#include <zumi/ZumiHashListArray.h>
#include <zumi/ZumiTypes.h>

namespace veltra {
namespace kesh {
namespace zumi {

/// The outcome of one asynchronous operation: a value of type T, or the
/// exception that the synchronous operation would have thrown.
template <typename T>
class ZumiResult {
public:
    /// A result that succeeded with value.
    explicit ZumiResult(T value) : m_value(std::move(value)) {}
    /// A result that failed with error.
    explicit ZumiResult(std::exception_ptr error) : m_error(std::move(error)) {}
    /// Whether the operation succeeded.
    bool ok() const { return !m_error; }
    /// The value, or the failure thrown (ZumiException for a bus failure).
    const T& get() const {
        if (m_error) std::rethrow_exception(m_error);
        return m_value;
    }
    /// The failure, or null when the operation succeeded.
    std::exception_ptr error() const { return m_error; }

private:
    T m_value{};
    std::exception_ptr m_error;
};

/// The outcome of an asynchronous set or event send: success, or the
/// exception that the synchronous operation would have thrown.
template <>
class ZumiResult<void> {
public:
    /// A result that succeeded.
    ZumiResult() = default;
    /// A result that failed with error.
    explicit ZumiResult(std::exception_ptr error) : m_error(std::move(error)) {}
    /// Whether the operation succeeded.
    bool ok() const { return !m_error; }
    /// Returns on success; throws the failure otherwise.
    void get() const {
        if (m_error) std::rethrow_exception(m_error);
    }
    /// The failure, or null when the operation succeeded.
    std::exception_ptr error() const { return m_error; }

private:
    std::exception_ptr m_error;
};

class PendingCallState;

/// The handle of one call started with a callback. Copies share the call.
/// Dropping every copy does not cancel the call.
class ZUMI_EXPORT ZumiPendingCall {
public:
    /// A handle of no call: cancel() answers false, pending() false.
    ZumiPendingCall() = default;
    /// Made by ZumiAsync for the call it started.
    explicit ZumiPendingCall(std::shared_ptr<PendingCallState> state) : m_state(std::move(state)) {}
    /// True: the callback will never be called. False: it has been or is
    /// being called, the call was cancelled before, or there is no call.
    /// Never waits.
    bool cancel();
    /// Whether the callback is still to come.
    bool pending() const;

private:
    std::shared_ptr<PendingCallState> m_state;
};

/// A hash array that arrived, wrapped on the handler the call was made with;
/// empty when the service sent none.
typedef std::shared_ptr<ZumiHashListArray> ZumiHashListArrayPtr;

/// Asynchronous forms of ZumiHandler's remote operations, as described at
/// the top of this header: each returns at once, with a ZumiPendingCall
/// (callback forms, result on the GLib default main loop under the GDK
/// threads lock) or a std::future (future forms). The failures are the
/// synchronous operations' own, with the same messages. Threads: any.
class ZUMI_EXPORT ZumiAsync {
public:
    /// A call's timeout; 0 means the synchronous operations' timeout.
    typedef std::chrono::milliseconds Timeout;
    /// What receives a result on the main loop.
    template <typename T>
    using Callback = std::function<void(const ZumiResult<T>&)>;

    /// Reads an integer property of source, as ZumiHandler::getIntProperty.

    static ZumiPendingCall getIntProperty(const ZumiHandlerSharedPtr& handler, const char* source,
                                          const char* property, Callback<int> callback,
                                          Timeout timeout = Timeout(0));
    /// Reads a string property of source, as ZumiHandler::getStringProperty.
    static ZumiPendingCall getStringProperty(const ZumiHandlerSharedPtr& handler,
                                             const char* source, const char* property,
                                             Callback<std::string> callback,
                                             Timeout timeout = Timeout(0));
    /// Reads a hash-array property of source; the array arrives wrapped on
    /// handler.
    static ZumiPendingCall getHashProperty(const ZumiHandlerSharedPtr& handler, const char* source,
                                           const char* property,
                                           Callback<ZumiHashListArrayPtr> callback,
                                           Timeout timeout = Timeout(0));
    /// Sets an integer property of source, as ZumiHandler::setIntProperty.
    static ZumiPendingCall setIntProperty(const ZumiHandlerSharedPtr& handler, const char* source,
                                          const char* property, int value,
                                          Callback<void> callback, Timeout timeout = Timeout(0));
    /// Sets a string property of source, as ZumiHandler::setStringProperty,
    /// with the synchronous form's fallback from one named service to another.
    static ZumiPendingCall setStringProperty(const ZumiHandlerSharedPtr& handler,
                                             const char* source, const char* property,
                                             const char* value, Callback<void> callback,
                                             Timeout timeout = Timeout(0));
    /// Sends a copy of array (the caller's stays writable) and delivers the
    /// service's reply; a failure as ZumiHashListArray::publishSynchronously
    /// reports it.
    static ZumiPendingCall setHashProperty(const ZumiHandlerSharedPtr& handler,
                                           const char* source, const char* property,
                                           ZumiHasharrayHandleStruct* array,
                                           Callback<ZumiHashListArrayPtr> callback,
                                           Timeout timeout = Timeout(0));
    /// Sends the event eventName from handler's service.
    static ZumiPendingCall sendEvent(const ZumiHandlerSharedPtr& handler, const char* eventName,
                                     Callback<void> callback);

    /// getIntProperty as a future, fulfilled without the main loop.
    static std::future<int> getIntPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                 const char* source, const char* property,
                                                 Timeout timeout = Timeout(0));
    /// getStringProperty as a future, fulfilled without the main loop.
    static std::future<std::string> getStringPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                            const char* source,
                                                            const char* property,
                                                            Timeout timeout = Timeout(0));
    /// getHashProperty as a future, fulfilled without the main loop.
    static std::future<ZumiHashListArrayPtr> getHashPropertyFuture(
        const ZumiHandlerSharedPtr& handler, const char* source, const char* property,
        Timeout timeout = Timeout(0));
    /// setIntProperty as a future, fulfilled without the main loop.
    static std::future<void> setIntPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                  const char* source, const char* property,
                                                  int value, Timeout timeout = Timeout(0));
    /// setStringProperty as a future, fulfilled without the main loop.
    static std::future<void> setStringPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                     const char* source, const char* property,
                                                     const char* value,
                                                     Timeout timeout = Timeout(0));
    /// setHashProperty as a future, fulfilled without the main loop.
    static std::future<ZumiHashListArrayPtr> setHashPropertyFuture(
        const ZumiHandlerSharedPtr& handler, const char* source, const char* property,
        ZumiHasharrayHandleStruct* array, Timeout timeout = Timeout(0));
    /// sendEvent as a future, fulfilled without the main loop.
    static std::future<void> sendEventFuture(const ZumiHandlerSharedPtr& handler,
                                             const char* eventName);

    /// The main-loop watchdog: a synchronous remote operation of a handler
    /// made on the thread that owns the GLib default main context and lasting
    /// longer than the threshold (100 ms until changed) logs one W line naming
    /// the service, the property (or event) and how long the loop was
    /// blocked. A threshold of 0 turns it off. Threads: any.
    static void setMainLoopWatchdogThreshold(std::chrono::milliseconds threshold);
    /// The watchdog's threshold now.
    static std::chrono::milliseconds mainLoopWatchdogThreshold();

    ZumiAsync() = delete;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
