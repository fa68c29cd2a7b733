// The dump of the configuration in force, written after a full profile read.
#ifndef KOVA_PROFILE_DUMP_H
#define KOVA_PROFILE_DUMP_H

namespace kova {

void PrintConfigurationProfile() noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_DUMP_H
