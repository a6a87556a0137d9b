// The zumi command run in-process against the test double: exit statuses,
// exact stdout/stderr texts, and that every array and string the bus hands
// out is released.

#include <atomic>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include <zumi/zumi.h>

#include "BusExtras.h"
#include "Commands.h"
#include "EventLine.h"
#include "ZumiTest.h"

namespace zumi {
namespace tool {
namespace {

using veltra::kesh::zumi::SystemEventDataList;
using veltra::kesh::zumi::SystemEventListener;
using veltra::kesh::zumi::ZumiHandler;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

const char* const PANEL = "com.example.panel";

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

template <typename T>
class StoredPublisher : public ZumiHandler::ZumiPropertyPublisher<T> {
public:
    StoredPublisher(T value, bool writable) : m_value(value), m_writable(writable) {}
    void getValue(const char*, T* value) override { *value = m_value; }
    void setValue(const char*, T value) override { m_value = value; }
    bool isReadable(const char*) const override { return true; }
    bool isWritable(const char*) const override { return m_writable; }
    T m_value;
    bool m_writable;
};

class StringPublisher : public ZumiHandler::ZumiPropertyPublisher<const char*> {
public:
    explicit StringPublisher(std::string value) : m_value(std::move(value)) {}
    void getValue(const char*, const char** value) override { *value = m_value.c_str(); }
    void setValue(const char*, const char* value) override { m_value = value; }
    bool isReadable(const char*) const override { return true; }
    bool isWritable(const char*) const override { return true; }
    std::string m_value;
};

class AZumiCommand : public zumi::testing::ZumiTest {
protected:
    Outcome run(const std::vector<std::string>& argv) {
        std::ostringstream out, err;
        int status = runTool(argv, out, err);
        return {status, out.str(), err.str()};
    }

    // The command refused: status 1, nothing on stdout, the message on stderr.
    void expectRefused(const std::vector<std::string>& argv, const std::string& message) {
        Outcome outcome = run(argv);
        EXPECT_EQ(1, outcome.status) << message;
        EXPECT_EQ("", outcome.out) << message;
        EXPECT_EQ(message + "\n", outcome.err);
    }

    // A service in this process with an int, a read-only string and a hash
    // array property, as the double routes requests to its own connections.
    void publishPanel() {
        m_panel = ZumiHandlerFactory::getZumiHandler(PANEL);
        m_brightness = std::make_shared<StoredPublisher<int>>(42, true);
        m_title = std::make_shared<StringPublisher>("Hello \"panel\"");
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>> b = m_brightness;
        std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<const char*>> t = m_title;
        m_panel->publishIntegerProperty("brightness", b);
        m_panel->publishStringProperty("title", t);
    }

    void TearDown() override {
        m_panel.reset();
        EXPECT_EQ(0u, bus().liveArrays());
        EXPECT_EQ(0u, bus().liveStrings());
        EXPECT_EQ(0u, bus().invalidFrees());
        zumi::testing::ZumiTest::TearDown();
    }

