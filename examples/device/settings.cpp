// zumi-example-settings: a system service as a device runs one, under a
// user of its own, started by systemd or by the bus daemon on the first call
// to it (see README.md, "Deploying on a device").
//
//   zumi-example-settings [SERVICE]     (default com.tessal.example.settings)
//
// It serves "volume" (an integer, 0 to 10, writable) and "greeting" (a
// string, writable), sends the event "changed" after each write, and ends
// on SIGTERM or SIGINT.
//
// Threads: the bus library calls the publishers on its own thread, so their
// values are guarded; the events are sent from there too. main() runs the
// GLib main loop only to wait for the signal that ends it.

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include <zumi/zumi.h>

using namespace veltra::kesh::zumi;

namespace {

class Volume : public ZumiHandler::ZumiPropertyPublisher<int> {
public:
    explicit Volume(ZumiHandler* handler) : m_handler(handler) {}
    void getValue(const char*, int* value) override { *value = m_level.load(); }
    void setValue(const char*, int value) override {
        if (value < 0 || value > 10) throw ZumiException("volume is 0..10");
        m_level = value;
        m_handler->sendEvent("changed");
    }
    bool isReadable(const char*) const override { return true; }
    bool isWritable(const char*) const override { return true; }

private:
    ZumiHandler* m_handler;  // outlives the publisher: it unpublishes first
    std::atomic<int> m_level{3};
};

class Greeting : public ZumiHandler::ZumiPropertyPublisher<const char*> {
public:
    explicit Greeting(ZumiHandler* handler) : m_handler(handler) {}
    // The text must stay valid after the call: it is copied by the library
    // before the next set can replace it.
    void getValue(const char*, const char** value) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_read = m_text;
        *value = m_read.c_str();
    }
    void setValue(const char*, const char* value) override {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_text = value;
        }
        m_handler->sendEvent("changed");
    }
    bool isReadable(const char*) const override { return true; }
    bool isWritable(const char*) const override { return true; }

private:
    ZumiHandler* m_handler;
    std::mutex m_lock;
    std::string m_text = "hello";
    std::string m_read;  // what the last read handed out; reads come one at a time
};

gboolean quit(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    const char* service = argc > 1 ? argv[1] : "com.tessal.example.settings";
    try {
        ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(service);
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>> volume = std::make_shared<Volume>(handler.get());
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<const char*>> greeting =
            std::make_shared<Greeting>(handler.get());
        handler->publishIntegerProperty("volume", volume);
        handler->publishStringProperty("greeting", greeting);
        std::printf("zumi-example-settings: serving %s\n", service);
        std::fflush(stdout);
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        g_unix_signal_add(SIGTERM, quit, loop);
        g_unix_signal_add(SIGINT, quit, loop);
        g_main_loop_run(loop);
        g_main_loop_unref(loop);
        handler->unpublishIntegerProperty("volume");
        handler->unpublishStringProperty("greeting");
    } catch (const std::exception& e) {
        // A service that may not own its name ends here at once, with the
        // bus's reason: systemd then logs it and marks the unit failed.
        std::fprintf(stderr, "zumi-example-settings: %s\n", e.what());
        return 1;
    }
    return 0;
}
