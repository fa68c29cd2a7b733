// The Windows test host's tools (see winhost.h): library loading by ordinal, the export table
// read from the loaded image, the heap blocks of the loaded library, and the stand-in server
// helpers.
#include "tests/windows/winhost.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

#include "tools/support/standin.h"
#include "tools/support/windows_module.h"

namespace winhost {

using kovasupport::win::EntryPoint;
using kovasupport::win::ProgramFolder;

AddinLibrary::AddinLibrary() {
    module_ = LoadLibraryA((ProgramFolder() + "kovaevents.dll").c_str());
    if (module_ == nullptr)
        return;
    mainEntryPoint_ = EntryPoint<MainEntryPointFn>(module_, MAKEINTRESOURCEA(1));
    handler_ = EntryPoint<HandlerFn>(module_, MAKEINTRESOURCEA(2));
}

AddinLibrary::~AddinLibrary() {
    Unload();
}

bool AddinLibrary::Unload() {
    if (module_ == nullptr)
        return false;
    const BOOL freed = FreeLibrary(module_);
    module_ = nullptr;
    mainEntryPoint_ = nullptr;
    handler_ = nullptr;
    return freed != 0;
}

namespace heap {
namespace {

// The blocks allocated through the wrappers and not yet freed. The set allocates with the host
// program's own allocator, whose imports are not redirected, so nothing here recurses.
SRWLOCK gLock = SRWLOCK_INIT;
std::set<uintptr_t>* gLive = nullptr;  // block addresses

void Mark(uintptr_t block, bool live) {
    if (block == 0)
        return;
    AcquireSRWLockExclusive(&gLock);
    if (live)
        gLive->insert(block);
    else
        gLive->erase(block);
    ReleaseSRWLockExclusive(&gLock);
}
void Note(uintptr_t block) {
    Mark(block, true);
}
void Forget(uintptr_t block) {
    Mark(block, false);
}

uintptr_t Address(const void* block) {
    return reinterpret_cast<uintptr_t>(block);
}

void* CountedMalloc(size_t size) {
    void* block = std::malloc(size);
    Note(Address(block));
    return block;
}
void* CountedCalloc(size_t count, size_t size) {
    void* block = std::calloc(count, size);
    Note(Address(block));
    return block;
}
void* CountedRealloc(void* old, size_t size) {
    const uintptr_t was = Address(old);
    Forget(was);
    void* block = std::realloc(old, size);
    Note(block != nullptr || size == 0 ? Address(block) : was);  // a failed realloc keeps `old`
    return block;
}
void CountedFree(void* block) {
    Forget(Address(block));
    std::free(block);
}
char* CountedStrdup(const char* text) {
    char* copy = _strdup(text);
    Note(Address(copy));
    return copy;
}

struct Replacement {
    const char* name;
    ULONG_PTR function;
};
const Replacement kReplacements[] = {{"malloc", reinterpret_cast<ULONG_PTR>(&CountedMalloc)},
                                     {"calloc", reinterpret_cast<ULONG_PTR>(&CountedCalloc)},
                                     {"realloc", reinterpret_cast<ULONG_PTR>(&CountedRealloc)},
                                     {"free", reinterpret_cast<ULONG_PTR>(&CountedFree)},
                                     {"_strdup", reinterpret_cast<ULONG_PTR>(&CountedStrdup)}};

}  // namespace

bool Track(HMODULE module) {
    if (module == nullptr)
        return false;
    AcquireSRWLockExclusive(&gLock);
    if (gLive == nullptr)
        gLive = new std::set<uintptr_t>;  // kept to the end: blocks may be freed at exit
    gLive->clear();
    ReleaseSRWLockExclusive(&gLock);
    const auto* base = reinterpret_cast<unsigned char*>(module);
    const IMAGE_DATA_DIRECTORY& entry =
        kovasupport::win::DataDirectory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    size_t replaced = 0;
    for (auto* import =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + entry.VirtualAddress);
         entry.VirtualAddress != 0 && import->Name != 0; ++import) {
        if (_stricmp(reinterpret_cast<const char*>(base + import->Name), "msvcrt.dll") != 0)
            continue;
        const auto* names =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(const_cast<unsigned char*>(base) +
                                                          import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            for (const Replacement& replacement : kReplacements) {
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), replacement.name) != 0)
                    continue;
                DWORD protection = 0;
                if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                                    &protection))
                    return false;
                slots->u1.Function = replacement.function;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection,
                               &protection);
                ++replaced;
            }
        }
    }
    return replaced > 0;
}

std::set<uintptr_t> LiveBlocks() {
    AcquireSRWLockShared(&gLock);
    std::set<uintptr_t> live = gLive != nullptr ? *gLive : std::set<uintptr_t>();
    ReleaseSRWLockShared(&gLock);
    return live;
}

}  // namespace heap

ExportTable ReadExportTable(HMODULE module) {
    ExportTable table;
    if (module == nullptr)
        return table;
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const IMAGE_DATA_DIRECTORY& entry =
        kovasupport::win::DataDirectory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (entry.VirtualAddress == 0 || entry.Size == 0)
        return table;
    const auto* directory =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    table.present = true;
    table.ordinalBase = directory->Base;
    table.functionCount = directory->NumberOfFunctions;
    const auto* names = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + directory->AddressOfNameOrdinals);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        const char* name = reinterpret_cast<const char*>(base + names[i]);
        table.namedOrdinals.push_back(std::string(name) + "@" +
                                      std::to_string(directory->Base + ordinals[i]));
    }
    return table;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void FreshServer() {
    kovasupport::StandInSetup setup;
    setup.clock = "2026-03-02 08:15:00";
    setup.separator = '\\';
    setup.dataDirectory = "C:\\qix\\data";
    setup.databases = {{"sales/orders.qix", {"Order; Purchase Order"}}, {"other.qix", {"Order"}}};
    kovasupport::BuildStandIn(setup);
}

std::vector<std::string> Events() {
    std::vector<std::string> events;
    for (const auto& note : qixsim::ListDocuments("kovaevents.qix", "Event")) {
        std::string text;
        for (const char* name : {"EventType", "DBPath", "FormName", "UNID", "PickFields", "Status",
                                 "ConnectorId", "Form"}) {
            if (!text.empty())
                text += '|';
            text += kovasupport::ItemOf(note, name);
        }
        events.push_back(text);
    }
    return events;
}

std::string EventText(const std::string& type, const std::string& db, const std::string& form,
                      const std::string& unid, NOTEID id, const std::string& connector) {
    char pickFields[32];
    std::snprintf(pickFields, sizeof pickFields, "NoteID:%X", static_cast<unsigned>(id));
    return type + "|" + db + "|" + form + "|" + unid + "|" + pickFields + "|0|" + connector +
           "|Event";
}

std::vector<std::string> EventIds() {
    std::vector<std::string> ids;
    for (const auto& note : qixsim::ListDocuments("kovaevents.qix", "Event"))
        ids.push_back(kovasupport::ItemOf(note, "EventId"));
    return ids;
}

}  // namespace winhost
