// The monitoring filter: collects the connector ids of the trigger profiles (or, when there is
// none, of the deprecated configuration profile) that want the described change. Reads the
// configuration in force under a pin. At DEBUG it walks every record and traces each comparison;
// below DEBUG it asks the configuration's monitored-entry index, which answers what the walk would
// at a cost that does not grow with the number of profiles. Allocates only the list nodes of
// matched ids, and names each connector whose id it could not list (the event is then lost). The
// explanation walks the records too and asks the same entry test, so that it can
// never answer otherwise than the filter.
#include "capture/filter.h"

#include <cstring>

#include "hostapi/handles.h"
#include "hostapi/names.h"
#include "hostapi/qixapi.h"
#include "hostapi/text.h"
#include "log/logline.h"
#include "profile/configuration.h"

namespace kova {

namespace {

constexpr size_t kFormTitleSize = kFormReadLimit;
constexpr size_t kTitleCopySize = 256;

bool Listed(KOVAList list, const char* id) noexcept {
    for (const KOVAListNode* node = list; node != nullptr; node = node->next) {
        if (node->text != nullptr && std::strcmp(node->text, id) == 0)
            return true;
    }
    return false;
}

// The connector ids one filter call collects into its context. An id the list could not take
// (memory ran out; the list logs that, without saying which) loses the event for that connector,
// unless another profile of the same connector adds it later in the call: so the losses are
// named once the call is done. The ids point into the pinned configuration. Beyond the ids kept
// here, a loss is named at once.
class Collector {
  public:
    explicit Collector(EventContext* context) noexcept : context_(context) {}
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    EventContext* context() const noexcept { return context_; }
    void Add(const char* id) noexcept {
        if (KOVAListHoldsAfterAdding(&context_->connectorIds, id))
            return;
        if (unlistedCount_ < kKept) {
            unlisted_[unlistedCount_++] = id;
        } else {
            Report(id);
        }
    }
    void ReportLosses() const noexcept {
        for (size_t i = 0; i < unlistedCount_; ++i) {
            bool again = Listed(context_->connectorIds, unlisted_[i]);
            for (size_t j = 0; j < i && !again; ++j)
                again = std::strcmp(unlisted_[j], unlisted_[i]) == 0;
            if (!again)
                Report(unlisted_[i]);
        }
    }

