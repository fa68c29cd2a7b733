// The notification handler ExtMgrCallback: describes each hooked operation, parks the monitored
// ones before the operation and writes their Event documents after it. It never vetoes or alters
// an operation: 725 before, the host's own status after, whatever happens inside (exceptions and
// failed allocations included). The handling functions are not noexcept on purpose: anything they
// let escape is caught at the exported boundary instead of terminating the host.
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

void LogHandling(const char* handlingLine, const EventContext& context) noexcept {
    LogLine(LOG_DEBUG, handlingLine);
    LogFormat(LOG_DEBUG, "Event Database Name: %s\n", context.dbPath);
}

bool WantsParking(EventContext& context) noexcept {
    return IsConfigurationNote(context.dbPath, context.formName) != 0 ||
           CheckIsEventMonitored(&context) != 0;
}

// After a successful delete: re-read the profiles for a profile document, else write the events.
void CompleteDelete(NoteEntry& entry, DBHANDLE dbHandle) noexcept {
    if (IsConfigurationNote(entry.dbPath, entry.formName) != 0) {
        ReadProfile();
        return;
    }
    AddEvent(entry.originatorId, entry.noteId, dbHandle, kDelete, entry.formName, 0,
             &entry.connectorIds);
}

void HandleUpdate(const EMRECORD& record, EventContext& context, NOTEHANDLE noteHandle) {
    context.noteHandle = noteHandle;
    context.eventType = EVENT_TYPE_UNKNOWN;
    FillInDbContext(&context);
    if (IsSystemDb(&context) != 0) return;
    LogHandling(record.notificationId == EM_QIXNOTEUPDATE ? "Handling EM_QIXNOTEUPDATE\n"
                                                          : "Handling EM_QIXNOTEUPDATEXTENDED\n",
                context);
    FillInNoteContext(&context);

    if (record.stage == EM_STAGE_BEFORE) {
        if (ReadProfile() != 0) return;
        if (!WantsParking(context)) return;
        AddNoteEntryV75(hSaveNoteTable, context);
        return;
    }

    EntryGuard parked{RemoveSaveNoteEntry(context.noteHandle)};
    NoteEntry* entry = parked.entry;
    if (entry == nullptr || record.status != 0) return;
    if (IsConfigurationNote(entry->dbPath, entry->formName) != 0) {
        ReadProfile();
    } else if (entry->eventType == EVENT_TYPE_UPDATE) {
        AddEvent(entry->originatorId, entry->noteId, entry->dbHandle, kUpdate, entry->formName, 0,
                 &entry->connectorIds);
    } else if (entry->eventType == EVENT_TYPE_CREATE) {
        QIXNoteGetInfo(context.noteHandle, NOTE_INFO_ID, &entry->noteId);
        AddEvent(entry->originatorId, entry->noteId, entry->dbHandle, kCreate, entry->formName, 0,
                 &entry->connectorIds);
    }
}

void HandleDelete(const EMRECORD& record, EventContext& context, DBHANDLE dbHandle,
                  NOTEID noteId) {
    context.dbHandle = dbHandle;
    context.noteId = noteId;
    context.eventType = EVENT_TYPE_DELETE;
    FillInDbContext(&context);
    if (IsSystemDb(&context) != 0) return;
    LogHandling("Handling EM_QIXNOTEDELETE\n", context);

    if (record.stage == EM_STAGE_BEFORE) {
        FillInNoteContext(&context);
        if (ReadProfile() != 0) return;
        if (!WantsParking(context)) return;
        AddNoteEntryV75(hDeleteNoteTable, context);
        return;
    }

    EntryGuard parked{RemoveDeleteNoteEntry(context.noteId, context.dbHandle)};
    if (parked.entry != nullptr && record.status == 0) CompleteDelete(*parked.entry, dbHandle);
}

void HandleBulkDelete(const EMRECORD& record, EventContext& context, DBHANDLE dbHandle,
                      IDHANDLE idTable) {
    context.dbHandle = dbHandle;
    FillInDbContext(&context);
    context.eventType = EVENT_TYPE_DELETE;
    if (IsSystemDb(&context) != 0) return;
    LogHandling("Handling EM_QIXDBDELETENOTES\n", context);

    if (record.stage == EM_STAGE_BEFORE) {
        if (ReadProfile() != 0) return;
        QIXBOOL first = 1;
        while (IDScan(idTable, first, &context.noteId)) {
            first = 0;
            context.noteHandle = QIX_NULLHANDLE;
            context.originatorId = ORIGINATORID{};
            context.formName[0] = '\0';
            context.noteClass = 0;
            FillInNoteContext(&context);
            if (WantsParking(context)) AddNoteEntryV75(hDeleteNoteTable, context);
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
        if (parked.entry != nullptr && record.status == 0) CompleteDelete(*parked.entry, dbHandle);
    }
}

STATUS Dispatch(EMRECORD* record) {
    EventContext context;
    std::memset(&context, 0, sizeof context);
    ContextListGuard listGuard{context};

    switch (record->notificationId) {
        case EM_QIXNOTEUPDATE:
        case EM_QIXNOTEUPDATEXTENDED: {
            NOTEHANDLE note = EMArgHandle(&record->arguments);
            HandleUpdate(*record, context, note);
            break;
        }
        case EM_QIXNOTEDELETE: {
            DBHANDLE db = EMArgHandle(&record->arguments);
            NOTEID noteId = EMArgNoteId(&record->arguments);
            HandleDelete(*record, context, db, noteId);
            break;
        }
        case EM_QIXDBDELETENOTES: {
            DBHANDLE db = EMArgHandle(&record->arguments);
            IDHANDLE table = EMArgHandle(&record->arguments);
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
    if (record == nullptr) return EM_CONTINUE_STATUS;
    const STATUS answer = record->stage == EM_STAGE_BEFORE ? EM_CONTINUE_STATUS : record->status;
    try {
        kova::Dispatch(record);
    } catch (...) {
        // Nothing may reach the host; the operation goes on as the host decided.
    }
    return answer;
}
