// The panel's tests, on the in-process fake bus: no daemon runs. GTK needs a
// display (xvfb-run -a gives one); the tests are skipped where there is none.

#include <gmock/gmock.h>
#include <gtk/gtk.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <zumi/testing/FakeBusTest.h>

#include "PanelWindow.h"

using namespace veltra::kesh::zumi;
using namespace veltra::kesh::zumi::testing;
using panel::PanelWindow;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

const char* const PANEL = "com.example.panel";
const char* const MEMORY = VimoMemoryEventListener::MEMORY_EVENT_SOURCE;
const char* const CONFIG = VimoDynamicConfigUpdateEventListener::DC_UPDATE_EVENT_SOURCE;
bool g_haveDisplay = false;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result(1);
    for (char c : text) {
        if (c == '\n') result.emplace_back();
        else result.back() += c;
    }
    return result;
}

// GLib warnings and criticals (the panel's own and GTK's) since the test began.
std::vector<std::string> g_warnings;

GLogWriterOutput recordWarning(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer data) {
    if (!(level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL))) return g_log_writer_default(level, fields, count, data);
    std::string domain, message;
    for (gsize i = 0; i < count; ++i) {
        if (fields[i].length >= 0) continue;  // not text
        if (std::string(fields[i].key) == "GLIB_DOMAIN") domain = static_cast<const char*>(fields[i].value);
        if (std::string(fields[i].key) == "MESSAGE") message = static_cast<const char*>(fields[i].value);
    }
    g_warnings.push_back(domain + ": " + message);
    return G_LOG_WRITER_HANDLED;
}

class APanel : public FakeBusTest {
protected:
    // A warning nobody expected is a fault of the panel (unescaped markup,
    // a call on a destroyed widget), never noise.
    ~APanel() override {
        panel.reset();
        EXPECT_THAT(g_warnings, IsEmpty());
        g_warnings.clear();
    }
    void SetUp() override {
        if (!g_haveDisplay) GTEST_SKIP() << "no display for GTK";
        panel = start();
    }
    std::unique_ptr<PanelWindow> start() {
        return std::unique_ptr<PanelWindow>(new PanelWindow(ZumiHandlerFactory::getZumiHandler(PANEL)));
    }
    std::string read(const char* name) {
        std::string value;
        EXPECT_EQ(ZUMI_OK, bus.getPublished(PANEL, name, &value)) << name;
        return value;
    }
    // The configuration service names the keys it updated: the last integer
    // of an event counts the strings after it.
    int updateConfiguration(const std::vector<std::string>& keys) {
        return bus.remote(CONFIG).emit(VimoDynamicConfigUpdateEventListener::EVENT_DYNAMIC_CONFIG_UPDATED,
                                       {static_cast<int>(keys.size())}, keys);
    }
    // Remote writes and events reach the panel on the main loop.
    bool statusBecomes(const std::string& expected) {
        return bus.runUntil([&] { return read("status") == expected; });
    }

    std::unique_ptr<PanelWindow> panel;
};

TEST_F(APanel, ServesItsFirstStateAndRefusesWhatItDoesNotServe) {
    int brightness = -1;
    EXPECT_EQ(ZUMI_OK, bus.getPublished(PANEL, "brightness", &brightness));
    EXPECT_EQ(50, brightness);
    EXPECT_EQ("Zumi panel", read("title"));
    EXPECT_EQ("ready", read("status"));

    int ignored = 0;
    std::string text;
    EXPECT_EQ(ZUMI_ERR_ACCESS_DENIED, bus.getPublished(PANEL, "kill", &ignored));
    EXPECT_EQ(ZUMI_ERR_ACCESS_DENIED, bus.setPublished(PANEL, "status", "hacked"));
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, bus.getPublished(PANEL, "volume", &ignored));
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, bus.getPublished(PANEL, "brightness", &text));
}

TEST_F(APanel, AppliesRemoteWritesOnItsMainLoopAndSaysWhatItShows) {
    const struct {
        const char* name;
        int value;
        int shown;
        const char* status;
    } brightnessCases[] = {
        {"in range", 70, 70, "brightness set to 70 remotely"},
        {"above the slider", 150, 100, "brightness set to 100 remotely"},
        {"below the slider", -5, 0, "brightness set to 0 remotely"},
    };
    for (const auto& c : brightnessCases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ZUMI_OK, bus.setPublished(PANEL, "brightness", c.value));
        ASSERT_TRUE(statusBecomes(c.status)) << read("status");
        int shown = -1;
        EXPECT_EQ(ZUMI_OK, bus.getPublished(PANEL, "brightness", &shown));
        EXPECT_EQ(c.shown, shown);
    }
    // The heading shows the title as markup: unescaped, GTK would warn (and
    // the fixture fail the test) and show nothing.
    ASSERT_EQ(ZUMI_OK, bus.setPublished(PANEL, "title", "Kitchen <b>& hall"));
    ASSERT_TRUE(statusBecomes("title set"));
    EXPECT_EQ("Kitchen <b>& hall", read("title"));
}

