// Failed allocations for the soak: the executable replaces the process's allocator (so that the
// dlopen'ed add-in's malloc, calloc and operator new come here too) and fails, on request, the
// k-th allocation that code of the add-in makes on the calling thread. Only in builds without a
// sanitizer, whose own allocator must stay in place; elsewhere Available() is false.
#ifndef KOVA_TESTS_SOAK_HEAPFAIL_H
#define KOVA_TESTS_SOAK_HEAPFAIL_H

#include <cstdint>

namespace heapfail {

bool Available() noexcept;
// The add-in's code: allocations called from [begin, end) are the add-in's.
void SetAddinRange(uintptr_t begin, uintptr_t end) noexcept;
// The k-th allocation of the add-in's from now on this thread fails (answers null, or throws
// std::bad_alloc from a throwing operator new), once.
void FailNthOnThread(uint32_t k) noexcept;
// Disarms this thread's failure; true when it fired.
bool TakeFired() noexcept;

}  // namespace heapfail

#endif  // KOVA_TESTS_SOAK_HEAPFAIL_H
