// Heap fault injection for test executables: the add-in's malloc/calloc/free and operator
// new/delete are routed through counting hooks by the linker (--wrap, Linux only), so a test can
// fail the k-th allocation the add-in makes and check that every block it took was given back.
// Only allocations made inside an AddinScope on the calling thread are counted or failed.
#ifndef KOVA_TESTS_SUPPORT_HEAPFAULTS_H
#define KOVA_TESTS_SUPPORT_HEAPFAULTS_H

#include <cstddef>
#include <cstdint>

namespace heapfaults {

// True when this executable was linked with the hooks in place (kovaheapfaults on Linux).
bool Available() noexcept;

// Counts allocations from now; the `failAt`-th fails (0: none fails). A failed malloc or nothrow
// new answers null; a failed throwing new throws std::bad_alloc. The live count is not reset.
void Arm(uint64_t failAt) noexcept;
void Disarm() noexcept;

struct Counts {
    uint64_t allocations = 0;          // counted allocations, failed ones included
    uint64_t failures = 0;             // allocations made to fail
    uint64_t throwingAllocations = 0;  // of them, through a throwing operator new
    uint64_t frees = 0;                // blocks given back inside a scope (null not counted)
    int64_t live = 0;  // blocks taken minus blocks given back inside a scope, since ResetCounts
};
Counts Get() noexcept;
// Every count back to zero, the live count included.
void ResetCounts() noexcept;

// Marks the calling thread as running add-in code for its lifetime (nests).
class AddinScope {
  public:
    AddinScope() noexcept;
    ~AddinScope();
    AddinScope(const AddinScope&) = delete;
    AddinScope& operator=(const AddinScope&) = delete;
};

}  // namespace heapfaults

#endif  // KOVA_TESTS_SUPPORT_HEAPFAULTS_H
