// The handler core in one process, on the test double of the bus: what the
// library itself costs, with no bus in the way. The log mask stays at its
// default (E and W), as on a device.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <zumi/ZumiHandlerFactory.h>

#include "FakeBusCore.h"
#include "support/IntPublisher.h"

using veltra::kesh::zumi::ZumiHandler;
using veltra::kesh::zumi::ZumiHandlerFactory;
using veltra::kesh::zumi::ZumiHandlerSharedPtr;
using zumi::testing::FakeBusCore;

namespace {

std::vector<std::string> identifiers(size_t count) {
    std::vector<std::string> ids;
    ids.reserve(count);
    for (size_t i = 0; i < count; ++i) ids.push_back("com.zumi.bench.cached" + std::to_string(i));
    return ids;
}

// A cached lookup with 1, 1,000 or 100,000 live handlers in the cache. With
// a second argument of 0 one identifier is asked for again and again: the
// cost of the lookup itself, which must not grow with the cache. With 1 the
// identifiers are spread over the whole cache in random order, so a large
// cache also pays the processor-cache misses of an application touching many
// handlers.
void BM_Double_GetHandlerCached(benchmark::State& state) {
    FakeBusCore::instance().reset();
    ZumiHandlerFactory::emptyMap();
    const size_t count = static_cast<size_t>(state.range(0));
    const std::vector<std::string> ids = identifiers(count);
    std::vector<ZumiHandlerSharedPtr> live;
    live.reserve(count);
    for (const auto& id : ids) live.push_back(ZumiHandlerFactory::getZumiHandler(id.c_str()));
    FakeBusCore::instance().reset();  // drop the record of 100,000 opens

    std::vector<const char*> order;
    const bool spread = state.range(1) != 0;
    for (size_t i = 0; i < 4096; ++i) order.push_back(ids[spread ? i * 7919 % count : count / 2].c_str());
    std::shuffle(order.begin(), order.end(), std::mt19937(42));
    size_t next = 0;
    for (auto _ : state) {
        ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler(order[next]);
        benchmark::DoNotOptimize(handler.get());
        next = (next + 1) & 4095;
    }
    live.clear();
    ZumiHandlerFactory::emptyMap();
}

// The integer getter callback as the bus thread calls it: registry lookup,
// strong reference to the publisher, getValue, release.
void BM_Double_CallbackToPublisher(benchmark::State& state) {
    FakeBusCore& bus = FakeBusCore::instance();
    bus.reset();
    ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler("com.zumi.bench.callback");
    // Neighbours, so that the lookup is not in a registry of one.
    std::vector<std::shared_ptr<ZumiHandler::ZumiPropertyPublisher<int>>> publishers;
    for (int i = 0; i < 64; ++i) {
        publishers.push_back(std::make_shared<zumi::bench::IntPublisher>(7));
        handler->publishIntegerProperty(("p" + std::to_string(i)).c_str(), publishers.back());
    }
    ZumiHandle connection = handler->getUnderlyingZumiHandle();
    FakeBusCore::Registration reg = bus.registration(connection, "p31", ZUMI_TYPE_INT);
    if (reg.intGetter == nullptr) {
        state.SkipWithError("the getter of p31 was not registered");
        return;
    }
    int value = 0;
    for (auto _ : state) {
        unsigned int status = reg.intGetter(connection, "p31", &value, reg.data);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(value);
    }
}

// Publishing N integer properties on a fresh handler; the figure is judged
// per property (10,000 against 100), which must stay flat.
void BM_Double_Publish(benchmark::State& state) {
    FakeBusCore& bus = FakeBusCore::instance();
    const int count = static_cast<int>(state.range(0));
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("property." + std::to_string(i));
    auto publisher = std::static_pointer_cast<ZumiHandler::ZumiPropertyPublisher<int>>(
        std::make_shared<zumi::bench::IntPublisher>(7));
    for (auto _ : state) {
        state.PauseTiming();
        bus.reset();
        ZumiHandlerFactory::emptyMap();
        ZumiHandlerSharedPtr handler = ZumiHandlerFactory::getZumiHandler("com.zumi.bench.publish");
        state.ResumeTiming();
        for (const auto& name : names) handler->publishIntegerProperty(name.c_str(), publisher);
        state.PauseTiming();
        handler.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// The double's own share of BM_Double_Publish: its registrations and its
// record of calls, without the library.
void BM_Double_RegisterOnly(benchmark::State& state) {
    FakeBusCore& bus = FakeBusCore::instance();
    const int count = static_cast<int>(state.range(0));
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("property." + std::to_string(i));
    for (auto _ : state) {
        state.PauseTiming();
        bus.reset();
        ZumiStatus status = 0;
        ZumiHandle connection = ZumiOpenEx("com.zumi.bench.register", &status);
        state.ResumeTiming();
        for (const auto& name : names) {
            ZumiRegisterIntProperty(connection, name.c_str(), nullptr, nullptr, nullptr);
        }
        state.PauseTiming();
        ZumiClose(connection);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

}  // namespace

BENCHMARK(BM_Double_GetHandlerCached)->ArgsProduct({{1, 1000, 100000}, {0, 1}})->UseRealTime();
BENCHMARK(BM_Double_CallbackToPublisher)->UseRealTime();
BENCHMARK(BM_Double_Publish)->Arg(100)->Arg(10000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Double_RegisterOnly)->Arg(100)->Arg(10000)->UseRealTime()->Unit(benchmark::kMicrosecond);
