// Building the stand-in server a scenario describes, and the names its steps use for notes.
#ifndef KOVA_TOOLS_KOVAHOST_SERVER_BUILDER_H
#define KOVA_TOOLS_KOVAHOST_SERVER_BUILDER_H

#include <map>
#include <string>
#include <vector>

#include "tools/kovahost/records.h"
#include "tools/kovahost/scenario.h"

namespace kovahost {

// What a note name of the scenario refers to: a database and a note id (0 while the note was
// never stored, e.g. after a create the host reported as failed).
struct NoteRef {
    std::string db;
    NOTEID id = 0;
};
using NoteNames = std::map<std::string, NoteRef>;

struct BuiltServer {
    NoteNames names;
    // Per database of the plan, the note ids of its documents in plan order.
    std::vector<std::vector<NOTEID>> documentIds;
};

// A fresh stand-in server as `plan` describes it: clock, separator, databases (from the event
// database template where asked), forms and documents. Set-up raises no notification. False
// with `error` naming the call that failed.
bool BuildServer(const Scenario& plan, BuiltServer* built, std::string* error);

// One line describing the built server at the top of a run, as text and as JSON.
struct ServerLine {
    std::string text;
    Json json;
};
// The server (clock and separator), each database and each of its documents.
std::vector<ServerLine> DescribeServer(const Scenario& plan, const BuiltServer& built);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_SERVER_BUILDER_H
