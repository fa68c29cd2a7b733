// The soak's add-in on ELF platforms (see addin_image.h): libkovaevents.so opened with dlopen, its
// code found among the loaded objects, and the tables' addresses read from the file's .symtab
// (64-bit ELF), added to the address the library was loaded at.
#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/soak/addin_image.h"
#include "tools/support/loaded_code.h"

namespace soak {
namespace {

bool FindTables(const kovasupport::LoadedCode& code, AddinImage* image, std::string* error) {
    std::ifstream in(code.file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (bytes.size() < sizeof(Elf64_Ehdr)) {
        *error = "cannot read " + code.file;
        return false;
    }
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (header.e_shoff == 0 ||
        header.e_shoff + header.e_shnum * sizeof(Elf64_Shdr) > bytes.size()) {
        *error = "no section headers in " + code.file;
        return false;
    }
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    std::memcpy(sections.data(), bytes.data() + header.e_shoff,
                header.e_shnum * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_SYMTAB || section.sh_link >= sections.size())
            continue;
        const Elf64_Shdr& strings = sections[section.sh_link];
        for (size_t at = section.sh_offset;
             at + sizeof(Elf64_Sym) <= section.sh_offset + section.sh_size;
             at += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, bytes.data() + at, sizeof symbol);
            if (symbol.st_name >= strings.sh_size)
                continue;
            const char* name = bytes.data() + strings.sh_offset + symbol.st_name;
            for (int t = 0; t < 2; ++t) {
                if (std::strcmp(name, kTableSymbols[t]) == 0)
                    image->tables[t] = reinterpret_cast<const void*>(code.base + symbol.st_value);
            }
        }
    }
    if (image->tables[0] == nullptr || image->tables[1] == nullptr) {
        *error = "the pending-note tables are not in the symbol table of " + code.file;
        return false;
    }
    return true;
}

}  // namespace

bool OpenAddinImage(AddinImage* image, std::string* error) {
    void* library = dlopen(KOVA_ADDIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        *error = dlerror();
        return false;
    }
    image->start = reinterpret_cast<STATUS (*)()>(dlsym(library, "MainEntryPoint"));
    if (image->start == nullptr || dlsym(library, "ExtMgrCallback") == nullptr) {
        *error = "the add-in does not export its entry points";
        return false;
    }
    kovasupport::LoadedCode code;
    if (!kovasupport::FindLoadedCode("libkovaevents", &code) || code.end == 0) {
        *error = "the add-in's code is not among the loaded libraries";
        return false;
    }
    image->codeBegin = code.begin;
    image->codeEnd = code.end;
    return FindTables(code, image, error);
}

}  // namespace soak
