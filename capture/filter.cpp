// The monitoring filter: collects the connector ids of the trigger profiles (or, when there is
// none, of the deprecated configuration profile) that want the described change. Reads the
// configuration in force under a pin. At DEBUG it walks every record and traces each comparison;
// below DEBUG it asks the configuration's monitored-entry index, which answers what the walk would
// at a cost that does not grow with the number of profiles. Allocates only the list nodes of
// matched ids, and names each connector whose id it could not list (the event is then lost).
#include "capture/filter.h"

#include <cstring>

#include "hostapi/handles.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"
#include "profile/configuration.h"

namespace kova {

namespace {

constexpr size_t kFormTitleSize = 130;
constexpr uint16_t kFormTitleReadLimit = 130;
constexpr size_t kTitleCopySize = 256;

// Copies `source` into `dest`, cut to fit, always terminated.
template <size_t N>
void CopyCut(char (&dest)[N], const char* source) noexcept {
    size_t i = 0;
    for (; i + 1 < N && source[i] != '\0'; ++i)
        dest[i] = source[i];
    dest[i] = '\0';
}

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
        KOVAListAddUniqueString(&context_->connectorIds, id);
        if (Listed(context_->connectorIds, id))
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
        case EVENT_TYPE_CREATE:
            return profile.createEnabled != 0 ? 1 : 0;
        case EVENT_TYPE_UPDATE:
            return profile.updateEnabled != 0 ? 1 : 0;
        case EVENT_TYPE_DELETE:
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
// found or opened.
void ReadFormTitle(DBHANDLE db, const char* formName, char (&title)[kFormTitleSize]) noexcept {
    title[0] = '\0';
    NOTEID formId = 0;
    if (TAVFindDesignNote(db, formName, NOTE_CLASS_FORM, &formId) != 0)
        return;
    NoteGuard form;
    if (QIXNoteOpen(db, formId, 0, form.Out()) != 0)
        return;
    uint16_t length = QIXItemGetText(form.Get(), "$TITLE", title, kFormTitleReadLimit);
    if (length > kFormTitleSize - 1)
        length = kFormTitleSize - 1;
    title[length] = '\0';
}

// Does one monitored entry of a trigger profile match the event? The entry is compared where it
// is stored: its path part is the whole entry, or the text before its first colon. `debug` says
// whether DEBUG lines pass (fixed while the profile read lock is held), so that a walk at a lower
// level formats nothing.
bool TriggerEntryMatches(const EventContext& context, const char* eventPath, const char* title,
                         const char* entry, const TriggerProfile& profile, bool debug) noexcept {
    const char* colon = std::strchr(entry, ':');
    if (colon == nullptr) {
        if (debug)
            LogFormat(LOG_DEBUG, "Comparing Database Paths: %s, %s\n", context.dbPath, entry);
        return std::strcmp(entry, eventPath) == 0 &&
               IsEventTypeEnabled(context.eventType, &profile) == 1;
    }
    if (debug) {
        LogFormat(LOG_DEBUG,
                  "Comparing Database Paths and Form Names: db_path=%s, form=%s, alias=%s, "
                  "configuration=%s\n",
                  context.dbPath, context.formName, title, entry);
    }
    const size_t pathLength = static_cast<size_t>(colon - entry);
    const char* formPart = colon + 1;
    return std::strncmp(entry, eventPath, pathLength) == 0 && eventPath[pathLength] == '\0' &&
           formPart[0] != '\0' && IsContainedInAlias(title, formPart) == 1 &&
           IsEventTypeEnabled(context.eventType, &profile) == 1;
}

int WalkTriggerChain(const TriggerProfile* chain, Collector& collector, const char* eventPath,
                     const char* title, bool debug) noexcept {
    EventContext* const context = collector.context();
    int result = 0;
    for (const TriggerProfile* profile = chain; profile != nullptr; profile = profile->next) {
        if (profile->monitored == nullptr)
            continue;
        for (int32_t i = 0; i < profile->monitoredNum; ++i) {
            const char* entry = profile->monitored[i];
            if (entry == nullptr)
                continue;
            if (TriggerEntryMatches(*context, eventPath, title, entry, *profile, debug)) {
                LogLine(LOG_DEBUG, "Event is monitored!");
                collector.Add(profile->connectorID);
                result = 1;
                break;  // the rest of this profile's entries are not examined
            }
        }
    }
    return result;
}

int CheckConfigurationProfile(const ConfigurationProfile& profile, Collector& collector,
                              const char* eventPath, bool debug) noexcept {
    EventContext* const context = collector.context();
    if (profile.monitoredNum < 1 || profile.monitored == nullptr)
        return 0;
    for (int32_t i = 0; i < profile.monitoredNum; ++i) {
        const char* entry = profile.monitored[i];
        if (entry == nullptr)
            continue;
        if (debug)
            LogFormat(LOG_DEBUG, "Comparing Database Paths: %s, %s\n", context->dbPath, entry);
        if (std::strcmp(eventPath, entry) == 0 && WantsEventType(context->eventType, profile)) {
            LogLine(LOG_DEBUG, "Event is monitored!");
            collector.Add(profile.connectorID);
            return 1;
        }
    }
    return 0;
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
        const bool wanted = (candidate.formPart == nullptr ||
                             (candidate.formPart[0] != '\0' &&
                              IsContainedInAlias(title, candidate.formPart) == 1)) &&
                            IsEventTypeEnabled(context->eventType, candidate.trigger) == 1;
        if (wanted) {
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

    LogLine(LOG_DEBUG, "CheckIsEventMonitored\n");
    char eventPath[kNormalizedPathSize];
    GetNormalizedDbPath(eventPath, sizeof eventPath, context->dbPath);

    ConfigurationPin pin;
    if (!pin.ok()) {
        LogLine(LOG_ERROR, "Error locking the profile records.\n");
        return 0;
    }
    const ProfileConfiguration& configuration = *pin;
    const bool debug = LogLevelPasses(LOG_DEBUG);
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

int IsContainedInAlias(const char* title, const char* name) noexcept {
    if (title == nullptr || name == nullptr)
        return 0;
    char titleCopy[kTitleCopySize];
    CopyCut(titleCopy, title);
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
        LogFormat(LOG_DEBUG, "Comparing alias: tempAlias=%s, alias=%s\n", alias, wanted);
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
