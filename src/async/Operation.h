#ifndef ZUMI_ASYNC_OPERATION_H
#define ZUMI_ASYNC_OPERATION_H

// One asynchronous operation with a result of type T, for either form: a
// callback on the main loop, or a promise fulfilled on the bus library's
// thread. How the bus library's result becomes the value or the failure is
// the operation's `interpret`; a failure may first be offered to `retry`.
//
// | T                     | interpret gives                     | used by            |
// |-----------------------|-------------------------------------|--------------------|
// | int, std::string      | the value read                      | the gets           |
// | ZumiHashListArrayPtr  | the reply array, wrapped on handler | hash get and set   |
// | void                  | nothing                             | sets, events       |
//
// Threads and locks: those of PendingCallState; interpret and retry run on
// the bus library's thread (or the starting thread, when the call cannot
// start), the callback on the main loop.

#include <functional>
#include <future>
#include <memory>
#include <utility>

#include "async/PendingCall.h"

namespace veltra {
namespace kesh {
namespace zumi {

template <typename T>
class Operation : public PendingCallState {
public:
    // The callback form.
    Operation(ZumiHandlerSharedPtr handler, ZumiAsync::Callback<T> callback)
        : PendingCallState(std::move(handler), true), m_callback(std::move(callback)) {}
    // The future form.
    explicit Operation(ZumiHandlerSharedPtr handler) : PendingCallState(std::move(handler), false) {}

    std::future<T> future() { return m_promise.get_future(); }

    // What it throws is the failure.
    std::function<T(const ZumiCallResult&)> interpret;
    // Offered a failure first: true when it started another call instead.
    std::function<bool(const ZumiCallResult&)> retry;

protected:
    bool complete(const ZumiCallResult& result) override {
        if (result.status != ZUMI_OK && retry && retry(result)) return false;
        ZumiResult<T> outcome = outcomeOf(result);
        if (m_callback) {
            m_outcome.reset(new ZumiResult<T>(std::move(outcome)));
        } else if (outcome.ok()) {
            fulfil(outcome);
        } else {
            m_promise.set_exception(outcome.error());
        }
        return true;
    }

    void deliver() override { m_callback(*m_outcome); }

    void releaseCallback() override {
        m_callback = nullptr;
        m_outcome.reset();
        interpret = nullptr;
        retry = nullptr;
    }

private:
    ZumiResult<T> outcomeOf(const ZumiCallResult& result) {
        try {
            return ZumiResult<T>(interpret(result));
        } catch (...) {
            return ZumiResult<T>(std::current_exception());
        }
    }
    void fulfil(const ZumiResult<T>& outcome) { m_promise.set_value(outcome.get()); }

    ZumiAsync::Callback<T> m_callback;
    std::unique_ptr<ZumiResult<T>> m_outcome;
    std::promise<T> m_promise;
};

template <>
inline ZumiResult<void> Operation<void>::outcomeOf(const ZumiCallResult& result) {
    try {
        interpret(result);
        return ZumiResult<void>();
    } catch (...) {
        return ZumiResult<void>(std::current_exception());
    }
}

template <>
inline void Operation<void>::fulfil(const ZumiResult<void>&) {
    m_promise.set_value();
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra

#endif
