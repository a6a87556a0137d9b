#include "dbus/LocalCall.h"

#include <errno.h>
#include <time.h>

#include "util/AutoLock.h"

using veltra::kesh::util::AutoLock;

namespace zumi {
namespace bus {

LocalCall::LocalCall(Work work, Finished finished)
    : m_work(std::move(work)), m_onFinished(std::move(finished)) {
    pthread_mutex_init(&m_lock, nullptr);
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&m_finished, &attributes);
    pthread_condattr_destroy(&attributes);
}

LocalCall::~LocalCall() {
    pthread_cond_destroy(&m_finished);
    pthread_mutex_destroy(&m_lock);
}

void LocalCall::run() {
    {
        AutoLock lock(m_lock);
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
            AutoLock lock(m_lock);
            m_state = kDone;
        }
        m_onFinished(*this, served && !error);
        return;
    }
    AutoLock lock(m_lock);
    m_served = served;
    m_error = error;
    if (m_state == kRunning) m_state = kDone;
    pthread_cond_signal(&m_finished);
}

void LocalCall::drop() { finish(kDroppedState); }

void LocalCall::finish(State state) {
    if (m_onFinished) {
        {
            AutoLock lock(m_lock);
            if (m_state != kQueued) return;
            m_state = state;
        }
        m_onFinished(*this, false);
        return;
    }
    AutoLock lock(m_lock);
    if (m_state == kQueued) m_state = state;
    pthread_cond_signal(&m_finished);
}

LocalCall::Result LocalCall::wait(std::chrono::steady_clock::time_point deadline) {
    {
        // steady_clock is CLOCK_MONOTONIC on Linux, the clock of m_finished.
        const auto since = deadline.time_since_epoch();
        struct timespec until;
        until.tv_sec = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(since).count());
        until.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() %
                                          1000000000);
        AutoLock lock(m_lock);
        while (m_state == kQueued || m_state == kRunning) {
            if (pthread_cond_timedwait(&m_finished, &m_lock, &until) == ETIMEDOUT &&
                (m_state == kQueued || m_state == kRunning)) {
                m_state = kAbandoned;
                return kTimedOut;
            }
        }
    }
    if (m_error) std::rethrow_exception(m_error);
    if (m_state == kDroppedState) return kDropped;
    return m_served ? kServed : kNotServed;
}

}  // namespace bus
}  // namespace zumi
