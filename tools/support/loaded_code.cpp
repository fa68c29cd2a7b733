// Finding a loaded library's code (see loaded_code.h) from the program headers the dynamic linker
// keeps for each loaded object.
#include "tools/support/loaded_code.h"

#include <link.h>

#include <cstring>

namespace kovasupport {
namespace {

struct Search {
    const char* name;
    LoadedCode* found;
    bool matched = false;
};

int Visit(struct dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, search->name) == nullptr)
        return 0;
    LoadedCode code;
    code.file = info->dlpi_name;
    code.base = info->dlpi_addr;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type != PT_LOAD || (header.p_flags & PF_X) == 0)
            continue;
        const uintptr_t begin = info->dlpi_addr + header.p_vaddr;
        const uintptr_t end = begin + header.p_memsz;
        if (code.begin == 0 || begin < code.begin)
            code.begin = begin;
        if (end > code.end)
            code.end = end;
    }
    *search->found = std::move(code);
    search->matched = true;
    return 1;
}

}  // namespace

bool FindLoadedCode(const char* name, LoadedCode* found) {
    Search search{name, found};
    dl_iterate_phdr(Visit, &search);
    return search.matched;
}

}  // namespace kovasupport
