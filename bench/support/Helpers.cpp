#include "support/Helpers.h"

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>

namespace zumi {
namespace bench {

const std::string& benchTempDir() {
    static const std::string dir = makeTempDir();
    return dir;
}

bool requireBus(benchmark::State& state) {
    const char* address = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return true;
    state.SkipWithError("no private bus: run through scripts/bench.sh");
    return false;
}

HelperProcess* sharedHelper(benchmark::State& state, const std::string& key,
                            const std::string& program, const std::vector<std::string>& args,
                            bool needsBus) {
    static std::map<std::string, std::unique_ptr<HelperProcess>> helpers;
    auto it = helpers.find(key);
    if (it != helpers.end()) return it->second.get();
    if (needsBus && !requireBus(state)) return nullptr;
    auto helper = std::make_unique<HelperProcess>(program, args);
    if (!helper->waitReady(std::chrono::seconds(20))) {
        state.SkipWithError((program + " did not get ready").c_str());
        return nullptr;
    }
    return helpers.emplace(key, std::move(helper)).first->second.get();
}

}  // namespace bench
}  // namespace zumi
