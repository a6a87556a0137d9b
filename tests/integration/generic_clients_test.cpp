// Our services as a client of any D-Bus binding sees them: busctl, gdbus and
// a Python program over GLib's bindings introspect the object, read and write
// its properties through org.freedesktop.DBus.Properties, read an event's
// parameters and send a hash array, with nothing of our library.

#include <stdlib.h>

#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "BusFixture.h"

namespace zumi::testing {
namespace {

const char* const kPath = "/com/tessal/zumi";
const char* const kInterface = "com.tessal.Zumi";

std::string address() { return getenv("ZUMI_BUS_ADDRESS"); }

// Runs of blanks as one, so that busctl's columns compare as words.
std::string squeezed(const std::string& text) { return std::regex_replace(text, std::regex(" +"), " "); }

class AGenericClient : public PeerServiceTest {
protected:
    void SetUp() override {
        PeerServiceTest::SetUp();
        peer.requestAll({"int level 5 rw", "str name h\xc3\xa9llo rw", "int ro 1 r", "int wo 2 w", "hash echo 0",
                         "int failing 0 rw 258"});
    }
    Outcome gdbusCall(const std::string& method, std::vector<std::string> args) {
        return testing::gdbusCall(service, method, std::move(args));
    }
};

TEST_F(AGenericClient, IntrospectsTheInterfacesMethodsEventAndThePropertiesPublishedNow) {
    Outcome table = busctl({"introspect", service, kPath});
    ASSERT_EQ(0, table.status) << table.err;
    const std::string rows = squeezed(table.out);
    for (const char* row : {".AccessHash method sbaa{sv} ubaa{sv} -\n", ".Event signal ssaias - -\n",
                            ".level property i 5 writable\n", ".name property s \"h\\303\\251llo\" writable\n",
                            ".ro property i 1 -\n", ".wo property i - writable\n", ".failing property i - writable\n",
                            "org.freedesktop.DBus.Properties interface - - -\n", ".Ping method - - -\n"}) {
        EXPECT_NE(std::string::npos, rows.find(row)) << row << "\nin:\n" << table.out;
    }
    EXPECT_EQ(std::string::npos, rows.find(".echo ")) << "a hash array is no D-Bus property";

    ASSERT_EQ("0", peer.request("str late now r"));
    Outcome tree = runToEnd({"gdbus", "introspect", "--address", address(), "--dest", service, "--object-path", kPath});
    ASSERT_EQ(0, tree.status) << tree.err;
    for (const char* line : {"readwrite i level = 5;", "readwrite s name = 'h\xc3\xa9llo';", "readonly i ro = 1;",
                             "writeonly i wo;", "readonly s late = 'now';",
                             "@com.tessal.Zumi.HashArrayProperty(\"readwrite echo\")",
                             "Event(s source,", "interface org.freedesktop.DBus.Peer"}) {
        EXPECT_NE(std::string::npos, tree.out.find(line)) << line << "\nin:\n" << tree.out;
    }
}

// What one access answered: the value, or the refusal as our status's text
// (ours) or the D-Bus error's message (Properties).
struct Answer {
    std::string value, refusal, errorName;
    bool operator==(const Answer& o) const { return value == o.value && refusal == o.refusal; }
};
std::ostream& operator<<(std::ostream& out, const Answer& a) {
    return out << "[" << a.value << "|" << a.refusal << "|" << a.errorName << "]";
}

Answer ours(ZumiHandle client, const std::string& service, const char* property, char type, const char* value) {
    Answer answer;
    ZumiStatus status = 0;
    if (type == 'i' && value == nullptr) {
        int number = 0;
        status = ZumiGetIntProperty(client, service.c_str(), property, &number);
        if (status == 0) answer.value = std::to_string(number);
    } else if (type == 'i') {
        status = ZumiSetIntProperty(client, service.c_str(), property, atoi(value));
    } else if (value == nullptr) {
        char* text = nullptr;
        status = ZumiGetStringProperty(client, service.c_str(), property, &text);
        if (status == 0) answer.value = text;
        ZumiFreeString(text);
    } else {
        status = ZumiSetStringProperty(client, service.c_str(), property, value);
    }
    if (status != 0) answer.refusal = ZumiGetErrorString(status);
    return answer;
}

Answer standard(sd_bus* bus, const std::string& service, const char* property, char type, const char* value) {
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const char* properties = "org.freedesktop.DBus.Properties";
    int r = value == nullptr ? sd_bus_call_method(bus, service.c_str(), kPath, properties, "Get", &error, &reply,
                                                  "ss", kInterface, property)
            : type == 'i'    ? sd_bus_call_method(bus, service.c_str(), kPath, properties, "Set", &error, &reply,
                                                  "ssv", kInterface, property, "i", atoi(value))
                             : sd_bus_call_method(bus, service.c_str(), kPath, properties, "Set", &error, &reply,
                                                  "ssv", kInterface, property, "s", value);
    Answer answer;
    if (r < 0) {
        answer.refusal = error.message != nullptr ? error.message : "";
        answer.errorName = error.name != nullptr ? error.name : "";
    } else if (value == nullptr) {
        int number = 0;
        const char* text = nullptr;
        if (type == 'i' && sd_bus_message_read(reply, "v", "i", &number) >= 0) answer.value = std::to_string(number);
        if (type == 's' && sd_bus_message_read(reply, "v", "s", &text) >= 0) answer.value = text;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return answer;
}

TEST_F(AGenericClient, GetsTheSameValueOrRefusalThroughPropertiesAsThroughOurCalls) {
    const std::string unknown = "org.freedesktop.DBus.Error.UnknownProperty",
                      readOnly = "org.freedesktop.DBus.Error.PropertyReadOnly",
                      denied = "org.freedesktop.DBus.Error.AccessDenied", failed = "org.freedesktop.DBus.Error.Failed";
    // Each row is done through our call, then through Properties (a set with
    // another value), and read back through the other path when it is a set.
    const struct {
        const char* property;
        char type;
        const char* value;  // null: a read
        const char* other;
        std::string errorName;  // of the refusal, "" when it succeeds
    } rows[] = {
        {"level", 'i', nullptr, nullptr, ""},       {"level", 'i', "8", "-9", ""},
        {"name", 's', nullptr, nullptr, ""},        {"name", 's', "one", "tw\xc3\xb6", ""},
        {"ro", 'i', nullptr, nullptr, ""},          {"ro", 'i', "2", "3", readOnly},
        {"wo", 'i', nullptr, nullptr, denied},      {"wo", 'i', "4", "5", ""},
        {"missing", 'i', nullptr, nullptr, unknown}, {"missing", 's', "x", "y", unknown},
        {"failing", 'i', nullptr, nullptr, failed}, {"failing", 'i', "1", "2", failed},
    };
    sd_bus* bus = openRawBus();
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.property) + (row.value ? " set" : " get"));
        const Answer mine = ours(client, service, row.property, row.type, row.value);
        const Answer theirs = standard(bus, service, row.property, row.type, row.other ? row.other : row.value);
        EXPECT_EQ(mine, theirs);
        EXPECT_EQ(row.errorName, theirs.errorName);
        if (row.value != nullptr && row.errorName.empty() && row.property != std::string("wo")) {
            // Each path's write is what the other reads.
            EXPECT_EQ(row.other, standard(bus, service, row.property, row.type, nullptr).value);
            EXPECT_EQ(row.other, ours(client, service, row.property, row.type, nullptr).value);
        }
    }
    // A variant of the other type, or of neither, is the client's mistake.
    EXPECT_EQ("org.freedesktop.DBus.Error.InvalidArgs", standard(bus, service, "level", 's', "7").errorName);
    EXPECT_EQ("org.freedesktop.DBus.Error.InvalidArgs", standard(bus, service, "name", 'i', "7").errorName);
    sd_bus_flush_close_unref(bus);
}

