#include "bridge/SetValueArgs.h"

#include <atomic>

namespace veltra {
namespace kesh {
namespace zumi {

namespace {
std::atomic<std::size_t> g_liveRecords{0};
}

SharedData::SharedData(const char* propertyName) : m_propertyName(propertyName) {
    g_liveRecords.fetch_add(1, std::memory_order_relaxed);
}

SharedData::~SharedData() { g_liveRecords.fetch_sub(1, std::memory_order_relaxed); }

std::size_t SharedData::liveCount() { return g_liveRecords.load(std::memory_order_relaxed); }

}  // namespace zumi
}  // namespace kesh
}  // namespace veltra