  private:
    static constexpr size_t kKept = 16;
    void Report(const char* id) const noexcept {
        ReportNotCaptured(context_->noteId, context_->eventType, context_->dbPath, id);
    }
    EventContext* context_;
    const char* unlisted_[kKept];  // the first unlistedCount_ are set
    size_t unlistedCount_ = 0;
};

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

// The "$TITLE" of the form named `formName` into `title`; left empty when the form cannot be
// found or opened. Inlined into the filter, as when it was its only caller.
[[gnu::always_inline]] inline void ReadFormTitle(DBHANDLE db, const char* formName,
                                                 char (&title)[kFormTitleSize]) noexcept {
    title[0] = '\0';
    NOTEID formId = 0;
    if (TAVFindDesignNote(db, formName, NOTE_CLASS_FORM, &formId) != 0)
        return;
    NoteGuard form;
    if (QIXNoteOpen(db, formId, 0, form.Out()) != 0)
        return;
    ReadItemText(form.Get(), kTitleItem, title, kFormReadLimit);
}

// The tests of a trigger entry that remain once its path part is the event's path: its form part
// (null: the entry has none, and any form is meant) against the form's title, then the event type.
// The walk, the index and the explanation all decide with it; inlined, so that the index's
// look-up costs what it did when the test was written out in it.
[[gnu::always_inline]] inline MonitorVerdict MatchFormAndType(
    const char* formPart, const char* title, int32_t eventType,
    const TriggerProfile& profile) noexcept {
    if (formPart != nullptr && (formPart[0] == '\0' || IsContainedInAlias(title, formPart) != 1))
        return MonitorVerdict::kFormNotMatched;
    if (IsEventTypeEnabled(eventType, &profile) != 1)
        return MonitorVerdict::kEventTypeNotEnabled;
    return MonitorVerdict::kWanted;
}

// One monitored entry of a trigger profile against the event, compared where it is stored: its
// path part is the whole entry, or the text before its first colon, and must be the whole event
// path. `formPart` gets the text after that colon, or null.
MonitorVerdict MatchTriggerEntry(const char* entry, const char* eventPath, const char* title,
                                 int32_t eventType, const TriggerProfile& profile,
                                 const char** formPart) noexcept {
    const size_t pathLength = std::strcspn(entry, ":");
    *formPart = entry[pathLength] == ':' ? entry + pathLength + 1 : nullptr;
    if (std::strncmp(entry, eventPath, pathLength) != 0 || eventPath[pathLength] != '\0')
        return MonitorVerdict::kOtherDatabase;
    return MatchFormAndType(*formPart, title, eventType, profile);
}

// One whole entry of the deprecated profile (never split at a colon) against the event.
MonitorVerdict MatchConfigurationEntry(const char* entry, const char* eventPath, int32_t eventType,
                                       const ConfigurationProfile& profile) noexcept {
    if (std::strcmp(eventPath, entry) != 0)
        return MonitorVerdict::kOtherDatabase;
    return WantsEventType(eventType, profile) != 0 ? MonitorVerdict::kWanted
                                                   : MonitorVerdict::kEventTypeNotEnabled;
}

// Does one monitored entry of a trigger profile match the event? `debug` says whether DEBUG lines
// pass (fixed while the profile read lock is held), so that a walk at a lower level formats
// nothing.
bool TriggerEntryMatches(const EventContext& context, const char* eventPath, const char* title,
                         const char* entry, const TriggerProfile& profile, bool debug) noexcept {
    if (debug) {
        if (std::strchr(entry, ':') == nullptr) {
            LogFormat(kLogDebug, "Comparing Database Paths: %s, %s\n", context.dbPath, entry);
        } else {
            LogFormat(kLogDebug,
                      "Comparing Database Paths and Form Names: db_path=%s, form=%s, alias=%s, "
                      "configuration=%s\n",
                      context.dbPath, context.formName, title, entry);
        }
    }
    const char* formPart = nullptr;
    return MatchTriggerEntry(entry, eventPath, title, context.eventType, profile, &formPart) ==
           MonitorVerdict::kWanted;
}

int WalkTriggerChain(const TriggerProfile* chain, Collector& collector, const char* eventPath,
                     const char* title, bool debug) noexcept {
    EventContext* const context = collector.context();
    int result = 0;
    for (const TriggerProfile* profile = chain; profile != nullptr; profile = profile->next) {
        // The rest of a profile's entries are not examined once one matched.
        if (FindMonitoredEntry(profile->monitored, profile->monitoredNum, [&](const char* entry) {
                return TriggerEntryMatches(*context, eventPath, title, entry, *profile, debug);
            })) {
            LogLine(kLogDebug, "Event is monitored!");
            collector.Add(profile->connectorID);
            result = 1;
        }
    }
    return result;
}

int CheckConfigurationProfile(const ConfigurationProfile& profile, Collector& collector,
                              const char* eventPath, bool debug) noexcept {
    EventContext* const context = collector.context();
    if (profile.monitoredNum < 1)
        return 0;
    if (!FindMonitoredEntry(profile.monitored, profile.monitoredNum, [&](const char* entry) {
            if (debug)
                LogFormat(kLogDebug, "Comparing Database Paths: %s, %s\n", context->dbPath, entry);
            return MatchConfigurationEntry(entry, eventPath, context->eventType, profile) ==
                   MonitorVerdict::kWanted;
        })) {
        return 0;
    }
    LogLine(kLogDebug, "Event is monitored!");
    collector.Add(profile.connectorID);
    return 1;
}

// The walk's answer from the index: the candidates are the entries whose path part is the event
// path, in walk order, so only their form part and the event type remain to be tested, and a
// record that matched once is passed over like the rest of its entries in the walk.
int MatchIndexed(const ProfileConfiguration& configuration, Collector& collector,
                 const char* eventPath, const char* title) noexcept {
    EventContext* const context = collector.context();
    size_t count = 0;
    const MonitorIndex::Candidate* candidates = configuration.index.Find(eventPath, &count);
    int result = 0;
    const TriggerProfile* matched = nullptr;
    for (size_t i = 0; i < count; ++i) {
        const MonitorIndex::Candidate& candidate = candidates[i];
        if (candidate.trigger == nullptr) {  // the deprecated profile: its first match decides
            const ConfigurationProfile& profile = configuration.configurationProfile;
            if (WantsEventType(context->eventType, profile)) {
                collector.Add(profile.connectorID);
                return 1;
            }
            continue;
        }
        if (candidate.trigger == matched)
            continue;
        if (MatchFormAndType(candidate.formPart, title, context->eventType, *candidate.trigger) ==
            MonitorVerdict::kWanted) {
            collector.Add(candidate.trigger->connectorID);
            matched = candidate.trigger;
            result = 1;
        }
    }
    return result;
}

}  // namespace

int CheckIsEventMonitored(EventContext* context) noexcept {
    if (context == nullptr)
        return 0;
    if (context->noteClass != NOTE_CLASS_DOCUMENT || context->formName[0] == '\0')
        return 0;

    // Server API work first, outside the lock.
    char title[kFormTitleSize];
    ReadFormTitle(context->dbHandle, context->formName, title);

    LogLine(kLogDebug, "CheckIsEventMonitored\n");
    char eventPath[kNormalizedPathSize];
    GetNormalizedDbPath(eventPath, sizeof eventPath, context->dbPath);

    ConfigurationPin pin;
    if (!pin.ok()) {
        LogLine(kLogError, "Error locking the profile records.\n");
        return 0;
    }
    const ProfileConfiguration& configuration = *pin;
    const bool debug = LogLevelPasses(kLogDebug);
    Collector collector(context);
    int monitored;
    if (!debug && configuration.index.valid()) {
        monitored = MatchIndexed(configuration, collector, eventPath, title);
    } else if (configuration.pEventTriggerProfile != nullptr) {
        monitored = WalkTriggerChain(configuration.pEventTriggerProfile, collector, eventPath,
                                     title, debug);
    } else {
        monitored = CheckConfigurationProfile(configuration.configurationProfile, collector,
                                              eventPath, debug);
    }
    collector.ReportLosses();
    return monitored;
}

ExplainOutcome ExplainEventMonitored(const EventContext& context, MonitorExplanationSink sink,
                                     void* user) noexcept {
    if (context.noteClass != NOTE_CLASS_DOCUMENT)
        return ExplainOutcome::kNotADocument;
    if (context.formName[0] == '\0')
        return ExplainOutcome::kNoForm;

    char title[kFormTitleSize];
    ReadFormTitle(context.dbHandle, context.formName, title);
    char eventPath[kNormalizedPathSize];
    GetNormalizedDbPath(eventPath, sizeof eventPath, context.dbPath);

    ConfigurationPin pin;
    if (!pin.ok())
        return ExplainOutcome::kUnpinned;
    const ProfileConfiguration& configuration = *pin;
    MonitorExplanation explanation{};
    explanation.eventPath = eventPath;
    explanation.formName = context.formName;
    explanation.formTitle = title;
    explanation.eventType = context.eventType;

    // Each entry in the walk's order; the best verdict is the profile's, and the first entry to
    // reach it is named. A wanted entry ends the profile, as in the walk.
    auto consider = [&explanation](MonitorVerdict verdict, const char* entry,
                                   const char* formPart) {
        if (verdict > explanation.verdict) {
            explanation.verdict = verdict;
            explanation.entry = entry;
            explanation.formPart = formPart;
        }
        return verdict == MonitorVerdict::kWanted;
    };
    auto begin = [&explanation](const char* connectorId, const char* const* monitored,
                                int32_t monitoredNum) {
        explanation.connectorId = connectorId;
        explanation.verdict = MonitorVerdict::kOtherDatabase;
        explanation.entry = nullptr;
        explanation.formPart = nullptr;
        explanation.monitored = monitored;
        explanation.monitoredNum = monitored != nullptr && monitoredNum > 0 ? monitoredNum : 0;
    };

    if (configuration.pEventTriggerProfile == nullptr) {
        const ConfigurationProfile& profile = configuration.configurationProfile;
        begin(profile.connectorID, profile.monitored, profile.monitoredNum);
        explanation.deprecatedProfile = true;
        FindMonitoredEntry(profile.monitored, explanation.monitoredNum, [&](const char* entry) {
            return consider(MatchConfigurationEntry(entry, eventPath, context.eventType, profile),
                            entry, nullptr);
        });
        sink(user, explanation);
        return ExplainOutcome::kExplained;
    }
    for (const TriggerProfile* profile = configuration.pEventTriggerProfile; profile != nullptr;
         profile = profile->next) {
        begin(profile->connectorID, profile->monitored, profile->monitoredNum);
        FindMonitoredEntry(profile->monitored, explanation.monitoredNum, [&](const char* entry) {
            const char* formPart = nullptr;
            const MonitorVerdict verdict =
                MatchTriggerEntry(entry, eventPath, title, context.eventType, *profile, &formPart);
            return consider(verdict, entry, formPart);
        });
        sink(user, explanation);
    }
    return ExplainOutcome::kExplained;
}

int IsContainedInAlias(const char* title, const char* name) noexcept {
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
        LogFormat(kLogDebug, "Comparing alias: tempAlias=%s, alias=%s\n", alias, wanted);
        if (std::strcmp(alias, wanted) == 0)
            return 1;
    }
}

int IsEventTypeEnabled(int32_t eventType, const TriggerProfile* profile) noexcept {
    if (profile == nullptr)
        return 0;
    return WantsEventType(eventType, *profile);
}

}  // namespace kova
