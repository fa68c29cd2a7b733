// The notification handler ExtMgrCallback: describes each hooked operation, parks the monitored
// ones before the operation and writes their Event documents after it. It never vetoes or alters
// an operation: 725 before, the host's own status after, whatever happens inside (exceptions and
// failed allocations included). The handling functions are not noexcept on purpose: anything they
// let escape is caught at the exported boundary instead of terminating the host.
#include <cstdarg>
#include <cstring>
#include <exception>

#include "addin/exports.h"
#include "addin/notetable.h"
#include "base/names.h"
#include "capture/context.h"
#include "capture/eventwriter.h"
#include "capture/filter.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"
#include "profile/publication.h"
#include "profile/refresh.h"

namespace kova {
namespace {

// A copy of the host's argument list, read from and released on every path; the host's own list
// is never advanced.
class ArgumentCopy {
  public:
    explicit ArgumentCopy(va_list& arguments) noexcept { va_copy(list_, arguments); }
    ~ArgumentCopy() { va_end(list_); }
    ArgumentCopy(const ArgumentCopy&) = delete;
    ArgumentCopy& operator=(const ArgumentCopy&) = delete;
    va_list* get() noexcept { return &list_; }

  private:
    va_list list_;
};

void LogHandling(const char* handlingLine, const EventContext& context) noexcept {
    LogLine(kLogDebug, handlingLine);
    LogFormat(kLogDebug, "Event Database Name: %s\n", context.dbPath);
}

// Parks the context when it is a profile document (its entry then holds the change in flight
// until it is released) or a change the snapshot's configuration monitors.
void ParkIfWanted(NoteTable& table, EventContext& context,
                  const ConfigurationSnapshot& snapshot) noexcept {
    if (IsConfigurationNote(context.dbPath, context.formName) != 0) {
        AddNoteEntryV75(table, context, ParkedFor::kProfileChange);
    } else if (snapshot.ok() && CheckIsEventMonitored(&context, *snapshot) != 0) {
        AddNoteEntryV75(table, context);
    }
}

// The after stage of a parked profile document: re-read the profiles when the change succeeded.
void CompleteProfileChange(STATUS status) noexcept {
    if (status == 0)
        ReadProfile();
}

// After a delete: re-read the profiles for a profile document, else write the events when the
// delete succeeded.
void CompleteDelete(NoteEntry& entry, DBHANDLE dbHandle, STATUS status) noexcept {
    if (IsConfigurationNote(entry.dbPath, entry.formName) != 0) {
        CompleteProfileChange(status);
        return;
    }
    if (status == 0) {
        AddEvent(entry.originatorId, entry.noteId, dbHandle, kEventTypeDeleteText, entry.formName,
                 0, &entry.connectorIds);
    }
}

void HandleUpdate(const EMRECORD& record, EventContext& context, NOTEHANDLE noteHandle) {
    context.noteHandle = noteHandle;
    context.eventType = kEventTypeUnknown;
    FillInDbContext(&context);
    if (IsSystemDb(&context) != 0)
        return;
    LogHandling(record.notificationId == EM_QIXNOTEUPDATE ? "Handling EM_QIXNOTEUPDATE\n"
                                                          : "Handling EM_QIXNOTEUPDATEXTENDED\n",
                context);
    FillInNoteContext(&context);

    if (record.stage == EM_STAGE_BEFORE) {
        ConfigurationSnapshot snapshot;  // for the change test, the filter and the parking
        if (ReadProfile(snapshot) != 0)
            return;
        ParkIfWanted(hSaveNoteTable, context, snapshot);
        return;
    }

    const OwnedNoteEntry parked(RemoveSaveNoteEntry(context.noteHandle));
    NoteEntry* entry = parked.get();
    if (entry == nullptr)
        return;
    if (IsConfigurationNote(entry->dbPath, entry->formName) != 0) {
        CompleteProfileChange(record.status);
        return;
    }
    if (record.status != 0)
        return;
    if (entry->eventType == kEventTypeUpdate) {
        AddEvent(entry->originatorId, entry->noteId, entry->dbHandle, kEventTypeUpdateText,
                 entry->formName, 0, &entry->connectorIds);
    } else if (entry->eventType == kEventTypeCreate) {
        // The note id the store has just assigned. Unread, the Event documents still carry the
        // note's universal id but "NoteID:0": say so rather than write it silently.
        const STATUS read = QIXNoteGetInfo(context.noteHandle, NOTE_INFO_ID, &entry->noteId);
        if (read != 0) {
            LogFormat(kLogError,
                      "Error reading the new note's id, its events carry NoteID:0. "
                      "Error# %i\n",
                      static_cast<int>(read));
        }
        AddEvent(entry->originatorId, entry->noteId, entry->dbHandle, kEventTypeCreateText,
                 entry->formName, 0, &entry->connectorIds);
    }
}

void HandleDelete(const EMRECORD& record, EventContext& context, DBHANDLE dbHandle, NOTEID noteId) {
    context.dbHandle = dbHandle;
    context.noteId = noteId;
    context.eventType = kEventTypeDelete;
    FillInDbContext(&context);
    if (IsSystemDb(&context) != 0)
        return;
    LogHandling("Handling EM_QIXNOTEDELETE\n", context);

    if (record.stage == EM_STAGE_BEFORE) {
        FillInNoteContext(&context);
        ConfigurationSnapshot snapshot;  // for the change test, the filter and the parking
        if (ReadProfile(snapshot) != 0)
            return;
        ParkIfWanted(hDeleteNoteTable, context, snapshot);
        return;
    }

    const OwnedNoteEntry parked(RemoveDeleteNoteEntry(context.noteId, context.dbHandle));
    if (parked != nullptr)
        CompleteDelete(*parked, dbHandle, record.status);
}

void HandleBulkDelete(const EMRECORD& record, EventContext& context, DBHANDLE dbHandle,
                      IDHANDLE idTable) {
    context.dbHandle = dbHandle;
    FillInDbContext(&context);
    context.eventType = kEventTypeDelete;
    if (IsSystemDb(&context) != 0)
        return;
    LogHandling("Handling EM_QIXDBDELETENOTES\n", context);

    if (record.stage == EM_STAGE_BEFORE) {
        ConfigurationSnapshot snapshot;  // for the change test, the filter and the parking
        if (ReadProfile(snapshot) != 0)
            return;
        QIXBOOL first = 1;
        while (IDScan(idTable, first, &context.noteId)) {
            first = 0;
            // A note whose entry could not be parked must not hand its ids to the next one.
            const KOVAListRelease noteIds(context.connectorIds);
            context.noteHandle = QIX_NULLHANDLE;
            context.originatorId = ORIGINATORID{};
            context.formName[0] = '\0';
            context.noteClass = 0;
            FillInNoteContext(&context);
            ParkIfWanted(hDeleteNoteTable, context, snapshot);
        }
        return;
    }

    QIXBOOL first = 1;
    while (IDScan(idTable, first, &context.noteId)) {
        first = 0;
        const OwnedNoteEntry parked(RemoveDeleteNoteEntry(context.noteId, context.dbHandle));
        if (parked != nullptr)
            CompleteDelete(*parked, dbHandle, record.status);
    }
}

STATUS Dispatch(EMRECORD* record) {
    EventContext context;
    std::memset(&context, 0, sizeof context);
    // Whatever connector ids the context still holds when the call ends.
    const KOVAListRelease contextIds(context.connectorIds);

    switch (record->notificationId) {
        case EM_QIXNOTEUPDATE:
        case EM_QIXNOTEUPDATEXTENDED: {
            ArgumentCopy arguments(record->arguments);
            NOTEHANDLE note = EMArgHandle(arguments.get());
            HandleUpdate(*record, context, note);
            break;
        }
        case EM_QIXNOTEDELETE: {
            ArgumentCopy arguments(record->arguments);
            DBHANDLE db = EMArgHandle(arguments.get());
            NOTEID noteId = EMArgNoteId(arguments.get());
            HandleDelete(*record, context, db, noteId);
            break;
        }
        case EM_QIXDBDELETENOTES: {
            ArgumentCopy arguments(record->arguments);
            DBHANDLE db = EMArgHandle(arguments.get());
            IDHANDLE table = EMArgHandle(arguments.get());
            HandleBulkDelete(*record, context, db, table);
            break;
        }
        default:
            break;
    }
    return 0;
}

}  // namespace
}  // namespace kova

extern "C" KOVA_EXPORT STATUS ExtMgrCallback(EMRECORD* record) {
    if (record == nullptr)
        return EM_CONTINUE_STATUS;
    const STATUS answer = record->stage == EM_STAGE_BEFORE ? EM_CONTINUE_STATUS : record->status;
    try {
        kova::Dispatch(record);
    } catch (...) {
        // Nothing may reach the host; the operation goes on as the host decided.
    }
    return answer;
}
