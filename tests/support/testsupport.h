// Test helpers shared by the add-in's test folders: back to a fresh server and fresh profile
// records, log settings, hand-built profile records, stdout capture and Event item look-ups.
#ifndef KOVA_TESTS_SUPPORT_TESTSUPPORT_H
#define KOVA_TESTS_SUPPORT_TESTSUPPORT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hostsim/host.h"
#include "profile/configuration.h"
#include "profile/publication.h"
#include "profile/records.h"
#include "tools/support/stdout_capture.h"

namespace kovatest {

// The configuration in force (valid until the next publication; the tests publish on their own
// thread), and a change to it: `change` edits a copy, which is then published.
const kova::ProfileConfiguration& InForce();
void Edit(const std::function<void(kova::ProfileConfiguration&)>& change);

// A fresh stand-in server (fixed clock at kFixedStart), the add-in unloaded (empty pending-note
// tables, not started) and the profile records as at load time: no trigger chain, both static
// records all zero, profileFlags zero, load-time log settings.
void ResetAll();
extern const TIMEDATE kFixedStart;
// Moves the fixed server clock on by `hundredths` from where it stands.
void AdvanceClock(uint64_t hundredths);

// Makes a "SystemConfiguration" profile present with these log settings (published, so every
// thread follows them).
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
