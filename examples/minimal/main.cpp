// A minimal application of the library, of the kind the device runs many of:
// one handler, one published property, one subscription, an idle main loop.
// The package test (tests/packages/) builds it against the installed packages
// through CMakeLists.txt here and with pkg-config, and drives it
// with the installed zumi command; scripts/bench.sh measures its resident
// memory. Built with -DWITHOUT_ZUMI it is the same program without the
// library, the baseline of that figure.
//
//   minimal_app SERVICE
// Prints "ready" once its property "level" (3 at first) is published; the
// event "stop" of com.example.control ends it, printing the event's
// parameters.

#include <stdio.h>

#include <glib.h>

#ifndef WITHOUT_ZUMI
#include <atomic>
#include <list>
#include <memory>

#include <zumi/zumi.h>

using namespace veltra::kesh::zumi;

namespace {

class Level : public ZumiHandler::ZumiPropertyPublisher<int> {
public:
    void getValue(const char*, int* value) override { *value = m_level.load(); }
    void setValue(const char*, int value) override { m_level = value; }
    bool isReadable(const char*) const override { return true; }
    bool isWritable(const char*) const override { return true; }

private:
    std::atomic<int> m_level{3};
};

class Stopper : public SystemEventListener {
public:
    explicit Stopper(GMainLoop* loop) : m_loop(loop) {}
    void onEvent(const char*, const char* event, const std::list<SystemEventData>& data) override {
        printf("%s", event);
        for (const SystemEventData& d : data) {
            if (d.getType() == SystemEventData::INTEGER) {
                printf(" %d", d.getIntValue());
            } else {
                printf(" %s", d.getStringValue().c_str());
            }
        }
        printf("\n");
        fflush(stdout);
        g_main_loop_quit(m_loop);
    }

private:
    GMainLoop* m_loop;
};

}  // namespace
#endif

int main(int argc, char** argv) {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
#ifndef WITHOUT_ZUMI
    if (argc != 2) {
        fprintf(stderr, "usage: minimal_app SERVICE\n");
        return 2;
    }
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(argv[1]);
    std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>> level = std::make_shared<Level>();
    handler->publishIntegerProperty("level", level);
    Stopper stopper(loop);
    handler->subscribe("com.example.control", "stop", &stopper);
#else
    (void)argc;
    (void)argv;
#endif
    printf("ready\n");
    fflush(stdout);
    g_main_loop_run(loop);
#ifndef WITHOUT_ZUMI
    handler->unsubscribe("com.example.control", "stop", &stopper);
#endif
    g_main_loop_unref(loop);
    return 0;
}
