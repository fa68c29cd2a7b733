// The add-in's configuration records: the deprecated ConfigurationProfile, the SystemProfile, the
// TriggerProfile records of the trigger chain and the ProfileFlags block with the change stamps;
// the clean-ups, and the accessors that pick the record in force.
//
// The records live in a ProfileConfiguration (profile/configuration.h), which owns them. Every
// function here answers for, or changes, the configuration it is handed: the accessors read one
// (a snapshot's, or the one being built), the clean-ups change only the one being built.
//
// Heap blocks: the monitored arrays and their strings, and the TriggerProfile records, come from
// malloc/calloc and are released with free() (by the clean-ups, or by the configuration that owns
// them). Whoever builds one for a record (the profile readers) allocates it the same way.
#ifndef KOVA_PROFILE_RECORDS_H
#define KOVA_PROFILE_RECORDS_H

#include <cstddef>
#include <cstdint>

#include "base/names.h"
#include "hostapi/qixtypes.h"
#include "profile/kovalist.h"

namespace kova {

struct ConfigurationProfile {
    ORIGINATORID originatorId;
    char** monitored;
    int32_t monitoredNum;
    int32_t createEnabled;
    int32_t updateEnabled;
    int32_t deleteEnabled;
    int32_t logLevel;
    char connectorID[kConnectorIdSize];
};

struct TriggerProfile {
    ORIGINATORID originatorId;
    char** monitored;
    int32_t monitoredNum;
    int32_t createEnabled;
    int32_t updateEnabled;
    int32_t deleteEnabled;
    char connectorID[kConnectorIdSize];
    TriggerProfile* next;
};

struct SystemProfile {
    ORIGINATORID originatorId;
    int32_t logLevel;
    int32_t logConsoleEnabled;
    int32_t logDatabaseEnabled;
};

struct ProfileFlags {
    int32_t systemProfileEnabled;
    int32_t triggerProfileEnabled;
    int32_t configurationProfileEnabled;
    ORIGINATORID latestProfileOriginatorId;
    TIMEDATE profileViewModified;
};

struct ProfileConfiguration;

// The records of a configuration.
ConfigurationProfile* pConfigurationProfile(ProfileConfiguration& configuration) noexcept;
const ConfigurationProfile* pConfigurationProfile(
    const ProfileConfiguration& configuration) noexcept;
SystemProfile* pSystemProfile(ProfileConfiguration& configuration) noexcept;
const SystemProfile* pSystemProfile(const ProfileConfiguration& configuration) noexcept;
// The head of the trigger chain, newest first.
TriggerProfile*& pEventTriggerProfile(ProfileConfiguration& configuration) noexcept;
const TriggerProfile* pEventTriggerProfile(const ProfileConfiguration& configuration) noexcept;
ProfileFlags& profileFlags(ProfileConfiguration& configuration) noexcept;
const ProfileFlags& profileFlags(const ProfileConfiguration& configuration) noexcept;

// The clean-ups of a configuration being built.
void CleanUpConfigurationProfile(ProfileConfiguration& configuration) noexcept;
void CleanUpSystemProfile(ProfileConfiguration& configuration) noexcept;
void CleanUpEventTriggerProfile(ProfileConfiguration& configuration) noexcept;
void AddEventTriggerProfile(ProfileConfiguration& configuration, TriggerProfile* profile) noexcept;
void ResetProfileFlags(ProfileConfiguration& configuration) noexcept;

// Frees a record's monitored strings and array and zeroes monitoredNum (shared by the clean-ups).
void FreeMonitored(char*** monitored, int32_t* monitoredNum) noexcept;

// Calls visit(entry) for each filled slot of a record's monitored entries, in order, until visit
// answers true; answers whether it did. Empty slots and a missing array are passed over: the
// filter's walk, its index and kovahost's explanation all see a record's entries this way.
template <typename Visit>
bool FindMonitoredEntry(char* const* monitored, int32_t monitoredNum, Visit&& visit) {
    if (monitored == nullptr)
        return false;
    for (int32_t i = 0; i < monitoredNum; ++i) {
        const char* entry = monitored[i];
        if (entry != nullptr && visit(entry))
            return true;
    }
    return false;
}

// ---- Accessors: what a configuration puts in force ----------------------------------------------

int32_t IsSystemProfileEnabled(const ProfileConfiguration& configuration) noexcept;
int32_t IsTriggerProfileEnabled(const ProfileConfiguration& configuration) noexcept;
int32_t IsConfigurationProfileEnabled(const ProfileConfiguration& configuration) noexcept;
int32_t isCreateEnabled(const ProfileConfiguration& configuration) noexcept;
int32_t isUpdateEnabled(const ProfileConfiguration& configuration) noexcept;
int32_t isDeleteEnabled(const ProfileConfiguration& configuration) noexcept;
const char* getConnectorID(const ProfileConfiguration& configuration) noexcept;
int32_t getMonitoredNum(const ProfileConfiguration& configuration) noexcept;
const char* const* getMonitored(const ProfileConfiguration& configuration) noexcept;
int32_t GetLogLevel(const ProfileConfiguration& configuration) noexcept;
int32_t isLogConsoleEnabled(const ProfileConfiguration& configuration) noexcept;
int32_t isLogDatabaseEnabled(const ProfileConfiguration& configuration) noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_RECORDS_H
