// The profile refresh: opens the event database, runs the change test against a snapshot (the
// profile view's last entry and last-modified time against the snapshot's change stamps) and,
// when it finds a change, decides who reads it (this caller, another thread, a profile change's
// after stage, or a later retry) and has it read (profile/reread.h). A failed re-read is tried
// again when a profile document changes, and otherwise at most once a second of the server's
// clock.
#include "profile/refresh.h"

#include <atomic>
#include <cstring>

#include "base/names.h"
#include "hostapi/handles.h"
#include "hostapi/itemtext.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"
#include "profile/reread.h"

namespace kova {
namespace {

constexpr STATUS kStatusMask = 0x3fff;

constexpr char kViewPattern[] = "-G40n^";

bool SameOriginatorStamp(const ORIGINATORID& a, const ORIGINATORID& b) noexcept {
    return a.sequence == b.sequence && a.sequenceTime.word[0] == b.sequenceTime.word[0] &&
           a.sequenceTime.word[1] == b.sequenceTime.word[1];
}

bool SameTime(const TIMEDATE& a, const TIMEDATE& b) noexcept {
    return a.word[0] == b.word[0] && a.word[1] == b.word[1];
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

constexpr char kNotUpdated[] = "Profile refreshed but not updated!\n";
constexpr char kLockError[] = "Error locking the profile records.\n";

// One second of the server's clock: the least time between two tries of a failed re-read, and
// the longest a write-path refresh leaves a parked profile change to its own after stage.
constexpr uint64_t kRetryInterval = 100;
constexpr uint64_t kProfileChangeWindow = 100;

// The retry of a failed re-read; only the holder of the edit lock reads the documents.
bool gRetryArmed GUARDED_BY(gProfileEditMutex) = false;
uint64_t gRetryArmedAt GUARDED_BY(gProfileEditMutex) = 0;
ProfileFlags gFailedStamps GUARDED_BY(gProfileEditMutex){};  // what the failed read's test saw

std::atomic<int> gProfileChangesInFlight{0};
// When a write-path refresh first met the changes in flight (0: none has yet).
std::atomic<uint64_t> gProfileChangeMetAt{0};

STATUS Masked(STATUS status) noexcept {
    return static_cast<STATUS>(status & kStatusMask);
}

bool ProfileChangeInFlight() noexcept {
    if (gProfileChangesInFlight.load(std::memory_order_acquire) <= 0)
        return false;
    const uint64_t now = ServerHundredths();
    uint64_t met = 0;
    if (gProfileChangeMetAt.compare_exchange_strong(met, now, std::memory_order_acq_rel))
        met = now;
    return now >= met && now - met < kProfileChangeWindow;
}

void ArmRetry(const ProfileStamps& stamps) noexcept REQUIRES(gProfileEditMutex) {
    gRetryArmed = true;
    gRetryArmedAt = ServerHundredths();
    gFailedStamps.latestProfileOriginatorId = stamps.latest;
    gFailedStamps.profileViewModified = stamps.viewModified;
}

// The documents are as they were when a re-read failed, and its retry is not due yet. A change
// since then is read at once; a clock set back counts as the wait being over.
bool RetryWaiting(const ProfileStamps& stamps) noexcept REQUIRES(gProfileEditMutex) {
    if (!gRetryArmed || !SameStamps(gFailedStamps, stamps))
        return false;
    const uint64_t now = ServerHundredths();
    return now >= gRetryArmedAt && now - gRetryArmedAt < kRetryInterval;
}

// The change test found a difference from the configuration in force: read it, unless this
// caller leaves that to another thread or to a later retry.
void RefreshChanged(DBHANDLE db, const ProfileStamps& stamps, bool viewFailed, bool writePath,
                    ConfigurationSnapshot& snapshot) noexcept {
    if (ConfigurationsUnloaded() || (writePath && ProfileChangeInFlight())) {
        LogLine(kLogDebug, kNotUpdated);
        return;
    }
    bool published = false;
    {
        ProfileEditLock lock(writePath ? EditWait::kTry : EditWait::kBlock);
        if (!lock.held()) {
            // Busy: another thread is reading; this notification keeps what is in force.
            LogLine(lock.busy() ? kLogDebug : kLogError, lock.busy() ? kNotUpdated : kLockError);
            return;
        }
        lock.AssertHeld();
        // Another thread may have read this very change while this one waited for the lock.
        const ConfigurationSnapshot inForce;
        if ((inForce.ok() && !viewFailed && SameStamps(inForce->profileFlags, stamps)) ||
            (writePath && RetryWaiting(stamps))) {
            LogLine(kLogDebug, kNotUpdated);
            return;
        }
        const RereadOutcome outcome = ReadAllProfiles(lock, db, stamps);
        if (outcome.failedCall != nullptr || viewFailed) {
            // A failed view lookup cannot tell a change: read again, but not at once.
            ArmRetry(stamps);
        } else {
            gRetryArmed = false;
        }
        published = outcome.published;
    }
    if (published)
        snapshot.Renew();
}

STATUS Refresh(ConfigurationSnapshot& snapshot, bool writePath) noexcept {
    DbGuard db;
    const STATUS opened = QIXDbOpen(kEventDatabase, db.Out());
    if (opened != 0) {
        LogFormat(kLogError, "Error opening profile database: %s Error#: %i\n", kEventDatabase,
                  static_cast<int>(opened));
        return Masked(opened);
    }

    // A view lookup that fails is treated as a change, so that the documents are read in full
    // rather than left stale; an empty view compares as the all-zero originator id.
    ProfileStamps stamps;
    std::memset(&stamps, 0, sizeof stamps);
    const bool viewFailed =
        FindProfileViewInfo(db.Get(), &stamps.latest, &stamps.viewModified) != 0;

    bool differs = viewFailed;
    if (!differs) {
        if (!snapshot.ok()) {
            LogLine(kLogError, kLockError);
        } else {
            differs = !SameStamps(snapshot->profileFlags, stamps);
        }
    }
    if (differs) {
        RefreshChanged(db.Get(), stamps, viewFailed, writePath, snapshot);
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

}  // namespace

bool SameStamps(const ProfileFlags& flags, const ProfileStamps& stamps) noexcept {
    return SameOriginatorStamp(flags.latestProfileOriginatorId, stamps.latest) &&
           SameTime(flags.profileViewModified, stamps.viewModified);
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

uint64_t ServerHundredths() noexcept {
    const TIMEDATE now = CurrentTime();
    return (uint64_t{now.word[1]} << 32) | now.word[0];
}

void BeginProfileChange() noexcept {
    gProfileChangeMetAt.store(0, std::memory_order_release);  // a new change: a new window
    gProfileChangesInFlight.fetch_add(1, std::memory_order_acq_rel);
}

void EndProfileChange() noexcept {
    int inFlight = gProfileChangesInFlight.load(std::memory_order_acquire);
    while (inFlight > 0 && !gProfileChangesInFlight.compare_exchange_weak(
                               inFlight, inFlight - 1, std::memory_order_acq_rel)) {
    }
}

STATUS ReadProfile(ConfigurationSnapshot& snapshot) noexcept {
    return Refresh(snapshot, true);
}

STATUS ReadProfile() noexcept {
    ConfigurationSnapshot snapshot;
    return Refresh(snapshot, false);
}

}  // namespace kova
