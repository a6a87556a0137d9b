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

// The outcome of one asynchronous operation.
template <typename T>
class ZumiResult {
public:
    explicit ZumiResult(T value) : m_value(std::move(value)) {}
    explicit ZumiResult(std::exception_ptr error) : m_error(std::move(error)) {}
    bool ok() const { return !m_error; }
    // The value, or the failure thrown (ZumiException for a bus failure).
    const T& get() const {
        if (m_error) std::rethrow_exception(m_error);
        return m_value;
    }
    std::exception_ptr error() const { return m_error; }

private:
    T m_value{};
    std::exception_ptr m_error;
};

template <>
class ZumiResult<void> {
public:
    ZumiResult() = default;
    explicit ZumiResult(std::exception_ptr error) : m_error(std::move(error)) {}
    bool ok() const { return !m_error; }
    void get() const {
        if (m_error) std::rethrow_exception(m_error);
    }
    std::exception_ptr error() const { return m_error; }

private:
    std::exception_ptr m_error;
};

class PendingCallState;

// The handle of one call started with a callback. Copies share the call.
class ZUMI_EXPORT ZumiPendingCall {
public:
    ZumiPendingCall() = default;
    explicit ZumiPendingCall(std::shared_ptr<PendingCallState> state) : m_state(std::move(state)) {}
    // True: the callback will never be called. False: it has been or is
    // being called, the call was cancelled before, or there is no call.
    bool cancel();
    // Whether the callback is still to come.
    bool pending() const;

private:
    std::shared_ptr<PendingCallState> m_state;
};

// A hash array that arrived, wrapped on the handler the call was made with;
// empty when the service sent none.
typedef std::shared_ptr<ZumiHashListArray> ZumiHashListArrayPtr;

class ZUMI_EXPORT ZumiAsync {
public:
    typedef std::chrono::milliseconds Timeout;
    template <typename T>
    using Callback = std::function<void(const ZumiResult<T>&)>;

    static ZumiPendingCall getIntProperty(const ZumiHandlerSharedPtr& handler, const char* source,
                                          const char* property, Callback<int> callback,
                                          Timeout timeout = Timeout(0));
    static ZumiPendingCall getStringProperty(const ZumiHandlerSharedPtr& handler,
                                             const char* source, const char* property,
                                             Callback<std::string> callback,
                                             Timeout timeout = Timeout(0));
    static ZumiPendingCall getHashProperty(const ZumiHandlerSharedPtr& handler, const char* source,
                                           const char* property,
                                           Callback<ZumiHashListArrayPtr> callback,
                                           Timeout timeout = Timeout(0));
    static ZumiPendingCall setIntProperty(const ZumiHandlerSharedPtr& handler, const char* source,
                                          const char* property, int value,
                                          Callback<void> callback, Timeout timeout = Timeout(0));
    // With the synchronous form's fallback from one named service to another.
    static ZumiPendingCall setStringProperty(const ZumiHandlerSharedPtr& handler,
                                             const char* source, const char* property,
                                             const char* value, Callback<void> callback,
                                             Timeout timeout = Timeout(0));
    // Sends a copy of array (the caller's stays writable) and delivers the
    // service's reply; a failure as ZumiHashListArray::publishSynchronously
    // reports it.
    static ZumiPendingCall setHashProperty(const ZumiHandlerSharedPtr& handler,
                                           const char* source, const char* property,
                                           ZumiHasharrayHandleStruct* array,
                                           Callback<ZumiHashListArrayPtr> callback,
                                           Timeout timeout = Timeout(0));
    static ZumiPendingCall sendEvent(const ZumiHandlerSharedPtr& handler, const char* eventName,
                                     Callback<void> callback);

    static std::future<int> getIntPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                 const char* source, const char* property,
                                                 Timeout timeout = Timeout(0));
    static std::future<std::string> getStringPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                            const char* source,
                                                            const char* property,
                                                            Timeout timeout = Timeout(0));
    static std::future<ZumiHashListArrayPtr> getHashPropertyFuture(
        const ZumiHandlerSharedPtr& handler, const char* source, const char* property,
        Timeout timeout = Timeout(0));
    static std::future<void> setIntPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                  const char* source, const char* property,
                                                  int value, Timeout timeout = Timeout(0));
    static std::future<void> setStringPropertyFuture(const ZumiHandlerSharedPtr& handler,
                                                     const char* source, const char* property,
                                                     const char* value,
                                                     Timeout timeout = Timeout(0));
    static std::future<ZumiHashListArrayPtr> setHashPropertyFuture(
        const ZumiHandlerSharedPtr& handler, const char* source, const char* property,
        ZumiHasharrayHandleStruct* array, Timeout timeout = Timeout(0));
    static std::future<void> sendEventFuture(const ZumiHandlerSharedPtr& handler,
                                             const char* eventName);

    // The main-loop watchdog: a synchronous remote operation of a handler
    // made on the thread that owns the GLib default main context and lasting
    // longer than the threshold (100 ms until changed) logs one W line naming
    // the service, the property (or event) and how long the loop was
    // blocked. A threshold of 0 turns it off. Threads: any.
    static void setMainLoopWatchdogThreshold(std::chrono::milliseconds threshold);
    static std::chrono::milliseconds mainLoopWatchdogThreshold();

    ZumiAsync() = delete;
};

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
