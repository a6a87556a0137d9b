// A handler on the test double: construction, remote reads and writes with
// their messages and the string-set fallback (also asynchronous), the
// main-loop watchdog, and publishing with the five
// bus callbacks, their statuses, log lines and the publishers' lifetimes.

#include <gmock/gmock.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <glib.h>
#include <unistd.h>

#include <zumi/ZumiAsync.h>
#include <zumi/ZumiException.h>

#include "TrackedGdkLock.h"
#include "ZumiTest.h"
#include "handler/PropertyCallbacks.h"
#include "handler/VimoZumiHandler.h"

namespace zumi {
namespace testing {
namespace {

using namespace veltra::kesh::zumi;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
typedef ZumiHasharrayHandleStruct* Array;

const std::string READ_FAILED = "Could not retrieve the request property. --source: svc --property: p";
const char NIMBO[] = "com.tessal.nimbo";
const char TITLERAIL[] = "com.tessal.titlerail";

// Answers as the test scripts; notes what it is asked and when it dies.
template <typename T>
class TestPublisher : public ZumiHandler::ZumiPropertyPublisher<T> {
public:
    TestPublisher(bool readable, bool writable) : m_readable(readable), m_writable(writable) {}
    ~TestPublisher() override {
        if (onDestroy) onDestroy();
    }
    void getValue(const char* name, T* value) override { onGet(name, value); }
    void setValue(const char* name, T value) override { onSet(name, value); }
    bool isReadable(const char*) const override { return ask("isReadable", m_readable); }
    bool isWritable(const char*) const override { return ask("isWritable", m_writable); }

