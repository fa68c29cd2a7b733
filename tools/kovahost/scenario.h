// The plan of a scenario: the server to build and the steps to run, as the reader checked them.
// A plan is built whole from a scenario file before anything runs (scenario_reader.h) and is
// read-only afterwards. Database paths are kept with '/', as scenarios write them.
#ifndef KOVA_TOOLS_KOVAHOST_SCENARIO_H
#define KOVA_TOOLS_KOVAHOST_SCENARIO_H

#include <cstdint>
#include <string>
#include <vector>

#include "hostsim/host.h"

namespace kovahost {

// Where an item was written: the line of its name and of each entry of a list.
struct ItemLines {
    int line = 0;
    std::vector<int> entries;
};

// A document stored while the server is built, before any step runs.
struct DocumentPlan {
    int line = 0;
    std::string name;  // its "as" name; empty when no step refers to it
    qixsim::Items items;
    std::vector<ItemLines> lines;  // one per item, in the order of `items`
};

struct DatabasePlan {
    int line = 0;
    std::string path;
    bool eventTemplate = false;      // made from the event database template
    std::vector<std::string> forms;  // one "$TITLE" text per form
    std::vector<DocumentPlan> documents;
};

enum class StepKind {
    kStart,
    kCreate,
    kUpdate,
    kDelete,
    kDeleteMany,
    kFail,
    kPrint,
    kExpect,
    kLoad,
    kStop
};
enum class PrintWhat { kEvents, kLog, kNotes };

// The `count` of a fail step written `always`: every call from then on.
constexpr uint32_t kEveryCall = UINT32_MAX;

// One step. Which fields a step uses depends on its kind (see docs/scenarios.md).
struct Step {
    StepKind kind = StepKind::kStart;
    int line = 0;
    std::string db;                  // create, delete-many, load; print notes, expect (filter)
    std::string note;                // create: its "as" name; update, delete: the note;
                                     // fail: only this note's opens fail
    std::vector<std::string> notes;  // delete-many
    qixsim::Items items;             // create, update; load: the items of created notes
    bool extended = false;           // create, update: notification 102 instead of 47
    STATUS status = 0;               // operations: the failure the host reports; fail: the answer
    std::string call;                // fail: the server API operation
    uint32_t count = 1;              // fail: so many next calls fail (or kEveryCall)
    uint32_t nth = 0;                // fail: only the nth call from now fails (0: use count)
    PrintWhat print = PrintWhat::kEvents;
    uint32_t events = 0;    // expect: the number of matching Event documents
    std::string connector;  // expect filters ("" = any)
    std::string type;
    std::string form;
    uint32_t operations = 0;  // load
    uint32_t threads = 1;
    bool console = false;  // load: show the add-in's console lines
};

struct Scenario {
    std::string file;  // the name used in messages and headings
    bool fixedClock = false;
    std::string clockText;  // "YYYY-MM-DD HH:MM:SS" when fixed
    TIMEDATE clock{};
    char separator = '/';
    std::vector<DatabasePlan> databases;
    std::vector<Step> steps;
};

// The host's system databases: they exist in every server.
bool IsSystemDatabase(const std::string& path);

// Name of a step kind as scenarios write it ("delete-many").
const char* StepKindName(StepKind kind);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_SCENARIO_H
