// The stand-in server's process-wide state and its databases: the registry of databases by path,
// Reset, the host's set-up calls (databases, forms, views, documents) and the inspection calls,
// and the database operations of the server API (open, close, path).
#include <algorithm>
#include <cstdio>

#include "hostsim/callgate.h"
#include "hostsim/clock.h"
#include "hostsim/handles.h"
#include "hostsim/notify.h"
#include "hostsim/objects.h"
#include "hostsim/server.h"
#include "hostsim/store.h"

namespace qixsim::detail {
namespace {

const char* const kSystemDatabases[] = {"log.qix", "hub.qix"};

std::unique_ptr<Database> MakeDatabase(const std::string& path, uint32_t serial) {
    auto db = std::make_unique<Database>();
    db->path = path;
    db->serial = serial;
    // File part of the universal ids: derived from the database's serial, never all zero.
    db->fileUnid.word[0] = serial;
    db->fileUnid.word[1] = 0xC1257A00u;
    db->nextNoteId = kFirstNoteId;
    return db;
}

// Adds a database under the registry's exclusive lock.
STATUS AddDatabaseLocked(ServerState& server, const std::string& path) {
    if (server.databases.count(path) != 0)
        return ERR_QIX_DB_EXISTS;
    server.everyDatabase.push_back(MakeDatabase(path, ++server.dbSerial));
    server.databases[path] = server.everyDatabase.back().get();
    return 0;
}

NoteInfo Describe(const StoredNote& note) {
    NoteInfo info;
    info.noteId = note.id;
    info.noteClass = note.noteClass;
    info.originatorId = note.originatorId;
    info.items = *note.items;
    return info;
}

// The stored notes of a database for which `wanted(note)` holds, in note id order (none when the
// database does not exist).
template <typename Wanted>
std::vector<NoteInfo> DescribeNotes(const std::string& dbPath, Wanted&& wanted) {
    std::vector<NoteInfo> notes;
    Database* db = FindDatabase(dbPath);
    if (db == nullptr)
        return notes;
    ReadLock lock(db->mutex);
    for (const auto& entry : db->notes) {
        if (wanted(entry.second))
            notes.push_back(Describe(entry.second));
    }
    lock.unlock();
    std::sort(notes.begin(), notes.end(),
              [](const NoteInfo& a, const NoteInfo& b) { return a.noteId < b.noteId; });
    return notes;
}

// The host's set-up store of a new note in the database at `dbPath`.
STATUS CreateNote(const std::string& dbPath, uint16_t noteClass, Items items, NOTEID* retNoteId) {
    Database* db = FindDatabase(dbPath);
    if (db == nullptr)
        return ERR_QIX_DB_NOT_FOUND;
    return StoreNewNote(*db, noteClass, std::move(items), retNoteId);
}

}  // namespace

ServerState& Server() {
    static ServerState* const server = [] {
        auto* state = new ServerState();  // lives as long as the process
        for (const char* path : kSystemDatabases)
            AddDatabaseLocked(*state, path);
        return state;
    }();
    return *server;
}

std::string NormalizePath(const std::string& path) {
    std::string normalized = path;
    std::replace(normalized.begin(), normalized.end(), '\\', '/');
    return normalized;
}

namespace {

// Under the registry's lock.
std::string KeyLocked(const ServerState& server, const std::string& path) {
    std::string key = NormalizePath(path);
    // A path that starts with the data directory names the same database as the bare path.
    std::string directory = NormalizePath(server.dataDirectory);
    if (!directory.empty() && directory.back() != '/')
        directory += '/';
    if (directory.size() > 1 && key.compare(0, directory.size(), directory) == 0) {
        key.erase(0, directory.size());
    }
    return key;
}

}  // namespace

std::string DatabaseKey(const std::string& path) {
    ServerState& server = Server();
    ReadLock lock(server.registryMutex);
    return KeyLocked(server, path);
}

Database* FindDatabase(const std::string& path) {
    ServerState& server = Server();
    ReadLock lock(server.registryMutex);
    auto it = server.databases.find(KeyLocked(server, path));
    return it != server.databases.end() ? it->second : nullptr;
}

void ResetStore() {
    ServerState& server = Server();
    std::map<std::string, Database*> old;
    {
        WriteLock lock(server.registryMutex);
        old.swap(server.databases);
        server.dbSerial = 0;
        server.separator = '/';
        server.dataDirectory = "/qix/data";
        for (const char* path : kSystemDatabases)
            AddDatabaseLocked(server, path);
    }
    // The old databases stay allocated (see ServerState) but give back their notes.
    for (const auto& entry : old) {
        Database& db = *entry.second;
        std::unordered_map<NOTEID, StoredNote> notes;
        std::map<NOTEID, std::unique_ptr<ViewIndex>> views;
        {
            WriteLock lock(db.mutex);
            notes.swap(db.notes);
            views.swap(db.views);
            db.designs.clear();
        }
    }
    std::lock_guard<std::mutex> lock(server.logMutex);
    server.logEntries.clear();
}

STATUS OpenDatabaseHandle(const std::string& path, DBHANDLE* retDb) {
    if (retDb == nullptr)
        return ERR_QIX_BAD_ARGUMENT;
    Database* db = FindDatabase(path);
    if (db == nullptr)
        return ERR_QIX_DB_NOT_FOUND;
    auto object = std::make_shared<DbObject>();
    object->db = db;
    return AddHandle(std::move(object), retDb);
}

}  // namespace qixsim::detail

// ---- Server API: databases -------------------------------------------------------------------

