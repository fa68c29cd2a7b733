// Loading the add-in (see addin.h) and finding its pending-note tables: the library exports only
// its two entry points, so the tables' addresses come from its ELF symbol table (the presets'
// builds keep it), added to the address the library was loaded at.
#include "tests/soak/addin.h"

#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "hostsim/host.h"
#include "tests/soak/heapfail.h"
#include "tools/support/loaded_code.h"

namespace soak {
namespace {

constexpr const char* kTables[] = {"_ZN4kova14hSaveNoteTableE", "_ZN4kova16hDeleteNoteTableE"};

struct Loaded {
    kovasupport::LoadedCode code;
    const void* tables[2] = {nullptr, nullptr};
};
Loaded gAddin;

// The tables' addresses from the file's .symtab (64-bit ELF).
bool FindTables(std::string* error) {
    std::ifstream in(gAddin.code.file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (bytes.size() < sizeof(Elf64_Ehdr)) {
        *error = "cannot read " + gAddin.code.file;
        return false;
    }
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (header.e_shoff == 0 ||
        header.e_shoff + header.e_shnum * sizeof(Elf64_Shdr) > bytes.size()) {
        *error = "no section headers in " + gAddin.code.file;
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
                if (std::strcmp(name, kTables[t]) == 0)
                    gAddin.tables[t] =
                        reinterpret_cast<const void*>(gAddin.code.base + symbol.st_value);
            }
        }
    }
    if (gAddin.tables[0] == nullptr || gAddin.tables[1] == nullptr) {
        *error = "the pending-note tables are not in the symbol table of " + gAddin.code.file;
        return false;
    }
    return true;
}

}  // namespace

bool LoadAddin(std::string* error) {
    void* library = dlopen(KOVA_ADDIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        *error = dlerror();
        return false;
    }
    using MainEntryPointFn = STATUS (*)();
    auto start = reinterpret_cast<MainEntryPointFn>(dlsym(library, "MainEntryPoint"));
    if (start == nullptr || dlsym(library, "ExtMgrCallback") == nullptr) {
        *error = "the add-in does not export its entry points";
        return false;
    }
    if (!kovasupport::FindLoadedCode("libkovaevents", &gAddin.code) || gAddin.code.end == 0) {
        *error = "the add-in's code is not among the loaded libraries";
        return false;
    }
    if (!FindTables(error))
        return false;
    heapfail::SetAddinRange(gAddin.code.begin, gAddin.code.end);
    const STATUS status = start();
    if (status != 0 || qixsim::RegistrationCount() != 8) {
        *error = "MainEntryPoint answered " + std::to_string(status) + " with " +
                 std::to_string(qixsim::RegistrationCount()) + " registrations";
        return false;
    }
    return true;
}

bool PendingTablesEmpty(std::string* error) {
    if (gAddin.tables[0] == nullptr) {
        *error = "the add-in is not loaded";
        return false;
    }
    for (const void* table : gAddin.tables) {
        const void* head = nullptr;
        std::memcpy(&head, table, sizeof head);
        if (head != nullptr) {
            *error = "a pending-note table is not empty";
            return false;
        }
    }
    return true;
}

}  // namespace soak
