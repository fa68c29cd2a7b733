// The monitoring filter: which connectors want the change an EventContext describes, and, for a
// reader who wants to know why, the verdict of every profile with what it was compared with.
#ifndef KOVA_CAPTURE_FILTER_H
#define KOVA_CAPTURE_FILTER_H

#include <cstdint>

#include "capture/context.h"
#include "profile/records.h"

namespace kova {

// 1 when at least one profile wants the event (its connector id is added to connectorIds).
// Reads the configuration in force under a pin; a pin that cannot be taken answers 0 with an
// ERROR line (the notification passes unmonitored).
int CheckIsEventMonitored(EventContext* context) noexcept;
int IsContainedInAlias(const char* title, const char* name) noexcept;
int IsEventTypeEnabled(int32_t eventType, const TriggerProfile* profile) noexcept;

// How a profile answers a change: the furthest its best entry got through the tests the filter
// makes in this order (path part, form part, event type). Ordered from worst to best.
enum class MonitorVerdict : int {
    kOtherDatabase = 0,    // no entry's path part is the change's database path
    kFormNotMatched,       // an entry names the database; its form part is empty or matches no
                           // name in the form's title
    kEventTypeNotEnabled,  // an entry names the database (and form); the event type is not enabled
    kWanted,               // the profile wants the change
};

// One profile's verdict on a change and what it was compared with. The pointers are valid only
// during the call that hands it over.
struct MonitorExplanation {
    const char* connectorId;
    bool deprecatedProfile;  // the "Configuration" profile, which decides while no trigger exists
    MonitorVerdict verdict;
    const char* entry;     // the first entry that reached the verdict; null for kOtherDatabase
    const char* formPart;  // that entry's text after its first colon; null when it has none
    const char* const* monitored;  // every entry of the profile, in order
    int32_t monitoredNum;
    // The change, as every profile is compared with it:
    const char* eventPath;  // the database path, normalised
    const char* formName;   // the note's form
    const char* formTitle;  // the form's title; empty when the form has no design note
    int32_t eventType;
};

// What ExplainEventMonitored could examine.
enum class ExplainOutcome {
    kExplained,     // every profile was handed over
    kNotADocument,  // the filter rejects the change before any profile (not a document)
    kNoForm,        // the same, for a note without a form
    kUnpinned,      // the configuration in force could not be pinned
};

using MonitorExplanationSink = void (*)(void* user, const MonitorExplanation& explanation) noexcept;

// The filter's decision on `context`, profile by profile: reads the configuration in force under a
// pin, like CheckIsEventMonitored, and hands `sink` one explanation per trigger profile in chain
// order or, while there is none, one for the deprecated profile. The profiles marked kWanted are
// exactly those whose connector ids the filter collects. Logs only what the alias comparison logs
// at DEBUG; changes nothing.
ExplainOutcome ExplainEventMonitored(const EventContext& context, MonitorExplanationSink sink,
                                     void* user) noexcept;

}  // namespace kova

#endif  // KOVA_CAPTURE_FILTER_H
