// The hash array's wire format alone, without a daemon: appending an array
// to a message, reading it back from a sealed one, and the check before
// sending. Per hash of one integer, as the bus figures send; where the cost
// of a hash-array call goes between sd-bus's containers and our own copies.
#include <benchmark/benchmark.h>

#include "WireMessages.h"
#include "dbus/WireFormat.h"
#include <libzumi/ZumiBus.h>

namespace {

using zumi::bus::HashArray;

HashArray hashes(int64_t count) {
    HashArray array;
    for (int64_t i = 0; i < count; ++i) {
        HashArray::Value value;
        value.number = static_cast<int>(i);
        array.hashes.emplace_back();
        array.hashes.back().emplace("value", value);
    }
    return array;
}

void BM_Wire_AppendHashArray(benchmark::State& state) {
    WireMessages messages;
    const HashArray array = hashes(state.range(0));
    for (auto _ : state) {
        sd_bus_message* message = messages.make();
        if (message == nullptr || zumi::bus::appendHashArray(message, array) < 0) {
            state.SkipWithError("append failed");
            break;
        }
        sd_bus_message_unref(message);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Wire_ReadHashArray(benchmark::State& state) {
    WireMessages messages;
    sd_bus_message* message = messages.make();
    if (message == nullptr || zumi::bus::appendHashArray(message, hashes(state.range(0))) < 0 ||
        !WireMessages::seal(message)) {
        state.SkipWithError("no message");
        return;
    }
    for (auto _ : state) {
        HashArray read;
        if (sd_bus_message_rewind(message, 1) < 0 || zumi::bus::readHashArray(message, &read) != ZUMI_OK) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(read.hashes.data());
    }
    sd_bus_message_unref(message);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Wire_CheckHashArray(benchmark::State& state) {
    const HashArray array = hashes(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(zumi::bus::checkHashArray(array));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_Wire_AppendHashArray)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Wire_ReadHashArray)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Wire_CheckHashArray)->Arg(10000)->Unit(benchmark::kMicrosecond);
