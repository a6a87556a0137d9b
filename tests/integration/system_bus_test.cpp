// The services on a system-type bus, which denies by default as Debian's
// system.conf does, with the base policy that is installed and a snippet
// printed by `zumi policy`, between processes of different users: the owner
// serves; another user reads but cannot write, own the name, send its events
// or monitor; a writers' group member writes; a readers' group limits reads;
// a hostile raw client run as another user changes nothing; a generic client
// meets the same rules through the standard interfaces.
//
// The users are those every Debian system has (base-passwd): daemon owns
// the service, games (group games) writes, nobody is anyone else. Nothing
// is created or changed on the machine: the policy names them, and the
// processes run as them through setpriv. That takes root (CI runs as
// root); elsewhere the tests skip. The daemon names users and groups by
// name only, so numeric ids would not do.

#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BusFixture.h"
#include "RawClient.h"

namespace zumi::testing {
namespace {

namespace fs = std::filesystem;

const char* const kOwner = "daemon";
const char* const kWriter = "games";  // and its group
const char* const kOther = "nobody";
const char* const kPath = "/com/tessal/zumi";
const char* const kInterface = "com.tessal.Zumi";
const char* const kRejected = "org.freedesktop.DBus.Error.AccessDenied: Rejected send message";

// As much of Debian's system.conf as decides who may do what, then the base
// policy (where packages put theirs) and the services' own (where an
// administrator puts them), in that order.
const char* const kSystemConf = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <auth>EXTERNAL</auth>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
    <deny send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"
          send_member="UpdateActivationEnvironment"/>
  </policy>
  <policy user="root">
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Monitoring"/>
  </policy>
  <includedir>@DIR@/share/system.d</includedir>
  <includedir>@DIR@/etc/system.d</includedir>
</busconfig>
)";

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

class OnASystemBus : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "runs processes as other users (setpriv), which takes root";
        for (const char* user : {kOwner, kWriter, kOther}) {
            if (getpwnam(user) == nullptr) GTEST_SKIP() << "no user " << user << " on this machine";
        }
        char pattern[] = "/tmp/zumi-system-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
        // The binaries where every user may run them: the build tree may be
        // in a home directory that others cannot enter.
        chmod(dir.c_str(), 0755);
        for (const char* file : {ZUMI_TEST_SERVICE, ZUMI_COMMAND}) {
            fs::copy_file(file, dir + "/" + fs::path(file).filename().string());
        }
        fs::copy_file(ZUMI_LIBZUMI, dir + "/" ZUMI_LIBZUMI_SONAME);
        fs::copy_file(ZUMI_LIBBRAMWICKZUMI, dir + "/" ZUMI_LIBBRAMWICKZUMI_SONAME);
        fs::create_directories(dir + "/share/system.d");
        fs::create_directories(dir + "/etc/system.d");
        fs::copy_file(ZUMI_BASE_POLICY, dir + "/share/system.d/com.tessal.zumi.conf");
        std::string conf = kSystemConf;
        for (size_t at; (at = conf.find("@DIR@")) != std::string::npos;) conf.replace(at, 5, dir);
        writeFile(dir + "/system.conf", conf);
        install(service, {"--owner", kOwner, "--writer", kWriter});
        install(limited, {"--owner", kOwner, "--reader", kWriter});

