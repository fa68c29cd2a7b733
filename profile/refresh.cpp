// The profile refresh: the change test on the profile view of the event database, and the full
// re-read of every profile document (search, readers, dump) when it finds a change. The server
// API work of the change test runs without a lock; the stamps and records change only under the
// profile write lock, so concurrent refreshes read the documents once and notifications never
// see a half-read configuration.
#include "profile/refresh.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "capture/eventwriter.h"
#include "hostapi/handles.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"
#include "profile/dump.h"
#include "profile/readers.h"
#include "profile/records.h"

namespace kova {
namespace {

constexpr STATUS kStatusMask = 0x3fff;
constexpr char kViewPattern[] = "-G40n^";
constexpr char kSearchFormula[] = "@All";
constexpr uint16_t kSearchFormulaLength = sizeof kSearchFormula - 1;
constexpr uint16_t kDocumentsOnly = NOTE_CLASS_DOCUMENT;

constexpr char kFormItem[] = "Form";
constexpr uint16_t kFormReadLimit = 130;
constexpr size_t kNoteIdTextSize = 16;

constexpr char kTriggerForm[] = "EventTriggerConfiguration";
constexpr char kConfigurationForm[] = "Configuration";
constexpr char kSystemForm[] = "SystemConfiguration";

// Set by NoteIncompleteRead during a full read; guarded by the profile write lock.
bool gReadIncomplete = false;

STATUS Masked(STATUS status) noexcept {
    return static_cast<STATUS>(status & kStatusMask);
}

bool SameOriginatorStamp(const ORIGINATORID& a, const ORIGINATORID& b) noexcept {
    return a.sequence == b.sequence && a.sequenceTime.word[0] == b.sequenceTime.word[0] &&
           a.sequenceTime.word[1] == b.sequenceTime.word[1];
}

bool SameTime(const TIMEDATE& a, const TIMEDATE& b) noexcept {
    return a.word[0] == b.word[0] && a.word[1] == b.word[1];
}

// Walks the open profile view to its last entry; `found` tells whether it has one and `latest`
// is then its note id. A failed read is logged and its status answered.
STATUS FindLatestNoteId(HCOLLECTION collection, bool* found, NOTEID* latest) noexcept {
    *found = false;
    *latest = 0;
    COLLECTIONPOSITION position;
    std::memset(&position, 0, sizeof position);
    position.level = 0;
    position.tumbler[0] = 0;

    MemGuard lastBuffer;
    uint16_t signal = 0;
    do {
        MEMHANDLE buffer = QIX_NULLHANDLE;
        uint32_t returned = 0;
        signal = 0;
        const STATUS status =
            TAVReadEntries(collection, &position, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 1,
                           READ_MASK_NOTEID, &buffer, nullptr, nullptr, &returned, &signal);
        if (status != 0) {
            LogFormat(LOG_ERROR, "Error TAVReadEntries. Error# %i\n", static_cast<int>(status));
            return status;
        }
        if (buffer != QIX_NULLHANDLE)
            lastBuffer = MemGuard(buffer);
    } while ((signal & SIGNAL_MORE_ENTRIES) != 0);

    if (lastBuffer) {
        {
            MemLock lock(lastBuffer.Get());
            if (lock.Get() != nullptr) {
                std::memcpy(latest, lock.Get(), sizeof *latest);
                *found = true;
            }
        }
        lastBuffer.Close();
    }
    return 0;
}

void FormatNoteId(char (&text)[kNoteIdTextSize], NOTEID noteId) noexcept {
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned int>(noteId));
}

// A read that did not take in every document (no compile, a failed or cut-short search, a record
// that could not be stored) must not leave stamps that match the view: the records would then stay
// stale or partial until the documents changed again. Zero stamps make the next refresh read.
void ForgetStamps() noexcept {
    std::memset(&profileFlags.latestProfileOriginatorId, 0,
                sizeof profileFlags.latestProfileOriginatorId);
    std::memset(&profileFlags.profileViewModified, 0, sizeof profileFlags.profileViewModified);
}

// Compiles the search formula, resets the records and reads every document through the search
// callback, then dumps the configuration in force. Runs under the profile write lock.
void ReadAllProfiles(DBHANDLE* db) noexcept {
    FormulaGuard formula;
    const STATUS compiled =
        QIXFormulaCompile(nullptr, 0, kSearchFormula, kSearchFormulaLength, formula.Out(), nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr);
    if (compiled != 0) {
        LogFormat(LOG_ERROR, "Error compiling search formula. Error#: %i\n",
                  static_cast<int>(compiled));
        ForgetStamps();
        return;
    }

    ResetProfileFlags();
    gReadIncomplete = false;
    const STATUS searched = QIXSearch(*db, formula.Get(), kProfileView, 0, kDocumentsOnly, nullptr,
                                      UpdateProfileV75, db, nullptr);
    if (searched != 0) {
        LogFormat(LOG_ERROR, "Error searching profile database: %s Error#: %i\n", kEventDatabase,
                  static_cast<int>(searched));
    }
    if (searched != 0 || gReadIncomplete)
        ForgetStamps();
    gReadIncomplete = false;
    PrintConfigurationProfile();
    formula.Close();
}

}  // namespace

