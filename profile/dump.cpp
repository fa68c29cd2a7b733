// The dump of the configuration in force: which newer profile forms override the deprecated
// "Configuration" profile, the event triggers, and the log outputs, all as INFO lines. It only
// reads the records of the configuration in view; the refresh calls it on the configuration it
// has just read, before publishing it.
#include "profile/dump.h"

#include <cstdint>

#include "hostapi/names.h"
#include "log/logline.h"
#include "profile/records.h"

namespace kova {
namespace {

const char* EntryText(char** monitored, int32_t index) noexcept {
    const char* entry = monitored != nullptr ? monitored[index] : nullptr;
    return entry != nullptr ? entry : "";
}

void PrintTriggerChain() noexcept {
    LogFormat(kLogInfo, "Event Trigger Profiles:\n");
    for (const TriggerProfile* profile = pEventTriggerProfile(); profile != nullptr;
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
void PrintDeprecatedProfile() noexcept {
    LogFormat(kLogInfo, "Configuration Profile:\n");
    LogFormat(kLogInfo, "\tConnector ID:\t%s\n", getConnectorID());
    LogFormat(kLogInfo, "\tEvent Types:\tCreate:%d\tUpdate:%d\tDelete:%d\n",
              static_cast<int>(isCreateEnabled()), static_cast<int>(isUpdateEnabled()),
              static_cast<int>(isDeleteEnabled()));
    LogFormat(kLogInfo, "\tDatabase Paths:\n");
    for (int32_t i = 0; i < getMonitoredNum(); ++i) {
        LogFormat(kLogInfo, "\t\t%s\n", EntryText(getMonitored(), i));
    }
}

}  // namespace

void PrintConfigurationProfile() noexcept {
    const bool trigger = IsTriggerProfileEnabled() != 0;
    const bool configuration = IsConfigurationProfileEnabled() != 0;
    const bool system = IsSystemProfileEnabled() != 0;

    if (trigger && configuration) {
        LogFormat(kLogInfo, "%s profile overwrites %s profile!\n", kTriggerForm,
                  kConfigurationForm);
    } else if (configuration) {
        LogFormat(kLogInfo, "Using deprecated %s profile for event trigger!\n", kConfigurationForm);
    }

    if (trigger) {
        PrintTriggerChain();
    } else if (configuration) {
        PrintDeprecatedProfile();
    }

    if (system && configuration) {
        LogFormat(kLogInfo, "%s profile overwrites %s profile!\n", kSystemForm, kConfigurationForm);
    } else if (configuration) {
        LogFormat(kLogInfo, "Using deprecated %s profile for system configuration!\n",
                  kConfigurationForm);
    }

    if (system || configuration) {
        LogFormat(kLogInfo, "Log Outputs:\tConsole:%d\tLog database log.qix:%d\n",
                  static_cast<int>(isLogConsoleEnabled()),
                  static_cast<int>(isLogDatabaseEnabled()));
    }
}

}  // namespace kova
