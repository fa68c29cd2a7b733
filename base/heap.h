// The owner of a block from malloc/calloc, for the records whose C layout keeps bare pointers
// (list nodes, trigger records, monitored arrays): the block is freed on every path until its
// owner hands it to the record that keeps it (release()).
#ifndef KOVA_HOSTAPI_HEAP_H
#define KOVA_HOSTAPI_HEAP_H

#include <cstdlib>
#include <memory>

namespace kova {

struct FreeDeleter {
    void operator()(void* block) const noexcept { std::free(block); }
};
template <typename T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

}  // namespace kova

#endif  // KOVA_HOSTAPI_HEAP_H
