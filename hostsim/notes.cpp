// Note handles of the stand-in server: open, create, close and describe notes, and the three
// note operations that raise notifications (store, delete, bulk delete), both as server API
// calls and as the host's uncounted StoreNote / DeleteNote / DeleteNotes.
#include <cstring>

#include "hostsim/callgate.h"
#include "hostsim/notify.h"
#include "hostsim/objects.h"
#include "hostsim/store.h"

namespace qixsim::detail {
namespace {

STATUS StoreNotified(NOTEHANDLE handle, unsigned int flags, bool extended, STATUS forcedStatus) {
    if (!Lookup<NoteObject>(handle))
        return ERR_QIX_INVALID_HANDLE;
    const uint16_t notification = extended ? EM_QIXNOTEUPDATEXTENDED : EM_QIXNOTEUPDATE;
    return RunNotified(notification, {handle, flags}, forcedStatus,
                       [&] { return StoreNoteOperation(handle); });
}

STATUS DeleteNotified(DBHANDLE handle, NOTEID noteId, unsigned int flags, STATUS forcedStatus) {
    std::shared_ptr<DbObject> db = Lookup<DbObject>(handle);
    if (!db)
        return ERR_QIX_INVALID_HANDLE;
    return RunNotified(EM_QIXNOTEDELETE, {handle, noteId, flags}, forcedStatus,
                       [&] { return DeleteNoteOperation(*db->db, noteId); });
}

STATUS DeleteManyNotified(DBHANDLE handle, IDHANDLE tableHandle, unsigned int flags,
                          STATUS forcedStatus) {
    std::shared_ptr<DbObject> db = Lookup<DbObject>(handle);
    std::shared_ptr<IdTableObject> table = Lookup<IdTableObject>(tableHandle);
    if (!db || !table)
        return ERR_QIX_INVALID_HANDLE;
    return RunNotified(EM_QIXDBDELETENOTES, {handle, tableHandle, flags}, forcedStatus, [&] {
        std::vector<NOTEID> ids;
        {
            std::lock_guard<std::mutex> lock(table->mutex);
            ids.assign(table->ids.begin(), table->ids.end());
        }
        return DeleteNotesOperation(*db->db, ids);
    });
}

}  // namespace

STATUS OpenNoteHandle(DBHANDLE dbHandle, NOTEID noteId, NOTEHANDLE* retNote) {
    std::shared_ptr<DbObject> db = Lookup<DbObject>(dbHandle);
    if (!db)
        return ERR_QIX_INVALID_HANDLE;
    if (retNote == nullptr)
        return ERR_QIX_BAD_ARGUMENT;
    auto note = std::make_shared<NoteObject>();
    {
        ReadLock lock(db->db->mutex);
        auto it = db->db->notes.find(noteId);
        if (it == db->db->notes.end())
            return ERR_QIX_NOTE_NOT_FOUND;
        note->id = it->second.id;
        note->noteClass = it->second.noteClass;
        note->originatorId = it->second.originatorId;
        note->shared = it->second.items;
    }
    note->db = db->db;
    note->dbHandle = dbHandle;
    return AddHandle(std::move(note), retNote);
}

STATUS NewNoteHandle(DBHANDLE dbHandle, NOTEHANDLE* retNote) {
    std::shared_ptr<DbObject> db = Lookup<DbObject>(dbHandle);
    if (!db)
        return ERR_QIX_INVALID_HANDLE;
    if (retNote == nullptr)
        return ERR_QIX_BAD_ARGUMENT;
    auto note = std::make_shared<NoteObject>();
    const UNIVERSALID unid = NewUniversalId(*db->db);
    note->originatorId.file = unid.file;
    note->originatorId.note = unid.note;
    note->own = std::make_unique<Items>();
    note->db = db->db;
    note->dbHandle = dbHandle;
    return AddHandle(std::move(note), retNote);
}

}  // namespace qixsim::detail

// ---- Server API: notes -----------------------------------------------------------------------

using namespace qixsim::detail;

STATUS QIXNoteOpen(DBHANDLE db, NOTEID noteId, uint16_t flags, NOTEHANDLE* retNote) {
    (void)flags;
    const CallSubject subject{db, noteId, QIX_NULLHANDLE};
    return GuardedCall(
        Op::QIXNoteOpen, [&] { return OpenNoteHandle(db, noteId, retNote); }, &subject);
}

STATUS QIXNoteClose(NOTEHANDLE note) {
    const CallSubject subject{QIX_NULLHANDLE, 0, note};
    return GuardedCall(
        Op::QIXNoteClose, [&] { return CloseHandleOfKind(note, Kind::Note); }, &subject);
}

