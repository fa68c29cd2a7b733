// The add-in's configuration records: the deprecated ConfigurationProfile, the SystemProfile, the
// TriggerProfile records of the trigger chain and the ProfileFlags block with the change stamps;
// the clean-ups, and the accessors that pick the record in force.
//
// The records are not process globals: they live in a ProfileConfiguration
// (profile/configuration.h), which owns them. One configuration is in force at a time and never
// changes once published; a re-read builds the next one aside in a ProfileEdit and publishes it in
// one step. The functions below reach "the configuration in view": on a thread that holds a
// ProfileEdit, the one it is building; on every other thread, the one in force. Only a thread
// that holds a ProfileEdit may change records through them.
//
// Heap blocks: the monitored arrays and their strings, and the TriggerProfile records, come from
// malloc/calloc and are released with free() (by the clean-ups, or by the configuration that owns
// them). Whoever builds one for a record (the profile readers) allocates it the same way.
#ifndef KOVA_PROFILE_RECORDS_H
#define KOVA_PROFILE_RECORDS_H

#include <cstddef>
#include <cstdint>

#include "hostapi/names.h"
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

// The records of the configuration in view (see above).
ConfigurationProfile* pConfigurationProfile() noexcept;
SystemProfile* pSystemProfile() noexcept;
TriggerProfile*& pEventTriggerProfile() noexcept;  // head of the trigger chain, newest first
ProfileFlags& profileFlags() noexcept;

void CleanUpConfigurationProfile() noexcept;
void CleanUpSystemProfile() noexcept;
void CleanUpEventTriggerProfile() noexcept;
void AddEventTriggerProfile(TriggerProfile* profile) noexcept;
void ResetProfileFlags() noexcept;

// Frees a record's monitored strings and array and zeroes monitoredNum (shared by the clean-ups).
void FreeMonitored(char*** monitored, int32_t* monitoredNum) noexcept;

// Calls visit(entry) for each filled slot of a record's monitored entries, in order, until visit
// answers true; answers whether it did. Empty slots and a missing array are passed over: the walk
// of the filter, its index and its explanation all see a record's entries this way.
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

// ---- Accessors (the configuration in view) ---------------------------------------------------

int32_t IsSystemProfileEnabled() noexcept;
int32_t IsTriggerProfileEnabled() noexcept;
int32_t IsConfigurationProfileEnabled() noexcept;
int32_t isCreateEnabled() noexcept;
int32_t isUpdateEnabled() noexcept;
int32_t isDeleteEnabled() noexcept;
char* getConnectorID() noexcept;
int32_t getMonitoredNum() noexcept;
char** getMonitored() noexcept;
int32_t GetLogLevel() noexcept;
int32_t isLogConsoleEnabled() noexcept;
int32_t isLogDatabaseEnabled() noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_RECORDS_H
