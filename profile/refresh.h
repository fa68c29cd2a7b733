// The profile refresh: a cheap change test on the profile view, and a full re-read of the profile
// documents when it finds a change. The re-read builds the next configuration aside in a
// ProfileEdit and publishes it only when every document was read; notifications on other threads
// go on with the configuration in force meanwhile and never wait for it.
#ifndef KOVA_PROFILE_REFRESH_H
#define KOVA_PROFILE_REFRESH_H

#include "hostapi/qixtypes.h"

namespace kova {

// Who asks for a refresh. A notification on the write path (a before stage) never waits: when
// another thread is re-reading, when a profile document's own change is between its two stages
// (its after stage re-reads at once), or while a failed re-read waits for its retry, it goes on
// with the configuration in force. Start-up and a profile document's after stage read the change
// in any case, waiting for a re-read in progress first.
enum class RefreshFor { kWritePath, kProfileChange };

STATUS ReadProfile(RefreshFor caller = RefreshFor::kWritePath) noexcept;
STATUS FindProfileViewInfo(DBHANDLE db, ORIGINATORID* latestOriginatorId,
                           TIMEDATE* viewModified) noexcept;
int CheckUnchangedProfile(ORIGINATORID* stored, const ORIGINATORID* current) noexcept;
int CheckUnchangedDATETIME(TIMEDATE* stored, const TIMEDATE* current) noexcept;
STATUS UpdateProfileV75(void* parameter, const SEARCH_MATCH* match, const void* summary) noexcept;

// Called during a full read (by the readers, on the reading thread) when a document could not be
// taken in whole: the read is then incomplete, and `call` and `status` are named when it is
// discarded. The first failure of a read is the one kept.
void NoteIncompleteRead(const char* call, STATUS status) noexcept;

// A profile document's change is parked between its two stages (Begin, from its before stage) or
// has had its after stage (End). While one is in flight, and for at most a second of the server's
// clock after the latest Begin, write-path refreshes leave the re-read to it.
void BeginProfileChange() noexcept;
void EndProfileChange() noexcept;

// The server's clock in hundredths of a second (what a TIMEDATE counts).
uint64_t ServerHundredths() noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_REFRESH_H