        address = "unix:abstract=" + dir;
        daemon = std::make_unique<Process>(std::vector<std::string>{
            "dbus-daemon", "--config-file=" + dir + "/system.conf", "--address=" + address, "--nofork",
            "--nopidfile", "--print-address=1"});
        std::string printed;
        ASSERT_TRUE(daemon->nextLine(&printed, deadlineIn(kPatience))) << "dbus-daemon printed no address";
        env = {"ZUMI_BUS_ADDRESS=" + address, "LD_LIBRARY_PATH=" + dir};
    }
    void TearDown() override {
        peers.clear();
        daemon.reset();
        if (!dir.empty()) fs::remove_all(dir);
    }

    // The policy of `name` as `zumi policy` prints it, where the bus reads it.
    void install(const std::string& name, std::vector<std::string> options) {
        options.insert(options.begin(), {dir + "/zumi", "policy", name});
        Outcome printed = runToEnd(options, {"LD_LIBRARY_PATH=" + dir});
        ASSERT_EQ(0, printed.status) << printed.err;
        writeFile(dir + "/etc/system.d/" + name + ".conf", printed.out);
    }
    // The command line that runs argv as `user`, with the groups the system
    // gives that user.
    std::vector<std::string> as(const std::string& user, const std::vector<std::string>& argv) {
        const struct group* group = getgrgid(getpwnam(user.c_str())->pw_gid);
        std::vector<std::string> line = {"setpriv", "--reuid=" + user, "--regid=" + std::string(group->gr_name),
                                         "--init-groups", "--"};
        line.insert(line.end(), argv.begin(), argv.end());
        return line;
    }
    // A zumi_test_service running as `user`, on this bus.
    Peer& peerAs(const std::string& user) {
        peers.push_back(std::make_unique<Peer>(env, as(user, {dir + "/zumi_test_service"})));
        return *peers.back();
    }
    Outcome zumiAs(const std::string& user, const std::vector<std::string>& args) {
        std::vector<std::string> argv = {dir + "/zumi"};
        argv.insert(argv.end(), args.begin(), args.end());
        return runToEnd(user == "root" ? argv : as(user, argv), env);
    }
    // A method of the standard interfaces called by gdbus as `user`: a
    // generic client, which prints the bus's refusal in its own words.
    Outcome standardCall(const std::string& user, const std::string& name, const std::string& method,
                         const std::vector<std::string>& args = {}) {
        std::vector<std::string> argv = {"gdbus", "call", "--address", address, "--dest", name, "--object-path",
                                         kPath, "--method", "org.freedesktop.DBus." + method};
        argv.insert(argv.end(), args.begin(), args.end());
        return runToEnd(as(user, argv), env);
    }

    std::string dir, address;
    std::vector<std::string> env;
    std::unique_ptr<Process> daemon;
    std::vector<std::unique_ptr<Peer>> peers;
    const std::string service = "com.tessal.test.system.p" + std::to_string(getpid());
    const std::string limited = "com.tessal.test.limited.p" + std::to_string(getpid());
    const std::string refused = "--errorCode: 22 --error: The bus's policy does not allow this: ";
};

TEST_F(OnASystemBus, TheOwnerServesEveryoneReadsAndOnlyTheOwnerRootAndTheWritersGroupWrite) {
    Peer& owner = peerAs(kOwner);
    owner.requestAll({"open " + service, "int count 5 rw"});
    Peer& other = peerAs(kOther);
    ASSERT_EQ("0", other.request("open -"));
    EXPECT_EQ("0 5", other.request("getint " + service + " count"));
    EXPECT_EQ("22", other.request("setint " + service + " count 6"));
    EXPECT_NE("", other.errorLineWith("W zumi_test_service:zumi.bus:The bus's policy does not allow this: "
                                      "Rejected send message"));
    Peer& writer = peerAs(kWriter);
    ASSERT_EQ("0", writer.request("open -"));
    EXPECT_EQ("0", writer.request("setint " + service + " count 7"));
    EXPECT_EQ("0 7", other.request("getint " + service + " count"));
    EXPECT_EQ(0, zumiAs("root", {"set", service, "count", "8"}).status);

    Outcome write = zumiAs(kOther, {"set", service, "count", "9"});
    EXPECT_EQ(1, write.status);
    EXPECT_EQ(0u, write.err.find("zumi: Could not set the request property. --source: " + service +
                                 " --property: count --value: 9 " + refused + "Rejected send message"))
        << write.err;
    Outcome listed = zumiAs(kOther, {"list"});
    EXPECT_NE(std::string::npos, listed.out.find(service + "\n")) << listed.err;
    EXPECT_EQ("count  int     read-write\n", zumiAs(kOther, {"list", service}).out);
    EXPECT_EQ("8\n", zumiAs(kOther, {"get", service, "count"}).out);
}

TEST_F(OnASystemBus, AnotherUserCannotOwnTheNameNorSendItsEventsNorMonitor) {
    Peer& owner = peerAs(kOwner);
    owner.requestAll({"open " + service});
    Peer& listener = peerAs(kOther);
    listener.requestAll({"open -", "sub " + service + " forged", "sub " + service + " tick"});

    Peer& usurper = peerAs(kOther);
    EXPECT_EQ("22", usurper.request("open " + service)) << "at once, not after a timeout";
    EXPECT_NE("", usurper.errorLineWith("is not allowed to own the service \"" + service + "\""));
    Outcome send = zumiAs(kOther, {"send", "--as", service, "tick"});
    EXPECT_EQ(1, send.status);
    EXPECT_EQ(0u, send.err.find("zumi: Could not register zumi handle. " + refused)) << send.err;
    // A signal claiming to come from the service reaches no listener: its
    // sender does not own the source.
    EXPECT_EQ("0", usurper.request("forge " + service + " forged"));
    ASSERT_EQ("0", owner.request("emit tick"));
    EXPECT_EQ(service + " tick |", listener.nextEvent()) << "the forged event came first";

    Outcome monitor = zumiAs(kOther, {"monitor", "--count", "1"});
    EXPECT_EQ(1, monitor.status);
    EXPECT_EQ(0u, monitor.err.find("zumi: Could not monitor the bus. " + refused)) << monitor.err;
}

