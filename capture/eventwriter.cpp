// The event table writer: opens "kovaevents.qix" for one call and writes one Event document per
// connector id of the list it is handed, in list order. The list is always consumed. An Event
// document that cannot be written (database not opened, create or store failed) is named in an
// ERROR line with the change and its connector, and the next connector still gets its own; so is
// one stored without some of its items (an item write failed, or the database path was unread).
#include "capture/eventwriter.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/names.h"
#include "capture/context.h"
#include "hostapi/handles.h"
#include "hostapi/itemtext.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"

namespace kova {

namespace {

constexpr size_t kUnidTextSize = 33;  // 32 hexadecimal digits and the terminator
constexpr size_t kPickFieldsSize = 256;
constexpr size_t kPathSize = QIX_MAXPATH;
constexpr size_t kEventTimeTextSize = kTimeTextLimit;

// The texts shared by every Event document of one call, formed once before the loop.
struct EventTexts {
    NOTEID noteId;
    const char* eventType;
    const char* formName;
    char unid[kUnidTextSize];
    char pickFields[kPickFieldsSize];
    char dbPath[kPathSize];             // as the server returned it (for the log line)
    char normalizedPath[kPathSize];     // written as "DBPath"
    char timeText[kEventTimeTextSize];  // for the log line only
    TIMEDATE eventTime;
    double status;
};

// Upper-case hexadecimal digit pairs of every byte value: "00", "01", ... "FF".
struct HexPairs {
    char text[512];
    constexpr HexPairs() : text() {
        constexpr char kDigits[] = "0123456789ABCDEF";
        for (int value = 0; value < 256; ++value) {
            text[value * 2] = kDigits[value >> 4];
            text[value * 2 + 1] = kDigits[value & 0xF];
        }
    }
};
constexpr HexPairs kHexPairs;

// Writes `value` as "%08X" at `out` (8 characters, no terminator).
void PutWord(char* out, uint32_t value) noexcept {
    for (size_t i = 4; i > 0; --i) {
        std::memcpy(out + (i - 1) * 2, &kHexPairs.text[(value & 0xFFu) * 2], 2);
        value >>= 8;
    }
}

// The 32 upper-case hexadecimal digits of four words, each as "%08X", and a terminator: the
// "UNID" and "EventId" texts. Formed by hand: these run for every Event document, and snprintf
// would cost more than the rest of the add-in's own work on a monitored save.
void FormatWords(char (&text)[kUnidTextSize], uint32_t a, uint32_t b, uint32_t c,
                 uint32_t d) noexcept {
    PutWord(text, a);
    PutWord(text + 8, b);
    PutWord(text + 16, c);
    PutWord(text + 24, d);
    text[kUnidTextSize - 1] = '\0';
}

// "NoteID:" and the note id as "%X" (upper case, no leading zeros).
void FormatPickFields(char (&text)[kPickFieldsSize], NOTEID noteId) noexcept {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    static constexpr char kPrefix[] = "NoteID:";
    char digits[8];
    size_t count = 0;
    uint32_t value = noteId;
    do {
        digits[count++] = kDigits[value & 0xFu];
        value >>= 4;
    } while (value != 0);
    size_t length = sizeof kPrefix - 1;
    std::memcpy(text, kPrefix, length);
    while (count > 0)
        text[length++] = digits[--count];
    text[length] = '\0';
}

// Logs an item's message when its write failed; answers whether it did.
bool ItemFailed(STATUS status, const char* message) noexcept {
    if (status == 0)
        return false;
    LogLine(kLogError, message);
    return true;
}

// The ERROR line for a connector whose Event document was not written.
void ReportNotWritten(const EventTexts& texts, const char* connectorId, STATUS status) noexcept {
    LogFormat(kLogError,
              "Event document not written: NoteID: %X, EventType: %s, Database: %s, "
              "ConnectorId: %s, Error#: %i\n",
              static_cast<unsigned int>(texts.noteId), texts.eventType, texts.dbPath, connectorId,
              static_cast<int>(status));
}

// The ERROR line for a connector whose Event document was stored without some of its items: the
// item lines before it do not say which change or connector they concern.
void ReportStoredIncomplete(const EventTexts& texts, const char* connectorId) noexcept {
    LogFormat(kLogError,
              "Event document stored without some items: NoteID: %X, EventType: %s, Database: "
              "%s, ConnectorId: %s\n",
              static_cast<unsigned int>(texts.noteId), texts.eventType, texts.dbPath, connectorId);
}

// Creates, fills and stores one Event document; the status of a failed create or store, else 0.
STATUS WriteEventDocument(DBHANDLE db, const EventTexts& texts, const char* connectorId) noexcept {
    NoteGuard note;
    const STATUS created = QIXNoteCreate(db, note.Out());
    if (created != 0)
        return created;
    const NOTEHANDLE h = note.Get();

    ORIGINATORID eventOid{};
    QIXNoteGetInfo(h, NOTE_INFO_ORIGINATOR, &eventOid);
    char eventId[kUnidTextSize];
    FormatWords(eventId, eventOid.note.word[1], eventOid.note.word[0], eventOid.file.word[1],
                eventOid.file.word[0]);

    // An unread database path leaves "DBPath" empty: the document lacks it as much as an item.
    bool incomplete = texts.normalizedPath[0] == '\0';
    const auto item = [&incomplete](STATUS status, const char* message) noexcept {
        incomplete = ItemFailed(status, message) || incomplete;
    };
    item(QIXItemSetText(h, kItemEventId, eventId, QIX_TEXT_TERMINATED), "Error updateing Event ID");
    item(QIXItemSetText(h, kItemEventType, texts.eventType, QIX_TEXT_TERMINATED),
         "Error updateing Event Type");
    item(QIXItemSetText(h, kItemDBPath, texts.normalizedPath, QIX_TEXT_TERMINATED),
         "Error updateing Database Path");
    item(QIXItemSetText(h, kItemFormName, texts.formName, QIX_TEXT_TERMINATED),
         "Error updateing Form");
    item(QIXItemSetText(h, kItemUNID, texts.unid, QIX_TEXT_TERMINATED), "Error updateing UNID");
    item(QIXItemSetText(h, kItemPickFields, texts.pickFields, QIX_TEXT_TERMINATED),
         "Error updateing NoteID");
    item(QIXItemSetNumber(h, kItemStatus, &texts.status), "Error updateing Status");
    item(QIXItemSetTime(h, kItemEventTime, &texts.eventTime), "Error updateing Event Time");
    item(QIXItemSetText(h, kItemConnectorId, connectorId, QIX_TEXT_TERMINATED),
         "Error updateing Connector ID");
    item(QIXItemSetText(h, kFormItem, kEventForm, QIX_TEXT_TERMINATED), "Error updateing Form");

    LogFormat(kLogInfo,
              "Updating event table: UNID: %s, Pick Fields: %s, EventType: %s, Database Name: "
              "%s, Timestamp: %s \n",
              texts.unid, texts.pickFields, texts.eventType, texts.dbPath, texts.timeText);

    const STATUS stored = QIXNoteUpdate(h, 0);  // the guard closes the note
    if (stored == 0 && incomplete)
        ReportStoredIncomplete(texts, connectorId);
    return stored;
}

// The path of `db` as the server gives it, into `path`; empty (false) when it cannot be read.
bool ReadPath(DBHANDLE db, char (&path)[kPathSize]) noexcept {
    const bool read = QIXDbPathGet(db, path, nullptr) == 0;
    path[read ? kPathSize - 1 : 0] = '\0';
    return read;
}

void FormTexts(EventTexts* texts, const ORIGINATORID& originatorId, NOTEID noteId,
               DBHANDLE dbHandle, int32_t status) noexcept {
    FormatWords(texts->unid, originatorId.file.word[1], originatorId.file.word[0],
                originatorId.note.word[1], originatorId.note.word[0]);
    texts->noteId = noteId;
    FormatPickFields(texts->pickFields, noteId);

    texts->eventTime = CurrentTime();
    TimeText(texts->eventTime, texts->timeText, sizeof texts->timeText);

    // An unreadable path leaves "DBPath" empty; the documents are still written.
    texts->normalizedPath[0] = '\0';
    if (!ReadPath(dbHandle, texts->dbPath)) {
        LogLine(kLogError, "Error retrieving database path.\n");
    } else {
        GetNormalizedDbPath(texts->normalizedPath, sizeof texts->normalizedPath, texts->dbPath);
    }
    texts->status = static_cast<double>(status);
}

}  // namespace

void AddEvent(ORIGINATORID originatorId, NOTEID noteId, DBHANDLE dbHandle, const char* eventType,
              const char* formName, int32_t status, KOVAList* connectorIds) noexcept {
    DbGuard db;
    const STATUS opened = QIXDbOpen(kEventDatabase, db.Out());
    EventTexts texts;
    texts.eventType = eventType != nullptr ? eventType : "";
    texts.formName = formName != nullptr ? formName : "";
    if (opened != 0) {
        LogFormat(kLogError, "Error opening event table database: %s\n", kEventDatabase);
        // Named by the change as far as it is known without the event database.
        texts.noteId = noteId;
        ReadPath(dbHandle, texts.dbPath);
    } else {
        LogFormat(kLogDebug, "Database %s opened successfully.\n", kEventDatabase);
        FormTexts(&texts, originatorId, noteId, dbHandle, status);
    }

    while (connectorIds != nullptr && *connectorIds != nullptr) {
        char connectorId[kConnectorIdSize];
        connectorId[0] = '\0';
        KOVAListPopHeadString(connectorIds, connectorId, sizeof connectorId);
        const STATUS written =
            opened != 0 ? opened : WriteEventDocument(db.Get(), texts, connectorId);
        if (written != 0)
            ReportNotWritten(texts, connectorId, written);
    }

    LogLine(kLogDebug, "Starting Exit routine.\n");
    db.Close();
}

}  // namespace kova
