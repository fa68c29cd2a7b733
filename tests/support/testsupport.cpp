// Test helpers shared by the add-in's test folders (see testsupport.h).
#include "tests/support/testsupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <variant>

#include "addin/lifecycle.h"
#include "hostapi/qixapi.h"
#include "profile/configuration.h"
#include "profile/publication.h"

namespace kovatest {

namespace {

constexpr uint64_t kFixedStartHundredths = uint64_t{1709642096} * 100;  // 2024-03-05 12:34:56

char** CopyEntries(const std::vector<std::string>& entries) {
    if (entries.empty())
        return nullptr;
    auto** slots = static_cast<char**>(std::calloc(entries.size(), sizeof(char*)));
    for (size_t i = 0; i < entries.size(); ++i) {
        slots[i] = static_cast<char*>(std::malloc(entries[i].size() + 1));
        std::memcpy(slots[i], entries[i].c_str(), entries[i].size() + 1);
    }
    return slots;
}

void CopyConnector(char (&dest)[kova::kConnectorIdSize], const std::string& id) {
    std::snprintf(dest, sizeof dest, "%s", id.c_str());
}

}  // namespace

const TIMEDATE kFixedStart = {{static_cast<uint32_t>(kFixedStartHundredths & 0xFFFFFFFFu),
                               static_cast<uint32_t>(kFixedStartHundredths >> 32)}};

void ResetAll() {
    kova::CleanUp();  // the pending-note tables and the once-only start flag
    qixsim::Reset();
    qixsim::UseFixedClock(kFixedStart);
    // CleanUp put the load-time configuration in force; publications may follow again.
    kova::ReopenConfigurations();
}

const kova::ProfileConfiguration& InForce() {
    const kova::ConfigurationSnapshot snapshot;
    return *snapshot;  // the slot keeps it alive until the next publication
}

void Edit(const std::function<void(kova::ProfileConfiguration&)>& change) {
    kova::ProfileEdit edit;
    change(edit.configuration());
    edit.Publish();
}

void AdvanceClock(uint64_t hundredths) {
    TIMEDATE now{};
    OSCurrentTIMEDATE(&now);
    const uint64_t later = ((uint64_t{now.word[1]} << 32) | now.word[0]) + hundredths;
    qixsim::UseFixedClock(
        TIMEDATE{{static_cast<uint32_t>(later & 0xFFFFFFFFu), static_cast<uint32_t>(later >> 32)}});
}

void SetLogSettings(int32_t level, int32_t console, int32_t database) {
    Edit([&](kova::ProfileConfiguration& configuration) {
        kova::pSystemProfile(configuration)->logLevel = level;
        kova::pSystemProfile(configuration)->logConsoleEnabled = console;
        kova::pSystemProfile(configuration)->logDatabaseEnabled = database;
        kova::profileFlags(configuration).systemProfileEnabled = 1;
    });
}

void SetConfigurationLogLevel(int32_t level) {
    Edit([&](kova::ProfileConfiguration& configuration) {
        kova::pConfigurationProfile(configuration)->logLevel = level;
        kova::profileFlags(configuration).systemProfileEnabled = 0;
    });
}

// The fields a trigger record and the deprecated profile share, from `wanted`.
template <typename Profile>
void Fill(Profile* profile, const ProfileSpec& wanted) {
    profile->monitored = CopyEntries(wanted.monitored);
    profile->monitoredNum = static_cast<int32_t>(wanted.monitored.size());
    profile->createEnabled = wanted.createEnabled;
    profile->updateEnabled = wanted.updateEnabled;
    profile->deleteEnabled = wanted.deleteEnabled;
    CopyConnector(profile->connectorID, wanted.connectorId);
}

kova::TriggerProfile* NewTriggerProfile(const ProfileSpec& wanted) {
    auto* profile =
        static_cast<kova::TriggerProfile*>(std::calloc(1, sizeof(kova::TriggerProfile)));
    Fill(profile, wanted);
    return profile;
}

kova::TriggerProfile* AddTrigger(const ProfileSpec& wanted) {
    kova::TriggerProfile* profile = NewTriggerProfile(wanted);
    kova::TriggerProfile* linked = nullptr;
    Edit([&](kova::ProfileConfiguration& configuration) {
        kova::AddEventTriggerProfile(configuration, profile);
        kova::profileFlags(configuration).triggerProfileEnabled = 1;
        linked = profile;
    });
    return linked;  // the published configuration's record
}

void SetConfigurationProfile(const ProfileSpec& wanted) {
    Edit([&](kova::ProfileConfiguration& configuration) {
        kova::CleanUpConfigurationProfile(configuration);
        Fill(kova::pConfigurationProfile(configuration), wanted);
        kova::profileFlags(configuration).configurationProfileEnabled = 1;
    });
}

std::vector<std::string> ListTexts(kova::KOVAList list) {
    std::vector<std::string> texts;
    for (; list != nullptr; list = list->next)
        texts.emplace_back(list->text);
    return texts;
}

std::string ItemText(const qixsim::NoteInfo& note, const std::string& name, bool* found) {
    for (const auto& item : note.items) {
        if (item.first == name) {
            if (found != nullptr)
                *found = true;
            return qixsim::ItemText(item.second);
        }
    }
    if (found != nullptr)
        *found = false;
    return {};
}

std::vector<std::string> ItemNames(const qixsim::NoteInfo& note) {
    std::vector<std::string> names;
    for (const auto& item : note.items)
        names.push_back(item.first);
    return names;
}

std::vector<std::string> LogEntries() {
    return qixsim::LogEntries();
}

std::string DefaultTimeText(const TIMEDATE& time) {
    char text[81] = {};
    uint16_t length = 0;
    ConvertTIMEDATEToText(nullptr, nullptr, &time, text, 80, &length);
    return std::string(text, length);
}

}  // namespace kovatest
