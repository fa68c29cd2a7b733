// The replaced allocator entry points (see replace_allocator.h): each asks the program's
// AllocationFails with its caller's return address, then passes the call on to the C library.
// Deallocation is passed straight through.
#include "tools/support/replace_allocator.h"

#include <cstddef>
#include <new>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
}

namespace {

void* NewBlock(std::size_t size, const void* caller) {
    if (kovasupport::AllocationFails(caller))
        throw std::bad_alloc();
    void* block = __libc_malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void* NewBlockNoThrow(std::size_t size, const void* caller) noexcept {
    return kovasupport::AllocationFails(caller) ? nullptr : __libc_malloc(size == 0 ? 1 : size);
}

}  // namespace

extern "C" void* malloc(std::size_t size) noexcept {
    return kovasupport::AllocationFails(__builtin_return_address(0)) ? nullptr
                                                                     : __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
    return kovasupport::AllocationFails(__builtin_return_address(0)) ? nullptr
                                                                     : __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, std::size_t size) noexcept {
    return kovasupport::AllocationFails(__builtin_return_address(0)) ? nullptr
                                                                     : __libc_realloc(block, size);
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
