// The profile refresh: the change test on the profile view of the event database, and the full
// re-read of every profile document (search, readers, dump) when it finds a change. The re-read
// runs in a ProfileEdit: the next configuration is built aside, on the reading thread alone, and
// published when the edit ends, so notifications on other threads keep the configuration in force
// and never wait. A re-read that could not take in every document replaces no complete
// configuration: it is dropped with one ERROR line and tried again at most once a second of the
// server's clock.
#include "profile/refresh.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "hostapi/handles.h"
#include "hostapi/names.h"
#include "hostapi/qixapi.h"
#include "hostapi/text.h"
#include "log/logline.h"
#include "profile/configuration.h"
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

constexpr size_t kNoteIdTextSize = 16;

constexpr char kNotUpdated[] = "Profile refreshed but not updated!\n";
constexpr char kLockError[] = "Error locking the profile records.\n";

// One second of the server's clock: the least time between two tries of a failed re-read, and
// the longest a write-path refresh leaves a parked profile change to its own after stage.
constexpr uint64_t kRetryInterval = 100;
constexpr uint64_t kProfileChangeWindow = 100;

// The first failure of the re-read in progress; call null while it is complete. Guarded, like
// the retry state, by the edit lock: only the thread holding it reads the documents.
struct ReadFailure {
    const char* call;
    STATUS status;
};
ReadFailure gReadFailure{nullptr, 0};
bool gRetryArmed = false;
uint64_t gRetryArmedAt = 0;
ProfileFlags gFailedStamps{};  // what the change test saw for the read that failed

std::atomic<int> gProfileChangesInFlight{0};
std::atomic<uint64_t> gLatestProfileChange{0};

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

bool SameStamps(const ProfileFlags& flags, const ORIGINATORID& latest,
                const TIMEDATE& viewModified) noexcept {
    return SameOriginatorStamp(flags.latestProfileOriginatorId, latest) &&
           SameTime(flags.profileViewModified, viewModified);
}

bool ProfileChangeInFlight() noexcept {
    if (gProfileChangesInFlight.load(std::memory_order_acquire) <= 0)
        return false;
    const uint64_t now = ServerHundredths();
    const uint64_t latest = gLatestProfileChange.load(std::memory_order_acquire);
    return now >= latest && now - latest < kProfileChangeWindow;
}

void ArmRetry(const ORIGINATORID& latest, const TIMEDATE& viewModified) noexcept {
    gRetryArmed = true;
    gRetryArmedAt = ServerHundredths();
    gFailedStamps.latestProfileOriginatorId = latest;
    gFailedStamps.profileViewModified = viewModified;
}

// The documents are as they were when a re-read failed, and its retry is not due yet. A change
// since then is read at once; a clock set back counts as the wait being over.
bool RetryWaiting(const ORIGINATORID& latest, const TIMEDATE& viewModified) noexcept {
    if (!gRetryArmed || !SameStamps(gFailedStamps, latest, viewModified))
        return false;
    const uint64_t now = ServerHundredths();
    return now >= gRetryArmedAt && now - gRetryArmedAt < kRetryInterval;
}

// Reads the last entry of the open profile view; `found` tells whether it has one and `latest`
// is then its note id. A failed read is logged and its status answered.
STATUS FindLatestNoteId(HCOLLECTION collection, bool* found, NOTEID* latest) noexcept {
    *found = false;
    *latest = 0;
    COLLECTIONPOSITION position;
    std::memset(&position, 0, sizeof position);
    position.level = 0;
    position.tumbler[0] = 0;

    MemGuard buffer;
    uint32_t returned = 0;
    const STATUS status =
        TAVReadEntries(collection, &position, NAVIGATE_LAST, 1, NAVIGATE_NEXT, 1, READ_MASK_NOTEID,
                       buffer.Out(), nullptr, nullptr, &returned, nullptr);
    if (status != 0) {
        LogFormat(kLogError, "Error TAVReadEntries. Error# %i\n", static_cast<int>(status));
        return status;
    }
    if (buffer) {
        {
            MemLock lock(buffer.Get());
            if (lock.Get() != nullptr && returned > 0) {
                std::memcpy(latest, lock.Get(), sizeof *latest);
                *found = true;
            }
        }
        buffer.Close();
    }
    return 0;
}

void FormatNoteId(char (&text)[kNoteIdTextSize], NOTEID noteId) noexcept {
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned int>(noteId));
}

// Stamps that match no view, so that the next refresh reads the documents again.
void ForgetStamps(ProfileFlags* flags) noexcept {
    std::memset(&flags->latestProfileOriginatorId, 0, sizeof flags->latestProfileOriginatorId);
    std::memset(&flags->profileViewModified, 0, sizeof flags->profileViewModified);
}

