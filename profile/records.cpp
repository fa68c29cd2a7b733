// The profile records of the configuration in view: reaching them, their clean-ups and the
// accessors that pick the record in force. A change through these functions is made only by the
// thread that holds a ProfileEdit, on the configuration it is building.
#include "profile/records.h"

#include <cinttypes>
#include <cstdlib>

#include "log/logline.h"
#include "profile/configuration.h"

namespace kova {

ConfigurationProfile* pConfigurationProfile() noexcept {
    return &ConfigurationInView().configurationProfile;
}
SystemProfile* pSystemProfile() noexcept {
    return &ConfigurationInView().systemProfile;
}
TriggerProfile*& pEventTriggerProfile() noexcept {
    return ConfigurationInView().pEventTriggerProfile;
}
ProfileFlags& profileFlags() noexcept {
    return ConfigurationInView().profileFlags;
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

void CleanUpConfigurationProfile() noexcept {
    ConfigurationProfile* profile = pConfigurationProfile();
    FreeMonitored(&profile->monitored, &profile->monitoredNum);
    profile->createEnabled = 0;
    profile->updateEnabled = 0;
    profile->deleteEnabled = 0;
}

void CleanUpSystemProfile() noexcept {
    SystemProfile* profile = pSystemProfile();
    profile->logLevel = kLogError;
    profile->logConsoleEnabled = 0;
    profile->logDatabaseEnabled = 0;
}

void CleanUpEventTriggerProfile() noexcept {
    TriggerProfile*& chain = pEventTriggerProfile();
    while (chain != nullptr) {
        TriggerProfile* head = chain;
        LogFormat(kLogDebug, "pEventTriggerProfile=%" PRIuPTR ", MonitoredNum=%i\n",
                  reinterpret_cast<uintptr_t>(head), static_cast<int>(head->monitoredNum));
        FreeMonitored(&head->monitored, &head->monitoredNum);
        chain = head->next;
        std::free(head);
    }
}

void AddEventTriggerProfile(TriggerProfile* profile) noexcept {
    if (profile == nullptr)
        return;
    TriggerProfile*& chain = pEventTriggerProfile();
    profile->next = chain;
    chain = profile;
}

void ResetProfileFlags() noexcept {
    ProfileFlags& flags = profileFlags();
    CleanUpEventTriggerProfile();
    flags.triggerProfileEnabled = 0;
    CleanUpConfigurationProfile();
    flags.configurationProfileEnabled = 0;
    CleanUpSystemProfile();
    flags.systemProfileEnabled = 0;
}

// ---- Accessors -------------------------------------------------------------------------------

int32_t IsSystemProfileEnabled() noexcept {
    return profileFlags().systemProfileEnabled;
}
int32_t IsTriggerProfileEnabled() noexcept {
    return profileFlags().triggerProfileEnabled;
}
int32_t IsConfigurationProfileEnabled() noexcept {
    return profileFlags().configurationProfileEnabled;
}

// The trigger accessors answer from the chain's head while triggerProfileEnabled is set (which
// holds only while the chain is non-empty, until the add-in is unloaded); the null test guards
// the unload, which empties the chain and leaves the flags.
namespace {
TriggerProfile* TriggerInForce() noexcept {
    const ProfileConfiguration& view = ConfigurationInView();
    return view.profileFlags.triggerProfileEnabled != 0 ? view.pEventTriggerProfile : nullptr;
}
}  // namespace

int32_t isCreateEnabled() noexcept {
    const TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->createEnabled : pConfigurationProfile()->createEnabled;
}
int32_t isUpdateEnabled() noexcept {
    const TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->updateEnabled : pConfigurationProfile()->updateEnabled;
}
int32_t isDeleteEnabled() noexcept {
    const TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->deleteEnabled : pConfigurationProfile()->deleteEnabled;
}
char* getConnectorID() noexcept {
    TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->connectorID : pConfigurationProfile()->connectorID;
}
int32_t getMonitoredNum() noexcept {
    const TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->monitoredNum : pConfigurationProfile()->monitoredNum;
}
char** getMonitored() noexcept {
    const TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->monitored : pConfigurationProfile()->monitored;
}

int32_t GetLogLevel() noexcept {
    return LogSettingsOf(ConfigurationInView()).level;
}
int32_t isLogConsoleEnabled() noexcept {
    return LogSettingsOf(ConfigurationInView()).console;
}
int32_t isLogDatabaseEnabled() noexcept {
    return LogSettingsOf(ConfigurationInView()).database;
}

}  // namespace kova