    ZumiHandlerSharedPtr m_panel;
    std::shared_ptr<StoredPublisher<int>> m_brightness;
    std::shared_ptr<StringPublisher> m_title;
};

TEST_F(AZumiCommand, ReadsAndWritesPropertiesOfTheTypeTheServiceLists) {
    publishPanel();
    EXPECT_EQ("42\n", run({"get", PANEL, "brightness"}).out);
    EXPECT_EQ("Hello \"panel\"\n", run({"get", PANEL, "title"}).out);

    Outcome set = run({"set", PANEL, "brightness", "-7"});
    EXPECT_EQ(0, set.status);
    EXPECT_EQ("", set.out + set.err);
    EXPECT_EQ(-7, m_brightness->m_value);
    EXPECT_EQ(0, run({"set", "--string", PANEL, "title", "-a b-"}).status);
    EXPECT_EQ("-a b-", m_title->m_value);
    EXPECT_EQ("-a b-\n", run({"get", "--string", PANEL, "title"}).out);
}

TEST_F(AZumiCommand, RefusesAPropertyTheServiceDoesNotListInTheLibrarysWords) {
    publishPanel();
    expectRefused({"get", PANEL, "volume"},
                  "Could not retrieve the request property. --source: com.example.panel --property: "
                  "volume --errorCode: 8 --error: The service publishes no such property");
    expectRefused({"set", PANEL, "volume", "3"},
                  "Could not set the request property. --source: com.example.panel --property: "
                  "volume --errorCode: 8 --error: The service publishes no such property");
    expectRefused({"list", "com.example.absent"},
                  "Could not list the properties. --source: com.example.absent --errorCode: 5 "
                  "--error: No service owns that identifier");
}

TEST_F(AZumiCommand, PassesTheHandlersExceptionTextThroughUnchanged) {
    bus().failNext("ZumiGetIntProperty", ZUMI_ERR_TIMEOUT);
    expectRefused({"get", "--int", "com.example.slow", "level"},
                  "Could not retrieve the request property. --source: com.example.slow --property: "
                  "level --errorCode: 6 --error: The service did not answer in time");
    bus().failNext("ZumiSetIntProperty", ZUMI_ERR_ACCESS_DENIED);
    expectRefused({"set", "--int", "com.example.slow", "level", "-1"},
                  "Could not set the request property. --source: com.example.slow --property: level "
                  "--value: -1 --errorCode: 9 --error: The property does not allow this access");
}

TEST_F(AZumiCommand, AnswersEveryUsageMistakeWithOneLineStatusTwoAndNoBusCall) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "zumi: missing COMMAND (see zumi --help)"},
        {{"frob"}, "zumi: unknown command 'frob' (see zumi --help)"},
        {{"get", "svc"}, "zumi get: missing PROPERTY (see zumi get --help)"},
        {{"get", "--int", "--hash", "s", "p"},
         "zumi get: give at most one of --int, --string, --hash (see zumi get --help)"},
        {{"get", "--bogus", "s", "p"}, "zumi get: unknown option --bogus (see zumi get --help)"},
        {{"set", "--int", "s", "p", "ten"},
         "zumi set: VALUE must be an integer, not 'ten' (see zumi set --help)"},
        {{"set", "--hash", "s", "p", "[{\"a\": 1.5}]"},
         "zumi set: invalid hash array JSON: only integers fit a hash value at offset 7"},
        {{"set", "s", "p"}, "zumi set: missing VALUE (see zumi set --help)"},
        {{"send"}, "zumi send: missing EVENT (see zumi send --help)"},
        {{"send", "ev", "--int", "x"},
         "zumi send: --int must be an integer, not 'x' (see zumi send --help)"},
        {{"send", "--as=", "ev"}, "zumi send: --as needs a service name (see zumi send --help)"},
        {{"wait", "--count", "0", "s", "e"},
         "zumi wait: --count must be at least 1 (see zumi wait --help)"},
        {{"wait", "--timeout", "soon", "s", "e"},
         "zumi wait: --timeout must be a number of seconds, not 'soon' (see zumi wait --help)"},
        {{"wait", "s"}, "zumi wait: missing EVENT (see zumi wait --help)"},
        {{"wait", "--timeout", "5000000", "s", "e"},
         "zumi wait: --timeout is at most 2592000 seconds (30 days) (see zumi wait --help)"},
        {{"list", "a", "b"}, "zumi list: unexpected argument 'b' (see zumi list --help)"},
    };
    for (const auto& c : cases) {
        Outcome outcome = run(c.first);
        EXPECT_EQ(2, outcome.status) << c.second;
        EXPECT_EQ(c.second + "\n", outcome.err);
        EXPECT_EQ("", outcome.out) << c.second;
    }
    EXPECT_EQ(0u, bus().count("ZumiOpenEx"));
}

TEST_F(AZumiCommand, PrintsHelpForTheCommandAndEverySubcommandWithoutTouchingTheBus) {
    Outcome top = run({"--help"});
    EXPECT_EQ(0, top.status);
    for (const char* name : {"list", "get", "set", "send", "wait"}) {
        EXPECT_NE(std::string::npos, top.out.find(std::string("\n  ") + name + " ")) << name;
        Outcome help = run({name, "svc", "--help"});
        EXPECT_EQ(0, help.status);
        EXPECT_EQ(0u, help.out.find(std::string("Usage: zumi ") + name + " ")) << help.out;
        EXPECT_EQ("", help.err);
    }
    EXPECT_EQ(0u, bus().count("ZumiOpenEx"));
}

TEST_F(AZumiCommand, SendsAHashArrayAsJsonAndPrintsTheReplyReleasingBothArrays) {
    HashList received;
    bus().hooks.accessHasharrayProperty = [&](ZumiHandle handle, const char*, const char*,
                                              ZumiHasharrayHandleStruct* input,
                                              ZumiHasharrayHandleStruct** reply) {
        received = readHashArray(input);
        *reply = buildHashArray(handle, {{{"ok", HashValue::ofInt(1)},
                                          {"said", HashValue::ofString("thanks \"you\"")}}})
                     .release();
        return ZumiStatus(ZUMI_OK);
    };
    Outcome set = run({"set", "--hash", PANEL, "items",
                       "[{\"id\": -3, \"name\": \"caf\\u00e9\"}, {}]"});
    EXPECT_EQ(0, set.status) << set.err;
    EXPECT_EQ("[{\"ok\": 1, \"said\": \"thanks \\\"you\\\"\"}]\n", set.out);
    ASSERT_EQ(2u, received.size());
    EXPECT_EQ(HashValue::ofInt(-3), received[0].at("id"));
    EXPECT_EQ(HashValue::ofString("caf\xC3\xA9"), received[0].at("name"));
    EXPECT_TRUE(received[1].empty());
}

