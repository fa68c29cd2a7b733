// The counting allocator (see countalloc.h): thin wrappers over the C library's own allocator
// entry points that count each call and note whether its caller lies in the watched range.
// Deallocation is passed straight through; aligned operator new is left to the C++ library.
#include "bench/countalloc.h"

#include <atomic>
#include <cstddef>
#include <new>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
}

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

void* NewBlock(std::size_t size, const void* caller) {
    Count(caller);
    void* block = __libc_malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void* NewBlockNoThrow(std::size_t size, const void* caller) noexcept {
    Count(caller);
    return __libc_malloc(size == 0 ? 1 : size);
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

// ---- The replaced entry points -------------------------------------------------------------

extern "C" void* malloc(std::size_t size) noexcept {
    Count(__builtin_return_address(0));
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
    Count(__builtin_return_address(0));
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, std::size_t size) noexcept {
    Count(__builtin_return_address(0));
    return __libc_realloc(block, size);
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
