// A configuration's ownership of its records, its copy, and the log settings it puts in force.
#include "profile/configuration.h"

#include <cstdlib>

#include "base/text.h"

namespace kova {
namespace {

// A copy of a monitored array into `*to` (empty slots stay empty); false when memory ran out,
// with `*to` holding the slots copied so far.
bool CopyMonitored(char** from, int32_t count, char*** to, int32_t* toCount) noexcept {
    *to = nullptr;
    *toCount = 0;
    if (from == nullptr || count < 1)
        return true;
    auto** slots = static_cast<char**>(std::calloc(static_cast<size_t>(count), sizeof(char*)));
    if (slots == nullptr)
        return false;
    *to = slots;
    *toCount = count;
    for (int32_t i = 0; i < count; ++i) {
        if (from[i] == nullptr)
            continue;
        slots[i] = HeapText(from[i]);
        if (slots[i] == nullptr)
            return false;
    }
    return true;
}

}  // namespace

ProfileConfiguration::~ProfileConfiguration() {
    FreeMonitored(&configurationProfile.monitored, &configurationProfile.monitoredNum);
    while (pEventTriggerProfile != nullptr) {
        TriggerProfile* head = pEventTriggerProfile;
        pEventTriggerProfile = head->next;
        FreeMonitored(&head->monitored, &head->monitoredNum);
        std::free(head);
    }
}

bool CopyConfiguration(const ProfileConfiguration& from, ProfileConfiguration* to) noexcept {
    to->configurationProfile = from.configurationProfile;
    to->configurationProfile.monitored = nullptr;
    to->configurationProfile.monitoredNum = 0;
    to->systemProfile = from.systemProfile;
    to->profileFlags = from.profileFlags;
    to->complete = from.complete;
    if (!CopyMonitored(from.configurationProfile.monitored, from.configurationProfile.monitoredNum,
                       &to->configurationProfile.monitored,
                       &to->configurationProfile.monitoredNum)) {
        return false;
    }
    TriggerProfile** tail = &to->pEventTriggerProfile;
    for (const TriggerProfile* record = from.pEventTriggerProfile; record != nullptr;
         record = record->next) {
        auto* copy = static_cast<TriggerProfile*>(std::calloc(1, sizeof(TriggerProfile)));
        if (copy == nullptr)
            return false;
        *copy = *record;
        copy->monitored = nullptr;
        copy->monitoredNum = 0;
        copy->next = nullptr;
        *tail = copy;
        tail = &copy->next;
        if (!CopyMonitored(record->monitored, record->monitoredNum, &copy->monitored,
                           &copy->monitoredNum)) {
            return false;
        }
    }
    return true;
}

LogSettings LogSettingsOf(const ProfileConfiguration& configuration) noexcept {
    if (configuration.profileFlags.systemProfileEnabled != 0) {
        return LogSettings{configuration.systemProfile.logLevel,
                           configuration.systemProfile.logConsoleEnabled,
                           configuration.systemProfile.logDatabaseEnabled};
    }
    return LogSettings{configuration.configurationProfile.logLevel, 1, 0};
}

}  // namespace kova
