// The profile records of a configuration: reaching them, their clean-ups and the accessors that
// pick the record in force.
#include "profile/records.h"

#include <cinttypes>
#include <cstdlib>

#include "log/logline.h"
#include "profile/configuration.h"

namespace kova {

ConfigurationProfile* pConfigurationProfile(ProfileConfiguration& configuration) noexcept {
    return &configuration.configurationProfile;
}
const ConfigurationProfile* pConfigurationProfile(
    const ProfileConfiguration& configuration) noexcept {
    return &configuration.configurationProfile;
}
SystemProfile* pSystemProfile(ProfileConfiguration& configuration) noexcept {
    return &configuration.systemProfile;
}
const SystemProfile* pSystemProfile(const ProfileConfiguration& configuration) noexcept {
    return &configuration.systemProfile;
}
TriggerProfile*& pEventTriggerProfile(ProfileConfiguration& configuration) noexcept {
    return configuration.pEventTriggerProfile;
}
const TriggerProfile* pEventTriggerProfile(const ProfileConfiguration& configuration) noexcept {
    return configuration.pEventTriggerProfile;
}
ProfileFlags& profileFlags(ProfileConfiguration& configuration) noexcept {
    return configuration.profileFlags;
}
const ProfileFlags& profileFlags(const ProfileConfiguration& configuration) noexcept {
    return configuration.profileFlags;
}

void FreeMonitored(char*** monitored, int32_t* monitoredNum) noexcept {
    if (monitored == nullptr || monitoredNum == nullptr)
        return;
    if (*monitored != nullptr) {
        for (int32_t i = 0; i < *monitoredNum; ++i)
            std::free((*monitored)[i]);
        std::free(*monitored);
        *monitored = nullptr;
    }
    *monitoredNum = 0;
}

void CleanUpConfigurationProfile(ProfileConfiguration& configuration) noexcept {
    ConfigurationProfile* profile = pConfigurationProfile(configuration);
    FreeMonitored(&profile->monitored, &profile->monitoredNum);
    profile->createEnabled = 0;
    profile->updateEnabled = 0;
    profile->deleteEnabled = 0;
}

void CleanUpSystemProfile(ProfileConfiguration& configuration) noexcept {
    SystemProfile* profile = pSystemProfile(configuration);
    profile->logLevel = kLogError;
    profile->logConsoleEnabled = 0;
    profile->logDatabaseEnabled = 0;
}

void CleanUpEventTriggerProfile(ProfileConfiguration& configuration) noexcept {
    TriggerProfile*& chain = pEventTriggerProfile(configuration);
    while (chain != nullptr) {
        TriggerProfile* head = chain;
        LogFormat(kLogDebug, "pEventTriggerProfile=%" PRIuPTR ", MonitoredNum=%i\n",
                  reinterpret_cast<uintptr_t>(head), static_cast<int>(head->monitoredNum));
        FreeMonitored(&head->monitored, &head->monitoredNum);
        chain = head->next;
        std::free(head);
    }
}

void AddEventTriggerProfile(ProfileConfiguration& configuration, TriggerProfile* profile) noexcept {
    if (profile == nullptr)
        return;
    TriggerProfile*& chain = pEventTriggerProfile(configuration);
    profile->next = chain;
    chain = profile;
}

void ResetProfileFlags(ProfileConfiguration& configuration) noexcept {
    ProfileFlags& flags = profileFlags(configuration);
    CleanUpEventTriggerProfile(configuration);
    flags.triggerProfileEnabled = 0;
    CleanUpConfigurationProfile(configuration);
    flags.configurationProfileEnabled = 0;
    CleanUpSystemProfile(configuration);
    flags.systemProfileEnabled = 0;
}

// ---- Accessors -------------------------------------------------------------------------------

int32_t IsSystemProfileEnabled(const ProfileConfiguration& configuration) noexcept {
    return configuration.profileFlags.systemProfileEnabled;
}
int32_t IsTriggerProfileEnabled(const ProfileConfiguration& configuration) noexcept {
    return configuration.profileFlags.triggerProfileEnabled;
}
int32_t IsConfigurationProfileEnabled(const ProfileConfiguration& configuration) noexcept {
    return configuration.profileFlags.configurationProfileEnabled;
}

// The trigger accessors answer from the chain's head while triggerProfileEnabled is set (which
// holds only while the chain is non-empty); the null test guards a chain emptied with its flag
// left set.
namespace {
const TriggerProfile* TriggerInForce(const ProfileConfiguration& configuration) noexcept {
    return configuration.profileFlags.triggerProfileEnabled != 0
               ? configuration.pEventTriggerProfile
               : nullptr;
}
}  // namespace

int32_t isCreateEnabled(const ProfileConfiguration& configuration) noexcept {
    const TriggerProfile* head = TriggerInForce(configuration);
    return head != nullptr ? head->createEnabled : configuration.configurationProfile.createEnabled;
}
int32_t isUpdateEnabled(const ProfileConfiguration& configuration) noexcept {
    const TriggerProfile* head = TriggerInForce(configuration);
    return head != nullptr ? head->updateEnabled : configuration.configurationProfile.updateEnabled;
}
int32_t isDeleteEnabled(const ProfileConfiguration& configuration) noexcept {
    const TriggerProfile* head = TriggerInForce(configuration);
    return head != nullptr ? head->deleteEnabled : configuration.configurationProfile.deleteEnabled;
}
const char* getConnectorID(const ProfileConfiguration& configuration) noexcept {
    const TriggerProfile* head = TriggerInForce(configuration);
    return head != nullptr ? head->connectorID : configuration.configurationProfile.connectorID;
}
int32_t getMonitoredNum(const ProfileConfiguration& configuration) noexcept {
    const TriggerProfile* head = TriggerInForce(configuration);
    return head != nullptr ? head->monitoredNum : configuration.configurationProfile.monitoredNum;
}
const char* const* getMonitored(const ProfileConfiguration& configuration) noexcept {
    const TriggerProfile* head = TriggerInForce(configuration);
    return head != nullptr ? head->monitored : configuration.configurationProfile.monitored;
}

int32_t GetLogLevel(const ProfileConfiguration& configuration) noexcept {
    return LogSettingsOf(configuration).level;
}
int32_t isLogConsoleEnabled(const ProfileConfiguration& configuration) noexcept {
    return LogSettingsOf(configuration).console;
}
int32_t isLogDatabaseEnabled(const ProfileConfiguration& configuration) noexcept {
    return LogSettingsOf(configuration).database;
}

}  // namespace kova