TEST_F(OnASystemBus, AHostileRawClientOfAnotherUserIsRefusedEveryWriteAndChangesNothing) {
    Peer& owner = peerAs(kOwner);
    owner.requestAll({"open " + service, "int count 5 rw", "hash echo 0"});
    // Reads pass the policy and meet the service's own checks, as on an
    // open bus; writes and unknown methods never reach the service.
    std::string expected;
    for (const RawCase& c : hostileCalls()) {
        const bool read = std::string(c.member) == "GetInt";
        const std::string error = read ? c.error : "org.freedesktop.DBus.Error.AccessDenied";
        expected += (expected.empty() ? "" : " ") + (error.empty() ? std::string("-") : error);
    }
    EXPECT_EQ(expected, peerAs(kOther).request("hostile " + service));
    EXPECT_EQ("0 5", owner.request("getint " + service + " count"));
    Peer& other = peerAs(kOther);
    ASSERT_EQ("0", other.request("open -"));
    EXPECT_EQ("0 5", other.request("getint " + service + " count")) << "the service still serves";
}

TEST_F(OnASystemBus, AnyUserIntrospectsPingsAndGetsPropertiesButOnlyTheWritersSetThem) {
    Peer& owner = peerAs(kOwner);
    owner.requestAll({"open " + service, "int count 5 rw"});
    Outcome xml = standardCall(kOther, service, "Introspectable.Introspect");
    EXPECT_NE(std::string::npos, xml.out.find("<interface name=\"com.tessal.Zumi\">")) << xml.err;
    EXPECT_EQ("()\n", standardCall(kOther, service, "Peer.Ping").out);
    EXPECT_EQ("(<5>,)\n", standardCall(kOther, service, "Properties.Get", {kInterface, "count"}).out);
    EXPECT_EQ("({'count': <5>},)\n", standardCall(kOther, service, "Properties.GetAll", {kInterface}).out);

    Outcome set = standardCall(kOther, service, "Properties.Set", {kInterface, "count", "<6>"});
    EXPECT_NE(std::string::npos, set.err.find(kRejected)) << set.out << set.err;
    EXPECT_EQ("0 5", owner.request("getint " + service + " count")) << "a refused Set reached the service";
    set = standardCall(kWriter, service, "Properties.Set", {kInterface, "count", "<7>"});
    EXPECT_EQ("()\n", set.out) << set.err;
    EXPECT_EQ("0 7", owner.request("getint " + service + " count"));
}

// Group and user policies apply after the default ones, and the services'
// own after the base policy: so the readers' groups, the owner and root
// read a service whose snippet closes reads to everyone else.
TEST_F(OnASystemBus, ReadersGroupsLimitWhoReadsTheService) {
    Peer& owner = peerAs(kOwner);
    owner.requestAll({"open " + limited, "int count 5 rw"});
    Peer& other = peerAs(kOther);
    ASSERT_EQ("0", other.request("open -"));
    EXPECT_EQ("22 -1", other.request("getint " + limited + " count"));
    Outcome listing = zumiAs(kOther, {"list", limited});
    EXPECT_EQ(1, listing.status) << "a listing is a read";
    Peer& reader = peerAs(kWriter);
    ASSERT_EQ("0", reader.request("open -"));
    EXPECT_EQ("0 5", reader.request("getint " + limited + " count"));
    EXPECT_EQ("5\n", zumiAs("root", {"get", limited, "count"}).out);
    EXPECT_EQ("22", reader.request("setint " + limited + " count 6")) << "a reader does not write";

    // Through the standard interfaces too; what any client asks of any
    // object stays open.
    Outcome get = standardCall(kOther, limited, "Properties.Get", {kInterface, "count"});
    EXPECT_NE(std::string::npos, get.err.find(kRejected)) << get.out << get.err;
    Outcome all = standardCall(kOther, limited, "Properties.GetAll", {kInterface});
    EXPECT_NE(std::string::npos, all.err.find(kRejected)) << all.out << all.err;
    EXPECT_EQ(0, standardCall(kOther, limited, "Introspectable.Introspect").status);
    EXPECT_EQ("()\n", standardCall(kOther, limited, "Peer.Ping").out);
    EXPECT_EQ("(<5>,)\n", standardCall(kWriter, limited, "Properties.Get", {kInterface, "count"}).out);
    Outcome set = standardCall(kWriter, limited, "Properties.Set", {kInterface, "count", "<6>"});
    EXPECT_NE(std::string::npos, set.err.find(kRejected)) << "a reader does not Set: " << set.out << set.err;
}

}  // namespace
}  // namespace zumi::testing
