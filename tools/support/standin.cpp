// The stand-in as the test hosts build and drive it (see standin.h).
#include "tools/support/standin.h"

#include <cstdio>

namespace kovasupport {
namespace {

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

}  // namespace

StandInSetup ShopStandIn(char separator) {
    StandInSetup setup;
    setup.clock = "2026-01-05 09:30:00";
    setup.separator = separator;
    setup.databases = {{"shop/items.qix", {"Item; Article"}}, {"other.qix", {"Item"}}};
    return setup;
}

STATUS BuildStandIn(const StandInSetup& setup) {
    qixsim::Reset();
    TIMEDATE start{};
    if (!qixsim::ParseTime(setup.clock, &start))
        return ERR_QIX_BAD_ARGUMENT;
    qixsim::UseFixedClock(start);
    qixsim::SetSeparator(setup.separator);
    if (!setup.dataDirectory.empty())
        qixsim::SetDataDirectory(setup.dataDirectory);
    STATUS status = qixsim::CreateEventDatabase();
    for (const StandInDatabase& db : setup.databases) {
        if (status == 0)
            status = qixsim::CreateDatabase(db.path);
        for (const std::string& form : db.forms) {
            if (status == 0)
                status = qixsim::CreateForm(db.path, form);
        }
    }
    return status;
}

NOTEID AddProfile(const qixsim::Items& items) {
    NOTEID id = 0;
    qixsim::CreateDocument("kovaevents.qix", items, &id);
    return id;
}

NOTEID CreateDoc(const std::string& db, const qixsim::Items& items, STATUS* status, bool extended,
                 STATUS forced) {
    HostDb database(db);
    HostNote note;
    qixsim::NewNote(database.Get(), note.Out());
    qixsim::SetItems(note.Get(), items);
    const STATUS result = qixsim::StoreNote(note.Get(), extended, forced);
    if (status != nullptr)
        *status = result;
    NOTEID id = 0;
    qixsim::NoteIdOf(note.Get(), &id);
    return id;
}

STATUS UpdateDoc(const std::string& db, NOTEID id, const qixsim::Items& items, bool extended,
                 STATUS forced) {
    HostDb database(db);
    HostNote note;
    STATUS status = qixsim::OpenNote(database.Get(), id, note.Out());
    if (status != 0)
        return status;
    status = qixsim::SetItems(note.Get(), items);
    return status != 0 ? status : qixsim::StoreNote(note.Get(), extended, forced);
}

STATUS DeleteDoc(const std::string& db, NOTEID id, STATUS forced) {
    HostDb database(db);
    return qixsim::DeleteNote(database.Get(), id, forced);
}

STATUS DeleteDocs(const std::string& db, const std::vector<NOTEID>& ids, STATUS forced) {
    HostDb database(db);
    return qixsim::DeleteNotes(database.Get(), ids, forced);
}

std::string ItemOf(const qixsim::NoteInfo& note, const std::string& name) {
    for (const auto& item : note.items) {
        if (item.first == name)
            return qixsim::ItemText(item.second);
    }
    return "<missing>";
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

}  // namespace kovasupport
