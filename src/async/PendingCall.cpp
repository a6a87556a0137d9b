#include "async/PendingCall.h"

#include <gdk/gdk.h>

#include <deque>
#include <exception>

#include "util/AutoLock.h"
#include "util/Log.h"

namespace veltra {
namespace kesh {
namespace zumi {

using util::AutoLock;
using util::LogLevel;
using util::logLine;

namespace {

const char CALLBACK_TAG[] = "ZumiAsync.callback";

}  // namespace

bool ZumiPendingCall::cancel() { return m_state && m_state->cancel(); }

bool ZumiPendingCall::pending() const { return m_state && m_state->pending(); }

PendingCallState::PendingCallState(ZumiHandlerSharedPtr handler, bool onMainLoop)
    : m_handler(std::move(handler)), m_onMainLoop(onMainLoop) {
    pthread_mutex_init(&m_mutex, nullptr);
}

PendingCallState::~PendingCallState() { pthread_mutex_destroy(&m_mutex); }

void PendingCallState::start(const Starter& starter) {
    std::unique_ptr<Holder> holder(new Holder(shared_from_this()));
    ZumiStatus status = ZUMI_OK;
    bool cancelled = false;
    {
        AutoLock lock(m_mutex);
        cancelled = m_state == kCancelled;  // a retry after cancel(): nobody else releases
        if (!cancelled) {
            status = starter(&PendingCallState::onDone, holder.get(), &m_id);
            if (status == ZUMI_OK) {
                m_busData = holder.release();
                return;
            }
        }
    }
    if (cancelled) {
        release();
        return;
    }
    const ZumiCallResult failed = {status, 0, "", nullptr};
    completeWith(failed);
}

void PendingCallState::onDone(const ZumiCallResult* result, void* data) {
    std::unique_ptr<Holder> holder(static_cast<Holder*>(data));
    PendingCallState& self = **holder;
    {
        AutoLock lock(self.m_mutex);
        if (self.m_busData == holder.get()) self.m_busData = nullptr;
    }
    try {
        self.completeWith(*result);
    } catch (...) {
        logLine(LogLevel::E, CALLBACK_TAG, "E %s:%s:An asynchronous call's result was lost.:");
    }
}

void PendingCallState::completeWith(const ZumiCallResult& result) {
    bool cancelled;
    {
        AutoLock lock(m_mutex);
        cancelled = m_state == kCancelled;
    }
    if (cancelled) {
        if (result.reply != nullptr) ZumiHasharrayDestroy(result.reply);
        release();
        return;
    }
    if (!complete(result)) return;  // a retry is on its way
    {
        AutoLock lock(m_mutex);
        if (m_state == kWaiting) m_state = m_onMainLoop ? kQueued : kFinished;
        cancelled = m_state == kCancelled;
    }
    if (!m_onMainLoop || cancelled) {
        release();
        return;
    }
    queueOnMainLoop(shared_from_this());
}

// One idle source at a time carries every result that is waiting, in the
// order they came: a burst of results wakes the main loop once.
namespace {

struct MainLoopQueue {
    MainLoopQueue() { pthread_mutex_init(&mutex, nullptr); }
    pthread_mutex_t mutex;
    std::deque<std::shared_ptr<PendingCallState>> calls;
    bool scheduled = false;
};

MainLoopQueue& mainLoopQueue() {
    static MainLoopQueue* queue = new MainLoopQueue();  // outlives any late idle source
    return *queue;
}

}  // namespace

void PendingCallState::queueOnMainLoop(std::shared_ptr<PendingCallState> call) {
    MainLoopQueue& queue = mainLoopQueue();
    {
        AutoLock lock(queue.mutex);
        queue.calls.push_back(std::move(call));
        if (queue.scheduled) return;
        queue.scheduled = true;
    }
    gdk_threads_add_idle_full(G_PRIORITY_DEFAULT_IDLE, &PendingCallState::onIdle, nullptr, nullptr);
}

int PendingCallState::onIdle(void*) {
    MainLoopQueue& queue = mainLoopQueue();
    std::deque<std::shared_ptr<PendingCallState>> batch;
    {
        AutoLock lock(queue.mutex);
        batch.swap(queue.calls);
        queue.scheduled = false;
    }
    for (const std::shared_ptr<PendingCallState>& call : batch) call->deliverQueued();
    return FALSE;
}

void PendingCallState::deliverQueued() {
    {
        AutoLock lock(m_mutex);
        if (m_state != kQueued) return;  // cancelled
        m_state = kDelivering;
    }
    try {
        deliver();
    } catch (const std::exception& error) {
        logLine(LogLevel::E, CALLBACK_TAG,
                "E %s:%s:error=%s An asynchronous call's callback let an exception escape.:",
                error.what());
    } catch (...) {
        logLine(LogLevel::E, CALLBACK_TAG,
                "E %s:%s:An asynchronous call's callback let an exception escape.:");
    }
    {
        AutoLock lock(m_mutex);
        m_state = kFinished;
    }
    release();
}

bool PendingCallState::cancel() {
    ZumiHandle handle = nullptr;
    ZumiCallId id = 0;
    Holder* busData = nullptr;
    {
        AutoLock lock(m_mutex);
        if (m_state != kQueued && m_state != kWaiting) return false;
        const bool waiting = m_state == kWaiting;
        m_state = kCancelled;
        if (waiting) {
            // No call of the bus library running: its result is being made
            // into the outcome right now (or a retry is starting), and that
            // thread sees the cancellation and releases.
            if (m_busData == nullptr) return true;
            busData = m_busData;
            id = m_id;
            handle = m_handler->getUnderlyingZumiHandle();
        }
    }
    if (busData != nullptr) {
        // Refused: the result is arriving right now; its thread releases.
        if (ZumiCancelCall(handle, id) != ZUMI_OK) return true;
        {
            AutoLock lock(m_mutex);
            m_busData = nullptr;
        }
        delete busData;
    }
    release();
    return true;
}

bool PendingCallState::pending() const {
    AutoLock lock(m_mutex);
    return m_state == kWaiting || m_state == kQueued;
}

void PendingCallState::release() {
    releaseCallback();
    // The handler last: dropping it may close the connection.
    ZumiHandlerSharedPtr handler;
    {
        AutoLock lock(m_mutex);
        handler.swap(m_handler);
    }
}

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
