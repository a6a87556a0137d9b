// A service that no process owns but that has a D-Bus service file is
// started by the daemon on the first call to it, and that call is answered
// by it: the zumi command's, a synchronous and an asynchronous one. The
// example settings service is the one started, on a private daemon of this
// test with a service directory of its own.

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

namespace fs = std::filesystem;

const char* const kSettings = "com.tessal.example.settings";

class AnActivatableService : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zumi-activation-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
        fs::create_directories(dir + "/services");
        std::ofstream(dir + "/services/" + kSettings + ".service")
            << "[D-BUS Service]\nName=" << kSettings << "\nExec=" ZUMI_EXAMPLE_SETTINGS "\n";
        std::ofstream(dir + "/bus.conf")
            << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
               "<servicedir>" << dir << "/services</servicedir>"
               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
               "<allow own=\"*\"/></policy>"
               "</busconfig>\n";
        address = "unix:abstract=" + dir;
        // What the daemon starts inherits its environment, and so this bus.
        setenv("ZUMI_BUS_ADDRESS", address.c_str(), 1);
        daemon = std::make_unique<Process>(std::vector<std::string>{
            "dbus-daemon", "--config-file=" + dir + "/bus.conf", "--address=" + address, "--nofork", "--nopidfile",
            "--print-address=1"});
        std::string printed;
        ASSERT_TRUE(daemon->nextLine(&printed, deadlineIn(kPatience))) << "dbus-daemon printed no address";
        client = openOrFail("");
        ASSERT_GE(sd_bus_new(&raw), 0);
        ASSERT_GE(sd_bus_set_address(raw, address.c_str()), 0);
        ASSERT_GE(sd_bus_set_bus_client(raw, 1), 0);
        ASSERT_GE(sd_bus_start(raw), 0);
    }
    void TearDown() override {
        stopSettings();
        if (client != nullptr) ZumiClose(client);
        if (raw != nullptr) sd_bus_flush_close_unref(raw);
        daemon.reset();
        setenv("ZUMI_BUS_ADDRESS", busAddress().c_str(), 1);
        fs::remove_all(dir);
    }

    // The process serving the settings, or 0.
    pid_t settingsPid() {
        uint32_t pid = 0;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(raw, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "GetConnectionUnixProcessID", nullptr, &reply, "s", kSettings) >= 0) {
            sd_bus_message_read(reply, "u", &pid);
        }
        sd_bus_message_unref(reply);
        return static_cast<pid_t>(pid);
    }
    // Ends the started service, so that the next call must start it again.
    void stopSettings() {
        const pid_t pid = settingsPid();
        if (pid == 0) return;
        kill(pid, SIGTERM);
        EXPECT_TRUE(waitFor([&] { return settingsPid() == 0; })) << "the settings service did not end";
    }

    std::string dir, address;
    std::unique_ptr<Process> daemon;
    ZumiHandle client = nullptr;
    sd_bus* raw = nullptr;
};

TEST_F(AnActivatableService, IsStartedByTheFirstCallOfEachFormWhichItAnswers) {
    Outcome listed = zumi({"list"});
    EXPECT_EQ(std::string(kSettings) + " (activatable)\n", listed.out) << listed.err;
    EXPECT_EQ(0, settingsPid());
    Outcome got = zumi({"get", kSettings, "volume"});
    EXPECT_EQ("3\n", got.out) << got.err;
    EXPECT_EQ(std::string(kSettings) + "\n", zumi({"list"}).out) << "running, so not marked";
    stopSettings();

    int value = -1;
    EXPECT_EQ(0u, ZumiGetIntProperty(client, kSettings, "volume", &value));
    EXPECT_EQ(3, value);
    stopSettings();

    std::promise<std::pair<ZumiStatus, int>> answered;
    ZumiCallId id = 0;
    auto done = [](const ZumiCallResult* result, void* data) {
        static_cast<std::promise<std::pair<ZumiStatus, int>>*>(data)->set_value({result->status, result->intValue});
    };
    ASSERT_EQ(0u, ZumiGetIntPropertyAsync(client, kSettings, "volume", 0, done, &answered, &id));
    std::future<std::pair<ZumiStatus, int>> answer = answered.get_future();
    ASSERT_EQ(std::future_status::ready, answer.wait_for(kPatience));
    EXPECT_EQ(std::make_pair(0u, 3), answer.get());

    EXPECT_EQ(ZUMI_ERR_NO_SERVICE, ZumiGetIntProperty(client, "com.tessal.example.absent", "volume", &value))
        << "a name without a service file still has no service";
}

}  // namespace
}  // namespace zumi::testing
