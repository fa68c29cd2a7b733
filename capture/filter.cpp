// The monitoring filter: collects the connector ids of the trigger profiles (or, when there is
// none, of the deprecated configuration profile) that want the described change. Reads the
// configuration in force under a pin. At DEBUG it walks every record and traces each comparison;
// below DEBUG it asks the configuration's monitored-entry index, which answers what the walk would
// at a cost that does not grow with the number of profiles. Allocates only the list nodes of
// matched ids.
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

// Adds `id` to the context's connector ids. When memory runs out (the list logs that), the event
// is lost for that connector: named here, since the list's line does not say which.
void AddConnector(EventContext* context, const char* id) noexcept {
    KOVAListAddUniqueString(&context->connectorIds, id);
    for (const KOVAListNode* node = context->connectorIds; node != nullptr; node = node->next) {
        if (node->text != nullptr && std::strcmp(node->text, id) == 0)
            return;
    }
    ReportNotCaptured(context->noteId, context->eventType, context->dbPath, id);
}

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

int WalkTriggerChain(const TriggerProfile* chain, EventContext* context, const char* eventPath,
                     const char* title, bool debug) noexcept {
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
                AddConnector(context, profile->connectorID);
                result = 1;
                break;  // the rest of this profile's entries are not examined
            }
        }
    }
    return result;
}

int CheckConfigurationProfile(const ConfigurationProfile& profile, EventContext* context,
                              const char* eventPath, bool debug) noexcept {
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
            AddConnector(context, profile.connectorID);
            return 1;
        }
    }
    return 0;
}

// The walk's answer from the index: the candidates are the entries whose path part is the event
// path, in walk order, so only their form part and the event type remain to be tested, and a
// record that matched once is passed over like the rest of its entries in the walk.
int MatchIndexed(const ProfileConfiguration& configuration, EventContext* context,
                 const char* eventPath, const char* title) noexcept {
    size_t count = 0;
    const MonitorIndex::Candidate* candidates = configuration.index.Find(eventPath, &count);
    int result = 0;
    const TriggerProfile* matched = nullptr;
    for (size_t i = 0; i < count; ++i) {
        const MonitorIndex::Candidate& candidate = candidates[i];
        if (candidate.trigger == nullptr) {  // the deprecated profile: its first match decides
            const ConfigurationProfile& profile = configuration.configurationProfile;
            if (WantsEventType(context->eventType, profile)) {
                AddConnector(context, profile.connectorID);
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
            AddConnector(context, candidate.trigger->connectorID);
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
    if (!debug && configuration.index.valid())
        return MatchIndexed(configuration, context, eventPath, title);
    if (configuration.pEventTriggerProfile != nullptr) {
        return WalkTriggerChain(configuration.pEventTriggerProfile, context, eventPath, title,
                                debug);
    }
    return CheckConfigurationProfile(configuration.configurationProfile, context, eventPath, debug);
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
