#ifndef ZUMI_TESTS_SUPPORT_FAILINGALLOCATION_H
#define ZUMI_TESTS_SUPPORT_FAILINGALLOCATION_H

// Running out of memory on demand, for the executables that link
// zumi_failing_allocation (it replaces the global operator new and delete).

namespace zumi {
namespace testing {

// Counting from now, the nth allocation through operator new on the calling
// thread throws std::bad_alloc (n >= 1); 0 stops it. Other threads are never
// affected.
void failAllocation(int nth);

}  // namespace testing
}  // namespace zumi

#endif
