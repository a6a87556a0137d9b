// The other process of the library's cross-process figures: it publishes
// properties through libbramwickzumi on the real bus, and sends bursts of
// events on request.
//
//   bench_zumi_peer   serves "count" (int), "name" (string), "table" (hash
//                     array), "blast" (int, write-only: n events "tick") and
//                     "slow" (int, answered after 2 s)
#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include <zumi/ZumiException.h>
#include <zumi/ZumiHandlerFactory.h>

#include <libzumi/ZumiBus.h>
#include "support/BenchNames.h"
#include "support/IntPublisher.h"

using namespace zumi::bench;
using veltra::kesh::zumi::ZumiHandler;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

namespace {

class StringValue : public ZumiHandler::ZumiPropertyPublisher<const char*> {
public:
    // Bus thread only, one call at a time: the text stays valid until the
    // next set, which is all the getter's contract asks.
    void getValue(const char*, const char** value) override { *value = m_value.c_str(); }
    void setValue(const char*, const char* value) override { m_value = value; }
    bool isReadable(const char*) const override { return true; }
    bool isWritable(const char*) const override { return true; }

private:
    std::string m_value = "bench";
};

class TableSink : public ZumiHandler::ZumiPropertyPublisher<ZumiHasharrayHandleStruct*> {
public:
    void getValue(const char*, ZumiHasharrayHandleStruct**) override {}
    void setValue(const char*, ZumiHasharrayHandleStruct* value) override {
        ZumiHasharrayDestroy(value);
    }
    bool isReadable(const char*) const override { return false; }
    bool isWritable(const char*) const override { return true; }
};

// Bursts are sent from a thread of their own: the set that asks for one
// returns at once, as the sd-bus baseline's Blast does, and the bus thread
// is never held up by its own sends.
class Blaster : public ZumiHandler::ZumiPropertyPublisher<int> {
public:
    explicit Blaster(ZumiHandle connection) : m_connection(connection), m_thread([this] { run(); }) {}
    ~Blaster() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    void getValue(const char*, int*) override {}
    void setValue(const char*, int value) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pending += value;
        }
        m_wake.notify_one();
    }
    bool isReadable(const char*) const override { return false; }
    bool isWritable(const char*) const override { return true; }

private:
    void run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || m_pending > 0; });
            if (m_stop) return;
            int count = m_pending;
            m_pending = 0;
            lock.unlock();
            for (int seq = 0; seq < count; ++seq) {
                if (ZumiSendEventWithParams(m_connection, TICK_EVENT, &seq, 1, nullptr, 0) != 0) {
                    fprintf(stderr, "bench_zumi_peer: sending event %d failed\n", seq);
                    break;
                }
            }
            lock.lock();
        }
    }

    ZumiHandle m_connection;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_pending = 0;
    bool m_stop = false;
    std::thread m_thread;
};

// Holds up the peer's bus thread, as a service busy elsewhere would.
class SlowValue : public zumi::bench::IntPublisher {
public:
    SlowValue() : IntPublisher(7) {}
    void getValue(const char* name, int* value) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(SLOW_ANSWER_MS));
        IntPublisher::getValue(name, value);
    }
};

gboolean quit(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main() {
    try {
        ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(PEER_SERVICE);
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>> count =
            std::make_shared<zumi::bench::IntPublisher>(42);
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<const char*>> name =
            std::make_shared<StringValue>();
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<ZumiHasharrayHandleStruct*>> table =
            std::make_shared<TableSink>();
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>> blast =
            std::make_shared<Blaster>(handler->getUnderlyingZumiHandle());
        handler->publishIntegerProperty(INT_PROPERTY, count);
        handler->publishStringProperty(STRING_PROPERTY, name);
        handler->publishHasharrayProperty(TABLE_PROPERTY, table);
        handler->publishIntegerProperty(BLAST_PROPERTY, blast);
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>> slow = std::make_shared<SlowValue>();
        handler->publishIntegerProperty(SLOW_PROPERTY, slow);

        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        g_unix_signal_add(SIGTERM, quit, loop);
        if (write(STDOUT_FILENO, "ready\n", 6) != 6) return 1;
        g_main_loop_run(loop);
        g_main_loop_unref(loop);
        // The burst thread must stop while the connection it sends on is open.
        handler->unpublishIntegerProperty(BLAST_PROPERTY);
        blast.reset();
    } catch (const std::exception& e) {
        fprintf(stderr, "bench_zumi_peer: %s\n", e.what());
        return 1;
    }
    return 0;
}
