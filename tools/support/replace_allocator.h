// The allocator a test or benchmark program puts in front of the C library's for the whole process,
// the dlopen'ed add-in included: malloc, calloc, realloc, free and the operator new and delete
// family (aligned new left to the C++ library), each a thin wrapper over the C library's own entry
// points. Compile replace_allocator.cpp into the executable itself and export its symbols; the
// program defines the one decision below.
#ifndef KOVA_TOOLS_SUPPORT_REPLACE_ALLOCATOR_H
#define KOVA_TOOLS_SUPPORT_REPLACE_ALLOCATOR_H

namespace kovasupport {

// Called for every allocation with the return address of its caller: answers true to make it fail
// (null from malloc, calloc, realloc and nothrow new; std::bad_alloc from new). Must not allocate.
bool AllocationFails(const void* caller) noexcept;

}  // namespace kovasupport

#endif  // KOVA_TOOLS_SUPPORT_REPLACE_ALLOCATOR_H
