#include "dbus/LocalCall.h"

#include "util/AutoLock.h"

using veltra::kesh::util::AutoLock;

namespace zumi {
namespace bus {

LocalCall::LocalCall(Work work, void* context) : m_work(work), m_context(context) {
    pthread_mutex_init(&m_lock, nullptr);
    pthread_cond_init(&m_finished, nullptr);
}

LocalCall::~LocalCall() {
    pthread_cond_destroy(&m_finished);
    pthread_mutex_destroy(&m_lock);
}

void LocalCall::run() {
    try {
        m_served = m_work(m_context);
    } catch (...) {
        // Out of memory in the caller's work: it is the caller's to report.
        m_error = std::current_exception();
    }
    finish(kDone);
}

void LocalCall::drop() { finish(kDropped); }

void LocalCall::finish(State state) {
    // Signalled under the lock: the waiter cannot return, and destroy the
    // call, before this thread has let go of it.
    AutoLock lock(m_lock);
    m_state = state;
    pthread_cond_signal(&m_finished);
}

bool LocalCall::wait() {
    {
        AutoLock lock(m_lock);
        while (m_state == kQueued) pthread_cond_wait(&m_finished, &m_lock);
    }
    if (m_error) std::rethrow_exception(m_error);
    return m_state == kDone && m_served;
}

}  // namespace bus
}  // namespace zumi
