// The benchmark host (see benchhost.h): server set-up, loading and starting the add-in with dlopen,
// and the set-up steps shared by the benchmarks and the counts.
#include "bench/benchhost.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "hostapi/handles.h"
#include "tools/support/loaded_code.h"

namespace kovabench {

const char* const kUnmonitoredDb = "other.qix";
const char* const kShopDb = "shop/items.qix";
const char* const kBulkDb = "bulk/notes.qix";

namespace {

constexpr const char* kEventDb = "kovaevents.qix";
constexpr int kMaxThreads = 2;

using MainEntryPointFn = STATUS (*)();

kovasupport::LoadedCode gCode;  // the add-in's, once loaded

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "kovabench: %s\n", what.c_str());
    std::exit(2);
}

void Check(STATUS status, const std::string& what) {
    if (status != 0)
        Fail(what + " failed with status " + std::to_string(status));
}

void CreateDatabaseWithForm(const std::string& path) {
    Check(qixsim::CreateDatabase(path), "CreateDatabase " + path);
    Check(qixsim::CreateForm(path, "Item"), "CreateForm " + path);
}

void BuildServer() {
    qixsim::Reset();  // system clock: no time shared between threads
    Check(qixsim::CreateEventDatabase(kEventDb), "CreateEventDatabase");
    for (const char* path : {kUnmonitoredDb, kShopDb, kBulkDb})
        CreateDatabaseWithForm(path);
    for (int thread = 0; thread < kMaxThreads; ++thread) {
        CreateDatabaseWithForm(PlainDb(thread));
        CreateDatabaseWithForm(WatchedDb(thread));
    }
}

void LoadAndStartAddin() {
    void* library = dlopen(KOVA_ADDIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        Fail(dlerror());
    auto start = reinterpret_cast<MainEntryPointFn>(dlsym(library, "MainEntryPoint"));
    if (start == nullptr || dlsym(library, "ExtMgrCallback") == nullptr)
        Fail("the add-in does not export its entry points");
    kovasupport::FindLoadedCode("libkovaevents", &gCode);

    // The lifecycle lines go to the console; keep them out of the benchmark output.
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0)
        dup2(devNull, STDOUT_FILENO);
    const STATUS status = start();
    std::fflush(stdout);
    if (saved >= 0) {
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
    if (devNull >= 0)
        close(devNull);
    Check(status, "MainEntryPoint");
    if (qixsim::RegistrationCount() != 8)
        Fail("the add-in did not register its eight hooks");
}

// Runs `body` with the handlers suspended, then restores the caller's setting.
template <typename Body>
void Quietly(Body&& body) {
    const bool wasSuspended = qixsim::SuspendHandlers(true);
    body();
    qixsim::SuspendHandlers(wasSuspended);
}

// Deletes the listed notes of `dbPath` (handlers suspended by the caller).
void DeleteIds(const std::string& dbPath, const std::vector<NOTEID>& ids) {
    if (ids.empty())
        return;
    DBHANDLE db = 0;
    Check(qixsim::OpenDatabase(dbPath, &db), "OpenDatabase " + dbPath);
    const STATUS status = qixsim::DeleteNotes(db, ids);
    qixsim::CloseHandle(db);
    Check(status, "DeleteNotes " + dbPath);
}

std::vector<NOTEID> DocumentIds(const std::vector<qixsim::NoteInfo>& notes) {
    std::vector<NOTEID> ids;
    ids.reserve(notes.size());
    for (const qixsim::NoteInfo& note : notes) {
        if (note.noteClass == NOTE_CLASS_DOCUMENT)
            ids.push_back(note.noteId);
    }
    return ids;
}

STATUS OpenFormAndClose(void* parameter, const SEARCH_MATCH* match, const void*) {
    const DBHANDLE db = *static_cast<const DBHANDLE*>(parameter);
    kova::NoteGuard note;
    const STATUS status = QIXNoteOpen(db, match->noteId, 0, note.Out());
    if (status != 0)
        return status;
    char form[131];
    QIXItemGetText(note.Get(), "Form", form, 130);
    return note.Close();
}

}  // namespace

void StartServerAndAddin() {
    static std::once_flag once;
    std::call_once(once, [] {
        BuildServer();
        LoadAndStartAddin();
    });
}

bool AddinCodeRange(uintptr_t* begin, uintptr_t* end) {
    if (gCode.begin == 0)
        return false;
    *begin = gCode.begin;
    *end = gCode.end;
    return true;
}

std::string PlainDb(int thread) {
    return "plain/t" + std::to_string(thread) + ".qix";
}

std::string WatchedDb(int thread) {
    return "watched/t" + std::to_string(thread) + ".qix";
}

void SetProfiles(const std::vector<Trigger>& triggers) {
    Quietly([&] {
        DeleteIds(kEventDb, DocumentIds(qixsim::ListNotes(kEventDb)));
        for (const Trigger& trigger : triggers) {
            qixsim::Items items{{"Form", std::string("EventTriggerConfiguration")},
                                {"ConnectorId", trigger.connector},
                                {"EventTypes", qixsim::TextList(trigger.eventTypes)},
                                {"MonitoredDocuments", qixsim::TextList(trigger.monitored)}};
            Check(qixsim::CreateDocument(kEventDb, items), "CreateDocument (profile)");
        }
    });
}

