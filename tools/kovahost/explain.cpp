// kovahost --explain (see explain.h): the add-in's own code, linked into kovahost, asked the way
// the add-in's before stage asks it: each profile's verdict from the filter's entry tests, and the
// answer written as text lines or JSON objects.
#include "tools/kovahost/explain.h"

#include <cstring>
#include <new>
#include <utility>

#include "base/names.h"
#include "capture/context.h"
#include "capture/filter.h"
#include "hostsim/host.h"
#include "profile/publication.h"
#include "profile/refresh.h"
#include "tools/kovahost/platform.h"
#include "tools/kovahost/records.h"
#include "tools/kovahost/statuses.h"
#include "tools/support/stdout_capture.h"

namespace kovahost {
namespace {

const char kPrefix[] = "explain: ";
const char kProfilePrefix[] = "explain:   ";

// One profile's verdict: its entries in the walk's order, the best verdict is the profile's and
// the first entry to reach it is named. A wanted entry ends the profile, as in the filter.
template <typename Match>
ProfileVerdict VerdictOf(const char* connectorId, bool deprecated, char* const* monitored,
                         int32_t monitoredNum, Match&& match) {
    ProfileVerdict verdict;
    verdict.connector = connectorId;
    verdict.deprecated = deprecated;
    verdict.verdict = kova::MonitorVerdict::kOtherDatabase;
    verdict.hasFormPart = false;
    kova::FindMonitoredEntry(monitored, monitoredNum, [&](const char* entry) {
        const char* formPart = nullptr;
        const kova::MonitorVerdict reached = match(entry, &formPart);
        if (reached > verdict.verdict) {
            verdict.verdict = reached;
            verdict.entry = entry;
            verdict.hasFormPart = formPart != nullptr;
            verdict.formPart = formPart != nullptr ? formPart : "";
        }
        return reached == kova::MonitorVerdict::kWanted;
    });
    kova::FindMonitoredEntry(monitored, monitoredNum, [&](const char* entry) {
        verdict.entries.emplace_back(entry);
        return false;
    });
    return verdict;
}

}  // namespace

// One verdict per trigger profile in chain order or, while there is none, one for the deprecated
// profile.
void ExplainProfiles(const kova::EventContext& context, NoteExplanation& explanation) {
    if (context.noteClass != NOTE_CLASS_DOCUMENT) {
        explanation.skipped = "not a document: the add-in asks no profile";
        return;
    }
    if (context.formName[0] == '\0') {
        explanation.skipped = "the note has no Form item: the add-in asks no profile";
        return;
    }
    char title[kova::kFormTitleSize];
    kova::ReadFormTitle(context.dbHandle, context.formName, title);
    char eventPath[kova::kNormalizedPathSize];
    kova::GetNormalizedDbPath(eventPath, sizeof eventPath, context.dbPath);
    explanation.eventPath = eventPath;
    explanation.title = title;

    const kova::ConfigurationSnapshot snapshot;
    if (!snapshot.ok()) {
        explanation.skipped = "the profile records could not be locked";
        return;
    }
    const kova::ProfileConfiguration& configuration = *snapshot;
    if (configuration.pEventTriggerProfile == nullptr) {
        const kova::ConfigurationProfile& profile = configuration.configurationProfile;
        explanation.verdicts.push_back(VerdictOf(
            profile.connectorID, true, profile.monitored, profile.monitoredNum,
            [&](const char* entry, const char**) {
                return kova::MatchConfigurationEntry(entry, eventPath, context.eventType, profile);
            }));
        return;
    }
    for (const kova::TriggerProfile* profile = configuration.pEventTriggerProfile;
         profile != nullptr; profile = profile->next) {
        explanation.verdicts.push_back(
            VerdictOf(profile->connectorID, false, profile->monitored, profile->monitoredNum,
                      [&](const char* entry, const char** formPart) {
                          return kova::MatchTriggerEntry(entry, eventPath, title, context.eventType,
                                                         *profile, formPart, false);
                      }));
    }
}

namespace {

// Brings kovahost's copy of the add-in up to date and asks it about `context` (noteHandle or
// dbHandle and noteId set), in the order the add-in's before stage does: the database, the note,
// the profiles, then the filter. Everything it does is the host's own and prints nothing.
NoteExplanation Explain(kova::EventContext& context) {
    NoteExplanation explanation;
    const qixsim::HostCalls hostCalls;
    kovasupport::StdoutCapture quiet;  // its console lines are dropped
    kova::FillInDbContext(&context);
    explanation.db = context.dbPath;
    explanation.eventPath = context.dbPath;
    explanation.eventType = context.eventType;
    if (kova::IsSystemDb(&context) != 0) {
        explanation.skipped = explanation.db + " is a system database: the add-in ignores it";
        return explanation;
    }
    kova::FillInNoteContext(&context);
    explanation.noteId = context.noteId;
    explanation.eventType = context.eventType;
    explanation.form = context.formName;
    const STATUS read = kova::ReadProfile();
    if (read != 0) {
        explanation.skipped = "the add-in cannot read its profiles (" + StatusText(read) +
                              "): it passes the change on unmonitored";
        return explanation;
    }
    if (kova::IsConfigurationNote(context.dbPath, context.formName) != 0) {
        explanation.skipped = "a profile document (" + explanation.form +
                              "): the add-in re-reads its profiles after the change instead";
        return explanation;
    }
    try {
        ExplainProfiles(context, explanation);
    } catch (const std::bad_alloc&) {
        explanation.skipped = "kovahost ran out of memory while explaining";
    }
    return explanation;
}

std::string TypeName(int32_t eventType) {
    const char* text = kova::EventTypeText(eventType);
    return *text != '\0' ? text : "unknown";
}

// A value in a sentence: always in single quotes (Shown quotes only where blanks would hide).
std::string Quoted(const std::string& text) {
    const std::string shown = Shown(text);
    return !shown.empty() && shown.front() == '\'' ? shown : "'" + shown + "'";
}

std::string EntriesText(const std::vector<std::string>& entries) {
    if (entries.empty())
        return "it has no entries";
    std::string text = "entries: ";
    for (size_t i = 0; i < entries.size(); ++i)
        text += (i == 0 ? "" : ", ") + Quoted(entries[i]);
    return text;
}

const char* ReasonCode(kova::MonitorVerdict verdict) {
    switch (verdict) {
        case kova::MonitorVerdict::kOtherDatabase:
            return "no-entry-for-database";
        case kova::MonitorVerdict::kFormNotMatched:
            return "form-not-matched";
        case kova::MonitorVerdict::kEventTypeNotEnabled:
            return "event-type-not-enabled";
        case kova::MonitorVerdict::kWanted:
            break;
    }
    return "";
}

std::string VerdictText(const NoteExplanation& note, const ProfileVerdict& profile) {
    switch (profile.verdict) {
        case kova::MonitorVerdict::kWanted:
            return "wanted (entry " + Quoted(profile.entry) + ")";
        case kova::MonitorVerdict::kEventTypeNotEnabled:
            return "not wanted: event type " + TypeName(note.eventType) +
                   " is not enabled (entry " + Quoted(profile.entry) + " matched)";
        case kova::MonitorVerdict::kOtherDatabase:
            return "not wanted: no entry names " + Quoted(note.eventPath) + " (" +
                   EntriesText(profile.entries) + ")";
        case kova::MonitorVerdict::kFormNotMatched:
            break;
    }
    if (profile.formPart.empty())
        return "not wanted: entry " + Quoted(profile.entry) + " has an empty form part";
    return "not wanted: the form part of entry " + Quoted(profile.entry) +
           " matches neither the form " + Quoted(note.form) +
           (note.title.empty() ? " nor an alias (the form has no design note here, so no title)"
                               : " nor an alias in its title \"" + note.title + "\"");
}

Json Subject(const NoteExplanation& note) {
    Json subject{{"db", note.db}};
    if (note.noteId != 0)
        subject["note"] = NoteIdText(note.noteId);
    if (note.eventType != kova::kEventTypeUnknown)
        subject["type"] = TypeName(note.eventType);
    subject["form"] = note.form;
    return subject;
}

}  // namespace

NoteExplanation ExplainStore(NOTEHANDLE note) {
    kova::EventContext context;
    std::memset(&context, 0, sizeof context);
    context.noteHandle = note;
    context.eventType = kova::kEventTypeUnknown;
    return Explain(context);
}

NoteExplanation ExplainDelete(DBHANDLE db, NOTEID noteId) {
    kova::EventContext context;
    std::memset(&context, 0, sizeof context);
    context.dbHandle = db;
    context.noteId = noteId;
    context.eventType = kova::kEventTypeDelete;
    return Explain(context);
}

void PrintExplanation(const Output& out, const NoteExplanation& note) {
    // The event type is known once the note was read (not for a system database).
    const bool typed = note.eventType != kova::kEventTypeUnknown;
    std::string what = (typed ? TypeName(note.eventType) : std::string("a change")) +
                       (note.noteId != 0 ? " of note " + NoteIdText(note.noteId) : "") + " in " +
                       note.db;
    if (!note.skipped.empty()) {
        Json json = Subject(note);
        json["skipped"] = note.skipped;
        out.Record(kPrefix + what + ": " + note.skipped, Json{{"explain", json}});
        return;
    }
    if (note.eventPath != note.db)
        what += " (compared as " + note.eventPath + ")";
    what +=
        ", form " + Quoted(note.form) +
        (note.title.empty() ? " (no design note, so no title)" : ", title \"" + note.title + "\"");
    out.Text(kPrefix + what + ":");
    for (const ProfileVerdict& profile : note.verdicts) {
        Json json = Subject(note);
        json["title"] = note.title;
        json["connector"] = profile.connector;
        json["profile"] = profile.deprecated ? kova::kConfigurationForm : kova::kTriggerForm;
        json["wanted"] = profile.verdict == kova::MonitorVerdict::kWanted;
        if (profile.verdict != kova::MonitorVerdict::kWanted)
            json["reason"] = ReasonCode(profile.verdict);
        if (profile.verdict == kova::MonitorVerdict::kOtherDatabase) {
            json["entries"] = profile.entries;
        } else {
            json["entry"] = profile.entry;
        }
        if (profile.verdict == kova::MonitorVerdict::kFormNotMatched)
            json["formPart"] = profile.formPart;

        std::string text;
        if (profile.deprecated && profile.connector.empty() && profile.entries.empty()) {
            text =
                "no trigger profile, and the \"Configuration\" profile has no entry: nothing "
                "is monitored";
        } else {
            text = Shown(profile.connector) +
                   (profile.deprecated
                        ? " (the \"Configuration\" profile; no trigger profile exists): "
                        : ": ") +
                   VerdictText(note, profile);
        }
        out.Record(kProfilePrefix + text, Json{{"explain", json}});
    }
}

}  // namespace kovahost