// Reads every profile document into a new configuration and publishes it; an incomplete read
// replaces a complete configuration never, the load-time one (start-up) as before.
void ReadAllProfiles(const ProfileEditLock& lock, DBHANDLE db, const ORIGINATORID& latest,
                     const TIMEDATE& viewModified, bool viewFailed) noexcept {
    const bool replacingComplete = lock.InForce().complete;
    gReadFailure = ReadFailure{nullptr, 0};
    bool discarded = false;
    {
        ProfileEdit edit(lock);
        if (!edit.ok()) {
            NoteIncompleteRead("memory allocation", ERR_QIX_NO_MEMORY);
            edit.Discard();
            discarded = true;
        } else {
            // Both halves always run, so that both stamps take the current values.
            ProfileFlags& flags = profileFlags();
            CheckUnchangedProfile(&flags.latestProfileOriginatorId, &latest);
            CheckUnchangedDATETIME(&flags.profileViewModified, &viewModified);

            FormulaGuard formula;
            const STATUS compiled =
                QIXFormulaCompile(nullptr, 0, kSearchFormula, kSearchFormulaLength, formula.Out(),
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
            if (compiled != 0) {
                LogFormat(kLogError, "Error compiling search formula. Error#: %i\n",
                          static_cast<int>(compiled));
                NoteIncompleteRead("QIXFormulaCompile", compiled);
            } else {
                ResetProfileFlags();
                DBHANDLE handle = db;
                const STATUS searched =
                    QIXSearch(db, formula.Get(), kProfileView, 0, kDocumentsOnly, nullptr,
                              UpdateProfileV75, &handle, nullptr);
                if (searched != 0) {
                    LogFormat(kLogError, "Error searching profile database: %s Error#: %i\n",
                              kEventDatabase, static_cast<int>(searched));
                    NoteIncompleteRead("QIXSearch", searched);
                }
            }

            const bool complete = gReadFailure.call == nullptr;
            if (!complete && (replacingComplete || compiled != 0)) {
                edit.Discard();
                discarded = true;
            } else {
                ProfileConfiguration& built = edit.configuration();
                built.complete = complete;
                if (!complete)
                    ForgetStamps(&built.profileFlags);
                PrintConfigurationProfile();
            }
            formula.Close();
        }
    }  // the edit ends: published unless discarded

    if (gReadFailure.call == nullptr) {
        if (viewFailed) {
            // The change test cannot tell a change: read again, but not at once.
            ArmRetry(latest, viewModified);
        } else {
            gRetryArmed = false;
        }
        return;
    }
    // Lines written during the read followed its own settings, which may send them nowhere; this
    // one follows the settings now in force.
    if (discarded) {
        LogFormat(kLogError,
                  "Profile re-read incomplete, the configuration in force is kept: %s failed, "
                  "Error#: %i\n",
                  gReadFailure.call, static_cast<int>(gReadFailure.status));
    } else {
        LogFormat(kLogError,
                  "Profile read incomplete, what was read is in force: %s failed, "
                  "Error#: %i\n",
                  gReadFailure.call, static_cast<int>(gReadFailure.status));
    }
    ArmRetry(latest, viewModified);
}

// The change test found a difference from the configuration in force: read it, unless this
// caller leaves that to another thread or to a later retry.
void RefreshChanged(DBHANDLE db, const ORIGINATORID& latest, const TIMEDATE& viewModified,
                    bool viewFailed, RefreshFor caller) noexcept {
    const bool writePath = caller == RefreshFor::kWritePath;
    if (writePath && ProfileChangeInFlight()) {
        LogLine(kLogDebug, kNotUpdated);
        return;
    }
    ProfileEditLock lock(writePath ? EditWait::kTry : EditWait::kBlock);
    if (lock.failed()) {
        LogLine(kLogError, kLockError);
        return;
    }
    if (lock.busy()) {  // another thread is reading; this notification keeps what is in force
        LogLine(kLogDebug, kNotUpdated);
        return;
    }
    // Another thread may have read this very change while this one waited for the lock.
    if ((!viewFailed && SameStamps(lock.InForce().profileFlags, latest, viewModified)) ||
        (writePath && RetryWaiting(latest, viewModified))) {
        LogLine(kLogDebug, kNotUpdated);
        return;
    }
    ReadAllProfiles(lock, db, latest, viewModified, viewFailed);
}

}  // namespace

uint64_t ServerHundredths() noexcept {
    const TIMEDATE now = CurrentTime();
    return (uint64_t{now.word[1]} << 32) | now.word[0];
}

