// The full re-read: every profile document read into a new configuration (search, readers,
// dump), which is published only when the read is complete or nothing complete is in force.
#ifndef KOVA_PROFILE_REREAD_H
#define KOVA_PROFILE_REREAD_H

#include "hostapi/qixtypes.h"
#include "profile/publication.h"
#include "profile/refresh.h"

namespace kova {

// One re-read in progress: the profile database, the configuration being built and the first
// failure that left it incomplete (call null while it is complete). The search callback's
// parameter.
struct ProfileRead {
    DBHANDLE db;
    ProfileConfiguration* configuration;
    const char* failedCall;
    STATUS failedStatus;
};

// Called during a full read (by the readers and the callback) when a document could not be taken
// in whole: the read is then incomplete, and `call` and `status` are named when it is discarded.
// The first failure of a read is the one kept.
void NoteIncompleteRead(ProfileRead& read, const char* call, STATUS status) noexcept;

STATUS UpdateProfileV75(void* parameter, const SEARCH_MATCH* match, const void* summary) noexcept;

// How a re-read ended.
struct RereadOutcome {
    const char* failedCall;  // null: complete
    STATUS failedStatus;
    bool published;
};

// Reads every profile document into a copy of the configuration in force, stamps it with
// `stamps`, and publishes it when complete, or when it is incomplete but what is in force is not
// complete either (start-up: what was read is in force, with stamps that match no view).
RereadOutcome ReadAllProfiles(const ProfileEditLock& lock, DBHANDLE db,
                              const ProfileStamps& stamps) noexcept REQUIRES(gProfileEditMutex);

}  // namespace kova

#endif  // KOVA_PROFILE_REREAD_H
