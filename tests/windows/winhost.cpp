// The Windows test host's tools (see winhost.h): library loading by ordinal, the export table
// read from the loaded image, and the stand-in server helpers.
#include "tests/windows/winhost.h"

#include <cstdio>
#include <sstream>

#include "tools/support/standin.h"

namespace winhost {
namespace {

// The folder of the running host program, with a trailing backslash.
std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    const std::size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

// GetProcAddress answers a FARPROC; the detour through void(*)() is the defined way to reach
// another function pointer type.
template <typename Fn>
Fn EntryPoint(HMODULE module, WORD ordinal) {
    const FARPROC proc = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

AddinLibrary::AddinLibrary() {
    module_ = LoadLibraryA((ProgramFolder() + "kovaevents.dll").c_str());
    if (module_ == nullptr)
        return;
    mainEntryPoint_ = EntryPoint<MainEntryPointFn>(module_, 1);
    handler_ = EntryPoint<HandlerFn>(module_, 2);
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

ExportTable ReadExportTable(HMODULE module) {
    ExportTable table;
    if (module == nullptr)
        return table;
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
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
