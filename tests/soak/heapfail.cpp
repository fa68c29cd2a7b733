// The soak's failing allocator (see heapfail.h): the process's replaced allocator
// (tools/support/replace_allocator.h) counts, per thread, the allocations called from the add-in's
// code and fails the chosen one.
#include "tests/soak/heapfail.h"

#include <atomic>
#include <cstdint>

#include "tools/support/replace_allocator.h"

#if defined(KOVA_SOAK_HEAP_FAULTS)

namespace {

std::atomic<uintptr_t> gBegin{0};
std::atomic<uintptr_t> gEnd{0};
// Plain thread-local data, usable from inside the allocator.
thread_local uint32_t tCountdown = 0;  // 0: disarmed
thread_local bool tFired = false;

// Whether this allocation, called from `caller`, is the one to fail.
inline bool Fails(const void* caller) noexcept {
    if (tCountdown == 0)
        return false;
    const auto address = reinterpret_cast<uintptr_t>(caller);
    if (address < gBegin.load(std::memory_order_relaxed) ||
        address >= gEnd.load(std::memory_order_relaxed) || --tCountdown != 0) {
        return false;
    }
    tFired = true;
    return true;
}

}  // namespace

namespace heapfail {

bool Available() noexcept {
    return true;
}

void SetAddinRange(uintptr_t begin, uintptr_t end) noexcept {
    gBegin.store(begin, std::memory_order_relaxed);
    gEnd.store(end, std::memory_order_relaxed);
}

void FailNthOnThread(uint32_t k) noexcept {
    tCountdown = k;
    tFired = false;
}

bool TakeFired() noexcept {
    const bool fired = tFired;
    tCountdown = 0;
    tFired = false;
    return fired;
}

}  // namespace heapfail

// The process's replaced allocator (tools/support/replace_allocator.h) asks this for every
// allocation.
bool kovasupport::AllocationFails(const void* caller) noexcept {
    return Fails(caller);
}

#else

namespace heapfail {

bool Available() noexcept {
    return false;
}
void SetAddinRange(uintptr_t, uintptr_t) noexcept {}
void FailNthOnThread(uint32_t) noexcept {}
bool TakeFired() noexcept {
    return false;
}

}  // namespace heapfail

#endif
