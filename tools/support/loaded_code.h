// Where a shared library the process has loaded keeps its code: the file it came from, the address
// it was loaded at and the span of its executable segments. The benchmarks' allocation counts and
// the soak's failing allocator use the span to tell the add-in's own allocations from the rest.
#ifndef KOVA_TOOLS_SUPPORT_LOADED_CODE_H
#define KOVA_TOOLS_SUPPORT_LOADED_CODE_H

#include <cstdint>
#include <string>

namespace kovasupport {

struct LoadedCode {
    std::string file;
    uintptr_t base = 0;   // the address the library was loaded at
    uintptr_t begin = 0;  // its executable segments: [begin, end)
    uintptr_t end = 0;
};

// The first loaded library whose file name contains `name`; false when none is loaded.
bool FindLoadedCode(const char* name, LoadedCode* found);

}  // namespace kovasupport

#endif  // KOVA_TOOLS_SUPPORT_LOADED_CODE_H
