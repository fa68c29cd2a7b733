// Fills an EventContext from the server API (database path, note id, form, class, originator id,
// create/update resolution), recognises system databases and profile documents, and owns the line
// that names an event lost before it could be written. Writes only into the record it is handed;
// a note it opens itself is closed before it returns.
#include "capture/context.h"

#include <cstring>

#include "base/names.h"
#include "base/text.h"
#include "hostapi/handles.h"
#include "hostapi/itemtext.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"

namespace kova {

namespace {

constexpr STATUS kNoContext = 0xFFFF;

constexpr const char* kSystemDatabases[] = {kLogDatabase, kHubDatabase};
constexpr const char* kProfileForms[] = {kConfigurationForm, kSystemForm, kTriggerForm};

bool HasUniversalId(const ORIGINATORID& id) noexcept {
    return id.file.word[0] != 0 || id.file.word[1] != 0 || id.note.word[0] != 0 ||
           id.note.word[1] != 0;
}

// Reads the database path into the context; logs and answers the status on failure.
STATUS ReadDbPath(EventContext* context) noexcept {
    const STATUS status = QIXDbPathGet(context->dbHandle, context->dbPath, nullptr);
    context->dbPath[kDbPathSize - 1] = '\0';
    if (status != 0) {
        LogLine(kLogDebug, "Error retrieving Database name.\n");
    }
    return status;
}

}  // namespace

STATUS FillInDbContext(EventContext* context) noexcept {
    if (context == nullptr)
        return kNoContext;
    if (context->noteHandle != QIX_NULLHANDLE) {
        QIXNoteGetInfo(context->noteHandle, NOTE_INFO_DB, &context->dbHandle);
    } else if (context->dbHandle == QIX_NULLHANDLE) {
        LogLine(kLogDebug, "Error note context.\n");
        return kNoContext;
    }
    return ReadDbPath(context);
}

STATUS FillInNoteContext(EventContext* context) noexcept {
    if (context == nullptr)
        return 0;
    if (context->noteHandle != QIX_NULLHANDLE) {
        QIXNoteGetInfo(context->noteHandle, NOTE_INFO_DB, &context->dbHandle);
        QIXNoteGetInfo(context->noteHandle, NOTE_INFO_ID, &context->noteId);
        return FillInNoteContextWithNoteHandle(context);
    }
    if (context->dbHandle == QIX_NULLHANDLE) {
        LogLine(kLogDebug, "Error note context.\n");
        return 0;
    }
    NoteGuard note;
    const STATUS status = QIXNoteOpen(context->dbHandle, context->noteId, 0, note.Out());
    if (status != 0) {
        LogFormat(kLogError, "Error opening Note. Error# %i\n", static_cast<int>(status));
        return status;
    }
    // The record keeps the (soon closed) handle value; callers reusing it reset it to 0.
    context->noteHandle = note.Get();
    return FillInNoteContextWithNoteHandle(context);
}

STATUS FillInNoteContextWithNoteHandle(EventContext* context) noexcept {
    if (context == nullptr)
        return kNoContext;
    const STATUS status = ReadDbPath(context);
    if (status != 0)
        return status;

    ReadItemText(context->noteHandle, kFormItem, context->formName, kFormReadLimit);

    QIXNoteGetInfo(context->noteHandle, NOTE_INFO_CLASS, &context->noteClass);
    QIXNoteGetInfo(context->noteHandle, NOTE_INFO_ORIGINATOR, &context->originatorId);

    if (context->eventType == kEventTypeUnknown && HasUniversalId(context->originatorId)) {
        context->eventType = context->noteId == 0 ? kEventTypeCreate : kEventTypeUpdate;
    }
    return 0;
}

void GetNormalizedDbPath(char* dest, size_t destSize, const char* source) noexcept {
    ReplaceCharacter(dest, CopyBounded(dest, destSize, source), '\\', '/');
}

const char* EventTypeText(int32_t eventType) noexcept {
    switch (eventType) {
        case kEventTypeCreate:
            return kEventTypeCreateText;
        case kEventTypeUpdate:
            return kEventTypeUpdateText;
        case kEventTypeDelete:
            return kEventTypeDeleteText;
        default:
            return "";
    }
}

void ReportNotCaptured(NOTEID noteId, int32_t eventType, const char* dbPath,
                       const char* connectorId) noexcept {
    LogFormat(kLogError,
              "Event not captured: NoteID: %X, EventType: %s, Database: %s, ConnectorId: %s\n",
              static_cast<unsigned int>(noteId), EventTypeText(eventType),
              dbPath != nullptr ? dbPath : "", connectorId != nullptr ? connectorId : "");
}

int IsSystemDb(const EventContext* context) noexcept {
    if (context == nullptr)
        return 0;
    for (const char* name : kSystemDatabases) {
        if (std::strcmp(context->dbPath, name) == 0)
            return 1;
    }
    return 0;
}

int IsConfigurationNote(const char* dbPath, const char* formName) noexcept {
    if (dbPath == nullptr || formName == nullptr)
        return 0;
    if (std::strcmp(dbPath, kEventDatabase) != 0)
        return 0;
    for (const char* form : kProfileForms) {
        if (std::strcmp(formName, form) == 0)
            return 1;
    }
    return 0;
}

}  // namespace kova
