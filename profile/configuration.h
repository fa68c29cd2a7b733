// ProfileConfiguration: one complete set of the add-in's profile records, which it owns (trigger
// chain, monitored arrays and strings), with the index of its monitored entries. A value like any
// other: a refresh builds one, publishes it (profile/publication.h), and from then on it is read
// only, through a ConfigurationSnapshot.
#ifndef KOVA_PROFILE_CONFIGURATION_H
#define KOVA_PROFILE_CONFIGURATION_H

#include "log/logline.h"
#include "profile/monitorindex.h"
#include "profile/records.h"

namespace kova {

struct ProfileConfiguration {
    ProfileConfiguration() = default;
    ~ProfileConfiguration();  // frees the trigger chain and every monitored array, silently
    ProfileConfiguration(const ProfileConfiguration&) = delete;
    ProfileConfiguration& operator=(const ProfileConfiguration&) = delete;

    ConfigurationProfile configurationProfile{};
    SystemProfile systemProfile{};
    TriggerProfile* pEventTriggerProfile = nullptr;  // head of the owned chain, newest first
    ProfileFlags profileFlags{};
    MonitorIndex index;     // built when the configuration is published
    bool complete = false;  // every profile document was read into it
};

// Copies records, flags and completeness (not the index) into an empty configuration. False when
// memory ran out; `to` then owns what was copied.
bool CopyConfiguration(const ProfileConfiguration& from, ProfileConfiguration* to) noexcept;

// The log settings a configuration puts in force: the system profile's when one was read, else
// the deprecated profile's level with the console on and the log database off.
LogSettings LogSettingsOf(const ProfileConfiguration& configuration) noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_CONFIGURATION_H
