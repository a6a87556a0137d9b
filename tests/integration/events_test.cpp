// libbramwickzumi's event road across processes: a peer sends an event with
// parameters over the private bus, and a stock listener subscribed through a
// factory-made handler receives it on this process's GLib main loop.

#include <gdk/gdk.h>
#include <glib.h>

#include <chrono>
#include <list>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <zumi/zumi.h>

#include "BusFixture.h"

namespace {

using namespace veltra::kesh::zumi;
using zumi::testing::Peer;

// Runs the default main context on this thread until `done` or the deadline.
template <typename Done>
bool runMainLoopUntil(Done done, std::chrono::seconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    guint tick = g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
    }
    g_source_remove(tick);
    return done();
}

struct Probe : SystemEventListener {
    void onEvent(const char*, const char*, const SystemEventDataList&) override { ++calls; }
    int calls = 0;
};

struct ConfigKeys : VimoDynamicConfigUpdateEventListener {
    void onDynamicConfigUpdated(std::list<std::string>& updated) override {
        keys = updated;
        thread = std::this_thread::get_id();
        ++calls;
    }
    std::list<std::string> keys;
    std::thread::id thread;
    int calls = 0;
};

class AStockListener : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Makes the GDK threads lock real, as in an application.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        gdk_threads_init();
#pragma GCC diagnostic pop
    }
};

TEST_F(AStockListener, ReceivesAnEventWithParametersFromAnotherProcessOnTheMainLoop) {
    Peer sender;
    ASSERT_EQ("0", sender.request("open com.tessal.paramd"));
    ZumiHandlerSharedPtr handler =
        ZumiHandlerFactory::getZumiHandler(zumi::testing::serviceName("listener").c_str());
    ConfigKeys listener;
    handler->subscribe(ConfigKeys::DC_UPDATE_EVENT_SOURCE, ConfigKeys::EVENT_DYNAMIC_CONFIG_UPDATED,
                       &listener);

    // The count is read first, then as many keys as it announces.
    ASSERT_EQ("0", sender.request("emit dynamicConfigUpdated i:2 s:alpha s:beta s:ignored"));
    ASSERT_TRUE(runMainLoopUntil([&] { return listener.calls == 1; }));
    EXPECT_EQ((std::list<std::string>{"alpha", "beta"}), listener.keys);
    EXPECT_EQ(std::this_thread::get_id(), listener.thread);

    // Once unsubscribed it hears nothing more: the probe event, sent after
    // the late one by the same sender, arrives after it would have.
    Probe probe;
    handler->subscribe(ConfigKeys::DC_UPDATE_EVENT_SOURCE, "probe", &probe);
    EXPECT_TRUE(handler->unsubscribe(ConfigKeys::DC_UPDATE_EVENT_SOURCE,
                                     ConfigKeys::EVENT_DYNAMIC_CONFIG_UPDATED, &listener));
    ASSERT_EQ("0", sender.request("emit dynamicConfigUpdated i:1 s:late"));
    ASSERT_EQ("0", sender.request("emit probe"));
    ASSERT_TRUE(runMainLoopUntil([&] { return probe.calls == 1; }));
    EXPECT_EQ(1, listener.calls);
    EXPECT_TRUE(handler->unsubscribe(ConfigKeys::DC_UPDATE_EVENT_SOURCE, "probe", &probe));
}

}  // namespace
