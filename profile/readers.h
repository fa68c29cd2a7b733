// Readers of the three profile document forms: each turns one open profile document into its
// profile record of the configuration being built. Called only by the refresh's search callback.
#ifndef KOVA_PROFILE_READERS_H
#define KOVA_PROFILE_READERS_H

#include "hostapi/qixtypes.h"

namespace kova {

struct ProfileConfiguration;
struct ProfileRead;

// Each reads `note` into `configuration`; a document that cannot be taken in whole is noted in
// `read` (the read is then incomplete).
int UpdateConfigurationProfile(ProfileConfiguration& configuration, NOTEHANDLE note,
                               ProfileRead& read) noexcept;
int UpdateSystemProfile(ProfileConfiguration& configuration, NOTEHANDLE note) noexcept;
int AddTriggerProfileV75(ProfileConfiguration& configuration, NOTEHANDLE note,
                         ProfileRead& read) noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_READERS_H