STATUS ReadProfile() noexcept {
    DbGuard db;
    const STATUS opened = QIXDbOpen(kEventDatabase, db.Out());
    if (opened != 0) {
        LogFormat(LOG_ERROR, "Error opening profile database: %s Error#: %i\n", kEventDatabase,
                  static_cast<int>(opened));
        return Masked(opened);
    }

    // A view lookup that fails is treated as a change, so that the documents are read in full
    // rather than left stale; an empty view compares as the all-zero originator id.
    ORIGINATORID latest;
    TIMEDATE viewModified;
    std::memset(&latest, 0, sizeof latest);
    std::memset(&viewModified, 0, sizeof viewModified);
    const bool viewFailed = FindProfileViewInfo(db.Get(), &latest, &viewModified) != 0;

    bool differs = viewFailed;
    if (!differs) {
        ProfileReadLock lock;
        differs = !SameOriginatorStamp(profileFlags.latestProfileOriginatorId, latest) ||
                  !SameTime(profileFlags.profileViewModified, viewModified);
    }

    if (!differs) {
        LogFormat(LOG_DEBUG, "Profile refreshed but not updated!\n");
    } else {
        ProfileWriteLock lock;
        // Both halves always run, so that both stamps take the current values.
        const int sameProfile =
            CheckUnchangedProfile(&profileFlags.latestProfileOriginatorId, &latest);
        const int sameView =
            CheckUnchangedDATETIME(&profileFlags.profileViewModified, &viewModified);
        if (sameProfile != 0 && sameView != 0 && !viewFailed) {
            // Another thread read the same change while this one waited for the lock.
            LogFormat(LOG_DEBUG, "Profile refreshed but not updated!\n");
        } else {
            DBHANDLE handle = db.Get();
            ReadAllProfiles(&handle);
        }
    }

    const STATUS closed = db.Close();
    if (closed != 0) {
        LogFormat(LOG_ERROR, "Error closing profile database: %s Error#: %i\n", kEventDatabase,
                  static_cast<int>(closed));
        return Masked(closed);
    }
    return 0;
}

