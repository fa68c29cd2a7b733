// The monitoring filter: collects the connector ids of the trigger profiles (or, when there is
// none, of the deprecated configuration profile) that want the described change. One decision:
// the configuration's monitored-entry index answers, at a cost that does not grow with the number
// of profiles, and a walk over every entry only when the index could not be built. At DEBUG the
// walk also writes its trace of every comparison, beside the decision. Allocates only the list
// nodes of matched ids, and names each connector whose id it could not list (the event is then
// lost).
#include "capture/filter.h"

#include <cstring>

#include "base/text.h"
#include "hostapi/handles.h"
#include "hostapi/itemtext.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"

namespace kova {

namespace {

constexpr size_t kTitleCopySize = 256;

template <typename Profile>
int WantsEventType(int32_t eventType, const Profile& profile) noexcept {
    switch (eventType) {
        case kEventTypeCreate:
            return profile.createEnabled != 0 ? 1 : 0;
        case kEventTypeUpdate:
            return profile.updateEnabled != 0 ? 1 : 0;
        case kEventTypeDelete:
            return profile.deleteEnabled != 0 ? 1 : 0;
        default:
            return 0;
    }
}

const char* SkipBlanks(const char* text) noexcept {
    while (*text == ' ')
        ++text;
    return text;
}

// IsContainedInAlias, with the comparison lines written only when `trace` is set.
int AliasMatches(const char* title, const char* name, bool trace) noexcept {
    if (title == nullptr || name == nullptr)
        return 0;
    char titleCopy[kTitleCopySize];
    CopyBounded(titleCopy, title);
    const char* wanted = SkipBlanks(name);

    // Tokens separated by runs of ";", empty tokens skipped.
    char* cursor = titleCopy;
    for (;;) {
        while (*cursor == ';')
            ++cursor;
        if (*cursor == '\0')
            return 0;
        char* token = cursor;
        while (*cursor != '\0' && *cursor != ';')
            ++cursor;
        if (*cursor == ';')
            *cursor++ = '\0';

        const char* alias = SkipBlanks(token);
        if (trace)
            LogFormat(kLogDebug, "Comparing alias: tempAlias=%s, alias=%s\n", alias, wanted);
        if (std::strcmp(alias, wanted) == 0)
            return 1;
    }
}

// The tests of a trigger entry that remain once its path part is the event's path: its form part
// (null: the entry has none, and any form is meant) against the form's title, then the event type.
// Inlined, so that the index's look-up costs what it did when the test was written out in it.
[[gnu::always_inline]] inline MonitorVerdict MatchFormAndType(const char* formPart,
                                                              const char* title, int32_t eventType,
                                                              const TriggerProfile& profile,
                                                              bool trace) noexcept {
    if (formPart != nullptr && (formPart[0] == '\0' || AliasMatches(title, formPart, trace) != 1)) {
        return MonitorVerdict::kFormNotMatched;
    }
    if (IsEventTypeEnabled(eventType, &profile) != 1)
        return MonitorVerdict::kEventTypeNotEnabled;
    return MonitorVerdict::kWanted;
}

// What the filter compares a change with.
struct Change {
    const EventContext& context;
    const char* eventPath;  // normalised
    const char* title;      // the form's title
};

// The walk over every entry, in the filter's order: the trigger chain newest first, each
// record's entries in order, a record left at its first matching entry; while there is no trigger,
// the deprecated profile, left at its first matching entry. Calls wanted(connectorId) for each
// profile that wants the change and answers 1 when any did; with `trace`, writes every comparison
// and "Event is monitored!" at DEBUG.
template <typename Wanted>
int Walk(const ProfileConfiguration& configuration, const Change& change, bool trace,
         Wanted&& wanted) {
    const EventContext& context = change.context;
    if (configuration.pEventTriggerProfile == nullptr) {
        const ConfigurationProfile& profile = configuration.configurationProfile;
        if (profile.monitoredNum < 1 ||
            !FindMonitoredEntry(profile.monitored, profile.monitoredNum, [&](const char* entry) {
                if (trace)
                    LogFormat(kLogDebug, "Comparing Database Paths: %s, %s\n", context.dbPath,
                              entry);
                return MatchConfigurationEntry(entry, change.eventPath, context.eventType,
                                               profile) == MonitorVerdict::kWanted;
            })) {
            return 0;
        }
        if (trace)
            LogLine(kLogDebug, "Event is monitored!");
        wanted(profile.connectorID);
        return 1;
    }
    int result = 0;
    for (const TriggerProfile* profile = configuration.pEventTriggerProfile; profile != nullptr;
         profile = profile->next) {
        if (FindMonitoredEntry(profile->monitored, profile->monitoredNum, [&](const char* entry) {
                if (trace && std::strchr(entry, ':') == nullptr) {
                    LogFormat(kLogDebug, "Comparing Database Paths: %s, %s\n", context.dbPath,
                              entry);
                } else if (trace) {
                    LogFormat(kLogDebug,
                              "Comparing Database Paths and Form Names: db_path=%s, form=%s, "
                              "alias=%s, configuration=%s\n",
                              context.dbPath, context.formName, change.title, entry);
                }
                const char* formPart = nullptr;
                return MatchTriggerEntry(entry, change.eventPath, change.title, context.eventType,
                                         *profile, &formPart, trace) == MonitorVerdict::kWanted;
            })) {
            if (trace)
                LogLine(kLogDebug, "Event is monitored!");
            wanted(profile->connectorID);
            result = 1;
        }
    }
    return result;
}

// The decision: what the walk would answer, from the index (candidates already filed by path
// part, in walk order) whenever it is valid, else by the walk itself.
template <typename Wanted>
int Decide(const ProfileConfiguration& configuration, const Change& change, Wanted&& wanted) {
    if (!configuration.index.valid())
        return Walk(configuration, change, false, wanted);
    const int32_t eventType = change.context.eventType;
    int result = 0;
    const TriggerProfile* matched = nullptr;
    for (const MonitorIndex::Candidate& candidate : configuration.index.Find(change.eventPath)) {
        if (candidate.trigger == nullptr) {  // the deprecated profile: its first match decides
            const ConfigurationProfile& profile = configuration.configurationProfile;
            if (WantsEventType(eventType, profile)) {
                wanted(profile.connectorID);
                return 1;
            }
            continue;
        }
        // A record that matched once is passed over like the rest of its entries in the walk.
        if (candidate.trigger == matched)
            continue;
        if (MatchFormAndType(candidate.formPart, change.title, eventType, *candidate.trigger,
                             false) == MonitorVerdict::kWanted) {
            wanted(candidate.trigger->connectorID);
            matched = candidate.trigger;
            result = 1;
        }
    }
    return result;
}

bool Listed(KOVAList list, const char* id) noexcept {
    for (const KOVAListNode* node = list; node != nullptr; node = node->next) {
        if (node->text != nullptr && std::strcmp(node->text, id) == 0)
            return true;
    }
    return false;
}

}  // namespace

void ReadFormTitle(DBHANDLE db, const char* formName, char (&title)[kFormTitleSize]) noexcept {
    title[0] = '\0';
    NOTEID formId = 0;
    if (TAVFindDesignNote(db, formName, NOTE_CLASS_FORM, &formId) != 0)
        return;
    NoteGuard form;
    if (QIXNoteOpen(db, formId, 0, form.Out()) != 0)
        return;
    ReadItemText(form.Get(), kTitleItem, title, kFormReadLimit);
}

MonitorVerdict MatchTriggerEntry(const char* entry, const char* eventPath, const char* title,
                                 int32_t eventType, const TriggerProfile& profile,
                                 const char** formPart, bool trace) noexcept {
    const size_t pathLength = std::strcspn(entry, ":");
    *formPart = entry[pathLength] == ':' ? entry + pathLength + 1 : nullptr;
    if (std::strncmp(entry, eventPath, pathLength) != 0 || eventPath[pathLength] != '\0')
        return MonitorVerdict::kOtherDatabase;
    return MatchFormAndType(*formPart, title, eventType, profile, trace);
}

MonitorVerdict MatchConfigurationEntry(const char* entry, const char* eventPath, int32_t eventType,
                                       const ConfigurationProfile& profile) noexcept {
    if (std::strcmp(eventPath, entry) != 0)
        return MonitorVerdict::kOtherDatabase;
    return WantsEventType(eventType, profile) != 0 ? MonitorVerdict::kWanted
                                                   : MonitorVerdict::kEventTypeNotEnabled;
}

int CheckIsEventMonitored(EventContext* context,
                          const ProfileConfiguration& configuration) noexcept {
    if (context == nullptr)
        return 0;
    if (context->noteClass != NOTE_CLASS_DOCUMENT || context->formName[0] == '\0')
        return 0;

    char title[kFormTitleSize];
    ReadFormTitle(context->dbHandle, context->formName, title);

    LogLine(kLogDebug, "CheckIsEventMonitored\n");
    char eventPath[kNormalizedPathSize];
    GetNormalizedDbPath(eventPath, sizeof eventPath, context->dbPath);
    const Change change{*context, eventPath, title};

    if (LogLevelPasses(kLogDebug))  // the trace beside the decision
        Walk(configuration, change, true, [](const char*) noexcept {});
    // An id the list could not take (memory ran out; the list logs that, without saying which)
    // loses the event for that connector, unless another profile of the same connector adds it
    // later in the call: so the losses are named once the decision is made.
    bool unlisted = false;
    const int monitored = Decide(configuration, change, [&](const char* id) noexcept {
        if (!KOVAListAddUniqueString(&context->connectorIds, id))
            unlisted = true;
    });
    if (unlisted) {
        size_t index = 0;
        Decide(configuration, change, [&](const char* id) noexcept {
            const size_t at = index++;
            if (Listed(context->connectorIds, id))
                return;
            // Named once: at the first profile that wanted it.
            size_t earlier = 0;
            bool named = false;
            Decide(configuration, change, [&](const char* other) noexcept {
                named = named || (earlier++ < at && std::strcmp(other, id) == 0);
            });
            if (!named)
                ReportNotCaptured(context->noteId, context->eventType, context->dbPath, id);
        });
    }
    return monitored;
}

int IsContainedInAlias(const char* title, const char* name) noexcept {
    return AliasMatches(title, name, true);
}

int IsEventTypeEnabled(int32_t eventType, const TriggerProfile* profile) noexcept {
    if (profile == nullptr)
        return 0;
    return WantsEventType(eventType, *profile);
}

}  // namespace kova
