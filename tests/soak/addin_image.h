// What the platform's loader gives the soak of the add-in it has loaded: the start entry point, the
// span of the add-in's code and where its two pending-note tables live. One implementation per
// platform: addin_elf.cpp (dlopen and the ELF symbol table), addin_windows.cpp (LoadLibrary and
// the PE file's COFF symbol table). The library exports only its entry points, so the tables'
// addresses come from the symbol table the presets' builds keep.
#ifndef KOVA_TESTS_SOAK_ADDIN_IMAGE_H
#define KOVA_TESTS_SOAK_ADDIN_IMAGE_H

#include <cstdint>
#include <string>

#include "hostapi/qixtypes.h"

namespace soak {

struct AddinImage {
    STATUS (*start)() = nullptr;  // MainEntryPoint; ExtMgrCallback was found too
    uintptr_t codeBegin = 0;      // the add-in's code, [codeBegin, codeEnd), for failed allocations
    uintptr_t codeEnd = 0;
    const void* tables[2] = {nullptr, nullptr};  // the heads of the two tables
};

// The mangled names of the two table heads, in the order of AddinImage::tables.
constexpr const char* kTableSymbols[2] = {"_ZN4kova14hSaveNoteTableE",
                                          "_ZN4kova16hDeleteNoteTableE"};

// Loads the add-in built beside the soak and fills `image`; false with `error` set when it cannot.
bool OpenAddinImage(AddinImage* image, std::string* error);

}  // namespace soak

#endif  // KOVA_TESTS_SOAK_ADDIN_IMAGE_H
