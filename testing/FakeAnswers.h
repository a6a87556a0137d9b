#ifndef ZUMI_TESTING_FAKEANSWERS_H
#define ZUMI_TESTING_FAKEANSWERS_H

// The answers of the double's asynchronous calls, delivered as the bus
// library's one dispatch thread delivers them: by one worker thread, in call
// order per connection and destination (one connection, replies in order),
// each no earlier than the delay of the remote property it reached. A delayed
// answer holds back the later answers to the same destination, as a service
// that answers in order does; other destinations go past it.
//
// A pending answer's states (m_mutex guards them):
//
//   queued --due, and every earlier call to its destination answered-->
//       delivering (done runs on the worker, no lock held) --> gone
//   queued --ZumiCancelCall, ZumiClose of its connection, reset()-->
//       gone (done never runs; a reply array it carried is released)
//
// ZumiCancelCall succeeds only on a queued answer. ZumiClose and reset() wait
// (bounded) for a done still running on the worker, unless called from it.
//
// The worker starts with the first answer queued and ends when none is left;
// reset() joins it, and so does the exit of the process. Every wait has a
// deadline: a done stuck for longer than kStuck lets ZumiClose or reset() go
// on, and the test that made it so sees its own failure.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <libzumi/ZumiBus.h>

namespace zumi {
namespace testing {

class FakeAnswers {
public:
    // What done receives; text keeps result.text alive.
    struct Answer {
        ZumiCallResult result{ZUMI_OK, 0, "", nullptr};
        std::string text;
    };

    static FakeAnswers& instance();

    // Queues the answer of a call made on `handle` to `destination`; never
    // waits. Returns the call's identifier.
    ZumiCallId queue(ZumiHandle handle, const std::string& destination,
                     std::chrono::milliseconds delay, ZumiCallDone done, void* data,
                     std::unique_ptr<Answer> answer);
    ZumiStatus cancel(ZumiHandle handle, ZumiCallId id);
    // ZumiClose: drops the queued answers of `handle`, then waits for its
    // done still running.
    void dropAll(ZumiHandle handle);
    // A new test: drops every queued answer and joins the worker.
    void reset();
    // Answers neither delivered nor dropped yet: queued, or being delivered.
    size_t inFlight();

private:
    FakeAnswers() = default;
    struct Pending {
        ZumiCallId id = 0;
        ZumiHandle handle = nullptr;
        std::string destination;
        std::chrono::steady_clock::time_point due;
        ZumiCallDone done = nullptr;
        void* data = nullptr;
        std::unique_ptr<Answer> answer;
    };
    typedef std::unique_lock<std::mutex> Lock;
    static constexpr std::chrono::seconds kStuck{10};

    void run();
    // The first queued answer that may be delivered now, or end(); *wake is
    // when to look again.
    std::deque<Pending>::iterator nextDue(std::chrono::steady_clock::time_point* wake);
    // Removes the answers `which` selects and releases them outside the lock.
    template <typename Which>
    void drop(Lock& lock, Which which);
    // Waits until no done of `handle` (any, when null) runs on the worker.
    void awaitRunning(Lock& lock, ZumiHandle handle);

    std::mutex m_mutex;
    std::condition_variable m_wake;      // an answer was queued
    std::condition_variable m_finished;  // a done returned, or the worker ended
    std::deque<Pending> m_queue;         // in call order
    ZumiCallId m_nextId = 1;
    ZumiHandle m_running = nullptr;      // handle of the done running now
    bool m_delivering = false;
    bool m_workerRunning = false;
    std::thread m_worker;
    std::thread::id m_workerId;  // of the worker running now, if any
};

}  // namespace testing
}  // namespace zumi

#endif
