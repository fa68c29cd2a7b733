// Fills an EventContext from the server API (database path, note id, form, class, originator id,
// create/update resolution) and owns the path helpers of event capture and the line that names an
// event lost before it could be written. Writes only into the record it is handed; a note it
// opens itself is closed before it returns.
#include "capture/context.h"

#include <cstring>

#include "capture/eventwriter.h"
#include "hostapi/handles.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"

namespace kova {

namespace {

constexpr STATUS kNoContext = 0xFFFF;

constexpr const char* kSystemDatabases[] = {"log.qix", "hub.qix"};
constexpr const char* kProfileForms[] = {"Configuration", "SystemConfiguration",
                                         "EventTriggerConfiguration"};

bool HasUniversalId(const ORIGINATORID& id) noexcept {
    return id.file.word[0] != 0 || id.file.word[1] != 0 || id.note.word[0] != 0 ||
           id.note.word[1] != 0;
}

// Reads the database path into the context; logs and answers the status on failure.
STATUS ReadDbPath(EventContext* context) noexcept {
    const STATUS status = QIXDbPathGet(context->dbHandle, context->dbPath, nullptr);
    context->dbPath[kDbPathSize - 1] = '\0';
    if (status != 0) {
        LogLine(LOG_DEBUG, "Error retrieving Database name.\n");
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
        LogLine(LOG_DEBUG, "Error note context.\n");
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
        LogLine(LOG_DEBUG, "Error note context.\n");
        return 0;
    }
    NoteGuard note;
    const STATUS status = QIXNoteOpen(context->dbHandle, context->noteId, 0, note.Out());
    if (status != 0) {
        LogFormat(LOG_ERROR, "Error opening Note. Error# %i\n", static_cast<int>(status));
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

    uint16_t length =
        QIXItemGetText(context->noteHandle, "Form", context->formName, kFormNameReadLimit);
    if (length > kFormNameReadLimit)
        length = kFormNameReadLimit;
    context->formName[length] = '\0';

    QIXNoteGetInfo(context->noteHandle, NOTE_INFO_CLASS, &context->noteClass);
    QIXNoteGetInfo(context->noteHandle, NOTE_INFO_ORIGINATOR, &context->originatorId);

    if (context->eventType == EVENT_TYPE_UNKNOWN && HasUniversalId(context->originatorId)) {
        context->eventType = context->noteId == 0 ? EVENT_TYPE_CREATE : EVENT_TYPE_UPDATE;
    }
    return 0;
}

void ReportNotCaptured(NOTEID noteId, int32_t eventType, const char* dbPath,
                       const char* connectorId) noexcept {
    const char* const type = eventType == EVENT_TYPE_CREATE   ? "Create"
                             : eventType == EVENT_TYPE_UPDATE ? "Update"
                             : eventType == EVENT_TYPE_DELETE ? "Delete"
                                                              : "";
    LogFormat(LOG_ERROR,
              "Event not captured: NoteID: %X, EventType: %s, Database: %s, ConnectorId: %s\n",
              static_cast<unsigned int>(noteId), type, dbPath != nullptr ? dbPath : "",
              connectorId != nullptr ? connectorId : "");
}

void GetNormalizedDbPath(char* dest, size_t destSize, const char* source) noexcept {
    if (dest == nullptr || destSize == 0)
        return;
    if (source == nullptr)
        source = "";
    // The length (memchr stops at the terminator), a copy, then each backslash found in it.
    const void* end = std::memchr(source, '\0', destSize - 1);
    const size_t length =
        end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - source) : destSize - 1;
    std::memcpy(dest, source, length);
    dest[length] = '\0';
    char* rest = dest;
    size_t left = length;
    while (left > 0) {
        auto* backslash = static_cast<char*>(std::memchr(rest, '\\', left));
        if (backslash == nullptr)
            break;
        *backslash = '/';
        left -= static_cast<size_t>(backslash + 1 - rest);
        rest = backslash + 1;
    }
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
