// The monitoring filter: which connectors want the change an EventContext describes, decided on
// the configuration the notification's snapshot holds; and the entry tests it decides with, which
// kovahost's --explain asks too.
#ifndef KOVA_CAPTURE_FILTER_H
#define KOVA_CAPTURE_FILTER_H

#include <cstddef>
#include <cstdint>

#include "base/names.h"
#include "capture/context.h"
#include "profile/configuration.h"
#include "profile/records.h"

namespace kova {

// 1 when at least one profile of `configuration` wants the event (its connector id is added to
// connectorIds).
int CheckIsEventMonitored(EventContext* context,
                          const ProfileConfiguration& configuration) noexcept;
int IsContainedInAlias(const char* title, const char* name) noexcept;
int IsEventTypeEnabled(int32_t eventType, const TriggerProfile* profile) noexcept;

// How one monitored entry answers a change: the furthest it got through the tests the filter
// makes in this order (path part, form part, event type). Ordered from worst to best.
enum class MonitorVerdict : int {
    kOtherDatabase = 0,    // the entry's path part is not the change's database path
    kFormNotMatched,       // it names the database; its form part is empty or matches no name in
                           // the form's title
    kEventTypeNotEnabled,  // it names the database (and form); the event type is not enabled
    kWanted,               // the profile wants the change
};

constexpr size_t kFormTitleSize = kFormReadLimit;

// The "$TITLE" of the form named `formName` into `title`; left empty when the form cannot be
// found or opened.
void ReadFormTitle(DBHANDLE db, const char* formName, char (&title)[kFormTitleSize]) noexcept;

// One monitored entry of a trigger profile against a change, compared where it is stored: its
// path part is the whole entry, or the text before its first colon, and must be the whole
// (normalised) event path. `formPart` gets the text after that colon, or null. `trace` writes the
// alias comparisons at DEBUG.
MonitorVerdict MatchTriggerEntry(const char* entry, const char* eventPath, const char* title,
                                 int32_t eventType, const TriggerProfile& profile,
                                 const char** formPart, bool trace) noexcept;
// One whole entry of the deprecated profile (never split at a colon) against a change.
MonitorVerdict MatchConfigurationEntry(const char* entry, const char* eventPath, int32_t eventType,
                                       const ConfigurationProfile& profile) noexcept;

}  // namespace kova

#endif  // KOVA_CAPTURE_FILTER_H
