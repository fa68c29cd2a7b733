// The profile refresh: a cheap change test on the profile view, and a full re-read of the profile
// documents when it finds a change. The stamps and records it changes are guarded by the profile
// write lock (profile/records.h); the change test's server API work runs without any lock.
#ifndef KOVA_PROFILE_REFRESH_H
#define KOVA_PROFILE_REFRESH_H

#include "hostapi/qixtypes.h"

namespace kova {

constexpr const char* kProfileView = "(All Configurations)";

STATUS ReadProfile() noexcept;
STATUS FindProfileViewInfo(DBHANDLE db, ORIGINATORID* latestOriginatorId,
                           TIMEDATE* viewModified) noexcept;
int CheckUnchangedProfile(ORIGINATORID* stored, const ORIGINATORID* current) noexcept;
int CheckUnchangedDATETIME(TIMEDATE* stored, const TIMEDATE* current) noexcept;
STATUS UpdateProfileV75(void* parameter, const SEARCH_MATCH* match, const void* summary) noexcept;

// Called by a profile reader (under the profile write lock) when it could not store all of a
// document: the full read in progress then counts as incomplete, and the refresh forgets its
// change stamps so that the next refresh reads the documents again.
void NoteIncompleteRead() noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_REFRESH_H
