// The soak's add-in on Windows (see addin_image.h): kovaevents.dll from the soak's own folder,
// loaded with LoadLibrary as the server loads it, and the tables' addresses from the COFF symbol
// table of the DLL file (section number and offset, turned into an address of the loaded image).
// The code span stays empty: only the Linux build fails allocations.
#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/soak/addin_image.h"
#include "tools/support/windows_module.h"

namespace soak {
namespace {

constexpr size_t kSymbolSize = 18;  // IMAGE_SIZEOF_SYMBOL: the records are packed

template <typename T>
T ReadAt(const std::vector<char>& bytes, size_t at) {
    T value{};
    if (at + sizeof value <= bytes.size())
        std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

bool FindTables(HMODULE module, const std::string& file, AddinImage* image, std::string* error) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    const auto peOffset = ReadAt<LONG>(bytes, offsetof(IMAGE_DOS_HEADER, e_lfanew));
    const size_t fileHeaderAt = static_cast<size_t>(peOffset) + sizeof(DWORD);
    const auto header = ReadAt<IMAGE_FILE_HEADER>(bytes, fileHeaderAt);
    const size_t symbolsAt = header.PointerToSymbolTable;
    const size_t stringsAt = symbolsAt + header.NumberOfSymbols * kSymbolSize;
    if (bytes.empty() || symbolsAt == 0 || stringsAt > bytes.size()) {
        *error = "no COFF symbol table in " + file;
        return false;
    }
    const size_t sectionsAt =
        fileHeaderAt + sizeof(IMAGE_FILE_HEADER) + header.SizeOfOptionalHeader;
    const auto base = reinterpret_cast<uintptr_t>(module);
    for (DWORD i = 0; i < header.NumberOfSymbols; ++i) {
        const size_t at = symbolsAt + i * kSymbolSize;
        // Name (8 bytes: the name itself, or 0 and an offset into the string table), Value,
        // SectionNumber, Type, StorageClass, NumberOfAuxSymbols.
        std::string name;
        if (ReadAt<DWORD>(bytes, at) == 0) {
            const size_t offset = stringsAt + ReadAt<DWORD>(bytes, at + 4);
            if (offset < bytes.size())
                name = std::string(bytes.data() + offset,
                                   strnlen(bytes.data() + offset, bytes.size() - offset));
        } else {
            name = std::string(bytes.data() + at, strnlen(bytes.data() + at, 8));
        }
        const auto value = ReadAt<DWORD>(bytes, at + 8);
        const auto section = ReadAt<SHORT>(bytes, at + 12);
        for (int t = 0; t < 2; ++t) {
            if (name != kTableSymbols[t] || section < 1 || section > header.NumberOfSections)
                continue;
            const auto sectionHeader =
                ReadAt<IMAGE_SECTION_HEADER>(bytes, sectionsAt + static_cast<size_t>(section - 1) *
                                                                     sizeof(IMAGE_SECTION_HEADER));
            image->tables[t] =
                reinterpret_cast<const void*>(base + sectionHeader.VirtualAddress + value);
        }
        i += ReadAt<BYTE>(bytes, at + 17);  // skip the auxiliary records
    }
    if (image->tables[0] == nullptr || image->tables[1] == nullptr) {
        *error = "the pending-note tables are not in the symbol table of " + file;
        return false;
    }
    return true;
}

}  // namespace

using kovasupport::win::EntryPoint;

bool OpenAddinImage(AddinImage* image, std::string* error) {
    const std::string path = kovasupport::win::ProgramFolder() + "kovaevents.dll";
    const HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        *error = "LoadLibrary(" + path + ") failed: error " + std::to_string(GetLastError());
        return false;
    }
    image->start = EntryPoint<STATUS (*)()>(module, "MainEntryPoint");
    if (image->start == nullptr || EntryPoint<EMHANDLER>(module, "ExtMgrCallback") == nullptr) {
        *error = "the add-in does not export its entry points";
        return false;
    }
    return FindTables(module, kovasupport::win::ModuleFile(module), image, error);
}

}  // namespace soak
