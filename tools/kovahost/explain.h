// kovahost --explain: what the add-in's own monitoring filter decides about a note operation, one
// verdict per profile. kovahost cannot call into the add-in it loaded (the library exports only its
// two entry points), so it asks its own copy of the add-in's code (kovacore, linked in), which
// re-reads the profile documents of the same "kovaevents.qix" just before each explanation. That
// copy's server API calls are the host's own (qixsim::HostCalls) and its console lines are dropped,
// so that an explained run does and prints what the plain run does, the explanations aside.
#ifndef KOVA_TOOLS_KOVAHOST_EXPLAIN_H
#define KOVA_TOOLS_KOVAHOST_EXPLAIN_H

#include <cstdint>
#include <string>
#include <vector>

#include "capture/filter.h"
#include "hostapi/qixtypes.h"
#include "tools/kovahost/output.h"

namespace kovahost {

// One profile's verdict on a change, from the filter's entry tests.
struct ProfileVerdict {
    std::string connector;
    bool deprecated = false;  // the "Configuration" profile, in force while no trigger exists
    kova::MonitorVerdict verdict = kova::MonitorVerdict::kOtherDatabase;
    std::string entry;  // the entry that reached the verdict (none for kOtherDatabase)
    bool hasFormPart = false;
    std::string formPart;
    std::vector<std::string> entries;  // every entry of the profile
};

// The filter's decision on one note, or why the add-in asks no profile about it.
struct NoteExplanation {
    std::string db;         // the path as the server reports it
    std::string eventPath;  // the path the entries are compared with
    NOTEID noteId = 0;      // 0: a note not stored yet
    int32_t eventType = -1;
    std::string form;
    std::string title;    // the form's title; empty when the form has no design note
    std::string skipped;  // when not empty: why no profile was asked
    std::vector<ProfileVerdict> verdicts;
};

// The filter's decision on `context` (already filled, as the before stage fills it), profile by
// profile, over the configuration in force of kovahost's copy of the add-in: into `explanation`'s
// verdicts, or its `skipped` reason. The profiles found wanted are exactly those whose connector
// ids the filter collects.
void ExplainProfiles(const kova::EventContext& context, NoteExplanation& explanation);

// The store of `note` (open, its items set), as the add-in's before stage sees it.
NoteExplanation ExplainStore(NOTEHANDLE note);
// The delete of note `noteId` of `db`, before it happens (a bulk delete: each note of it).
NoteExplanation ExplainDelete(DBHANDLE db, NOTEID noteId);

// A heading line (text only) and one record per profile: "explain:   CONNECTOR: VERDICT".
void PrintExplanation(const Output& out, const NoteExplanation& explanation);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_EXPLAIN_H
