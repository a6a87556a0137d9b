#include <zumi/ZumiException.h>
#include <zumi/ZumiHandlerFactory.h>

#include <gdk/gdk.h>
#include <gmock/gmock.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "TrackedGdkLock.h"
#include "ZumiTest.h"
#include "platform/GdkThreadsAutoLock.h"

namespace zumi {
namespace testing {
namespace {

using namespace veltra::kesh::zumi;
using ::testing::ElementsAre;
typedef ZumiHandlerFactory Factory;

std::string debugLine(const std::string& text) {
    return "D app:static veltra::kesh::zumi::ZumiHandlerFactory::ZumiHandlerSharedPtr "
           "veltra::kesh::zumi::ZumiHandlerFactory::getZumiHandler(const char*):" + text + ":";
}
const std::string CREATING = debugLine("Creating and caching new ZumiHandler for zumiId: svc");
const std::string CACHED = debugLine("Returning cached ZumiHandler for zumiId: svc");

class AFactory : public ZumiTest {
protected:
    void SetUp() override {
        ZumiTest::SetUp();
        setAppId("app");
    }
    void TearDown() override {
        Factory::emptyMap();
        Factory::setSystemZumiHandler("com.tessal.bramwick");
        ZumiTest::TearDown();
    }
};

// ---- Cache life cycle ------------------------------------------------------------

TEST_F(AFactory, SharesOneHandlerPerExactIdentifierWhileItIsHeldAndThenForgetsIt) {
    ZumiHandlerSharedPtr first = Factory::getZumiHandler("svc");
    EXPECT_EQ(first.get(), Factory::getZumiHandler("svc").get());
    first.reset();
    EXPECT_EQ(1u, bus().count("ZumiClose"));
    EXPECT_EQ(0u, Factory::m_handlerMap.count("svc"));  // the deleter removed it
    ZumiHandlerSharedPtr second = Factory::getZumiHandler("svc");
    EXPECT_THAT(logs().texts(), ElementsAre(CREATING, CACHED, CREATING));

    EXPECT_NE(second.get(), Factory::getZumiHandler("SVC").get());
}

TEST_F(AFactory, RefusesANullIdentifierWithAnErrorLineAndCachesNoFailure) {
    const std::pair<std::string, std::function<void()>> refusals[] = {
        {"getZumiHandler failed because zumiId was null", [] { Factory::getZumiHandler(nullptr); }},
        {"zumiId argument was NULL", [] { Factory::setSystemZumiHandler(nullptr); }},
    };
    for (const auto& r : refusals) EXPECT_EQ(r.first, thrownMessage<std::invalid_argument>(r.second));
    EXPECT_THAT(logs().texts(), ElementsAre("E app:kesh_zumiHandlerFactory_getZumiHandler_"
                                            "zumiIdNull:zumiId cannot be null:"));
    EXPECT_EQ(Factory::getZumiHandler("com.tessal.bramwick"), Factory::getSystemZumiHandler())
        << "a refused system identifier replaced the standing one";
    bus().failNext("ZumiOpenEx", ZUMI_ERR_NAME_TAKEN);
    EXPECT_THROW(Factory::getZumiHandler("other"), ZumiException);
    EXPECT_TRUE(Factory::m_handlerMap.empty());
}

TEST_F(AFactory, LeavesHeldHandlersAliveAfterEmptyMapAndKeepsTheNewerOneCached) {
    ZumiHandlerSharedPtr older = Factory::getZumiHandler("svc");
    Factory::emptyMap();
    EXPECT_TRUE(Factory::m_handlerMap.empty());
    ZumiHandlerSharedPtr newer = Factory::getZumiHandler("svc");
    EXPECT_NE(older.get(), newer.get());
    bus().setRemoteInt("other", "p", 3);
    EXPECT_EQ(3, older->getIntProperty("other", "p"));

    older.reset();  // its deleter must not evict the newer handler
    logs().clear();
    EXPECT_EQ(newer.get(), Factory::getZumiHandler("svc").get());
    EXPECT_THAT(logs().texts(), ElementsAre(CACHED));
}

TEST_F(AFactory, LetsADeleterRunOnTheThreadThatHoldsTheCache) {
    ZumiHandlerSharedPtr doomed = Factory::getZumiHandler("doomed");
    // Dropped while getZumiHandler builds another handler, with the cache's
    // lock held on this thread.
    bus().hooks.openEx = [&](const char* id, ZumiStatus* status) {
        doomed.reset();
        *status = ZUMI_OK;
        return bus().openConnection(id);
    };
    ZumiHandlerSharedPtr handler = Factory::getZumiHandler("svc");
    EXPECT_EQ(0u, Factory::m_handlerMap.count("doomed"));
    EXPECT_EQ(1u, Factory::m_handlerMap.count("svc"));
}

// Several threads get and drop handlers for a few identifiers, one of them
// through the system identifier it keeps changing. While anyone holds a
// handler for an identifier, every request for it must return that handler.
// Off the main loop the close runs at once; should this thread hold the GDK
// lock that a bridged read waits for, it would never end, so the library says
// so first.
TEST_F(AFactory, WarnsWhenTheLastReferenceGoesOffTheMainLoopWhileABridgedReadWaitsForTheGdkLock) {
    ZumiHandlerSharedPtr handler = Factory::getZumiHandler("svc");
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_threads_enter();
    G_GNUC_END_IGNORE_DEPRECATIONS
    std::thread reader([] { veltra::kesh::util::GdkThreadsAutoLock waitsForTheTestThread; });
    ASSERT_TRUE(waitUntil([] { return gdkLockWaiters() > 0; }));
    handler.reset();
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_threads_leave();
    G_GNUC_END_IGNORE_DEPRECATIONS
    reader.join();
    EXPECT_EQ(1u, bus().count("ZumiClose"));
    EXPECT_THAT(logs().texts("W %s:%s:Last reference to the ZumiHandler for %s dropped off the main loop "
                             "while a bridged read waits for the GDK lock. If this thread holds that "
                             "lock, closing the connection never ends.:"),
                ElementsAre(logged("W", "ZumiHandlerDeleter.release",
                                   "Last reference to the ZumiHandler for svc dropped off the main loop "
                                   "while a bridged read waits for the GDK lock. If this thread holds "
                                   "that lock, closing the connection never ends.")));
}

TEST_F(AFactory, KeepsOneLiveHandlerPerIdentifierUnderConcurrentUse) {
    setLogMask(0);  // logging is not what is tested
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
            if ((slot.holders > 0 && slot.current != handler.get()) || id != handler->getID()) {
                ++mismatches;
            }
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
                if (t == 0) Factory::setSystemZumiHandler(id.c_str());
                use(id, t == 0 ? Factory::getSystemZumiHandler()
                               : Factory::getZumiHandler(id.c_str()));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, mismatches.load());
    EXPECT_EQ(0u, bus().openConnections());
    EXPECT_EQ(0u, bus().invalidFrees());
    EXPECT_TRUE(Factory::m_handlerMap.empty());
}

}  // namespace
}  // namespace testing
}  // namespace zumi
