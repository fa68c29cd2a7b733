// Cross-reference checks of a read scenario: every database a step names exists, every note name
// is defined once and before its first use, bulk deletes stay in one database, `fail` names a
// server API operation (QIXNoteOpen when it names a note), and nothing but print and expect
// follows `stop`.
#include <iterator>
#include <map>
#include <set>

#include "tools/kovahost/scenario_reader.h"

namespace kovahost {
namespace {

// The server API operations the add-in calls, whose calls the stand-in can make fail; the `fail`
// section of docs/scenarios.md lists them for administrators.
const char* const kServerOperations[] = {"EMCreateRecursionID",
                                         "EMRegister",
                                         "EMDeregister",
                                         "OSCurrentTIMEDATE",
                                         "ConvertTIMEDATEToText",
                                         "LogEventTextNoConsole",
                                         "OSMemAlloc",
                                         "OSLockObject",
                                         "OSUnlockObject",
                                         "OSMemFree",
                                         "IDCreateTable",
                                         "IDInsert",
                                         "IDEntries",
                                         "IDScan",
                                         "IDDestroyTable",
                                         "QIXDbOpen",
                                         "QIXDbClose",
                                         "QIXDbPathGet",
                                         "QIXNoteOpen",
                                         "QIXNoteClose",
                                         "QIXNoteCreate",
                                         "QIXNoteUpdate",
                                         "QIXNoteUpdateExtended",
                                         "QIXNoteDelete",
                                         "QIXDbDeleteNotes",
                                         "QIXNoteGetInfo",
                                         "QIXItemGetText",
                                         "QIXItemGetTextListEntries",
                                         "QIXItemGetTextListEntry",
                                         "QIXItemSetText",
                                         "QIXItemSetNumber",
                                         "QIXItemSetTime",
                                         "QIXItemAppendTextListEntry",
                                         "QIXFormulaCompile",
                                         "QIXSearch",
                                         "TAVFindDesignNote",
                                         "TAVFindDesignNoteExt",
                                         "TAVOpenCollection",
                                         "TAVCloseCollection",
                                         "TAVReadEntries",
                                         "TAVGetLastModifiedTime"};

[[noreturn]] void Fail(int line, const std::string& message) {
    throw ScenarioError{"", line, message};
}

class Checker {
  public:
    explicit Checker(const Scenario& plan) : plan_(plan) {}

    void Run() {
        for (const DatabasePlan& db : plan_.databases)
            AddDatabase(db);
        for (const char* system : {"log.qix", "hub.qix"}) {
            if (databases_.count(system) == 0)
                databases_[system] = 0;
        }
        // Notes stored with the server exist before the first step.
        for (const DatabasePlan& db : plan_.databases) {
            for (const DocumentPlan& doc : db.documents) {
                if (!doc.name.empty())
                    Define(doc.line, doc.name, db.path);
            }
        }
        // Names that a create step defines, so that a use before it can say so.
        for (const Step& step : plan_.steps) {
            if (step.kind == StepKind::kCreate && !step.note.empty()) {
                later_.emplace(step.note, step.line);
            }
        }
        for (const Step& step : plan_.steps)
            CheckStep(step);
    }

  private:
    struct NoteDef {
        int line;
        std::string db;
    };

    void AddDatabase(const DatabasePlan& db) {
        auto found = databases_.find(db.path);
        if (found != databases_.end()) {
            Fail(db.line, "database '" + db.path + "' is listed twice (first at line " +
                              std::to_string(found->second) + ")");
        }
        if (IsSystemDatabase(db.path) && db.eventTemplate) {
            Fail(db.line,
                 "'" + db.path + "' is a system database of the server and cannot take a template");
        }
        databases_[db.path] = db.line;
    }

    void Define(int line, const std::string& name, const std::string& db) {
        auto found = notes_.find(name);
        if (found != notes_.end()) {
            Fail(line, "note name '" + name + "' is already used (line " +
                           std::to_string(found->second.line) + ")");
        }
        notes_[name] = NoteDef{line, db};
    }