TEST_F(AZumiCommand, ReleasesTheReplyOfARefusedHashArrayAccess) {
    bus().hooks.accessHasharrayProperty = [&](ZumiHandle handle, const char*, const char*,
                                              ZumiHasharrayHandleStruct*,
                                              ZumiHasharrayHandleStruct** reply) {
        *reply = buildHashArray(handle, {{}}).release();
        return ZumiStatus(ZUMI_ERR_SERVICE_FAILED);
    };
    expectRefused({"set", "--hash", PANEL, "items", "[]"},
                  "Could not set the request property. --source: com.example.panel --property: items "
                  "--errorCode: 258 --error: The service failed to serve the request");
    Outcome get = run({"get", "--hash", PANEL, "items"});
    EXPECT_EQ(1, get.status);
    EXPECT_EQ(0u, get.err.find("Could not retrieve the request property."));
}

class RecordingListener : public SystemEventListener {
public:
    void onEvent(const char* source, const char* event, const SystemEventDataList& data) override {
        lines.push_back(formatEvent(source, event, data));
    }
    std::vector<std::string> lines;
};

TEST_F(AZumiCommand, SendsEventsWithAndWithoutParametersUnderTheGivenName) {
    ZumiHandlerSharedPtr watcher = ZumiHandlerFactory::getZumiHandler("com.example.watcher");
    RecordingListener listener;
    watcher->subscribe("com.example.sender", "ev", &listener);

    EXPECT_EQ(0, run({"send", "--as", "com.example.sender", "ev"}).status);
    Outcome send = run({"send", "--as", "com.example.sender", "ev", "--int", "7", "--string", "a",
                        "--int", "2", "--string", "b \"c\""});
    EXPECT_EQ(0, send.status) << send.err;
    EXPECT_EQ("", send.out + send.err);
    ASSERT_TRUE(zumi::testing::runMainLoopUntil([&] { return listener.lines.size() == 2; }));
    EXPECT_EQ("com.example.sender ev", listener.lines[0]);
    EXPECT_EQ("com.example.sender ev 7 2 \"a\" \"b \\\"c\\\"\"", listener.lines[1]);
    EXPECT_EQ(1u, bus().count("ZumiCreateAndSendEvent"));
    EXPECT_EQ(1u, bus().count("ZumiSendEventWithParams"));
    watcher->unsubscribe("com.example.sender", "ev", &listener);
}

TEST_F(AZumiCommand, RefusedEventsReportTheEventName) {
    bus().failNext("ZumiSendEventWithParams", ZUMI_ERR_DISCONNECTED);
    expectRefused({"send", "ev", "--int", "1"},
                  "Could not send event. --event: ev --errorCode: 11 --error: The connection is "
                  "closed");
}

TEST_F(AZumiCommand, WaitPrintsEachEventInOrderAndStopsAtTheCount) {
    std::thread sender([this] {
        if (!zumi::testing::waitUntil([this] { return bus().count("ZumiSubscribeExt") == 1; })) {
            return;
        }
        bus().emit("com.example.sender", "ev", {5});
        bus().emit("com.example.sender", "ev", {-1, 1}, {"line\nbreak"});
    });
    Outcome wait = run({"wait", "--count", "2", "--timeout", "20", "com.example.sender", "ev"});
    sender.join();
    EXPECT_EQ(0, wait.status) << wait.err;
    EXPECT_EQ("com.example.sender ev 5\ncom.example.sender ev -1 1 \"line\\nbreak\"\n", wait.out);
    EXPECT_EQ(1u, bus().count("ZumiUnsubscribeExt"));
}

TEST_F(AZumiCommand, WaitGivesUpAfterTheTimeoutWithStatusOne) {
    expectRefused({"wait", "--timeout", "0.05", "com.example.sender", "ev"}, "timed out");
    EXPECT_EQ(1u, bus().count("ZumiUnsubscribeExt"));
}

TEST_F(AZumiCommand, ListsServicesAndAlignsOneServicesProperties) {
    publishPanel();
    std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>> readOnly =
        std::make_shared<StoredPublisher<int>>(1, false);
    m_panel->publishIntegerProperty("a", readOnly);
    ZumiHandlerSharedPtr other = ZumiHandlerFactory::getZumiHandler("com.example.other");
    EXPECT_EQ("com.example.other\ncom.example.panel\n", run({"list"}).out);
    EXPECT_EQ("a           int     read-only\n"
              "brightness  int     read-write\n"
              "title       string  read-write\n",
              run({"list", PANEL}).out);
}

}  // namespace
}  // namespace tool
}  // namespace zumi
