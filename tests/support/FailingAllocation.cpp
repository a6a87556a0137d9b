#include "FailingAllocation.h"

#include <cstdlib>
#include <new>

namespace {
thread_local int t_countdown = 0;
}

namespace zumi {
namespace testing {

void failAllocation(int nth) { t_countdown = nth; }

}  // namespace testing
}  // namespace zumi

// Every other form of new and delete that the standard library provides
// comes down to these two.
void* operator new(std::size_t size) {
    if (t_countdown > 0 && --t_countdown == 0) {
        throw std::bad_alloc();
    }
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