TEST_F(AGenericClient, ReadsWritesAndCallsWithBusctl) {
    Outcome got = busctl({"get-property", service, kPath, kInterface, "name"});
    EXPECT_EQ("s \"h\\303\\251llo\"\n", got.out) << got.err;
    EXPECT_EQ(0, busctl({"set-property", service, kPath, kInterface, "level", "i", "12"}).status);
    int level = 0;
    EXPECT_EQ(0u, ZumiGetIntProperty(client, service.c_str(), "level", &level));
    EXPECT_EQ(12, level);
    EXPECT_EQ("i 12\n", busctl({"get-property", service, kPath, kInterface, "level"}).out);
    EXPECT_EQ("ui 0 12\n", busctl({"call", service, kPath, kInterface, "GetInt", "s", "level"}).out);
    Outcome refused = busctl({"set-property", service, kPath, kInterface, "ro", "i", "3"});
    EXPECT_NE(0, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find(ZumiGetErrorString(ZUMI_ERR_ACCESS_DENIED))) << refused.err;
}

TEST_F(AGenericClient, GetsSetsAndGetsAllThroughTheStandardPropertiesInterfaceWithGdbus) {
    EXPECT_EQ("(<5>,)\n", gdbusCall("org.freedesktop.DBus.Properties.Get", {kInterface, "level"}).out);
    EXPECT_EQ("()\n", gdbusCall("org.freedesktop.DBus.Properties.Set", {kInterface, "name", "<'w\xc3\xb6rld'>"}).out);
    // Only what can be read; the failing one's refusal leaves it out.
    EXPECT_EQ("({'level': <5>, 'name': <'w\xc3\xb6rld'>, 'ro': <1>},)\n",
              gdbusCall("org.freedesktop.DBus.Properties.GetAll", {kInterface}).out);
    Outcome refused = gdbusCall("org.freedesktop.DBus.Properties.Get", {kInterface, "wo"});
    EXPECT_NE(std::string::npos,
              refused.err.find("org.freedesktop.DBus.Error.AccessDenied: The property does not allow this access"))
        << refused.err;
    refused = gdbusCall("org.freedesktop.DBus.Properties.Set", {kInterface, "level", "<true>"});
    EXPECT_NE(std::string::npos, refused.err.find("org.freedesktop.DBus.Error.InvalidArgs")) << refused.err;
}