TEST_F(APanel, ShowsTheCountAndTheFirstFourNamesOfAWrittenPlaylist) {
    const auto named = [](const char* name) { return Hash{{"name", std::string(name)}}; };
    const struct {
        const char* what;
        HashList playlist;
        const char* shown;
    } cases[] = {
        {"two names", {named("Intro"), named("Outro")}, "2 item(s): Intro, Outro"},
        {"empty", {}, "0 item(s)"},
        {"an entry without a name", {named("Intro"), Hash{{"seconds", 95}}}, "2 item(s): Intro, ?"},
        {"a name that is a number", {Hash{{"name", 7}}, named("Outro")}, "2 item(s): ?, Outro"},
        {"more than four", {named("a"), named("b"), named("c"), named("d"), named("e")},
         "5 item(s): a, b, c, d"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(ZUMI_OK, bus.setPublished(PANEL, "playlist", c.playlist));
        EXPECT_TRUE(bus.runUntil([&] { return panel->playlistText() == c.shown; })) << panel->playlistText();
        EXPECT_EQ("playlist received", read("status"));
    }
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, bus.setPublished(PANEL, "queue", HashList{}));
}

TEST_F(APanel, ShowsEachMemoryEventItIsSubscribedTo) {
    const struct {
        const char* event;
        const char* status;
    } cases[] = {
        {VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_LOW, "memory event: memory low (1)"},
        {VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_VERY_LOW, "memory event: memory very low (2)"},
        {VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_CRITICAL, "memory event: memory critical (3)"},
        {VimoMemoryEventListener::EVENT_PROCESS_TOO_LARGE, "memory event: process too large (257)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event);
        EXPECT_EQ(1, bus.remote(MEMORY).emit(c.event));
        EXPECT_TRUE(statusBecomes(c.status)) << read("status");
    }
}

TEST_F(APanel, ReadsUpdatedConfigurationWithoutWaitingForASlowOrFailingService) {
    bus.remote(CONFIG).stringProperty("volume.max", "11").delay(std::chrono::milliseconds(200));
    bus.remote(CONFIG).stringProperty("locale", "de_DE");
    bus.remote(CONFIG).stringProperty("region").status(ZUMI_ERR_SERVICE_FAILED);
    updateConfiguration({"volume.max", "locale", "region"});
    // The listener returns before any value is read: each arrives later, on
    // the main loop, in an order the panel does not rely on.
    ASSERT_TRUE(statusBecomes("configuration updated"));
    EXPECT_EQ("3 key(s): volume.max, locale, region", panel->configText());

    ASSERT_TRUE(bus.runUntil([&] { return lines(panel->configText()).size() == 4; })) << panel->configText();
    std::vector<std::string> values = lines(panel->configText());
    values.erase(values.begin());
    EXPECT_THAT(values, UnorderedElementsAre("volume.max = 11", "locale = de_DE", "region = (unreadable)"));
}

TEST_F(APanel, CancelsItsReadsAndLetsGoOfTheBusWhenDestroyed) {
    bus.remote(CONFIG).stringProperty("locale", "de_DE").delay(std::chrono::milliseconds(200));
    updateConfiguration({"locale"});
    ASSERT_TRUE(statusBecomes("configuration updated"));
    panel.reset();
    // A read that was not cancelled would now call into the destroyed panel.
    ASSERT_TRUE(bus.runUntilIdle());
    int ignored;
    EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, bus.getPublished(PANEL, "brightness", &ignored));
    EXPECT_FALSE(bus.isSubscribed(MEMORY, VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_LOW));
    EXPECT_EQ(0, updateConfiguration({"locale"}));
}

TEST_F(APanel, LeavesNothingBehindWhenItCannotStart) {
    const struct {
        const char* name;
        Operation failing;
    } cases[] = {{"subscribe", Operation::Subscribe},
                 {"publish an integer", Operation::PublishInt},
                 {"publish a string, integers published", Operation::PublishString},
                 {"publish a hash array, the rest published", Operation::PublishHashArray}};
    panel.reset();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bus.failNext(c.failing, ZUMI_ERR_FAILED);
        EXPECT_THROW(start(), ZumiException);
        ASSERT_TRUE(bus.runUntilIdle());
        EXPECT_TRUE(bus.leaks().none()) << bus.leaks().text();
        int ignored;
        EXPECT_EQ(ZUMI_ERR_NO_SUCH_PROPERTY, bus.getPublished(PANEL, "brightness", &ignored));
        EXPECT_FALSE(bus.isSubscribed(MEMORY, VimoMemoryEventListener::EVENT_SYSTEM_MEMORY_LOW));
    }
}

TEST_F(APanel, ClosesWhenKillIsWritten) {
    ASSERT_EQ(ZUMI_OK, bus.setPublished(PANEL, "kill", 1));
    bool timedOut = false;
    guint deadline = g_timeout_add_seconds(10, [](gpointer flag) {
        *static_cast<bool*>(flag) = true;
        gtk_main_quit();
        return G_SOURCE_REMOVE;
    }, &timedOut);
    // gtk_main gives up the GDK lock while it waits, so it is entered holding it.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_threads_enter();
    gtk_main();
    gdk_threads_leave();
    G_GNUC_END_IGNORE_DEPRECATIONS
    ASSERT_FALSE(timedOut) << "the panel did not quit its main loop";
    g_source_remove(deadline);
    EXPECT_EQ("closing on request", read("status"));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    // As the panel's own main(): the bridges read widgets under the GDK lock.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_threads_init();
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_haveDisplay = gtk_init_check(&argc, &argv);
    g_log_set_writer_func(recordWarning, nullptr, nullptr);
    return RUN_ALL_TESTS();
}
