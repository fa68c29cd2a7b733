// The end-to-end test host (see addin_host.h).
#include "tests/e2e/addin_host.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace e2e {

const Addin& LoadAddin() {
    static const Addin addin = [] {
        Addin a;
        void* library = dlopen(KOVA_ADDIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            throw std::runtime_error(dlerror());
        a.mainEntryPoint = reinterpret_cast<MainEntryPointFn>(dlsym(library, "MainEntryPoint"));
        a.handler = reinterpret_cast<HandlerFn>(dlsym(library, "ExtMgrCallback"));
        if (a.mainEntryPoint == nullptr || a.handler == nullptr) {
            throw std::runtime_error("entry points not exported");
        }
        return a;
    }();
    return addin;
}

void FreshServer(char separator) {
    qixsim::Reset();
    TIMEDATE start{};
    qixsim::ParseTime("2026-01-05 09:30:00", &start);
    qixsim::UseFixedClock(start);
    qixsim::SetSeparator(separator);
    qixsim::CreateEventDatabase();
    qixsim::CreateDatabase("shop/items.qix");
    qixsim::CreateForm("shop/items.qix", "Item; Article");
    qixsim::CreateDatabase("other.qix");
    qixsim::CreateForm("other.qix", "Item");
}

NOTEID AddProfile(const qixsim::Items& items) {
    NOTEID id = 0;
    qixsim::CreateDocument("kovaevents.qix", items, &id);
    return id;
}

namespace {

struct Db {
    DBHANDLE handle = 0;
    explicit Db(const std::string& path) { qixsim::OpenDatabase(path, &handle); }
    ~Db() { qixsim::CloseHandle(handle); }
};

}  // namespace

NOTEID CreateDoc(const std::string& db, const qixsim::Items& items, STATUS* status, bool extended,
                 STATUS forced) {
    Db database(db);
    NOTEHANDLE note = 0;
    qixsim::NewNote(database.handle, &note);
    qixsim::SetItems(note, items);
    STATUS result = qixsim::StoreNote(note, extended, forced);
    if (status != nullptr)
        *status = result;
    NOTEID id = 0;
    QIXNoteGetInfo(note, NOTE_INFO_ID, &id);
    qixsim::CloseHandle(note);
    return id;
}

STATUS UpdateDoc(const std::string& db, NOTEID id, const qixsim::Items& items, bool extended,
                 STATUS forced) {
    Db database(db);
    NOTEHANDLE note = 0;
    STATUS status = qixsim::OpenNote(database.handle, id, &note);
    if (status != 0)
        return status;
    qixsim::SetItems(note, items);
    status = qixsim::StoreNote(note, extended, forced);
    qixsim::CloseHandle(note);
    return status;
}

STATUS DeleteDoc(const std::string& db, NOTEID id, STATUS forced) {
    Db database(db);
    return qixsim::DeleteNote(database.handle, id, forced);
}

STATUS DeleteDocs(const std::string& db, const std::vector<NOTEID>& ids, STATUS forced) {
    Db database(db);
    return qixsim::DeleteNotes(database.handle, ids, forced);
}

std::string Item(const qixsim::NoteInfo& note, const std::string& name) {
    for (const auto& item : note.items) {
        if (item.first == name)
            return qixsim::ItemText(item.second);
    }
    return "<missing>";
}

std::vector<Event> Events() {
    std::vector<Event> events;
    for (const auto& note : qixsim::ListDocuments("kovaevents.qix", "Event")) {
        events.push_back({Item(note, "EventType"), Item(note, "DBPath"), Item(note, "FormName"),
                          Item(note, "UNID"), Item(note, "PickFields"), Item(note, "ConnectorId")});
    }
    return events;
}

std::string UnidOf(const std::string& db, NOTEID id) {
    for (const auto& note : qixsim::ListNotes(db)) {
        if (note.noteId != id)
            continue;
        char text[40];
        const ORIGINATORID& o = note.originatorId;
        std::snprintf(text, sizeof text, "%08X%08X%08X%08X", o.file.word[1], o.file.word[0],
                      o.note.word[1], o.note.word[0]);
        return text;
    }
    return "<no such note>";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace e2e