TEST_F(AGenericClient, SeesAnEventsIntegersAndStringsInGdbusMonitor) {
    Process monitor({"gdbus", "monitor", "--address", address(), "--dest", service});
    std::string line;
    // It names the owner once it has subscribed.
    while (monitor.nextLine(&line, deadlineIn(kPatience)) && line.find("is owned by") == std::string::npos) {
    }
    ASSERT_NE(std::string::npos, line.find("is owned by")) << line;
    // Its signal match may reach the daemon after that line: the event is
    // sent again until one shows.
    const Deadline deadline = deadlineIn(kPatience);
    bool shown = false;
    while (!shown && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ("0", peer.request("emit changed i:2 i:-7 s:alpha s:b\xc3\xa9ta"));
        shown = monitor.nextLine(&line, deadlineIn(std::chrono::milliseconds(200)));
    }
    ASSERT_TRUE(shown);
    EXPECT_EQ(std::string(kPath) + ": com.tessal.Zumi.Event ('" + service +
                  "', 'changed', [2, -7], ['alpha', 'b\xc3\xa9ta'])",
              line);
}

TEST_F(AGenericClient, InPythonReadsWritesReceivesAnEventAndSendsAHashArrayThePublisherGetsIntact) {
    Process python({ZUMI_PYTHON, ZUMI_GENERIC_CLIENT, address(), service});
    std::string line;
    ASSERT_TRUE(python.nextLine(&line, deadlineIn(kPatience)));
    EXPECT_EQ("\"get\" 5", line);
    ASSERT_TRUE(python.nextLine(&line, deadlineIn(kPatience)));
    EXPECT_EQ("\"all\" {\"level\": 11, \"name\": \"h\xc3\xa9llo\", \"ro\": 1}", line);
    ASSERT_TRUE(python.nextLine(&line, deadlineIn(kPatience)));
    ASSERT_EQ("\"ready\"", line);
    ASSERT_EQ("0", peer.request("emit changed i:2 i:-7 s:alpha"));
    ASSERT_TRUE(python.nextLine(&line, deadlineIn(kPatience)));
    EXPECT_EQ("\"event\" \"" + service + "\" \"changed\" [2, -7] [\"alpha\"]", line);
    ASSERT_TRUE(python.nextLine(&line, deadlineIn(kPatience)));
    // The publisher's answer: each hash as it arrived (its integer and text),
    // then how many hashes came.
    EXPECT_EQ("\"hash\" [0, true, [{\"number\": -3, \"text\": \"h\xc3\xa9llo w\xc3\xb6rld\"}, {}, {\"sent\": 2}]]", line);
    std::string err;
    EXPECT_EQ(0, python.finish(nullptr, &err)) << err;
    int level = 0;
    EXPECT_EQ(0u, ZumiGetIntProperty(client, service.c_str(), "level", &level));
    EXPECT_EQ(11, level);
}

}  // namespace
}  // namespace zumi::testing
