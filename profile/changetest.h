// The change test: have the profile documents changed since a configuration was read? It reads
// the last entry of the profile view and the view's last-modified time (one view read, however
// many profiles there are) and compares them with the change stamps the configuration keeps.
#ifndef KOVA_PROFILE_CHANGETEST_H
#define KOVA_PROFILE_CHANGETEST_H

#include "hostapi/qixtypes.h"
#include "profile/records.h"

namespace kova {

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

}  // namespace kova

#endif  // KOVA_PROFILE_CHANGETEST_H
