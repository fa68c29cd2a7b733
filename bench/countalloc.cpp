// The counting allocator (see countalloc.h): the process's replaced allocator
// (tools/support/replace_allocator.h) counts each allocation and notes whether its caller lies in
// the watched range.
#include "bench/countalloc.h"

#include <atomic>
#include <cstdint>

#include "tools/support/replace_allocator.h"

namespace {

std::atomic<uintptr_t> gBegin{0};
std::atomic<uintptr_t> gEnd{0};
std::atomic<uint64_t> gFromRange{0};
std::atomic<uint64_t> gAll{0};

inline void Count(const void* caller) noexcept {
    gAll.fetch_add(1, std::memory_order_relaxed);
    const auto address = reinterpret_cast<uintptr_t>(caller);
    if (address >= gBegin.load(std::memory_order_relaxed) &&
        address < gEnd.load(std::memory_order_relaxed)) {
        gFromRange.fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace

namespace kovabench {

void StartCountingAllocations(uintptr_t begin, uintptr_t end) {
    gBegin.store(begin, std::memory_order_relaxed);
    gEnd.store(end, std::memory_order_relaxed);
    gFromRange.store(0, std::memory_order_relaxed);
    gAll.store(0, std::memory_order_relaxed);
}

AllocationCounts AllocationsSinceStart() {
    AllocationCounts counts;
    counts.fromRange = gFromRange.load(std::memory_order_relaxed);
    counts.all = gAll.load(std::memory_order_relaxed);
    return counts;
}

}  // namespace kovabench

// Every allocation is counted; none fails.
bool kovasupport::AllocationFails(const void* caller) noexcept {
    Count(caller);
    return false;
}
