// The allocator of the add-in's standard containers: every block comes from malloc and goes back
// with free(), like the add-in's other heap blocks. A block that cannot be had throws bad_alloc
// (what a container expects), which the container's owner catches and logs; nothing throws past
// it.
#ifndef KOVA_BASE_ALLOCATOR_H
#define KOVA_BASE_ALLOCATOR_H

#include <cstddef>
#include <cstdlib>
#include <new>

namespace kova {

template <typename T>
struct MallocAllocator {
    using value_type = T;
    MallocAllocator() noexcept = default;
    template <typename U>
    MallocAllocator(const MallocAllocator<U>&) noexcept {}

    // The containers never ask for more than max_size(), so the size cannot overflow.
    T* allocate(std::size_t count) {
        void* block = std::malloc(count * sizeof(T));
        if (block == nullptr)
            throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t) noexcept { std::free(block); }
};
template <typename T, typename U>
bool operator==(const MallocAllocator<T>&, const MallocAllocator<U>&) noexcept {
    return true;
}
template <typename T, typename U>
bool operator!=(const MallocAllocator<T>&, const MallocAllocator<U>&) noexcept {
    return false;
}

}  // namespace kova

#endif  // KOVA_BASE_ALLOCATOR_H