using namespace qixsim::detail;

STATUS QIXDbOpen(const char* path, DBHANDLE* retDb) {
    return GuardedCall(Op::QIXDbOpen, [&]() -> STATUS {
        if (path == nullptr)
            return ERR_QIX_BAD_ARGUMENT;
        return OpenDatabaseHandle(path, retDb);
    });
}

STATUS QIXDbClose(DBHANDLE db) {
    const CallSubject subject{QIX_NULLHANDLE, 0, db};
    return GuardedCall(
        Op::QIXDbClose, [&] { return CloseHandleOfKind(db, Kind::Db); }, &subject);
}

STATUS QIXDbPathGet(DBHANDLE db, char* retCanonical, char* retExpanded) {
    return GuardedCall(Op::QIXDbPathGet, [&]() -> STATUS {
        auto object = Lookup<DbObject>(db);
        if (!object)
            return ERR_QIX_INVALID_HANDLE;
        if (retCanonical == nullptr)
            return ERR_QIX_BAD_ARGUMENT;
        char separator = '/';
        std::string directory;
        {
            ServerState& server = Server();
            ReadLock lock(server.registryMutex);
            separator = server.separator;
            directory = server.dataDirectory;
        }
        std::string canonical = object->db->path;
        std::replace(canonical.begin(), canonical.end(), '/', separator);
        std::snprintf(retCanonical, QIX_MAXPATH, "%s", canonical.c_str());
        if (retExpanded != nullptr) {
            std::snprintf(retExpanded, QIX_MAXPATH, "%s%c%s", directory.c_str(), separator,
                          canonical.c_str());
        }
        return 0;
    });
}

// ---- Host side: set-up and inspection ------------------------------------------------------

namespace qixsim {

void Reset() {
    detail::Handles().Clear();
    detail::ResetStore();
    detail::ResetRegistrations();
    detail::ResetFaultsAndCounters();
    detail::ResetClock();
}

void SetSeparator(char separator) {
    if (separator != '/' && separator != '\\')
        return;
    detail::ServerState& server = detail::Server();
    detail::WriteLock lock(server.registryMutex);
    server.separator = separator;
}

void SetDataDirectory(const std::string& dir) {
    detail::ServerState& server = detail::Server();
    detail::WriteLock lock(server.registryMutex);
    server.dataDirectory = dir;
}

STATUS CreateDatabase(const std::string& path) {
    return detail::HostCall([&]() -> STATUS {
        const std::string key = detail::NormalizePath(path);
        if (key.empty() || key.front() == '/')
            return ERR_QIX_BAD_ARGUMENT;
        detail::ServerState& server = detail::Server();
        detail::WriteLock lock(server.registryMutex);
        return detail::AddDatabaseLocked(server, key);
    });
}

STATUS CreateForm(const std::string& dbPath, const std::string& title, NOTEID* retNoteId) {
    return detail::HostCall([&] {
        return detail::CreateNote(dbPath, NOTE_CLASS_FORM, Items{{detail::kTitleItem, title}},
                                  retNoteId);
    });
}

STATUS CreateView(const std::string& dbPath, const std::string& title,
                  const std::vector<std::string>& forms, NOTEID* retNoteId) {
    return detail::HostCall([&] {
        return detail::CreateNote(
            dbPath, NOTE_CLASS_VIEW,
            Items{{detail::kTitleItem, title}, {detail::kSelectionItem, TextList(forms)}},
            retNoteId);
    });
}

STATUS CreateDocument(const std::string& dbPath, const Items& items, NOTEID* retNoteId) {
    return detail::HostCall(
        [&] { return detail::CreateNote(dbPath, NOTE_CLASS_DOCUMENT, items, retNoteId); });
}

STATUS CreateEventDatabase(const std::string& path) {
    STATUS status = CreateDatabase(path);
    for (const char* form :
         {"Configuration", "SystemConfiguration", "EventTriggerConfiguration", "Event"}) {
        if (status == 0)
            status = CreateForm(path, form);
    }
    if (status == 0) {
        status = CreateView(path, "(All Configurations)",
                            {"Configuration", "SystemConfiguration", "EventTriggerConfiguration"});
    }
    return status;
}

STATUS OpenDatabase(const std::string& path, DBHANDLE* retDb) {
    return detail::HostCall([&] { return detail::OpenDatabaseHandle(path, retDb); });
}

STATUS CloseHandle(QIXHANDLE handle) {
    return detail::HostCall([&] { return detail::CloseHandleOfKind(handle, detail::Kind::None); });
}

std::vector<std::string> ListDatabases() {
    detail::ServerState& server = detail::Server();
    detail::ReadLock lock(server.registryMutex);
    std::vector<std::string> paths;
    for (const auto& entry : server.databases)
        paths.push_back(entry.first);
    return paths;  // the registry is ordered by path
}

std::vector<NoteInfo> ListNotes(const std::string& dbPath) {
    return detail::DescribeNotes(dbPath, [](const detail::StoredNote&) { return true; });
}

std::vector<NoteInfo> ListDocuments(const std::string& dbPath, const std::string& form) {
    return detail::DescribeNotes(dbPath, [&](const detail::StoredNote& note) {
        return note.noteClass == NOTE_CLASS_DOCUMENT && note.form == form;
    });
}

std::vector<std::string> LogEntries() {
    detail::ServerState& server = detail::Server();
    std::lock_guard<std::mutex> lock(server.logMutex);
    return server.logEntries;
}

size_t OpenHandleCount() {
    return detail::Handles().Live();
}

}  // namespace qixsim
