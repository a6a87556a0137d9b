#include "dbus/LocalCall.h"

namespace zumi {
namespace bus {

LocalCall::LocalCall(Work work, Finished finished)
    : m_work(std::move(work)), m_onFinished(std::move(finished)) {}

void LocalCall::run() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_state == kAbandoned) return;  // its caller has gone: nobody wants the answer
        m_state = kRunning;
    }
    bool served = false;
    std::exception_ptr error;
    try {
        served = m_work(m_outcome);
    } catch (...) {
        // Out of memory in the caller's work: it is the caller's to report.
        error = std::current_exception();
    }
    if (m_onFinished) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_state = kDone;
        }
        m_onFinished(*this, served && !error);
        return;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_served = served;
    m_error = error;
    if (m_state == kRunning) m_state = kDone;
    m_finished.notify_one();
}

void LocalCall::drop() { finish(kDroppedState); }

void LocalCall::finish(State state) {
    if (m_onFinished) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_state != kQueued) return;
            m_state = state;
        }
        m_onFinished(*this, false);
        return;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_state == kQueued) m_state = state;
    m_finished.notify_one();
}

LocalCall::Result LocalCall::wait(std::chrono::steady_clock::time_point deadline) {
    {
        std::unique_lock<std::mutex> lock(m_lock);
        if (!m_finished.wait_until(lock, deadline, [this] { return m_state != kQueued && m_state != kRunning; })) {
            m_state = kAbandoned;
            return kTimedOut;
        }
    }
    if (m_error) std::rethrow_exception(m_error);
    if (m_state == kDroppedState) return kDropped;
    return m_served ? kServed : kNotServed;
}

}  // namespace bus
}  // namespace zumi
