// The scenarios that the fault loops replay (server API faults and failed allocations alike) and
// the recovery cases start from: each builds a fresh stand-in server with a monitored database
// and two connectors, brings the add-in (its objects linked into the test) to the point just
// before one operation, and runs that operation as the host would.
#ifndef KOVA_TESTS_FAULTS_SCENARIOS_H
#define KOVA_TESTS_FAULTS_SCENARIOS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hostsim/host.h"

namespace faultloop {

enum class ScenarioId {
    Startup,           // MainEntryPoint on a freshly loaded add-in
    FirstRead,         // the first ReadProfile, on records as at load
    RefreshAfterEdit,  // a monitored update whose before stage finds a profile edit
    UnchangedRefresh,  // an unmonitored update whose refresh finds nothing changed
    Create,            // a new monitored document (47)
    Update,            // a monitored update (47)
    ExtendedUpdate,    // a monitored update (102)
    Delete,            // a monitored delete (8)
    BulkDelete,        // a bulk delete of two monitored notes and one of another form (24)
    ProfileChange,     // a profile document stored through the server (re-read after it)
    Unload,            // the Windows detach: CleanUp, then the deregistration walk
};

std::vector<ScenarioId> AllScenarios();
const char* Name(ScenarioId id);
// The scenario's name as a test name: its words run together, each capitalised.
std::string TestName(ScenarioId id);

// One Event document, without the ids that differ from run to run.
struct EventKey {
    std::string type, dbPath, form, connector;
    bool operator==(const EventKey& other) const {
        return type == other.type && dbPath == other.dbPath && form == other.form &&
               connector == other.connector;
    }
};
std::string ToString(const std::vector<EventKey>& events);
// The connector ids of `events`, in their order.
std::vector<std::string> Connectors(const std::vector<EventKey>& events);

// What one run of a scenario's operation gave the host and left behind.
struct StepResult {
    bool hasStatus = true;         // false for the unload, which answers nothing
    STATUS status = 0;             // MainEntryPoint's or ReadProfile's result, or the operation's
    std::vector<EventKey> events;  // Event documents the operation wrote
    std::string console;           // what reached the server console meanwhile
};

// The world of one run: the stand-in server, the add-in's state and the notes the operation
// works on. Build() starts from scratch each time (server reset, add-in unloaded and its
// process-wide state back to load time).
class World {
  public:
    explicit World(ScenarioId id) : id_(id) {}

    void Build();
    // The scenario's operation, with the console captured.
    StepResult Step();
    // The operation once more after a faulted one, as the server would repeat it, a second later
    // on its clock: the start-up after an unload, the unload after a new start-up, the others as
    // they are.
    StepResult Repeat();
    // A profile edit the add-in is not told about (a copy of the "SystemConfiguration" document,
    // which changes nothing it reads), so that its next refresh reads the documents again.
    void TouchProfiles();
    // Unloads the add-in (CleanUp and the deregistration walk), console discarded.
    void Unload();

    ScenarioId id() const { return id_; }

  private:
    StepResult Run(bool repeat);
    void StartAddin();

    ScenarioId id_;
    NOTEID lamp_ = 0;                           // shop document the updates change
    NOTEID memo_ = 0;                           // unmonitored document in "other.qix"
    NOTEID shopTrigger_ = 0;                    // the "shop" trigger document
    std::vector<NOTEID> victims_;               // shop documents for single deletes, used in turn
    std::vector<std::vector<NOTEID>> batches_;  // shop documents for bulk deletes, in turn
    int edits_ = 0;
};

// The profile configuration in force, as text (chain, records, found-flags), to compare a
// recovered add-in with a clean one.
std::string ConfigurationFingerprint();
bool NoteTablesEmpty();
// Entries parked in both pending-note tables now.
size_t ParkedEntries();

// What the exported handler answered, checked on every call against the return rule (725 before
// the operation, the host's own status after it) and for exceptions, through a linker wrap of
// ExtMgrCallback. Every call runs inside a heapfaults::AddinScope.
struct HandlerChecks {
    uint64_t calls = 0;
    uint64_t ruleBroken = 0;
    uint64_t exceptions = 0;
    std::string firstBroken;
};
HandlerChecks Handler();
void ResetHandlerChecks();

// MainEntryPoint inside an AddinScope, with exceptions counted like the handler's.
STATUS CallMainEntryPoint();

// Operations the add-in calls on the server API; the loops must reach every one of them.
const std::vector<std::string>& AddinOperations();

}  // namespace faultloop

#endif  // KOVA_TESTS_FAULTS_SCENARIOS_H
