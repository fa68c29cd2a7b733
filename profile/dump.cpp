// The dump of the configuration in force: which newer profile forms override the deprecated
// "Configuration" profile, the event triggers, and the log outputs, all as INFO lines. It only
// reads the configuration it is handed: the refresh calls it on the one it has just read, before
// publishing it.
#include "profile/dump.h"

#include <cstdint>

#include "base/names.h"
#include "log/logline.h"
#include "profile/configuration.h"
#include "profile/records.h"

namespace kova {
namespace {

const char* EntryText(const char* const* monitored, int32_t index) noexcept {
    const char* entry = monitored != nullptr ? monitored[index] : nullptr;
    return entry != nullptr ? entry : "";
}

void PrintTriggerChain(const ProfileConfiguration& configuration) noexcept {
    LogFormat(kLogInfo, "Event Trigger Profiles:\n");
    for (const TriggerProfile* profile = pEventTriggerProfile(configuration); profile != nullptr;
         profile = profile->next) {
        LogFormat(kLogInfo, "\tEvent Trigger Profile:\n");
        LogFormat(kLogInfo, "\t\tConnector ID:\t%s\n", profile->connectorID);
        LogFormat(kLogInfo, "\t\tEvent Types:\tCreate:%d\tUpdate:%d\tDelete:%d\n",
                  static_cast<int>(profile->createEnabled),
                  static_cast<int>(profile->updateEnabled),
                  static_cast<int>(profile->deleteEnabled));
        LogFormat(kLogInfo, "\t\tDatabase Paths:\n");
        for (int32_t i = 0; i < profile->monitoredNum; ++i) {
            LogFormat(kLogInfo, "\t\t\t%s\n", EntryText(profile->monitored, i));
        }
    }
}

// With no trigger profile read, the trigger accessors answer from the deprecated record.
void PrintDeprecatedProfile(const ProfileConfiguration& configuration) noexcept {
    LogFormat(kLogInfo, "Configuration Profile:\n");
    LogFormat(kLogInfo, "\tConnector ID:\t%s\n", getConnectorID(configuration));
    LogFormat(kLogInfo, "\tEvent Types:\tCreate:%d\tUpdate:%d\tDelete:%d\n",
              static_cast<int>(isCreateEnabled(configuration)),
              static_cast<int>(isUpdateEnabled(configuration)),
              static_cast<int>(isDeleteEnabled(configuration)));
    LogFormat(kLogInfo, "\tDatabase Paths:\n");
    for (int32_t i = 0; i < getMonitoredNum(configuration); ++i) {
        LogFormat(kLogInfo, "\t\t%s\n", EntryText(getMonitored(configuration), i));
    }
}

}  // namespace

void PrintConfigurationProfile(const ProfileConfiguration& configuration) noexcept {
    const bool trigger = IsTriggerProfileEnabled(configuration) != 0;
    const bool deprecated = IsConfigurationProfileEnabled(configuration) != 0;
    const bool system = IsSystemProfileEnabled(configuration) != 0;

    if (trigger && deprecated) {
        LogFormat(kLogInfo, "%s profile overwrites %s profile!\n", kTriggerForm,
                  kConfigurationForm);
    } else if (deprecated) {
        LogFormat(kLogInfo, "Using deprecated %s profile for event trigger!\n", kConfigurationForm);
    }

    if (trigger) {
        PrintTriggerChain(configuration);
    } else if (deprecated) {
        PrintDeprecatedProfile(configuration);
    }

    if (system && deprecated) {
        LogFormat(kLogInfo, "%s profile overwrites %s profile!\n", kSystemForm, kConfigurationForm);
    } else if (deprecated) {
        LogFormat(kLogInfo, "Using deprecated %s profile for system configuration!\n",
                  kConfigurationForm);
    }

    if (system || deprecated) {
        LogFormat(kLogInfo, "Log Outputs:\tConsole:%d\tLog database log.qix:%d\n",
                  static_cast<int>(isLogConsoleEnabled(configuration)),
                  static_cast<int>(isLogDatabaseEnabled(configuration)));
    }
}

}  // namespace kova
