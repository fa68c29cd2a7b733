// The soak's accounting: which connectors each operation was owed, and whether what the add-in
// produced (Event documents consumed by the connector, ERROR lines naming an event) gives each
// owed connector exactly one outcome and nothing else any.
//
// Rules. A profile edit takes effect somewhere between the start and the end of the
// administrator's call (its after stage re-reads the documents before the call returns); an
// operation whose window overlaps edits may have seen any configuration from the one in force at
// its start to the one in force at its end. A connector wanted by every one of those is owed
// exactly one outcome; one wanted by some of them is allowed at most one; any other, none. A
// failed operation is owed nothing and allowed nothing but one "Event not captured" line per
// connector it wanted: that line is written in the before stage, which cannot know the operation
// will fail. An operation whose before stage met a server fault that keeps
// the add-in from knowing the change is wanted (database path, note or profile database not
// readable: the add-in lets the change pass unmonitored) is owed nothing but still allowed at most
// one; one whose form title could not be read is owed only what its path entries want.
//
// Outcomes: an Event document with all its items, or an ERROR line that names the note, event
// type, database and connector: "Event document not written", "Event not captured" (a loss), or
// "Event document stored without some items" (delivered damaged). A document without some of its
// items is not matched itself: its line stands for it, and there must be as many such documents
// as such lines. A document or line belongs to an operation on the note it names, of its event
// type, whose window holds its time (a line without a time, when the server could not give it,
// to any of them); a line only to an operation that met what writes it: a failed allocation for
// "not captured", a server fault in its after stage for the other two. Where several operations
// fit (a create's line names note 0, a line may lack its database), the outcomes are paired with
// the operations so that as many owed outcomes as possible are met.
#ifndef KOVA_TESTS_SOAK_ACCOUNTING_H
#define KOVA_TESTS_SOAK_ACCOUNTING_H

#include <cstdint>
#include <string>
#include <vector>

#include "tests/soak/console.h"
#include "tests/soak/model.h"

namespace soak {

// One note of one host operation (a bulk delete gives one per note).
struct Operation {
    EventKind kind = kCreate;
    uint8_t db = 0;
    uint8_t form = 0;
    NOTEID noteId = 0;
    uint64_t begin = 0;   // the server's clock just before the host's call
    uint64_t end = 0;     // and just after it returned
    bool failed = false;  // the host reported the operation failed
    enum Excuse : uint8_t { kNone, kAlias, kUndescribed } excuse = kNone;
    bool metAllocation = false;  // an allocation of the add-in failed during it
    bool metAfterFault = false;  // a server API call of the add-in failed in its after stage
    std::string met;             // the faults it met, for the report of a mismatch
};

struct Edit {
    uint64_t begin = 0;
    uint64_t end = 0;
    ProfilesPtr after;  // the documents once it is done
};

// An Event document as the connector read it.
struct Document {
    bool complete = false;  // every item there, with a database path
    std::string dbPath;
    NOTEID noteId = 0;
    std::string eventType;
    std::string connector;
    uint64_t time = 0;
};

struct Tally {
    uint64_t documents = 0;  // complete Event documents
    uint64_t damaged = 0;    // documents without some items
    uint64_t named[3] = {};  // lines by NamedEvent::Kind
    uint64_t owed = 0;       // (operation, connector) pairs owed an outcome
    uint64_t excused = 0;    // operations owed less because of a fault in their before stage
    uint64_t lost = 0;
    uint64_t duplicated = 0;
    uint64_t unaccounted = 0;
    void Add(const Tally& other);
    uint64_t Events() const { return documents + named[0] + named[1] + named[2]; }
};

// Reconciles one epoch: `start` was in force when it began, `edits` are its edits in order.
// Mismatches are described in `problems` (the first few; with `explain`, each with the
// operations that overlap it, the lines without a time and the epoch's edits).
Tally Reconcile(const ProfilesPtr& start, const std::vector<Edit>& edits,
                const std::vector<Operation>& operations, const std::vector<Document>& documents,
                const std::vector<NamedEvent>& lines, bool explain,
                std::vector<std::string>* problems);

}  // namespace soak

#endif  // KOVA_TESTS_SOAK_ACCOUNTING_H
