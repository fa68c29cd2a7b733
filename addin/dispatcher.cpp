// The notification handler ExtMgrCallback: describes each hooked operation, parks the monitored
// ones before the operation and writes their Event documents after it. It never vetoes or alters
// an operation: 725 before, the host's own status after, whatever happens inside (exceptions and
// failed allocations included). The handling functions are not noexcept on purpose: anything they
// let escape is caught at the exported boundary instead of terminating the host.
#include <cstdarg>
#include <cstring>
#include <exception>

#include "addin/lifecycle.h"
#include "addin/notetable.h"
#include "capture/context.h"
#include "capture/eventwriter.h"
#include "capture/filter.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"
#include "profile/refresh.h"

namespace kova {
namespace {

constexpr char kCreate[] = "Create";
constexpr char kUpdate[] = "Update";
constexpr char kDelete[] = "Delete";

// Releases whatever connector ids are still in the context when the call ends.
struct ContextListGuard {
    EventContext& context;
    ~ContextListGuard() {
        KOVAListCleanUp(context.connectorIds);
        context.connectorIds = nullptr;
    }
};

// Takes ownership of an entry a remove handed out.
struct EntryGuard {
    NoteEntry* entry;
    ~EntryGuard() { FreeNoteEntry(entry); }
};

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
    LogLine(LOG_DEBUG, handlingLine);
    LogFormat(LOG_DEBUG, "Event Database Name: %s\n", context.dbPath);
}

// Parks the context when it is a profile document (its change is then in flight until its after
// stage) or a monitored change.
void ParkIfWanted(NoteTable& table, EventContext& context) noexcept {
    if (IsConfigurationNote(context.dbPath, context.formName) != 0) {
        BeginProfileChange();
        AddNoteEntryV75(table, context);
    } else if (CheckIsEventMonitored(&context) != 0) {
        AddNoteEntryV75(table, context);
    }
}

// The after stage of a parked profile document: re-read the profiles when the change succeeded.
// Either way the change is no longer in flight.
void CompleteProfileChange(STATUS status) noexcept {
    if (status == 0)
        ReadProfile(RefreshFor::kProfileChange);
    EndProfileChange();
}

// After a delete: re-read the profiles for a profile document, else write the events when the
// delete succeeded.
void CompleteDelete(NoteEntry& entry, DBHANDLE dbHandle, STATUS status) noexcept {
    if (IsConfigurationNote(entry.dbPath, entry.formName) != 0) {
        CompleteProfileChange(status);
        return;
    }
    if (status == 0) {
        AddEvent(entry.originatorId, entry.noteId, dbHandle, kDelete, entry.formName, 0,
                 &entry.connectorIds);
    }
}

void HandleUpdate(const EMRECORD& record, EventContext& context, NOTEHANDLE noteHandle) {
    context.noteHandle = noteHandle;
    context.eventType = EVENT_TYPE_UNKNOWN;
    FillInDbContext(&context);
    if (IsSystemDb(&context) != 0)
        return;
    LogHandling(record.notificationId == EM_QIXNOTEUPDATE ? "Handling EM_QIXNOTEUPDATE\n"
                                                          : "Handling EM_QIXNOTEUPDATEXTENDED\n",
                context);
    FillInNoteContext(&context);

    if (record.stage == EM_STAGE_BEFORE) {
        if (ReadProfile() != 0)
            return;
        ParkIfWanted(hSaveNoteTable, context);
        return;
    }

    EntryGuard parked{RemoveSaveNoteEntry(context.noteHandle)};
    NoteEntry* entry = parked.entry;
    if (entry == nullptr)
        return;
    if (IsConfigurationNote(entry->dbPath, entry->formName) != 0) {
        CompleteProfileChange(record.status);
        return;
    }
    if (record.status != 0)
        return;
    if (entry->eventType == EVENT_TYPE_UPDATE) {
        AddEvent(entry->originatorId, entry->noteId, entry->dbHandle, kUpdate, entry->formName, 0,
                 &entry->connectorIds);
    } else if (entry->eventType == EVENT_TYPE_CREATE) {
        QIXNoteGetInfo(context.noteHandle, NOTE_INFO_ID, &entry->noteId);
        AddEvent(entry->originatorId, entry->noteId, entry->dbHandle, kCreate, entry->formName, 0,
                 &entry->connectorIds);
    }
}

void HandleDelete(const EMRECORD& record, EventContext& context, DBHANDLE dbHandle, NOTEID noteId) {
    context.dbHandle = dbHandle;
    context.noteId = noteId;
    context.eventType = EVENT_TYPE_DELETE;
    FillInDbContext(&context);
    if (IsSystemDb(&context) != 0)
        return;
    LogHandling("Handling EM_QIXNOTEDELETE\n", context);

    if (record.stage == EM_STAGE_BEFORE) {
        FillInNoteContext(&context);
        if (ReadProfile() != 0)
            return;
        ParkIfWanted(hDeleteNoteTable, context);
        return;
    }

    EntryGuard parked{RemoveDeleteNoteEntry(context.noteId, context.dbHandle)};
    if (parked.entry != nullptr)
        CompleteDelete(*parked.entry, dbHandle, record.status);
}

void HandleBulkDelete(const EMRECORD& record, EventContext& context, DBHANDLE dbHandle,
                      IDHANDLE idTable) {
    context.dbHandle = dbHandle;
    FillInDbContext(&context);
    context.eventType = EVENT_TYPE_DELETE;
    if (IsSystemDb(&context) != 0)
        return;
    LogHandling("Handling EM_QIXDBDELETENOTES\n", context);

    if (record.stage == EM_STAGE_BEFORE) {
        if (ReadProfile() != 0)
            return;
        QIXBOOL first = 1;
        while (IDScan(idTable, first, &context.noteId)) {
            first = 0;
            context.noteHandle = QIX_NULLHANDLE;
            context.originatorId = ORIGINATORID{};
            context.formName[0] = '\0';
            context.noteClass = 0;
            FillInNoteContext(&context);
            ParkIfWanted(hDeleteNoteTable, context);
            // A note whose entry could not be parked must not hand its ids to the next one.
            KOVAListCleanUp(context.connectorIds);
            context.connectorIds = nullptr;
        }
        return;
    }

    QIXBOOL first = 1;
    while (IDScan(idTable, first, &context.noteId)) {
        first = 0;
        EntryGuard parked{RemoveDeleteNoteEntry(context.noteId, context.dbHandle)};
        if (parked.entry != nullptr)
            CompleteDelete(*parked.entry, dbHandle, record.status);
    }
}

STATUS Dispatch(EMRECORD* record) {
    EventContext context;
    std::memset(&context, 0, sizeof context);
    ContextListGuard listGuard{context};

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