    void RequireDatabase(int line, const std::string& path) const {
        if (databases_.count(path) != 0)
            return;
        std::string known;
        for (const auto& db : databases_)
            known += (known.empty() ? "" : ", ") + db.first;
        Fail(line, "database '" + path + "' does not exist (databases: " + known + ")");
    }

    const NoteDef& RequireNote(int line, const std::string& name) const {
        auto found = notes_.find(name);
        if (found != notes_.end())
            return found->second;
        auto later = later_.find(name);
        if (later != later_.end()) {
            Fail(line, "note '" + name + "' is used before the create step that defines it (line " +
                           std::to_string(later->second) + ")");
        }
        Fail(line, "note '" + name +
                       "' is not defined (name a note with 'as' in a document or a create step)");
    }

    void CheckStep(const Step& step) {
        const bool operation = step.kind != StepKind::kPrint && step.kind != StepKind::kExpect;
        if (stopLine_ != 0 && operation) {
            Fail(step.line, std::string("'") + StepKindName(step.kind) + "' after 'stop' (line " +
                                std::to_string(stopLine_) +
                                "): the add-in is unloaded, only print and expect may follow");
        }
        switch (step.kind) {
            case StepKind::kCreate:
                RequireDatabase(step.line, step.db);
                if (!step.note.empty())
                    Define(step.line, step.note, step.db);
                break;
            case StepKind::kUpdate:
            case StepKind::kDelete:
                RequireNote(step.line, step.note);
                break;
            case StepKind::kDeleteMany:
                CheckDeleteMany(step);
                break;
            case StepKind::kFail:
                if (!IsServerOperation(step.call)) {
                    Fail(step.line, "'" + step.call +
                                        "' is not a server API operation (for example "
                                        "QIXNoteCreate, QIXNoteOpen, QIXDbOpen; scenarios.md "
                                        "lists them under 'fail')");
                }
                if (!step.note.empty()) {
                    if (step.call != "QIXNoteOpen") {
                        Fail(step.line, "'note' goes with call QIXNoteOpen only, not with '" +
                                            step.call + "'");
                    }
                    RequireNote(step.line, step.note);
                }
                break;
            case StepKind::kPrint:
            case StepKind::kExpect:
            case StepKind::kLoad:
                if (!step.db.empty())
                    RequireDatabase(step.line, step.db);
                break;
            case StepKind::kStop:
                stopLine_ = step.line;
                break;
            case StepKind::kStart:
                break;
        }
    }

    void CheckDeleteMany(const Step& step) {
        if (!step.db.empty())
            RequireDatabase(step.line, step.db);
        std::string db = step.db;
        std::set<std::string> seen;
        for (const std::string& name : step.notes) {
            const NoteDef& note = RequireNote(step.line, name);
            if (!seen.insert(name).second)
                Fail(step.line, "note '" + name + "' is listed twice");
            if (db.empty())
                db = note.db;
            if (note.db != db) {
                Fail(step.line, "note '" + name + "' is in " + note.db + ", not in " + db +
                                    ": one bulk delete works on one database");
            }
        }
    }

    const Scenario& plan_;
    std::map<std::string, int> databases_;  // path -> line (0: a system database)
    std::map<std::string, NoteDef> notes_;  // defined so far
    std::map<std::string, int> later_;      // defined by a create step at that line
    int stopLine_ = 0;
};

}  // namespace

std::vector<std::string> ServerOperations() {
    return {std::begin(kServerOperations), std::end(kServerOperations)};
}

bool IsServerOperation(const std::string& name) {
    for (const char* operation : kServerOperations) {
        if (name == operation)
            return true;
    }
    return false;
}

void CheckScenario(const Scenario& plan) {
    Checker(plan).Run();
}

}  // namespace kovahost
