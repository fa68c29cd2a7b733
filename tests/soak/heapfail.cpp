// The soak's failing allocator (see heapfail.h): thin wrappers over the C library's allocator
// that count, per thread, the allocations called from the add-in's code and fail the chosen one.
// Deallocation is passed straight through.
#include "tests/soak/heapfail.h"

#include <atomic>
#include <cstddef>
#include <new>

#if defined(KOVA_SOAK_HEAP_FAULTS)

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
}

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

void* NewBlock(std::size_t size, const void* caller) {
    if (Fails(caller))
        throw std::bad_alloc();
    void* block = __libc_malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void* NewBlockNoThrow(std::size_t size, const void* caller) noexcept {
    return Fails(caller) ? nullptr : __libc_malloc(size == 0 ? 1 : size);
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

extern "C" void* malloc(std::size_t size) noexcept {
    return Fails(__builtin_return_address(0)) ? nullptr : __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
    return Fails(__builtin_return_address(0)) ? nullptr : __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, std::size_t size) noexcept {
    return Fails(__builtin_return_address(0)) ? nullptr : __libc_realloc(block, size);
}

extern "C" void free(void* block) noexcept {
    __libc_free(block);
}

void* operator new(std::size_t size) {
    return NewBlock(size, __builtin_return_address(0));
}
void* operator new[](std::size_t size) {
    return NewBlock(size, __builtin_return_address(0));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return NewBlockNoThrow(size, __builtin_return_address(0));
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return NewBlockNoThrow(size, __builtin_return_address(0));
}
void operator delete(void* block) noexcept {
    __libc_free(block);
}
void operator delete[](void* block) noexcept {
    __libc_free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    __libc_free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    __libc_free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    __libc_free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    __libc_free(block);
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
