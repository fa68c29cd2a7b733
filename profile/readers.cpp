// The profile document readers: the item names, read limits and accepted values of the three
// profile forms, and the code that turns one open profile document into its profile record.
// They run inside a re-read, on the reading thread, and fill the configuration it is building.
#include "profile/readers.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/heap.h"
#include "base/names.h"
#include "base/text.h"
#include "hostapi/itemtext.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"
#include "profile/configuration.h"
#include "profile/records.h"
#include "profile/reread.h"

namespace kova {
namespace {

constexpr size_t kPathBufferSize = 256;  // receives a path entry (read limit 130)

static_assert(kConnectorIdReadLimit <= kConnectorIdSize, "ConnectorId read fits the record");
static_assert(kEntryReadLimit <= kPathBufferSize, "a path entry fits its buffer");

// The log level words and their values; anything else (missing item included) is ERROR.
struct LevelWord {
    const char* word;
    int32_t level;
};
constexpr LevelWord kLevelWords[] = {
    {"NONE", 0},
    {"ERROR", kLogError},
    {"INFO", kLogInfo},
    {"DEBUG", kLogDebug},
};
constexpr int32_t kUnrecognisedLogLevel = kLogError;

// One entry of a text-list item, read with the entry limit and terminated.
template <size_t N>
void ReadListEntry(NOTEHANDLE note, const char* item, uint16_t index, char (&buffer)[N]) noexcept {
    static_assert(N > kEntryReadLimit, "entry buffer holds the read limit and the terminator");
    ReadItemListEntry(note, item, index, buffer, kEntryReadLimit);
}

// "ConnectorId" straight into the record's field; the read leaves it terminated.
void ReadConnectorId(NOTEHANDLE note, char (&connectorId)[kConnectorIdSize]) noexcept {
    ReadItemText(note, kItemConnectorId, connectorId, kConnectorIdReadLimit);
}

int32_t ReadLogLevel(NOTEHANDLE note) noexcept {
    char text[kLogLevelReadLimit + 1];
    ReadItemText(note, kItemLogLevel, text, kLogLevelReadLimit);
    for (const LevelWord& entry : kLevelWords) {
        if (std::strcmp(text, entry.word) == 0)
            return entry.level;
    }
    return kUnrecognisedLogLevel;
}

// Sets the event flags that "EventTypes" names; never clears one.
void ReadEventTypes(NOTEHANDLE note, int32_t* createEnabled, int32_t* updateEnabled,
                    int32_t* deleteEnabled) noexcept {
    const uint16_t count = QIXItemGetTextListEntries(note, kItemEventTypes);
    for (uint16_t i = 0; i < count; ++i) {
        char entry[kEntryReadLimit + 1];
        ReadListEntry(note, kItemEventTypes, i, entry);
        LogFormat(kLogDebug, "EventType %i = '%s'\n", static_cast<int>(i), entry);
        if (std::strcmp(entry, kEventTypeCreateText) == 0) {
            *createEnabled = 1;
        } else if (std::strcmp(entry, kEventTypeUpdateText) == 0) {
            *updateEnabled = 1;
        } else if (std::strcmp(entry, kEventTypeDeleteText) == 0) {
            *deleteEnabled = 1;
        }
    }
}

// Fills an emptied record's monitored entries from a path-list item, each entry stored with its
// backslashes turned into slashes. What cannot be allocated is logged and left out, so that
// monitoredNum always counts the filled slots at the front of the array.
void ReadPathList(NOTEHANDLE note, const char* item, char*** monitored, int32_t* monitoredNum,
                  ProfileRead& read) noexcept {
    *monitored = nullptr;
    *monitoredNum = 0;
    const uint16_t count = QIXItemGetTextListEntries(note, item);
    if (count == 0)
        return;

    auto** slots = static_cast<char**>(std::calloc(count, sizeof(char*)));
    if (slots == nullptr) {
        LogFormat(kLogError, "Out of memory: %s entries of a profile document not stored.\n", item);
        NoteIncompleteRead(read, "memory allocation", ERR_QIX_NO_MEMORY);
        return;
    }
    *monitored = slots;

    int32_t stored = 0;
    for (uint16_t i = 0; i < count; ++i) {
        char path[kPathBufferSize];
        ReadListEntry(note, item, i, path);
        char* copy = HeapText(path);
        if (copy == nullptr) {
            LogFormat(kLogError, "Out of memory: %s entry '%s' not stored.\n", item, path);
            NoteIncompleteRead(read, "memory allocation", ERR_QIX_NO_MEMORY);
            continue;
        }
        ReplaceCharacter(copy, std::strlen(copy), '\\', '/');  // stored as the server names paths
        slots[stored++] = copy;
        *monitoredNum = stored;
    }
}

}  // namespace

int UpdateConfigurationProfile(ProfileConfiguration& configuration, NOTEHANDLE note,
                               ProfileRead& read) noexcept {
    ConfigurationProfile* const profile = pConfigurationProfile(configuration);
    CleanUpConfigurationProfile(configuration);
    ReadConnectorId(note, profile->connectorID);
    ReadEventTypes(note, &profile->createEnabled, &profile->updateEnabled, &profile->deleteEnabled);
    profile->logLevel = ReadLogLevel(note);
    ReadPathList(note, kItemDatabasePaths, &profile->monitored, &profile->monitoredNum, read);
    return 1;
}

int UpdateSystemProfile(ProfileConfiguration& configuration, NOTEHANDLE note) noexcept {
    SystemProfile* const profile = pSystemProfile(configuration);
    CleanUpSystemProfile(configuration);
    profile->logLevel = ReadLogLevel(note);
    const uint16_t count = QIXItemGetTextListEntries(note, kItemLogOutputs);
    for (uint16_t i = 0; i < count; ++i) {
        char entry[kEntryReadLimit + 1];
        ReadListEntry(note, kItemLogOutputs, i, entry);
        if (std::strcmp(entry, kLogOutputConsole) == 0) {
            profile->logConsoleEnabled = 1;
        } else if (std::strcmp(entry, kLogDatabase) == 0) {
            profile->logDatabaseEnabled = 1;
        }
    }
    return 1;
}

// Answers 0 (and links nothing) only when the record itself cannot be allocated.
int AddTriggerProfileV75(ProfileConfiguration& configuration, NOTEHANDLE note,
                         ProfileRead& read) noexcept {
    MallocPtr<TriggerProfile> profile(
        static_cast<TriggerProfile*>(std::calloc(1, sizeof(TriggerProfile))));
    if (profile == nullptr) {
        LogFormat(kLogError, "Out of memory: event trigger profile not added.\n");
        NoteIncompleteRead(read, "memory allocation", ERR_QIX_NO_MEMORY);
        return 0;
    }
    QIXNoteGetInfo(note, NOTE_INFO_ORIGINATOR, &profile->originatorId);
    ReadConnectorId(note, profile->connectorID);
    profile->createEnabled = 0;
    profile->updateEnabled = 0;
    profile->deleteEnabled = 0;
    ReadEventTypes(note, &profile->createEnabled, &profile->updateEnabled, &profile->deleteEnabled);
    ReadPathList(note, kItemMonitoredDocuments, &profile->monitored, &profile->monitoredNum, read);
    AddEventTriggerProfile(configuration, profile.release());  // the chain owns it from now on
    return 1;
}

}  // namespace kova
