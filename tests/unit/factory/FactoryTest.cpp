#include <zumi/ZumiException.h>
#include <zumi/ZumiHandlerFactory.h>

#include <gmock/gmock.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "ZumiTest.h"
#include "handler/VimoZumiHandler.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using veltra::kesh::zumi::VimoZumiHandler;
using veltra::kesh::zumi::ZumiException;
using veltra::kesh::zumi::ZumiHandler;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;

namespace zumi {
namespace testing {

namespace {

const std::string TAG =
    "static veltra::kesh::zumi::ZumiHandlerFactory::ZumiHandlerSharedPtr "
    "veltra::kesh::zumi::ZumiHandlerFactory::getZumiHandler(const char*)";

std::string debugLine(const std::string& text) { return "D app:" + TAG + ":" + text + ":"; }

}  // namespace

class AFactory : public ZumiTest {
protected:
    void SetUp() override {
        ZumiTest::SetUp();
        setAppId("app");
    }
    void TearDown() override {
        ZumiHandlerFactory::emptyMap();
        ZumiHandlerFactory::setSystemZumiHandler("com.tessal.bramwick");
        ZumiTest::TearDown();
    }
};

// ---- Cache life cycle ------------------------------------------------------------

TEST_F(AFactory, SharesOneHandlerPerIdentifierWhileItIsHeldAndThenForgetsIt) {
    ZumiHandlerSharedPtr first = ZumiHandlerFactory::getZumiHandler("svc");
    EXPECT_EQ(first.get(), ZumiHandlerFactory::getZumiHandler("svc").get());
    first.reset();
    EXPECT_EQ(1u, bus().count("ZumiClose"));
    EXPECT_EQ(0u, ZumiHandlerFactory::m_handlerMap.count("svc"));  // the deleter removed it
    ZumiHandlerSharedPtr second = ZumiHandlerFactory::getZumiHandler("svc");
    const std::string creating = debugLine("Creating and caching new ZumiHandler for zumiId: svc");
    EXPECT_THAT(logs().texts(),
                ElementsAre(creating, debugLine("Returning cached ZumiHandler for zumiId: svc"),
                            creating));
    EXPECT_EQ(7, logs().lines()[0].priority);
    EXPECT_EQ(2u, bus().count("ZumiOpenEx"));
}

TEST_F(AFactory, KeysByTheExactIdentifier) {
    std::vector<ZumiHandlerSharedPtr> held;
    for (const char* id : {"svc", "SVC", "svc ", ""}) {
        held.push_back(ZumiHandlerFactory::getZumiHandler(id));
        EXPECT_STREQ(id, held.back()->getID());
    }
    EXPECT_EQ(4u, bus().count("ZumiOpenEx"));
}

TEST_F(AFactory, ReplacesAnExpiredEntry) {
    {
        auto gone = std::make_shared<VimoZumiHandler>("svc");
        ZumiHandlerFactory::m_handlerMap["svc"] = gone;
    }
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler("svc");
    EXPECT_THAT(logs().texts(),
                ElementsAre(debugLine("Found expired cached ZumiHandler for zumiId: svc, "
                                      "removing from mapping"),
                            debugLine("Creating and caching new ZumiHandler for zumiId: svc")));
    EXPECT_EQ(handler.get(), ZumiHandlerFactory::getZumiHandler("svc").get());
}

TEST_F(AFactory, RefusesANullIdentifierWhetherOrNotTheErrorLineIsOn) {
    ZumiHandlerSharedPtr held = ZumiHandlerFactory::getZumiHandler("svc");
    logs().clear();
    const auto refused = ThrowsMessage<std::invalid_argument>(
        StrEq("getZumiHandler failed because zumiId was null"));
    EXPECT_THAT([] { ZumiHandlerFactory::getZumiHandler(nullptr); }, refused);
    EXPECT_THAT(logs().texts(), ElementsAre("E app:kesh_zumiHandlerFactory_getZumiHandler_"
                                            "zumiIdNull:zumiId cannot be null:"));
    EXPECT_EQ(3, logs().lines()[0].priority);
    logs().clear();
    setLogMask(0);
    EXPECT_THAT([] { ZumiHandlerFactory::getZumiHandler(nullptr); }, refused);
    EXPECT_THAT(logs().lines(), IsEmpty());
    EXPECT_EQ(1u, ZumiHandlerFactory::m_handlerMap.size());
}

TEST_F(AFactory, CachesNothingWhenConstructionFails) {
    bus().failNext("ZumiOpenEx", ZUMI_ERR_NAME_TAKEN);
    EXPECT_THROW(ZumiHandlerFactory::getZumiHandler("svc"), ZumiException);
    EXPECT_EQ(0u, ZumiHandlerFactory::m_handlerMap.count("svc"));
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler("svc");
    EXPECT_EQ(2u, bus().count("ZumiOpenEx"));
    EXPECT_EQ(1u, bus().openConnections());
}

TEST_F(AFactory, LeavesHeldHandlersAliveAfterEmptyMapAndKeepsTheNewerOneCached) {
    ZumiHandlerSharedPtr older = ZumiHandlerFactory::getZumiHandler("svc");
    ZumiHandlerFactory::emptyMap();
    EXPECT_TRUE(ZumiHandlerFactory::m_handlerMap.empty());
    ZumiHandlerSharedPtr newer = ZumiHandlerFactory::getZumiHandler("svc");
    EXPECT_NE(older.get(), newer.get());
    bus().setRemoteInt("other", "p", 3);
    EXPECT_EQ(3, older->getIntProperty("other", "p"));

    older.reset();  // its deleter must not evict the newer handler
    logs().clear();
    EXPECT_EQ(newer.get(), ZumiHandlerFactory::getZumiHandler("svc").get());
    EXPECT_THAT(logs().texts(), ElementsAre(debugLine("Returning cached ZumiHandler for zumiId: svc")));
}

TEST_F(AFactory, LetsADeleterRunOnTheThreadThatHoldsTheCache) {
    ZumiHandlerSharedPtr doomed = ZumiHandlerFactory::getZumiHandler("doomed");
    // Dropped while getZumiHandler builds another handler, with the cache's
    // lock held on this thread.
    bus().hooks.openEx = [&](const char* id, ZumiStatus* status) {
        doomed.reset();
        *status = ZUMI_OK;
        return bus().openConnection(id);
    };
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler("svc");
    EXPECT_EQ(nullptr, doomed);
    EXPECT_EQ(0u, ZumiHandlerFactory::m_handlerMap.count("doomed"));
    EXPECT_EQ(1u, ZumiHandlerFactory::m_handlerMap.count("svc"));
}

// ---- System identifier -----------------------------------------------------------

TEST_F(AFactory, HandsOutTheSystemHandlerForTheCurrentSystemIdentifier) {
    ZumiHandlerSharedPtr system = ZumiHandlerFactory::getSystemZumiHandler();
    EXPECT_EQ(ZumiHandlerFactory::getZumiHandler("com.tessal.bramwick").get(), system.get());

    ZumiHandlerFactory::setSystemZumiHandler("com.app");
    ZumiHandlerSharedPtr changed = ZumiHandlerFactory::getSystemZumiHandler();
    EXPECT_STREQ("com.app", changed->getID());
    EXPECT_EQ(ZumiHandlerFactory::getZumiHandler("com.app").get(), changed.get());
    EXPECT_EQ(system.get(), ZumiHandlerFactory::getZumiHandler("com.tessal.bramwick").get());

    EXPECT_THAT([] { ZumiHandlerFactory::setSystemZumiHandler(nullptr); },
                ThrowsMessage<std::invalid_argument>(StrEq("zumiId argument was NULL")));
    EXPECT_EQ("com.app", ZumiHandlerFactory::m_defaultHandlerId);
}

// ---- Concurrency -----------------------------------------------------------------

// Several threads get and drop handlers for a few identifiers, one of them
// through the system identifier it keeps changing. While anyone holds a
// handler for an identifier, every request for it must return that handler.
TEST_F(AFactory, KeepsOneLiveHandlerPerIdentifierUnderConcurrentUse) {
    setLogMask(0);  // keep the capture small; logging is not what is tested
    const std::vector<std::string> ids = {"a", "b", "c"};
    struct Slot {
        std::mutex mutex;
        const ZumiHandler* current = nullptr;
        int holders = 0;
    };
    std::map<std::string, Slot> slots;
    for (const std::string& id : ids) slots[id];
    std::atomic<int> mismatches{0};

    auto use = [&](const std::string& id, ZumiHandlerSharedPtr handler) {
        Slot& slot = slots.at(id);
        {
            std::lock_guard<std::mutex> lock(slot.mutex);
            if (slot.holders > 0 && slot.current != handler.get()) ++mismatches;
            if (id != handler->getID()) ++mismatches;
            slot.current = handler.get();
            ++slot.holders;
        }
        std::this_thread::yield();
        std::lock_guard<std::mutex> lock(slot.mutex);
        --slot.holders;
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const std::string& id = ids[(i + t) % ids.size()];
                if (t == 0) {
                    ZumiHandlerFactory::setSystemZumiHandler(id.c_str());
                    use(id, ZumiHandlerFactory::getSystemZumiHandler());
                } else {
                    use(id, ZumiHandlerFactory::getZumiHandler(id.c_str()));
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(0, mismatches.load());
    EXPECT_EQ(0u, bus().openConnections());
    EXPECT_EQ(0u, bus().invalidFrees());
    EXPECT_TRUE(ZumiHandlerFactory::m_handlerMap.empty());
}

}  // namespace testing
}  // namespace zumi