    std::function<void(const char*, T*)> onGet = [](const char*, T*) {};
    std::function<void(const char*, T)> onSet = [](const char*, T) {};
    std::function<void()> onDestroy;
    mutable std::vector<std::string> asked;

private:
    bool ask(const char* question, bool answer) const {
        asked.push_back(question);
        return answer;
    }
    bool m_readable, m_writable;
};

template <typename T>
std::shared_ptr<TestPublisher<T>> makePublisher(bool readable = true, bool writable = true) {
    return std::make_shared<TestPublisher<T>>(readable, writable);
}

// A handler with APP_ID fixed so that log lines compare whole; the opening of
// its connection is forgotten by the double.
class AHandler : public ZumiTest {
protected:
    void SetUp() override {
        ZumiTest::SetUp();
        setAppId("app");
        handler.reset(new VimoZumiHandler("com.app"));
        bus().reset();
    }
    void TearDown() override {
        handler.reset();
        ZumiTest::TearDown();
    }
    std::unique_ptr<VimoZumiHandler> handler;
};

// ---- Construction and remote access ----------------------------------------------

TEST(AHandlerUnderConstruction, FailsWithTheMessageAndLeavesNoConnectionOpen) {
    FakeBusCore& bus = FakeBusCore::instance();
    bus.reset();
    EXPECT_THAT([] { VimoZumiHandler handler(nullptr); },
                ThrowsMessage<std::invalid_argument>(StrEq("zumiID argument was NULL")));
    EXPECT_EQ(0u, bus.count("ZumiOpenEx"));
    // A null connection fails even with status 0; one that came with a
    // failure status is closed.
    for (ZumiStatus answer : {ZumiStatus(ZUMI_OK), ZumiStatus(ZUMI_ERR_NAME_TAKEN)}) {
        bus.hooks.openEx = [&](const char* id, ZumiStatus* status) {
            *status = answer;
            return answer == ZUMI_OK ? nullptr : bus.openConnection(id);
        };
        EXPECT_THAT([] { VimoZumiHandler handler("com.app"); },
                    ThrowsMessage<ZumiException>(
                        StrEq("Could not register zumi handle." + statusFields(answer))));
    }
    EXPECT_EQ(1u, bus.count("ZumiClose"));
    EXPECT_EQ(0u, bus.openConnections());
}

TEST_F(AHandler, CopiesAReadTextAndReleasesTheBusCopyExactlyOnceOnEveryPath) {
    bus().setRemoteString("svc", "p", "hello");
    EXPECT_EQ("hello", handler->getStringProperty("svc", "p"));

    char* answer = nullptr;
    ZumiStatus status = ZUMI_OK;
    bus().hooks.getStringProperty = [&](ZumiHandle, const char*, const char*, char** text) {
        *text = answer;
        return status;
    };
    EXPECT_EQ(READ_FAILED + statusFields(0),
              thrownMessage<ZumiException>([this] { handler->getStringProperty("svc", "p"); }));
    answer = bus().handOutString("stale");  // a text that comes with a failure
    status = ZUMI_ERR_TIMEOUT;
    EXPECT_EQ(READ_FAILED + statusFields(6),
              thrownMessage<ZumiException>([this] { handler->getStringProperty("svc", "p"); }));
    EXPECT_EQ(0u, bus().liveStrings());
    EXPECT_EQ(0u, bus().invalidFrees());
}

TEST_F(AHandler, BuildsFailureMessagesWithSignedValuesUnsignedStatusesAndNullTexts) {
    const std::string setFailed = "Could not set the request property. --source: svc --property: ";
    bus().failNext("ZumiSetIntProperty", 0xFFFFFFFFu);
    bus().failNext("ZumiCreateAndSendEvent", ZUMI_ERR_DISCONNECTED);
    const std::pair<std::string, std::function<void()>> cases[] = {
        {setFailed + "p --value: -1" + statusFields(0xFFFFFFFFu),
         [this] { handler->setIntProperty("svc", "p", -1); }},
        // The double refuses a null value with status 1.
        {setFailed + "(null) --value: (null)" + statusFields(1),
         [this] { handler->setStringProperty("svc", nullptr, nullptr); }},
        {"eventName argument was NULL", [this] { handler->sendEvent(nullptr); }},
        {"Could not send event. --event: ev" + statusFields(11), [this] { handler->sendEvent("ev"); }},
    };
    for (const auto& c : cases) EXPECT_EQ(c.first, thrownMessage(c.second));

    // A read sends no array; a reply that comes with a failure is still the caller's.
    bus().hooks.accessHasharrayProperty = [](ZumiHandle, const char*, const char*, Array sent,
                                             Array* reply) {
        *reply = ZumiHasharrayNew(nullptr);
        return ZumiStatus(sent == nullptr ? ZUMI_ERR_FAILED : ZUMI_ERR_PROTOCOL);
    };
    Array result = nullptr;
    EXPECT_THAT([&] { handler->getHashProperty("svc", "p", result); },
                ThrowsMessage<ZumiException>(StrEq(READ_FAILED + statusFields(20))));
    EXPECT_TRUE(bus().isLiveArray(result));
    ZumiHasharrayDestroy(result);
}

// A string set on nimbo that fails is tried once more on titlerail, with an
// E line on the outcome; no other service is retried.
TEST_F(AHandler, RetriesAFailedStringSetOnNimboThroughTitlerailOnly) {
    const std::string succeeded = "E app:VZH:ssp:Failed setting p for com.tessal.nimbo but "
                                  "succeeded for com.tessal.titlerail:";
    const std::string bothFailed = "E app:VZH:ssp:Failed setting p for com.tessal.nimbo as well "
                                   "as com.tessal.titlerail:";
    const struct {
        const char* service;
        std::vector<ZumiStatus> failures;
        std::vector<std::string> servicesCalled;
        ZumiStatus thrown;  // 0: no exception
        std::vector<std::string> lines;
    } cases[] = {
        {NIMBO, {5}, {NIMBO, TITLERAIL}, 0, {succeeded}},
        {NIMBO, {5, 6}, {NIMBO, TITLERAIL}, 6, {bothFailed}},
        {NIMBO, {}, {NIMBO}, 0, {}},
        {TITLERAIL, {5}, {TITLERAIL}, 5, {}},
        {"com.tessal.nimbo.extra", {5}, {"com.tessal.nimbo.extra"}, 5, {}},
    };
    // The asynchronous form, with its result on the main loop under the GDK
    // lock, behaves the same.
    ZumiHandlerSharedPtr shared(handler.get(), [](ZumiHandler*) {});
    auto asynchronous = [&](const char* service) {
        std::string seen;
        ZumiAsync::setStringProperty(shared, service, "p", "v", [&](const ZumiResult<void>& r) {
            EXPECT_TRUE(zumi::testing::gdkLockHeldByThisThread());
            seen = thrownMessage([&] { r.get(); });
        });
        EXPECT_TRUE(runMainLoopUntil([&] { return !seen.empty(); }));
        return seen;
    };
    for (bool async : {false, true}) {
        for (const auto& row : cases) {
            bus().reset();
            logs().clear();
            for (ZumiStatus status : row.failures) bus().failNext("ZumiSetStringProperty", status);
            EXPECT_EQ(row.thrown == 0 ? "<nothing thrown>"
                                      : "Could not set the request property. --source: " +
                                            std::string(row.service) + " --property: p --value: v" +
                                            statusFields(row.thrown),
                      async ? asynchronous(row.service)
                            : thrownMessage([&] { handler->setStringProperty(row.service, "p", "v"); }));
            std::vector<std::string> services;
            for (const Call& call : bus().calls("ZumiSetStringProperty")) services.push_back(call.source);
            EXPECT_EQ(row.servicesCalled, services) << row.service << (async ? " async" : "");
            EXPECT_EQ(row.lines, logs().texts()) << row.service << (async ? " async" : "");
        }
    }
}

// Only a call on the thread that owns the main context, and only one longer
// than the threshold, is reported.
TEST_F(AHandler, WarnsOnceOfASynchronousCallThatBlocksTheMainLoopLongerThanTheThreshold) {
    ZumiAsync::setMainLoopWatchdogThreshold(std::chrono::milliseconds(30));
    useconds_t delay = 60000;
    bus().hooks.getIntProperty = [&](ZumiHandle, const char*, const char*, int* value) {
        usleep(delay);
        *value = 1;
        return ZumiStatus(ZUMI_OK);
    };
    std::thread([&] { handler->getIntProperty("svc", "p"); }).join();
    ASSERT_TRUE(g_main_context_acquire(nullptr));
    handler->getIntProperty("svc", "p");
    delay = 0;
    handler->getIntProperty("svc", "p");
    g_main_context_release(nullptr);
    ZumiAsync::setMainLoopWatchdogThreshold(std::chrono::milliseconds(100));
    EXPECT_THAT(logs().texts(),
                ElementsAre(MatchesRegex("W app:ZumiHandler\\.watchdog:The main loop was blocked for "
                                         "[0-9]+ ms by a synchronous call to service svc, "
                                         "property p; use ZumiAsync there\\.:")));
}

class APublishingHandler : public AHandler {
protected:
    ZumiHandle connection() { return handler->getUnderlyingZumiHandle(); }
    void* registryOf(const char* name, int type) {
        return bus().registration(connection(), name, type).data;
    }

