// The host's create and update of a note through the stand-in's host side (see host_ops.h).
// Deletes need no handle of their own and call qixsim::DeleteNote / DeleteNotes directly.
#include "tools/kovahost/host_ops.h"

namespace kovahost {

STATUS OpenDb(const std::string& path, HostHandle* db) {
    HostHandle opened;
    const STATUS status = qixsim::OpenDatabase(path, opened.Out());
    if (status == 0)
        *db = std::move(opened);
    return status;
}

STATUS CreateNote(DBHANDLE db, const qixsim::Items& items, bool extended, STATUS forced, NOTEID* id,
                  const BeforeStore& beforeStore) {
    HostHandle note;
    STATUS status = qixsim::NewNote(db, note.Out());
    if (status == 0)
        status = qixsim::SetItems(note.Get(), items);
    if (status == 0 && beforeStore)
        beforeStore(note.Get());
    if (status == 0)
        status = qixsim::StoreNote(note.Get(), extended, forced);
    if (status == 0)
        status = qixsim::NoteIdOf(note.Get(), id);
    return status;
}

STATUS UpdateNote(DBHANDLE db, NOTEID id, const qixsim::Items& items, bool extended, STATUS forced,
                  const BeforeStore& beforeStore) {
    HostHandle note;
    STATUS status = qixsim::OpenNote(db, id, note.Out());
    if (status == 0)
        status = qixsim::SetItems(note.Get(), items);
    if (status == 0 && beforeStore)
        beforeStore(note.Get());
    if (status == 0)
        status = qixsim::StoreNote(note.Get(), extended, forced);
    return status;
}

}  // namespace kovahost