STATUS FindProfileViewInfo(DBHANDLE db, ORIGINATORID* latestOriginatorId,
                           TIMEDATE* viewModified) noexcept {
    NOTEID viewNoteId = 0;
    const STATUS found =
        TAVFindDesignNoteExt(db, kProfileView, NOTE_CLASS_VIEW, kViewPattern, &viewNoteId, 0);
    if (found != 0) {
        LogFormat(LOG_ERROR, "Error TAVFindView. Error# %i\n", static_cast<int>(found));
        return found;
    }

    CollectionGuard collection;
    const STATUS opened = TAVOpenCollection(db, db, viewNoteId, 0, QIX_NULLHANDLE, collection.Out(),
                                            nullptr, nullptr, nullptr, nullptr);
    if (opened != 0) {
        LogFormat(LOG_ERROR, "Error TAVOpenCollection. Error# %i\n", static_cast<int>(opened));
        return opened;
    }

    bool hasEntry = false;
    NOTEID latestNoteId = 0;
    const STATUS read = FindLatestNoteId(collection.Get(), &hasEntry, &latestNoteId);
    if (read != 0)
        return read;

    if (hasEntry) {
        NoteGuard note;
        const STATUS noteOpened = QIXNoteOpen(db, latestNoteId, 0, note.Out());
        if (noteOpened != 0) {
            LogFormat(LOG_ERROR, "Error opening Note. Error# %i\n", static_cast<int>(noteOpened));
            return noteOpened;
        }
        QIXNoteGetInfo(note.Get(), NOTE_INFO_ORIGINATOR, latestOriginatorId);
        LogFormat(LOG_DEBUG, "Latest profile NoteID=%X!\n",
                  static_cast<unsigned int>(latestNoteId));
    }

    TAVGetLastModifiedTime(collection.Get(), viewModified);
    return 0;
}

void NoteIncompleteRead() noexcept {
    gReadIncomplete = true;
}

int CheckUnchangedProfile(ORIGINATORID* stored, const ORIGINATORID* current) noexcept {
    if (SameOriginatorStamp(*stored, *current))
        return 1;
    std::memcpy(stored, current, sizeof *stored);
    return 0;
}

int CheckUnchangedDATETIME(TIMEDATE* stored, const TIMEDATE* current) noexcept {
    if (SameTime(*stored, *current))
        return 1;
    *stored = *current;
    return 0;
}

STATUS UpdateProfileV75(void* parameter, const SEARCH_MATCH* match,
                        const void* /*summary*/) noexcept {
    if (parameter == nullptr || match == nullptr)
        return Masked(ERR_QIX_BAD_ARGUMENT);
    const DBHANDLE db = *static_cast<const DBHANDLE*>(parameter);
    char noteIdText[kNoteIdTextSize];
    FormatNoteId(noteIdText, match->noteId);

    NoteGuard note;
    const STATUS opened = QIXNoteOpen(db, match->noteId, 0, note.Out());
    if (opened != 0) {
        LogFormat(LOG_ERROR, "Error opening profile document. NoteID: %s, Error#: %i\n", noteIdText,
                  static_cast<int>(opened));
        return Masked(opened);
    }

    char form[kFormReadLimit + 1];
    const uint16_t length = QIXItemGetText(note.Get(), kFormItem, form, kFormReadLimit);
    form[length < sizeof form ? length : sizeof form - 1] = '\0';

    if (std::strcmp(form, kTriggerForm) == 0) {
        // The flag may only be set while the chain holds a record.
        if (AddTriggerProfileV75(note.Get()) != 0 && pEventTriggerProfile != nullptr) {
            profileFlags.triggerProfileEnabled = 1;
            LogFormat(LOG_DEBUG, "Event Trigger Profile added!\n");
        }
    } else if (std::strcmp(form, kConfigurationForm) == 0) {
        UpdateConfigurationProfile(note.Get());
        profileFlags.configurationProfileEnabled = 1;
        LogFormat(LOG_DEBUG, "Configuration Profile added!\n");
    } else if (std::strcmp(form, kSystemForm) == 0) {
        UpdateSystemProfile(note.Get());
        profileFlags.systemProfileEnabled = 1;
        LogFormat(LOG_DEBUG, "System Profile added!\n");
    }

    const STATUS closed = note.Close();
    if (closed != 0) {
        LogFormat(LOG_ERROR, "Error closing profile document. NoteID: %s, Error#: %i\n", noteIdText,
                  static_cast<int>(closed));
        return Masked(closed);
    }
    return 0;
}

}  // namespace kova