    void publish(const char* name, std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>> p) {
        handler->publishIntegerProperty(name, p);
    }
    void publish(const char* name,
                 std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<const char*>> p) {
        handler->publishStringProperty(name, p);
    }
    void publish(const char* name, std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<Array>> p) {
        handler->publishHasharrayProperty(name, p);
    }
};

// ---- Publish and unpublish -------------------------------------------------

// The access answers choose the callbacks offered; the questions themselves
// are part of the contract, as a publisher may answer them from state that
// asking changes or throw from one of them.
TEST_F(APublishingHandler, AsksBothAccessesOfValuesButAnArrayOnlyForWritingWhenNotReadable) {
    const std::vector<std::string> both = {"isReadable", "isWritable"};
    for (int access = 0; access < 4; ++access) {
        const bool readable = (access & 1) != 0, writable = (access & 2) != 0;
        auto integer = makePublisher<int>(readable, writable);
        auto text = makePublisher<const char*>(readable, writable);
        auto array = makePublisher<Array>(readable, writable);
        publish(("i" + std::to_string(access)).c_str(), integer);
        publish(("s" + std::to_string(access)).c_str(), text);
        publish(("h" + std::to_string(access)).c_str(), array);
        EXPECT_EQ(both, integer->asked);
        EXPECT_EQ(both, text->asked);
        EXPECT_EQ(readable ? std::vector<std::string>{"isReadable"} : both, array->asked);
        for (const char* function : {"ZumiRegisterIntProperty", "ZumiRegisterStringProperty"}) {
            EXPECT_EQ(readable, bus().calls(function).back().hasGetter) << function << access;
            EXPECT_EQ(writable, bus().calls(function).back().hasSetter) << function << access;
        }
        const Call registered = bus().calls("ZumiRegisterHasharrayPropertyEx").back();
        EXPECT_FALSE(registered.hasGetter) << "its accessor never answers a read";
        EXPECT_EQ(readable || writable, registered.hasSetter);
    }
}

// A publisher whose registration the bus refused stays registered with the
// handler, so its next publication is a repeat, like any other: discarded
// with a D line, the first publisher still serving.
TEST_F(APublishingHandler, DiscardsARepeatPublicationWithADebugLineEvenAfterARefusal) {
    EXPECT_THAT([&] { publish(nullptr, makePublisher<int>()); },
                ThrowsMessage<std::invalid_argument>(StrEq("propertyName argument was NULL")));
    EXPECT_THAT([&] { publish("q", std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>>()); },
                ThrowsMessage<std::invalid_argument>(
                    StrEq("publisher argument was a NULL reference.")));
    auto first = makePublisher<int>(), second = makePublisher<int>();
    auto refused = makePublisher<const char*>();
    first->onGet = [](const char*, int* value) { *value = 1; };
    publish("i", first);
    bus().failNext("ZumiRegisterStringProperty", ZUMI_ERR_ALREADY_REGISTERED);
    EXPECT_THAT([&] { publish("s", refused); },
                ThrowsMessage<ZumiException>(StrEq(
                    "Could not set the request property. --property: s" + statusFields(12))));
    EXPECT_EQ(2, refused.use_count());
    publish("h", makePublisher<Array>());
    logs().clear();
    publish("i", second);
    publish("s", refused);
    publish("h", makePublisher<Array>());

    const std::string signature =
        "void veltra::kesh::zumi::VimoZumiHandlerPrivate::publish%sProperty(const char*, "
        "std::tr1::shared_ptr<veltra::kesh::zumi::ZumiHandler::ZumiPropertyPublisher<%s> >&):"
        "VimoZumiHandler%spublish%sProperty - publisher for property %s published again. The "
        "second publication attempt was discarded.:";
    auto expected = [&](const char* type, const char* param, const char* sep, const char* op,
                        const char* name) {
        char line[600];
        std::snprintf(line, sizeof line, ("D app:" + signature).c_str(), type, param, sep, op, name);
        return std::string(line);
    };
    EXPECT_THAT(logs().texts(),
                ElementsAre(expected("Integer", "int", "::", "Integer", "i"),
                            expected("String", "const char*", ".", "String", "s"),
                            expected("Hasharray", "ZumiHasharrayHandleStruct*", "::", "HashArray",
                                     "h")));
    EXPECT_EQ(1u, bus().count("ZumiRegisterIntProperty"));
    EXPECT_EQ(1u, bus().count("ZumiRegisterStringProperty"));
    EXPECT_EQ(1, second.use_count());
    int value = 0;
    EXPECT_EQ(ZUMI_OK, bus().invokeIntGetter(connection(), "i", &value));
    EXPECT_EQ(1, value);
}

// An integer and a string published under one name are two properties: the
// integer goes by name and type, the string stays registered and served.
TEST_F(APublishingHandler, WithdrawsByNameAndTypeTheEntryBeforeTheBusRegistrationAndWarnsOfARefusal) {
    auto publisher = makePublisher<int>();
    auto text = makePublisher<const char*>();
    text->onGet = [](const char*, const char** value) { *value = "still here"; };
    publish("i", publisher);
    publish("i", text);
    std::vector<ZumiStatus> answersInBetween;
    std::vector<int> typesWithdrawn;
    bus().hooks.unregisterPropertyOfType = [&](ZumiHandle handle, const char* name, int type) {
        int value = 0;
        answersInBetween.push_back(bus().invokeIntGetter(handle, name, &value));
        typesWithdrawn.push_back(type);
        return ZumiStatus(std::strcmp(name, "i") == 0 ? ZUMI_OK : ZUMI_ERR_NO_SUCH_PROPERTY);
    };
    handler->unpublishIntegerProperty("i");
    EXPECT_THAT(answersInBetween, ElementsAre(ZUMI_ERR_NO_SUCH_PROPERTY));
    EXPECT_THAT(typesWithdrawn, ElementsAre(ZUMI_TYPE_INT));
    EXPECT_EQ(1, publisher.use_count());
    EXPECT_THAT(logs().lines(), IsEmpty());
    bus().hooks.unregisterPropertyOfType = nullptr;
    handler->unpublishIntegerProperty("i");  // the bus now has no integer "i"
    std::string served;
    EXPECT_EQ(ZUMI_OK, bus().invokeStringGetter(connection(), "i", &served));
    EXPECT_EQ("still here", served);
    EXPECT_EQ(2, text.use_count());
    logs().clear();

    handler->unpublishIntegerProperty("p");  // never published: the bus answers 8
    handler->unpublishStringProperty("p");
    handler->unpublishHasharrayProperty("p");
    const std::string status =
        ":zumierror=8,zumierrormsg=" + std::string(ZumiGetErrorString(8)) + ",property=p";
    const std::string risk = " property. If this was not a superfluous unregistration then we "
                             "may crash the next time somebody tries to access this property!:";
    EXPECT_THAT(logs().texts(),
                ElementsAre("W app:VimoZumiHandler.unpublishIntegerProperty" + status +
                                "Error when trying to unregister an integer" + risk,
                            "W app:VimoZumiHandler.unpublishStringProperty" + status +
                                "Error when trying to unregister a string" + risk,
                            "W app:VimoZumiHandler.unpublishHasharrayProperty" + status +
                                "Error when trying to unregister a hash" + risk));
}

// ---- Callbacks ---------------------------------------------------------------

TEST_F(APublishingHandler, AnswersZeroWithInfoLinesOnWritesOnlyEightForAMissingPublisherAnd258ForNoData) {
    auto publisher = makePublisher<int>();
    int stored = -7;
    publisher->onGet = [&](const char*, int* value) { *value = stored; };
    publisher->onSet = [&](const char*, int value) { stored = value; };
    publish("p", publisher);
    publish("h", makePublisher<Array>());
    logs().clear();
    int value = 0;
    EXPECT_EQ(ZUMI_OK, bus().invokeIntGetter(connection(), "p", &value));
    EXPECT_EQ(-7, value);
    EXPECT_EQ(8u, (onPropertyGet<int, int>(connection(), "other", &value, registryOf("p", ZUMI_TYPE_INT))));
    EXPECT_EQ(8u, (onPropertyAccessed<Array, Array>(connection(), "other", nullptr, nullptr,
                                                   registryOf("h", ZUMI_TYPE_HASHARRAY))));
    EXPECT_THAT(logs().lines(), IsEmpty());
    EXPECT_EQ(ZUMI_OK, bus().invokeIntSetter(connection(), "p", -3));
    EXPECT_EQ(-3, stored);
    EXPECT_EQ(8u, (onPropertySet<int, int>(connection(), "other", 1, registryOf("p", ZUMI_TYPE_INT))));
    EXPECT_EQ(258u, (onPropertyGet<int, int>(connection(), "p", &value, nullptr)));
    EXPECT_EQ(258u, (onPropertySet<const char*, const char*>(connection(), "p", "v", nullptr)));
    EXPECT_EQ(258u, (onPropertyAccessed<Array, Array>(connection(), "p", nullptr, nullptr, nullptr)));
    EXPECT_THAT(logs().texts(),
                ElementsAre("I app:VimoZumiHandler.onPropertySet:Property Name-> p:",
                            "I app:VimoZumiHandler.onPropertySet:Returning zumiErrNone:",
                            "I app:VimoZumiHandler.onPropertySet:Property Name-> other:",
                            "E app:VimoZumiHandlerPrivate.onPropertyGet:Input data cannot be null:",
                            "E app:VimoZumiHandlerPrivate.onPropertySet:Input data cannot be null:",
                            "E app:VimoZumiHandlerPrivate.onPropertyAccessed:Input data cannot be "
                            "null:"));
}

TEST_F(APublishingHandler, TurnsEveryExceptionOfAPublisherInto258) {
    auto integer = makePublisher<int>();
    auto text = makePublisher<const char*>();
    auto array = makePublisher<Array>();
    integer->onGet = [](const char*, int*) { throw ZumiException("get failed"); };
    integer->onSet = [](const char*, int) { throw std::runtime_error("boom"); };
    text->onSet = [](const char*, const char*) { throw 42; };
    array->onSet = [](const char*, Array copy) {
        ZumiHasharrayDestroy(copy);
        throw ZumiException("access failed");
    };
    publish("i", integer);
    publish("s", text);
    publish("h", array);
    setLogMask(~0x00800000u);  // without the I lines
    int value = 0;
    EXPECT_EQ(258u, bus().invokeIntGetter(connection(), "i", &value));
    EXPECT_EQ(258u, bus().invokeIntSetter(connection(), "i", 1));
    EXPECT_EQ(258u, bus().invokeStringSetter(connection(), "s", "v"));
    EXPECT_EQ(258u, bus().invokeAccessor(connection(), "h", nullptr, nullptr));
    EXPECT_THAT(
        logs().texts(),
        ElementsAre("E app:VimoZumiHandlerPrivate.onPropertyGet:what=get failed ZumiException:",
                    "E app:VimoZumiHandlerPrivate.onPropertySet:what=boom:",
                    "E app:VimoZumiHandlerPrivate.onPropertySet:what=non-standard exception (not derived from "
                    "std::exception):",
                    "E app:VimoZumiHandlerPrivate.onPropertyAccessed:what=access failed "
                    "ZumiException:"));
    EXPECT_EQ(2, integer.use_count());  // no callback kept its reference
}

// ---- Lifetimes ---------------------------------------------------------------

TEST_F(APublishingHandler, KeepsAPublisherUnpublishedInItsOwnCallbackAliveUntilItReturns) {
    std::atomic<bool> destroyed{false};
    bool aliveAfterUnpublish = false;
    auto publisher = makePublisher<int>();
    publisher->onDestroy = [&] { destroyed = true; };
    publisher->onGet = [&](const char* name, int* value) {
        handler->unpublishIntegerProperty(name);
        aliveAfterUnpublish = !destroyed;
        *value = 5;
    };
    publish("p", publisher);
    publisher.reset();  // the registry holds the only reference now
    int value = 0;
    ZumiStatus status = ZUMI_ERR_FAILED;
    std::thread busThread([&] { status = bus().invokeIntGetter(connection(), "p", &value); });
    busThread.join();
    EXPECT_EQ(ZUMI_OK, status);
    EXPECT_EQ(5, value);
    EXPECT_TRUE(aliveAfterUnpublish);
    EXPECT_TRUE(destroyed);
}

TEST_F(APublishingHandler, LetsADyingPublisherUnpublishAnotherNameOfItsRegistry) {
    auto first = makePublisher<int>();
    auto second = makePublisher<int>();
    first->onDestroy = [this] { handler->unpublishIntegerProperty("b"); };
    publish("a", first);
    publish("b", second);
    first.reset();
    handler->unpublishIntegerProperty("a");  // destroys first inside the registry's lock
    EXPECT_EQ(1, second.use_count());
    EXPECT_EQ(2u, bus().count("ZumiUnregisterPropertyOfType"));
}

TEST_F(APublishingHandler, ClosesOnceThenReleasesPublishersWithoutUnregisteringWhenDestroyed) {
    std::vector<size_t> closesSeenAtRelease;
    auto noteRelease = [&] { closesSeenAtRelease.push_back(bus().count("ZumiClose")); };
    auto integer = makePublisher<int>();
    auto text = makePublisher<const char*>();
    auto array = makePublisher<Array>();
    integer->onDestroy = text->onDestroy = array->onDestroy = noteRelease;
    publish("i", integer);
    publish("s", text);
    publish("h", array);
    integer.reset();
    text.reset();
    array.reset();
    handler.reset();
    EXPECT_THAT(closesSeenAtRelease, ElementsAre(1u, 1u, 1u));
    EXPECT_EQ(1u, bus().count("ZumiClose"));
    EXPECT_EQ(0u, bus().count("ZumiUnregisterPropertyOfType"));
}

}  // namespace
}  // namespace testing
}  // namespace zumi
