// A counting allocator for the allocation counts: replaces malloc, calloc, realloc and the
// operator new family of the whole process (the executable's definitions take precedence over
// the C and C++ libraries' for every loaded object, the add-in included) and counts each
// allocation, separately those called directly from code in a given address range.
#ifndef KOVA_BENCH_COUNTALLOC_H
#define KOVA_BENCH_COUNTALLOC_H

#include <cstdint>

namespace kovabench {

struct AllocationCounts {
    uint64_t fromRange = 0;  // allocations whose caller lies in [begin, end)
    uint64_t all = 0;        // every allocation of the process
};

// Counts from now on, attributing to [begin, end) the allocations called from there.
void StartCountingAllocations(uintptr_t begin, uintptr_t end);
AllocationCounts AllocationsSinceStart();

}  // namespace kovabench

#endif  // KOVA_BENCH_COUNTALLOC_H
