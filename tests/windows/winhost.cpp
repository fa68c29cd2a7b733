// The Windows test host's tools (see winhost.h): library loading by ordinal, the export table
// read from the loaded image, console capture through the C runtime's descriptors, and the
// stand-in server helpers.
#include "tests/windows/winhost.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <sstream>

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

// A database handle the host side opens for one operation.
class HostDb {
  public:
    explicit HostDb(const std::string& path) { qixsim::OpenDatabase(path, &handle_); }
    ~HostDb() { qixsim::CloseHandle(handle_); }
    HostDb(const HostDb&) = delete;
    HostDb& operator=(const HostDb&) = delete;
    DBHANDLE Get() const { return handle_; }

  private:
    DBHANDLE handle_ = 0;
};

// A note handle the host side holds for one operation.
class HostNote {
  public:
    HostNote() = default;
    ~HostNote() { qixsim::CloseHandle(handle_); }
    HostNote(const HostNote&) = delete;
    HostNote& operator=(const HostNote&) = delete;
    NOTEHANDLE* Out() { return &handle_; }
    NOTEHANDLE Get() const { return handle_; }

  private:
    NOTEHANDLE handle_ = 0;
};

std::string Item(const qixsim::NoteInfo& note, const std::string& name) {
    for (const auto& item : note.items) {
        if (item.first == name)
            return qixsim::ItemText(item.second);
    }
    return "<missing>";
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

ConsoleCapture::ConsoleCapture() {
    std::fflush(stdout);
    char folder[MAX_PATH] = {};
    if (GetTempPathA(MAX_PATH, folder) == 0 || GetTempFileNameA(folder, "kva", 0, path_) == 0)
        return;
    captureFd_ = _open(path_, _O_RDWR | _O_BINARY | _O_TRUNC, _S_IREAD | _S_IWRITE);
    if (captureFd_ < 0)
        return;
    savedFd_ = _dup(1);
    _dup2(captureFd_, 1);
}

ConsoleCapture::~ConsoleCapture() {
    Stop();
}

std::string ConsoleCapture::Stop() {
    std::string text;
    if (captureFd_ < 0)
        return text;
    std::fflush(stdout);
    if (savedFd_ >= 0) {
        _dup2(savedFd_, 1);
        _close(savedFd_);
        savedFd_ = -1;
    }
    _lseek(captureFd_, 0, SEEK_SET);
    char chunk[4096];
    for (int n; (n = _read(captureFd_, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(n));
    _close(captureFd_);
    captureFd_ = -1;
    DeleteFileA(path_);
    return text;
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
    qixsim::Reset();
    TIMEDATE start{};
    qixsim::ParseTime("2026-03-02 08:15:00", &start);
    qixsim::UseFixedClock(start);
    qixsim::SetSeparator('\\');
    qixsim::SetDataDirectory("C:\\qix\\data");
    qixsim::CreateEventDatabase();
    qixsim::CreateDatabase("sales/orders.qix");
    qixsim::CreateForm("sales/orders.qix", "Order; Purchase Order");
    qixsim::CreateDatabase("other.qix");
    qixsim::CreateForm("other.qix", "Order");
}

NOTEID AddProfile(const qixsim::Items& items) {
    NOTEID id = 0;
    qixsim::CreateDocument("kovaevents.qix", items, &id);
    return id;
}

NOTEID CreateDoc(const std::string& db, const std::string& form, STATUS* status) {
    HostDb database(db);
    HostNote note;
    qixsim::NewNote(database.Get(), note.Out());
    qixsim::SetItems(note.Get(), {{"Form", form}});
    const STATUS result = qixsim::StoreNote(note.Get());
    if (status != nullptr)
        *status = result;
    NOTEID id = 0;
    qixsim::NoteIdOf(note.Get(), &id);
    return id;
}

STATUS UpdateDoc(const std::string& db, NOTEID id, const std::string& title, bool extended) {
    HostDb database(db);
    HostNote note;
    STATUS status = qixsim::OpenNote(database.Get(), id, note.Out());
    if (status != 0)
        return status;
    status = qixsim::SetItems(note.Get(), {{"Title", title}});
    return status != 0 ? status : qixsim::StoreNote(note.Get(), extended);
}

STATUS DeleteDoc(const std::string& db, NOTEID id) {
    HostDb database(db);
    return qixsim::DeleteNote(database.Get(), id);
}

STATUS DeleteDocs(const std::string& db, const std::vector<NOTEID>& ids) {
    HostDb database(db);
    return qixsim::DeleteNotes(database.Get(), ids);
}

std::vector<std::string> Events() {
    std::vector<std::string> events;
    for (const auto& note : qixsim::ListDocuments("kovaevents.qix", "Event")) {
        std::string text;
        for (const char* name : {"EventType", "DBPath", "FormName", "UNID", "PickFields", "Status",
                                 "ConnectorId", "Form"}) {
            if (!text.empty())
                text += '|';
            text += Item(note, name);
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
        ids.push_back(Item(note, "EventId"));
    return ids;
}

std::string UnidOf(const std::string& db, NOTEID id) {
    for (const auto& note : qixsim::ListNotes(db)) {
        if (note.noteId != id)
            continue;
        char text[40];
        const ORIGINATORID& o = note.originatorId;
        std::snprintf(text, sizeof text, "%08X%08X%08X%08X", static_cast<unsigned>(o.file.word[1]),
                      static_cast<unsigned>(o.file.word[0]), static_cast<unsigned>(o.note.word[1]),
                      static_cast<unsigned>(o.note.word[0]));
        return text;
    }
    return "<no such note>";
}

}  // namespace winhost