void BeginProfileChange() noexcept {
    gLatestProfileChange.store(ServerHundredths(), std::memory_order_release);
    gProfileChangesInFlight.fetch_add(1, std::memory_order_acq_rel);
}

void EndProfileChange() noexcept {
    int inFlight = gProfileChangesInFlight.load(std::memory_order_acquire);
    while (inFlight > 0 && !gProfileChangesInFlight.compare_exchange_weak(
                               inFlight, inFlight - 1, std::memory_order_acq_rel)) {
    }
}

STATUS ReadProfile(RefreshFor caller) noexcept {
    DbGuard db;
    const STATUS opened = QIXDbOpen(kEventDatabase, db.Out());
    if (opened != 0) {
        LogFormat(kLogError, "Error opening profile database: %s Error#: %i\n", kEventDatabase,
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
        ConfigurationPin pin;
        if (!pin.ok()) {
            LogLine(kLogError, kLockError);
        } else {
            differs = !SameStamps(pin->profileFlags, latest, viewModified);
        }
    }
    if (differs) {
        RefreshChanged(db.Get(), latest, viewModified, viewFailed, caller);
    } else {
        LogLine(kLogDebug, kNotUpdated);
    }

    const STATUS closed = db.Close();
    if (closed != 0) {
        LogFormat(kLogError, "Error closing profile database: %s Error#: %i\n", kEventDatabase,
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
        LogFormat(kLogError, "Error TAVFindView. Error# %i\n", static_cast<int>(found));
        return found;
    }

    CollectionGuard collection;
    const STATUS opened = TAVOpenCollection(db, db, viewNoteId, 0, QIX_NULLHANDLE, collection.Out(),
                                            nullptr, nullptr, nullptr, nullptr);
    if (opened != 0) {
        LogFormat(kLogError, "Error TAVOpenCollection. Error# %i\n", static_cast<int>(opened));
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
            LogFormat(kLogError, "Error opening Note. Error# %i\n", static_cast<int>(noteOpened));
            return noteOpened;
        }
        QIXNoteGetInfo(note.Get(), NOTE_INFO_ORIGINATOR, latestOriginatorId);
        LogFormat(kLogDebug, "Latest profile NoteID=%X!\n",
                  static_cast<unsigned int>(latestNoteId));
    }

    TAVGetLastModifiedTime(collection.Get(), viewModified);
    return 0;
}

void NoteIncompleteRead(const char* call, STATUS status) noexcept {
    if (gReadFailure.call == nullptr)
        gReadFailure = ReadFailure{call, status};
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
    if (opened == ERR_QIX_NOTE_NOT_FOUND || opened == ERR_QIX_NOTE_DELETED) {
        // Deleted between the search's selection and this open (a connector consuming Event
        // documents, say): the read is complete without it.
        LogFormat(kLogDebug, "Profile document deleted during the read, skipped. NoteID: %s\n",
                  noteIdText);
        return 0;
    }
    if (opened != 0) {
        LogFormat(kLogError, "Error opening profile document. NoteID: %s, Error#: %i\n", noteIdText,
                  static_cast<int>(opened));
        NoteIncompleteRead("QIXNoteOpen", opened);
        return Masked(opened);
    }

    char form[kFormReadLimit + 1];
    ReadItemText(note.Get(), kFormItem, form, kFormReadLimit);

    if (std::strcmp(form, kTriggerForm) == 0) {
        // The flag may only be set while the chain holds a record.
        if (AddTriggerProfileV75(note.Get()) != 0 && pEventTriggerProfile() != nullptr) {
            profileFlags().triggerProfileEnabled = 1;
            LogFormat(kLogDebug, "Event Trigger Profile added!\n");
        }
    } else if (std::strcmp(form, kConfigurationForm) == 0) {
        UpdateConfigurationProfile(note.Get());
        profileFlags().configurationProfileEnabled = 1;
        LogFormat(kLogDebug, "Configuration Profile added!\n");
    } else if (std::strcmp(form, kSystemForm) == 0) {
        UpdateSystemProfile(note.Get());
        profileFlags().systemProfileEnabled = 1;
        LogFormat(kLogDebug, "System Profile added!\n");
    }

    const STATUS closed = note.Close();
    if (closed != 0) {
        LogFormat(kLogError, "Error closing profile document. NoteID: %s, Error#: %i\n", noteIdText,
                  static_cast<int>(closed));
        NoteIncompleteRead("QIXNoteClose", closed);
        return Masked(closed);
    }
    return 0;
}

}  // namespace kova
