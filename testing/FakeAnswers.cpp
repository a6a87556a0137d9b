#include "FakeAnswers.h"

#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "FakeBusCore.h"

namespace zumi {
namespace testing {

namespace {
using Clock = std::chrono::steady_clock;
}

constexpr std::chrono::seconds FakeAnswers::kStuck;

FakeAnswers& FakeAnswers::instance() {
    // Never destroyed, like the double itself; at exit, before the statics
    // made earlier are destroyed, the worker is stopped and joined, as at
    // the start of a test, so that no done runs into a destroyed static.
    static FakeAnswers* answers = [] {
        FakeAnswers* made = new FakeAnswers();
        std::atexit([] { instance().reset(); });
        return made;
    }();
    return *answers;
}

ZumiCallId FakeAnswers::queue(ZumiHandle handle, const std::string& destination,
                              std::chrono::milliseconds delay, ZumiCallDone done, void* data,
                              std::unique_ptr<Answer> answer) {
    Lock lock(m_mutex);
    Pending pending;
    pending.id = m_nextId++;
    pending.handle = handle;
    pending.destination = destination;
    pending.due = Clock::now() + delay;
    pending.done = done;
    pending.data = data;
    pending.answer = std::move(answer);
    const ZumiCallId id = pending.id;
    m_queue.push_back(std::move(pending));
    if (m_workerRunning) {
        m_wake.notify_one();
    } else {
        // An earlier worker has left the lock for good: joining is immediate.
        if (m_worker.joinable()) m_worker.join();
        m_workerRunning = true;
        m_worker = std::thread(&FakeAnswers::run, this);
        m_workerId = m_worker.get_id();
    }
    return id;
}

std::deque<FakeAnswers::Pending>::iterator FakeAnswers::nextDue(Clock::time_point* wake) {
    const Clock::time_point now = Clock::now();
    std::set<std::pair<ZumiHandle, std::string>> waiting;  // destinations with an earlier call
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        if (!waiting.emplace(it->handle, it->destination).second) continue;
        if (it->due <= now) return it;
        if (it->due < *wake) *wake = it->due;
    }
    return m_queue.end();
}

void FakeAnswers::run() {
    Lock lock(m_mutex);
    while (!m_queue.empty()) {
        Clock::time_point wake = Clock::now() + kStuck;
        auto next = nextDue(&wake);
        if (next == m_queue.end()) {
            m_wake.wait_until(lock, wake);
            continue;
        }
        Pending pending = std::move(*next);
        m_queue.erase(next);
        m_delivering = true;
        m_running = pending.handle;
        lock.unlock();
        pending.done(&pending.answer->result, pending.data);
        lock.lock();
        m_delivering = false;
        m_running = nullptr;
        m_finished.notify_all();
    }
    m_workerRunning = false;
    m_workerId = std::thread::id();
    m_finished.notify_all();
}

template <typename Which>
void FakeAnswers::drop(Lock& lock, Which which) {
    std::vector<Pending> dropped;
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (which(*it)) {
            dropped.push_back(std::move(*it));
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
    if (dropped.empty()) return;
    lock.unlock();
    FakeBusCore& bus = FakeBusCore::instance();
    for (Pending& pending : dropped) bus.releaseArray(pending.answer->result.reply);
    lock.lock();
}

ZumiStatus FakeAnswers::cancel(ZumiHandle handle, ZumiCallId id) {
    Lock lock(m_mutex);
    bool found = false;
    drop(lock, [&](const Pending& pending) {
        const bool match = pending.id == id && pending.handle == handle;
        found = found || match;
        return match;
    });
    return found ? ZUMI_OK : ZUMI_ERR_INVALID_ARGUMENT;
}

void FakeAnswers::awaitRunning(Lock& lock, ZumiHandle handle) {
    if (std::this_thread::get_id() == m_workerId) return;  // a done closing its own connection
    m_finished.wait_until(lock, Clock::now() + kStuck, [&] {
        return !m_delivering || (handle != nullptr && m_running != handle);
    });
}

void FakeAnswers::dropAll(ZumiHandle handle) {
    Lock lock(m_mutex);
    drop(lock, [&](const Pending& pending) { return pending.handle == handle; });
    awaitRunning(lock, handle);
}

size_t FakeAnswers::inFlight() {
    Lock lock(m_mutex);
    return m_queue.size() + (m_delivering ? 1 : 0);
}

void FakeAnswers::reset() {
    Lock lock(m_mutex);
    const auto all = [](const Pending&) { return true; };
    drop(lock, all);
    if (std::this_thread::get_id() == m_workerId) return;
    // A done still running may queue new answers: drop those as well, until
    // the worker, finding nothing left, ends.
    const Clock::time_point deadline = Clock::now() + kStuck;
    while (m_workerRunning && Clock::now() < deadline) {
        m_finished.wait_until(lock, deadline);
        drop(lock, all);
    }
    std::thread worker = std::move(m_worker);
    const bool ended = !m_workerRunning;
    lock.unlock();
    if (worker.joinable()) {
        if (ended) {
            worker.join();
        } else {
            worker.detach();
        }
    }
}

}  // namespace testing
}  // namespace zumi
