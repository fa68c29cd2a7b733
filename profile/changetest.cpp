// The change test on the profile view of the event database: its last entry's originator id and
// its last-modified time, and their comparison with a configuration's change stamps.
#include "profile/changetest.h"

#include <cstring>

#include "base/names.h"
#include "hostapi/handles.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"

namespace kova {
namespace {

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

}  // namespace kova
