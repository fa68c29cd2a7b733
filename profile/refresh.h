// The profile refresh: the change test, and who reads a change it finds. A notification on the
// write path (a before stage) never waits: when another thread is re-reading, when a profile
// document's own change is between its two stages (its after stage re-reads at once), or while a
// failed re-read waits for its retry, it goes on with the configuration in force. Start-up and a
// profile document's after stage read the change in any case, waiting for a re-read in progress
// first.
#ifndef KOVA_PROFILE_REFRESH_H
#define KOVA_PROFILE_REFRESH_H

#include <cstdint>

#include "hostapi/qixtypes.h"
#include "profile/publication.h"
#include "profile/records.h"

namespace kova {

// ---- The change test: have the profile documents changed since a configuration was read? ----

// The stamps the profile view shows now.
struct ProfileStamps {
    ORIGINATORID latest;    // originator id of the view's last document; zero when it is empty
    TIMEDATE viewModified;  // the view's last-modified time
};

STATUS FindProfileViewInfo(DBHANDLE db, ORIGINATORID* latestOriginatorId,
                           TIMEDATE* viewModified) noexcept;
int CheckUnchangedProfile(ORIGINATORID* stored, const ORIGINATORID* current) noexcept;
int CheckUnchangedDATETIME(TIMEDATE* stored, const TIMEDATE* current) noexcept;

// Whether `flags` hold exactly these stamps (the test CheckUnchangedProfile and
// CheckUnchangedDATETIME make, without copying).
bool SameStamps(const ProfileFlags& flags, const ProfileStamps& stamps) noexcept;

// ---- Who reads a change ------------------------------------------------------------------------

// The write path: the change test against the notification's snapshot. When this thread re-reads
// and publishes, the snapshot is renewed, so the rest of the notification sees what was read.
STATUS ReadProfile(ConfigurationSnapshot& snapshot) noexcept;
// Start-up and a profile document's after stage.
STATUS ReadProfile() noexcept;

// A profile document's change parked between its two stages: begun when its entry is parked,
// ended when the entry is released, whatever the path. While one is in flight, write-path
// refreshes leave the re-read to its after stage, for at most a second of the server's clock from
// the first refresh that met it (the clock is read only then).
void BeginProfileChange() noexcept;
void EndProfileChange() noexcept;

// The server's clock in hundredths of a second (what a TIMEDATE counts).
uint64_t ServerHundredths() noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_REFRESH_H
