// Readers of the three profile document forms: each turns one open profile document into its
// profile record of the configuration being built. Called only by the refresh's search callback.
#ifndef KOVA_PROFILE_READERS_H
#define KOVA_PROFILE_READERS_H

#include "hostapi/qixtypes.h"

namespace kova {

int UpdateConfigurationProfile(NOTEHANDLE note) noexcept;
int UpdateSystemProfile(NOTEHANDLE note) noexcept;
int AddTriggerProfileV75(NOTEHANDLE note) noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_READERS_H
