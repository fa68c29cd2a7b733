// Test helpers shared by the add-in's test folders: back to a fresh server and fresh profile
// records, log settings, hand-built profile records, stdout capture and Event item look-ups.
#ifndef KOVA_TESTS_SUPPORT_TESTSUPPORT_H
#define KOVA_TESTS_SUPPORT_TESTSUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "hostsim/host.h"
#include "profile/configuration.h"
#include "profile/records.h"
#include "tools/support/stdout_capture.h"

namespace kovatest {

// A fresh stand-in server (fixed clock at kFixedStart), the add-in unloaded (empty pending-note
// tables, not started) and the profile records as at load time: no trigger chain, both static
// records all zero, profileFlags zero, load-time log settings.
void ResetAll();
extern const TIMEDATE kFixedStart;
// Moves the fixed server clock on by `hundredths` from where it stands.
void AdvanceClock(uint64_t hundredths);

// Makes a "SystemConfiguration" profile present with these log settings (under the write lock, so
// they are published to every thread).
void SetLogSettings(int32_t level, int32_t console, int32_t database);
// Log settings with no system profile present: the configuration profile's level answers,
// console on, log database off.
void SetConfigurationLogLevel(int32_t level);

struct ProfileSpec {
    std::vector<std::string> monitored;
    int32_t createEnabled = 0;
    int32_t updateEnabled = 0;
    int32_t deleteEnabled = 0;
    std::string connectorId;
};

// A heap TriggerProfile (calloc, as the readers make them) filled from `wanted`, not linked.
kova::TriggerProfile* NewTriggerProfile(const ProfileSpec& wanted);
// Links a new trigger record at the head of the chain and sets triggerProfileEnabled.
kova::TriggerProfile* AddTrigger(const ProfileSpec& wanted);
// Refills the deprecated configuration profile (entries, flags, connector id) and sets
// configurationProfileEnabled.
void SetConfigurationProfile(const ProfileSpec& wanted);

// A KOVAList as a vector, head first; and one built by adding `texts` in order.
std::vector<std::string> ListTexts(kova::KOVAList list);

// The text of item `name` of a note ("" with found = false when missing), and the item names in
// the note's order.
std::string ItemText(const qixsim::NoteInfo& note, const std::string& name, bool* found = nullptr);
std::vector<std::string> ItemNames(const qixsim::NoteInfo& note);

// The log-database entries written since the last ResetAll.
std::vector<std::string> LogEntries();

// The server's default time text of `time` (what ConvertTIMEDATEToText writes).
std::string DefaultTimeText(const TIMEDATE& time);

}  // namespace kovatest

#endif  // KOVA_TESTS_SUPPORT_TESTSUPPORT_H