std::vector<Trigger> UnrelatedTriggers(int count) {
    std::vector<Trigger> triggers;
    for (int i = 0; i < count; ++i) {
        char path[64];
        std::snprintf(path, sizeof path, "archive/db%04d.qix", i);
        triggers.push_back(
            {"connector-" + std::to_string(i), {"Create", "Update", "Delete"}, {path}});
    }
    return triggers;
}

std::vector<Trigger> ShopTriggers(int count) {
    std::vector<Trigger> triggers;
    for (int i = 0; i < count; ++i)
        triggers.push_back({"shop-" + std::to_string(i), {"Update"}, {kShopDb}});
    return triggers;
}

void ClearEvents() {
    Quietly([] { DeleteIds(kEventDb, DocumentIds(qixsim::ListDocuments(kEventDb, "Event"))); });
}

void AddEvents(std::size_t count) {
    Quietly([&] {
        for (std::size_t i = 0; i < count; ++i) {
            qixsim::Items items{{"EventId", std::string(32, '0')},
                                {"EventType", std::string("Update")},
                                {"DBPath", std::string(kShopDb)},
                                {"FormName", std::string("Item")},
                                {"UNID", std::string(32, '1')},
                                {"PickFields", std::string("NoteID:8F6")},
                                {"Status", 0.0},
                                {"ConnectorId", std::string("shop-0")},
                                {"Form", std::string("Event")}};
            Check(qixsim::CreateDocument(kEventDb, items), "CreateDocument (event)");
        }
    });
}

std::size_t EventCount() {
    return qixsim::ListDocuments(kEventDb, "Event").size();
}

SavedDocument::SavedDocument(const std::string& dbPath) {
    NOTEID id = 0;
    Check(qixsim::CreateDocument(dbPath, {{"Form", std::string("Item")}, {"Title", dbPath}}, &id),
          "CreateDocument " + dbPath);
    Open(dbPath, id);
}

SavedDocument::SavedDocument(const std::string& dbPath, NOTEID noteId) {
    Open(dbPath, noteId);
}

void SavedDocument::Open(const std::string& dbPath, NOTEID noteId) {
    Check(qixsim::OpenDatabase(dbPath, &db_), "OpenDatabase " + dbPath);
    Check(qixsim::OpenNote(db_, noteId, &note_), "OpenNote " + dbPath);
}

SavedDocument::~SavedDocument() {
    Close();
}

SavedDocument::SavedDocument(SavedDocument&& other) noexcept
    : db_(std::exchange(other.db_, 0)), note_(std::exchange(other.note_, 0)) {}

SavedDocument& SavedDocument::operator=(SavedDocument&& other) noexcept {
    if (this != &other) {
        Close();
        db_ = std::exchange(other.db_, 0);
        note_ = std::exchange(other.note_, 0);
    }
    return *this;
}

void SavedDocument::Close() noexcept {
    if (note_ != 0)
        qixsim::CloseHandle(note_);
    if (db_ != 0)
        qixsim::CloseHandle(db_);
    note_ = 0;
    db_ = 0;
}

SavedDocument OpenFirstProfile() {
    const std::vector<qixsim::NoteInfo> profiles =
        qixsim::ListDocuments(kEventDb, "EventTriggerConfiguration");
    if (profiles.empty())
        Fail("no profile document to edit");
    return SavedDocument(kEventDb, profiles.front().noteId);
}

std::vector<NOTEID> CreateBulkNotes(std::size_t count) {
    std::vector<NOTEID> ids;
    ids.reserve(count);
    const qixsim::Items items{{"Form", std::string("Item")}, {"Title", std::string("bulk")}};
    for (std::size_t i = 0; i < count; ++i) {
        NOTEID id = 0;
        Check(qixsim::CreateDocument(kBulkDb, items, &id), "CreateDocument (bulk)");
        ids.push_back(id);
    }
    return ids;
}

STATUS DeleteBulkNotes(const std::vector<NOTEID>& ids) {
    DBHANDLE db = 0;
    Check(qixsim::OpenDatabase(kBulkDb, &db), "OpenDatabase bulk");
    const STATUS status = qixsim::DeleteNotes(db, ids);
    qixsim::CloseHandle(db);
    return status;
}

void Prime(const SavedDocument& document, int count) {
    for (int i = 0; i < count; ++i)
        Check(document.Save(), "priming save");
}

STATUS SearchAllDocuments() {
    kova::DbGuard db;
    STATUS status = QIXDbOpen(kEventDb, db.Out());
    if (status != 0)
        return status;
    kova::FormulaGuard formula;
    status = QIXFormulaCompile(nullptr, 0, "@All", 4, formula.Out(), nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr);
    if (status != 0)
        return status;
    DBHANDLE handle = db.Get();
    return QIXSearch(handle, formula.Get(), "(All Configurations)", 0, NOTE_CLASS_DOCUMENT, nullptr,
                     OpenFormAndClose, &handle, nullptr);
}

}  // namespace kovabench
