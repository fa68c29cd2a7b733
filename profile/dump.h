// The dump of a configuration just read, written after a full profile read.
#ifndef KOVA_PROFILE_DUMP_H
#define KOVA_PROFILE_DUMP_H

namespace kova {

struct ProfileConfiguration;

void PrintConfigurationProfile(const ProfileConfiguration& configuration) noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_DUMP_H
