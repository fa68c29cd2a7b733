// What one notification is about (EventContext), the functions that fill it from the server API,
// and the path helpers the rest of event capture uses. No state of its own: each function works
// on the record it is handed.
#ifndef KOVA_CAPTURE_CONTEXT_H
#define KOVA_CAPTURE_CONTEXT_H

#include <cstddef>
#include <cstdint>

#include "base/names.h"
#include "hostapi/qixtypes.h"
#include "profile/kovalist.h"

namespace kova {

constexpr size_t kDbPathSize = 262;
constexpr size_t kFormNameSize = kFormReadLimit + 1;
constexpr size_t kNormalizedPathSize = 256;

constexpr int32_t kEventTypeUnknown = -1;
constexpr int32_t kEventTypeCreate = 0;
constexpr int32_t kEventTypeUpdate = 1;
constexpr int32_t kEventTypeDelete = 2;

struct EventContext {
    ORIGINATORID originatorId;
    NOTEID noteId;
    NOTEHANDLE noteHandle;
    DBHANDLE dbHandle;
    int32_t eventType;
    char dbPath[kDbPathSize];
    char formName[kFormNameSize];
    uint16_t noteClass;
    KOVAList connectorIds;
    EventContext* next;
};

STATUS FillInDbContext(EventContext* context) noexcept;
STATUS FillInNoteContext(EventContext* context) noexcept;
STATUS FillInNoteContextWithNoteHandle(EventContext* context) noexcept;
int IsSystemDb(const EventContext* context) noexcept;
int IsConfigurationNote(const char* dbPath, const char* formName) noexcept;

// Copies `source` into `dest` of `destSize` bytes with every backslash turned into a slash; cut to
// destSize - 1 characters, always terminated. Nothing else changes (no case folding, no trimming).
void GetNormalizedDbPath(char* dest, size_t destSize, const char* source) noexcept;

// The text of an event type code as Event documents carry it ("" for kEventTypeUnknown).
const char* EventTypeText(int32_t eventType) noexcept;

// The ERROR line for a connector that wanted a change whose event is lost before its Event
// document could be written (its id or the change could not be kept between the two stages): it
// names the change (note id, event type, database path as the server gave it) and the connector.
void ReportNotCaptured(NOTEID noteId, int32_t eventType, const char* dbPath,
                       const char* connectorId) noexcept;

}  // namespace kova

#endif  // KOVA_CAPTURE_CONTEXT_H