STATUS QIXNoteCreate(DBHANDLE db, NOTEHANDLE* retNote) {
    return GuardedCall(Op::QIXNoteCreate, [&] { return NewNoteHandle(db, retNote); });
}

STATUS QIXNoteUpdate(NOTEHANDLE note, uint16_t flags) {
    return GuardedCall(Op::QIXNoteUpdate, [&] { return StoreNotified(note, flags, false, 0); });
}

STATUS QIXNoteUpdateExtended(NOTEHANDLE note, uint32_t flags) {
    return GuardedCall(Op::QIXNoteUpdateExtended,
                       [&] { return StoreNotified(note, flags, true, 0); });
}

STATUS QIXNoteDelete(DBHANDLE db, NOTEID noteId, uint16_t flags) {
    return GuardedCall(Op::QIXNoteDelete, [&] { return DeleteNotified(db, noteId, flags, 0); });
}

STATUS QIXDbDeleteNotes(DBHANDLE db, IDHANDLE table, uint32_t flags) {
    return GuardedCall(Op::QIXDbDeleteNotes,
                       [&] { return DeleteManyNotified(db, table, flags, 0); });
}

STATUS QIXNoteGetInfo(NOTEHANDLE note, uint16_t selector, void* retValue) {
    return GuardedCall(Op::QIXNoteGetInfo, [&]() -> STATUS {
        STATUS status = ERR_QIX_INVALID_HANDLE;
        WithObject<NoteObject>(note, [&](NoteObject& object) {
            status = 0;
            if (retValue == nullptr) {
                status = ERR_QIX_BAD_ARGUMENT;
            } else if (selector == NOTE_INFO_DB) {
                std::memcpy(retValue, &object.dbHandle, sizeof(DBHANDLE));
            } else if (selector == NOTE_INFO_ID) {
                std::memcpy(retValue, &object.id, sizeof(NOTEID));
            } else if (selector == NOTE_INFO_ORIGINATOR) {
                std::memcpy(retValue, &object.originatorId, sizeof(ORIGINATORID));
            } else if (selector == NOTE_INFO_CLASS) {
                std::memcpy(retValue, &object.noteClass, sizeof(uint16_t));
            } else {
                status = ERR_QIX_BAD_SELECTOR;
            }
        });
        return status;
    });
}

// ---- Host side -------------------------------------------------------------------------------

namespace qixsim {

STATUS OpenNote(DBHANDLE db, NOTEID noteId, NOTEHANDLE* retNote) {
    return detail::HostCall([&] { return detail::OpenNoteHandle(db, noteId, retNote); });
}

STATUS NewNote(DBHANDLE db, NOTEHANDLE* retNote) {
    return detail::HostCall([&] { return detail::NewNoteHandle(db, retNote); });
}

STATUS NoteIdOf(NOTEHANDLE note, NOTEID* retNoteId) {
    return detail::HostCall([&]() -> STATUS {
        if (retNoteId == nullptr)
            return ERR_QIX_BAD_ARGUMENT;
        STATUS status = ERR_QIX_INVALID_HANDLE;
        detail::WithObject<detail::NoteObject>(note, [&](detail::NoteObject& object) {
            *retNoteId = object.id;
            status = 0;
        });
        return status;
    });
}

STATUS StoreNote(NOTEHANDLE note, bool extended, STATUS forcedStatus) {
    return detail::HostCall([&] { return detail::StoreNotified(note, 0, extended, forcedStatus); });
}

STATUS DeleteNote(DBHANDLE db, NOTEID noteId, STATUS forcedStatus) {
    return detail::HostCall([&] { return detail::DeleteNotified(db, noteId, 0, forcedStatus); });
}

STATUS DeleteNotes(DBHANDLE db, const std::vector<NOTEID>& noteIds, STATUS forcedStatus) {
    return detail::HostCall([&]() -> STATUS {
        // The notification hands the handlers an ID table, as the server API call does.
        auto table = std::make_shared<detail::IdTableObject>();
        table->ids.insert(noteIds.begin(), noteIds.end());
        IDHANDLE tableHandle = QIX_NULLHANDLE;
        const STATUS added = detail::AddHandle(table, &tableHandle);
        if (added != 0)
            return added;
        const detail::ScopedHandle closer(tableHandle);
        return detail::DeleteManyNotified(db, tableHandle, 0, forcedStatus);
    });
}

}  // namespace qixsim
