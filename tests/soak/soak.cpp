// kova_soak: a seeded workload against the stand-in server with the add-in loaded as the host
// loads it. Threads create, update (plain and extended), delete and bulk-delete documents in
// monitored and unmonitored databases, some failed by the host; one thread also plays the
// administrator, who adds, edits and deletes trigger profiles through the server, and one the
// connector, who lists the Event documents, reads them and deletes them. Server API faults are
// injected into the add-in's calls on the thread whose operation makes them, and, without a
// sanitizer, failed allocations likewise. The run is cut into epochs; at the end of each every
// thread waits while the accounting (accounting.h) checks that each event the configuration
// wanted was written once or named by an ERROR line, that nothing else was written, that the
// pending-note tables are empty and that the server's open handles are back to their count at the
// start. Between epochs the seed chooses the next configuration: 1 to 64 trigger profiles over 1
// to 40 monitored databases, and the log level ERROR, INFO or DEBUG. Prints a summary line and
// its details; exits 1 on any mismatch, 2 on a usage or set-up error.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostsim/host.h"
#include "tests/soak/accounting.h"
#include "tests/soak/addin.h"
#include "tests/soak/console.h"
#include "tests/soak/heapfail.h"
#include "tests/soak/model.h"

namespace soak {
namespace {

constexpr const char* kEventDb = "kovaevents.qix";
constexpr STATUS kFault = ERR_QIX_INVALID_HANDLE;  // has bits above 0x3fff, as a server's may
constexpr STATUS kHostFailure = ERR_QIX_NOTE_NOT_FOUND;
constexpr uint64_t kOperationsPerEpoch = 400;  // per thread
constexpr size_t kMaxLiveNotes = 250;          // per thread
constexpr size_t kDeleteChunk = 40;            // Event documents per bulk delete of the connector

// Every server API call of the add-in that answers a status. The reads whose failure answers an
// ordinary value (empty text, no entries, zero) are left to the fault loop: the add-in cannot tell
// them from content, so no line could name what they lose.
const std::vector<std::string> kFaultedCalls = {
    "ConvertTIMEDATEToText", "OSMemFree",          "QIXDbOpen",         "QIXDbClose",
    "QIXDbPathGet",          "QIXNoteOpen",        "QIXNoteClose",      "QIXNoteCreate",
    "QIXNoteUpdate",         "QIXItemSetText",     "QIXItemSetNumber",  "QIXItemSetTime",
    "QIXFormulaCompile",     "QIXSearch",          "TAVFindDesignNote", "TAVFindDesignNoteExt",
    "TAVOpenCollection",     "TAVCloseCollection", "TAVReadEntries",    "TAVGetLastModifiedTime"};

struct Options {
    double seconds = 0;
    uint64_t operations = 0;
    uint64_t seed = 1;
    int threads = 4;
    unsigned faultRate = 120;  // per mille of actions with a server API fault armed
    unsigned allocRate = 60;   // per mille of actions with an allocation failure armed
    bool explain = false;      // describe each mismatch with its context
};

[[noreturn]] void Usage(const std::string& what) {
    std::cerr << "kova_soak: " << what
              << "\nusage: kova_soak (--seconds S | --operations N) [--seed N] [--threads N]"
                 " [--fault-rate PER_MILLE] [--alloc-rate PER_MILLE] [--explain]\n";
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--explain") {
            options.explain = true;
            continue;
        }
        if (i + 1 >= argc)
            Usage("missing value of " + name);
        const std::string value = argv[++i];
        char* end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || number < 0)
            Usage("bad value of " + name + ": " + value);
        if (name == "--seconds")
            options.seconds = number;
        else if (name == "--operations")
            options.operations = static_cast<uint64_t>(number);
        else if (name == "--seed")
            options.seed = static_cast<uint64_t>(number);
        else if (name == "--threads")
            options.threads = static_cast<int>(number);
        else if (name == "--fault-rate")
            options.faultRate = static_cast<unsigned>(number);
        else if (name == "--alloc-rate")
            options.allocRate = static_cast<unsigned>(number);
        else
            Usage("unknown option " + name);
    }
    if ((options.seconds > 0) == (options.operations > 0))
        Usage("give either --seconds or --operations");
    if (options.threads < 1 || options.threads > 64)
        Usage("--threads must be 1 to 64");
    if (options.faultRate > 1000 || options.allocRate > 1000)
        Usage("rates are per mille");
    return options;
}

[[noreturn]] void SetupFailure(const std::string& what) {
    std::cerr << "kova_soak: set-up: " << what << "\n";
    std::exit(2);
}

uint64_t Now() {
    TIMEDATE now{};
    OSCurrentTIMEDATE(&now);
    return (uint64_t{now.word[1]} << 32) | now.word[0];
}

std::string Thousands(uint64_t value) {
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<size_t>(at), ",");
    return digits;
}

const qixsim::ItemValue* Item(const qixsim::NoteInfo& note, const char* name) {
    for (const auto& [itemName, value] : note.items) {
        if (itemName == name)
            return &value;
    }
    return nullptr;
}

std::string Text(const qixsim::NoteInfo& note, const char* name) {
    const qixsim::ItemValue* value = Item(note, name);
    const std::string* text = value != nullptr ? std::get_if<std::string>(value) : nullptr;
    return text != nullptr ? *text : std::string();
}

bool IsProfileForm(const std::string& form) {
    return form == "EventTriggerConfiguration" || form == "SystemConfiguration" ||
           form == "Configuration";
}

// An Event document as a connector reads it: complete when every item the add-in writes is there.
Document ReadDocument(const qixsim::NoteInfo& note) {
    static const char* const kItems[] = {"EventId",     "EventType",  "DBPath", "FormName",
                                         "UNID",        "PickFields", "Status", "EventTime",
                                         "ConnectorId", "Form"};
    Document document;
    bool all = true;
    for (const char* name : kItems)
        all = all && Item(note, name) != nullptr;
    document.dbPath = Text(note, "DBPath");
    document.eventType = Text(note, "EventType");
    document.connector = Text(note, "ConnectorId");
    const std::string pick = Text(note, "PickFields");
    char* end = nullptr;
    const bool picked = pick.compare(0, 7, "NoteID:") == 0 && pick.size() > 7;
    document.noteId = picked ? static_cast<NOTEID>(std::strtoul(pick.c_str() + 7, &end, 16)) : 0;
    const qixsim::ItemValue* time = Item(note, "EventTime");
    if (time != nullptr && std::holds_alternative<TIMEDATE>(*time)) {
        const TIMEDATE& t = std::get<TIMEDATE>(*time);
        document.time = (uint64_t{t.word[1]} << 32) | t.word[0];
    }
    document.complete = all && !document.dbPath.empty() && picked && *end == '\0';
    return document;
}

// Counts shared by the threads, added up at the end of each epoch.
struct Counts {
    uint64_t operations = 0;  // host operations (a bulk delete is one)
    uint64_t hostFailed = 0;
    uint64_t apiFaults = 0;
    uint64_t allocFaults = 0;
    uint64_t apiArmed = 0;
    uint64_t allocArmed = 0;
    uint64_t refusedCloses = 0;
    uint64_t edits = 0;
    uint64_t editsFailed = 0;
    uint64_t settles = 0;
    uint64_t sweeps = 0;
    std::map<std::string, uint64_t> faultsByCall;
    void Add(const Counts& other) {
        operations += other.operations;
        hostFailed += other.hostFailed;
        apiFaults += other.apiFaults;
        allocFaults += other.allocFaults;
        apiArmed += other.apiArmed;
        allocArmed += other.allocArmed;
        refusedCloses += other.refusedCloses;
        edits += other.edits;
        editsFailed += other.editsFailed;
        settles += other.settles;
        sweeps += other.sweeps;
        for (const auto& [call, n] : other.faultsByCall)
            faultsByCall[call] += n;
    }
};

// The shared state of the run: the configuration the administrator last put in force, and the
// barrier at the end of each epoch.
struct Run {
    Options options;
    ProfilesPtr profiles;    // changed only by the administrator; read at the barrier
    ProfilesPtr epochStart;  // in force when the epoch began
    NOTEID systemProfile = 0;
    std::atomic<bool> stop{false};

    std::mutex mutex;
    std::condition_variable turned;
    int waiting = 0;
    uint64_t generation = 0;

    void Barrier() {
        std::unique_lock<std::mutex> lock(mutex);
        const uint64_t mine = generation;
        if (++waiting == options.threads) {
            waiting = 0;
            ++generation;
            turned.notify_all();
            return;
        }
        turned.wait(lock, [&] { return generation != mine; });
    }
};

// What one fault did: fired or not, and which records of an operation it excuses.
struct Fired {
    bool api = false;
    bool alloc = false;
    qixsim::ThreadFault fault;
};

// One note operation run with faults armed: its status, when it ran, what fired, and where its
// records start.
struct Attempt {
    STATUS status = 0;
    uint64_t begin = 0;
    uint64_t end = 0;
    Fired fired;
    size_t first = 0;
};

class Worker {
  public:
    Worker(Run& run, int index)
        : run_(run), rng_(run.options.seed * 1000003u + static_cast<unsigned>(index)) {
        admin_ = index == 0;
        connector_ = index == (run.options.threads > 1 ? 1 : 0);
        for (const Database& db : Databases()) {
            DBHANDLE handle = 0;
            if (qixsim::OpenDatabase(db.path, &handle) != 0)
                SetupFailure("OpenDatabase " + db.path);
            dbs_.push_back(handle);
        }
        if (qixsim::OpenDatabase(kEventDb, &eventDb_) != 0)
            SetupFailure("OpenDatabase kovaevents.qix");
    }
    ~Worker() {
        for (DBHANDLE db : dbs_)
            qixsim::CloseHandle(db);
        qixsim::CloseHandle(eventDb_);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Runs `quota` operations, with the administrator's and connector's work in between.
    void RunEpoch(uint64_t quota) {
        for (uint64_t done = 0; done < quota;) {
            if (admin_ && rng_() % 40 == 0) {
                Edit();
            } else if (connector_ && rng_() % 12 == 0) {
                Sweep(true);
            } else {
                NoteOperation();
                ++done;
            }
        }
    }
    // The connector's last sweep of an epoch, with no fault armed.
    void FinalSweep() { Sweep(false); }
    // Between epochs, with every other thread waiting: the next epoch's configuration. The trigger
    // documents are replaced while the handlers are suspended; storing the system profile with
    // the epoch's log level then re-reads them all at once.
    void Reconfigure(Rng& rng) {
        Profiles next = RandomConfiguration(rng, run_.profiles->legacy);
        const bool suspended = qixsim::SuspendHandlers(true);
        for (const ProfileDocument& old : run_.profiles->triggers) {
            if (qixsim::DeleteNote(eventDb_, old.noteId) != 0)
                problems_.push_back("deleting a trigger profile between epochs failed");
        }
        for (ProfileDocument& trigger : next.triggers) {
            if (StoreProfile(0, TriggerItems(trigger), 0, &trigger.noteId) != 0)
                problems_.push_back("storing a trigger profile between epochs failed");
        }
        qixsim::SuspendHandlers(suspended);
        if (StoreProfile(run_.systemProfile, SystemItems(next.logLevel), 0, nullptr) != 0)
            problems_.push_back("storing the system profile between epochs failed");
        run_.profiles = std::make_shared<const Profiles>(std::move(next));
    }

    std::vector<Operation>& operations() { return operations_; }
    std::vector<soak::Edit>& edits() { return edits_; }
    std::vector<Document>& documents() { return documents_; }
    Counts& counts() { return counts_; }
    std::vector<std::string>& problems() { return problems_; }

  private:
    struct Live {
        uint8_t db;
        uint8_t form;
        NOTEID id;
    };

    void Arm() {
        const bool api = rng_() % 1000 < run_.options.faultRate;
        const uint64_t k = 1 + rng_() % 30;
        const bool alloc = rng_() % 1000 < run_.options.allocRate;
        const uint32_t n = 1 + static_cast<uint32_t>(rng_() % 8);
        if (api) {
            qixsim::FailNthCallOnThread(k, kFault, kFaultedCalls);
            ++counts_.apiArmed;
        }
        if (alloc && heapfail::Available()) {
            heapfail::FailNthOnThread(n);
            ++counts_.allocArmed;
        }
    }

    Fired Disarm() {
        Fired fired;
        fired.api = qixsim::TakeThreadFault(&fired.fault);
        fired.alloc = heapfail::TakeFired();
        if (fired.api) {
            ++counts_.apiFaults;
            ++counts_.faultsByCall[fired.fault.operation];
            if (fired.fault.closing != QIX_NULLHANDLE) {
                // The server refused the close: the handle is still open; the host closes it.
                ++counts_.refusedCloses;
                if (qixsim::CloseHandle(fired.fault.closing) != 0)
                    problems_.push_back("a refused close left no handle open");
            }
        }
        counts_.allocFaults += fired.alloc ? 1 : 0;
        return fired;
    }

    // Runs one host operation between Arm and Disarm.
    template <typename HostOperation>
    Attempt Try(HostOperation&& operation) {
        Arm();
        Attempt attempt;
        attempt.first = operations_.size();
        attempt.begin = Now();
        attempt.status = operation();
        attempt.end = Now();
        attempt.fired = Disarm();
        return attempt;
    }

    // Marks the records of one operation with the fault it met, and those that a fault in its
    // before stage excuses.
    void Excuse(const Fired& fired, size_t first) {
        std::string met;
        if (fired.api) {
            met = fired.fault.operation + (fired.fault.stage == EM_STAGE_BEFORE  ? " before"
                                           : fired.fault.stage == EM_STAGE_AFTER ? " after"
                                                                                 : "");
        }
        if (fired.alloc)
            met += met.empty() ? "a failed allocation" : " and a failed allocation";
        for (size_t i = first; i < operations_.size(); ++i) {
            operations_[i].met = met;
            operations_[i].metAllocation = fired.alloc;
            operations_[i].metAfterFault = fired.api && fired.fault.stage == EM_STAGE_AFTER;
        }
        if (!fired.api || fired.fault.stage != EM_STAGE_BEFORE)
            return;
        const std::string& call = fired.fault.operation;
        for (size_t i = first; i < operations_.size(); ++i) {
            Operation& op = operations_[i];
            const Database& db = Databases()[op.db];
            Operation::Excuse excuse = Operation::kNone;
            if (call == "QIXDbPathGet" || call == "QIXDbOpen" || call == "QIXDbClose") {
                excuse = Operation::kUndescribed;
            } else if (call == "TAVFindDesignNote") {
                excuse = Operation::kAlias;
            } else if (call == "QIXNoteOpen" && fired.fault.dbPath == db.path) {
                if (fired.fault.noteId == op.noteId && op.kind == kDelete)
                    excuse = Operation::kUndescribed;
                else if (fired.fault.noteId == db.forms[op.form].noteId)
                    excuse = Operation::kAlias;
            }
            if (excuse > op.excuse)
                op.excuse = excuse;
        }
    }

    void Record(EventKind kind, uint8_t db, uint8_t form, NOTEID id, uint64_t begin, uint64_t end,
                bool failed) {
        Operation op;
        op.kind = kind;
        op.db = db;
        op.form = form;
        op.noteId = id;
        op.begin = begin;
        op.end = end;
        op.failed = failed;
        operations_.push_back(op);
    }

    void CheckStatus(STATUS status, STATUS forced, const char* what) {
        if (status != forced)
            problems_.push_back(std::string(what) + " answered " + std::to_string(status));
        counts_.hostFailed += forced != 0 ? 1 : 0;
    }

    // Half the operations go to the fixed databases, half to a zone, monitored or not.
    uint8_t PickDb() {
        const unsigned r = static_cast<unsigned>(rng_() % 200);
        if (r >= 100)
            return static_cast<uint8_t>(4 + rng_() % kZoneCount);
        return r < 45 ? 0 : r < 75 ? 1 : r < 90 ? 2 : 3;
    }

    void NoteOperation() {
        ++counts_.operations;
        const STATUS forced = rng_() % 100 < 4 ? kHostFailure : 0;
        const unsigned r = static_cast<unsigned>(rng_() % 100);
        if (live_.empty() || (r < 35 && live_.size() < kMaxLiveNotes)) {
            Create(forced);
        } else if (r < 65) {
            Update(forced);
        } else if (r < 88 || live_.size() < 2) {
            Delete(forced);
        } else {
            BulkDelete(forced);
        }
    }

    void Create(STATUS forced) {
        const uint8_t db = PickDb();
        const uint8_t form = static_cast<uint8_t>(rng_() % Databases()[db].forms.size());
        const bool extended = rng_() % 3 == 0;
        NOTEHANDLE note = 0;
        if (qixsim::NewNote(dbs_[db], &note) != 0)
            SetupFailure("NewNote");
        qixsim::SetItems(
            note, {{"Form", Databases()[db].forms[form].name}, {"Title", std::string("created")}});
        const Attempt a = Try([&] { return qixsim::StoreNote(note, extended, forced); });
        NOTEID id = 0;
        qixsim::NoteIdOf(note, &id);
        qixsim::CloseHandle(note);
        CheckStatus(a.status, forced, "a create");
        Record(kCreate, db, form, a.status == 0 ? id : 0, a.begin, a.end, a.status != 0);
        Excuse(a.fired, a.first);
        if (a.status == 0)
            live_.push_back({db, form, id});
    }

    void Update(STATUS forced) {
        Live& live = live_[rng_() % live_.size()];
        const bool extended = rng_() % 3 == 0;
        const bool newForm = rng_() % 10 == 0;
        const uint8_t form =
            newForm ? static_cast<uint8_t>(rng_() % Databases()[live.db].forms.size()) : live.form;
        NOTEHANDLE note = 0;
        if (qixsim::OpenNote(dbs_[live.db], live.id, &note) != 0)
            SetupFailure("OpenNote");
        qixsim::SetItems(note, {{"Form", Databases()[live.db].forms[form].name},
                                {"Title", "updated " + std::to_string(counts_.operations)}});
        const Attempt a = Try([&] { return qixsim::StoreNote(note, extended, forced); });
        qixsim::CloseHandle(note);
        CheckStatus(a.status, forced, "an update");
        Record(kUpdate, live.db, form, live.id, a.begin, a.end, a.status != 0);
        Excuse(a.fired, a.first);
        if (a.status == 0)
            live.form = form;
    }

    void Delete(STATUS forced) {
        const size_t at = rng_() % live_.size();
        const Live live = live_[at];
        const Attempt a = Try([&] { return qixsim::DeleteNote(dbs_[live.db], live.id, forced); });
        CheckStatus(a.status, forced, "a delete");
        Record(kDelete, live.db, live.form, live.id, a.begin, a.end, a.status != 0);
        Excuse(a.fired, a.first);
        if (a.status == 0)
            live_.erase(live_.begin() + static_cast<std::ptrdiff_t>(at));
    }

    void BulkDelete(STATUS forced) {
        const uint8_t db = live_[rng_() % live_.size()].db;
        std::vector<size_t> picked;
        const size_t wanted = 2 + rng_() % 4;
        for (size_t i = 0; i < live_.size() && picked.size() < wanted; ++i) {
            if (live_[i].db == db && (picked.empty() || rng_() % 2 == 0))
                picked.push_back(i);
        }
        std::vector<NOTEID> ids;
        for (size_t i : picked)
            ids.push_back(live_[i].id);
        const Attempt a = Try([&] { return qixsim::DeleteNotes(dbs_[db], ids, forced); });
        CheckStatus(a.status, forced, "a bulk delete");
        for (size_t i : picked)
            Record(kDelete, db, live_[i].form, live_[i].id, a.begin, a.end, a.status != 0);
        Excuse(a.fired, a.first);
        if (a.status == 0) {
            for (size_t k = picked.size(); k > 0; --k)
                live_.erase(live_.begin() + static_cast<std::ptrdiff_t>(picked[k - 1]));
        }
    }

    // Stores a profile document through the server: its after stage re-reads the profiles.
    STATUS StoreProfile(NOTEID id, const qixsim::Items& items, STATUS forced, NOTEID* created) {
        NOTEHANDLE note = 0;
        const STATUS opened =
            id == 0 ? qixsim::NewNote(eventDb_, &note) : qixsim::OpenNote(eventDb_, id, &note);
        if (opened != 0)
            SetupFailure("opening a profile document");
        qixsim::SetItems(note, items);
        const STATUS status = qixsim::StoreNote(note, rng_() % 4 == 0, forced);
        if (created != nullptr)
            qixsim::NoteIdOf(note, created);
        qixsim::CloseHandle(note);
        return status;
    }

    // The administrator adds, changes or deletes a trigger profile (now and then the deprecated
    // profile). When a fault or failed allocation met the edit, its re-read may not have been
    // published; storing the system profile again, with nothing armed, re-reads for sure.
    void Edit() {
        Profiles next = *run_.profiles;
        const STATUS forced = rng_() % 100 < 5 ? kHostFailure : 0;
        const unsigned r = static_cast<unsigned>(rng_() % 100);
        Arm();
        const uint64_t begin = Now();
        STATUS status = 0;
        if (next.triggers.size() < 6 && (next.triggers.empty() || r < 30)) {
            ProfileDocument added = RandomTrigger(rng_, next.databases);
            status = StoreProfile(0, TriggerItems(added), forced, &added.noteId);
            next.triggers.push_back(added);
        } else if (r < 55 && !next.triggers.empty()) {
            const size_t at = rng_() % next.triggers.size();
            status = qixsim::DeleteNote(eventDb_, next.triggers[at].noteId, forced);
            next.triggers.erase(next.triggers.begin() + static_cast<std::ptrdiff_t>(at));
        } else if (r < 62) {
            const NOTEID id = next.legacy.noteId;
            next.legacy = RandomLegacy(rng_);
            next.legacy.noteId = id;
            status = StoreProfile(id, LegacyItems(next.legacy), forced, nullptr);
        } else {
            ProfileDocument& changed = next.triggers[rng_() % next.triggers.size()];
            ChangeTrigger(rng_, next.databases, &changed);
            status = StoreProfile(changed.noteId, TriggerItems(changed), forced, nullptr);
        }
        const Fired fired = Disarm();
        CheckStatus(status, forced, "a profile edit");
        ++counts_.edits;
        if (status != 0) {
            ++counts_.editsFailed;
            return;
        }
        if (fired.api || fired.alloc) {
            ++counts_.settles;
            if (StoreProfile(run_.systemProfile, SystemItems(next.logLevel), 0, nullptr) != 0)
                problems_.push_back("storing the system profile failed");
        }
        auto published = std::make_shared<const Profiles>(std::move(next));
        edits_.push_back({begin, Now(), published});
        run_.profiles = published;
    }

    // The connector: lists "kovaevents.qix", reads every Event document and deletes what it read.
    void Sweep(bool armed) {
        ++counts_.sweeps;
        if (armed)
            Arm();
        std::vector<NOTEID> ids;
        for (const qixsim::NoteInfo& note : qixsim::ListNotes(kEventDb)) {
            if (note.noteClass != NOTE_CLASS_DOCUMENT || IsProfileForm(Text(note, "Form")))
                continue;
            documents_.push_back(ReadDocument(note));
            ids.push_back(note.noteId);
        }
        for (size_t at = 0; at < ids.size(); at += kDeleteChunk) {
            const std::vector<NOTEID> chunk(
                ids.begin() + static_cast<std::ptrdiff_t>(at),
                ids.begin() + static_cast<std::ptrdiff_t>(std::min(ids.size(), at + kDeleteChunk)));
            const STATUS status = chunk.size() == 1 ? qixsim::DeleteNote(eventDb_, chunk[0])
                                                    : qixsim::DeleteNotes(eventDb_, chunk);
            if (status != 0)
                problems_.push_back("the connector's delete failed: " + std::to_string(status));
        }
        if (armed)
            Disarm();
    }

    Run& run_;
    Rng rng_;
    bool admin_ = false;
    bool connector_ = false;
    std::vector<DBHANDLE> dbs_;
    DBHANDLE eventDb_ = 0;
    std::vector<Live> live_;
    std::vector<Operation> operations_;
    std::vector<soak::Edit> edits_;
    std::vector<Document> documents_;
    Counts counts_;
    std::vector<std::string> problems_;
};

// The profile documents at the start, stored at set-up (no notification): the deprecated profile
// and the first epoch's configuration (the system profile, its console lines at the epoch's log
// level, and its trigger profiles).
ProfilesPtr StoreStartProfiles(Rng& rng, NOTEID* systemProfile) {
    ProfileDocument legacy = RandomLegacy(rng);
    if (qixsim::CreateDocument(kEventDb, LegacyItems(legacy), &legacy.noteId) != 0)
        SetupFailure("the deprecated profile");
    auto profiles = std::make_shared<Profiles>(RandomConfiguration(rng, legacy));
    if (qixsim::CreateDocument(kEventDb, SystemItems(profiles->logLevel), systemProfile) != 0)
        SetupFailure("the system profile");
    for (ProfileDocument& trigger : profiles->triggers) {
        if (qixsim::CreateDocument(kEventDb, TriggerItems(trigger), &trigger.noteId) != 0)
            SetupFailure("a trigger profile");
    }
    return profiles;
}

// What the epochs' configurations covered, for the summary.
struct Configurations {
    size_t fewestTriggers = SIZE_MAX;
    size_t mostTriggers = 0;
    size_t fewestPaths = SIZE_MAX;
    size_t mostPaths = 0;
    uint64_t atGrowth = 0;  // epochs whose monitored paths were 8, 16 or 32
    std::map<std::string, uint64_t> levels;
    void Add(const Profiles& profiles) {
        const size_t paths = MonitoredPaths(profiles);
        fewestTriggers = std::min(fewestTriggers, profiles.triggers.size());
        mostTriggers = std::max(mostTriggers, profiles.triggers.size());
        fewestPaths = std::min(fewestPaths, paths);
        mostPaths = std::max(mostPaths, paths);
        atGrowth += paths == 8 || paths == 16 || paths == 32 ? 1 : 0;
        ++levels[profiles.logLevel];
    }
};

int Main(int argc, char** argv) {
    Run run;
    run.options = ParseOptions(argc, argv);
    const Options& options = run.options;
    std::thread([] {}).join();  // leave the runtime's single-threaded fast paths, as a server has

    Console console;
    TIMEDATE start{};
    qixsim::ParseTime("2024-03-01 08:00:00", &start);
    BuildServer(start);
    Rng setupRng(options.seed);
    run.profiles = StoreStartProfiles(setupRng, &run.systemProfile);
    std::string error;
    if (!LoadAddin(&error))
        SetupFailure(error);
    console.Drain();  // the start-up lines

    std::vector<std::unique_ptr<Worker>> workers;
    for (int t = 0; t < options.threads; ++t)
        workers.push_back(std::make_unique<Worker>(run, t));
    const size_t handles = qixsim::OpenHandleCount();

    Tally tally;
    Counts counts;
    Configurations configurations;
    std::vector<std::string> problems;
    uint64_t epochs = 0;
    const auto started = std::chrono::steady_clock::now();
    // The operations each thread does in epoch `epoch` (the last epoch shares out the rest).
    auto quota = [&](int thread, uint64_t epoch) -> uint64_t {
        if (options.operations == 0)
            return kOperationsPerEpoch;
        const uint64_t mine = options.operations / static_cast<uint64_t>(options.threads) +
                              (static_cast<uint64_t>(thread) <
                                       options.operations % static_cast<uint64_t>(options.threads)
                                   ? 1
                                   : 0);
        const uint64_t done = epoch * kOperationsPerEpoch;
        return done >= mine ? 0 : std::min(kOperationsPerEpoch, mine - done);
    };

    // At the end of each epoch, with every thread waiting: the last sweep, the console read to
    // its end, the accounting and the checks of tables and handles.
    auto reconcile = [&]() {
        std::vector<Operation> operations;
        std::vector<soak::Edit> edits;
        std::vector<Document> documents;
        workers[0]->FinalSweep();
        const std::vector<NamedEvent> lines = console.Drain();
        for (auto& worker : workers) {
            operations.insert(operations.end(), worker->operations().begin(),
                              worker->operations().end());
            edits.insert(edits.end(), worker->edits().begin(), worker->edits().end());
            documents.insert(documents.end(), worker->documents().begin(),
                             worker->documents().end());
            counts.Add(worker->counts());
            problems.insert(problems.end(), worker->problems().begin(), worker->problems().end());
            worker->operations().clear();
            worker->edits().clear();
            worker->documents().clear();
            worker->counts() = Counts{};
            worker->problems().clear();
        }
        tally.Add(Reconcile(run.epochStart, edits, operations, documents, lines, options.explain,
                            &problems));
        std::string tableError;
        if (!PendingTablesEmpty(&tableError))
            problems.push_back(tableError);
        if (qixsim::OpenHandleCount() != handles) {
            problems.push_back("open handles: " + std::to_string(qixsim::OpenHandleCount()) +
                               " instead of " + std::to_string(handles));
        }
        ++epochs;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const bool done =
            options.operations > 0 ? quota(0, epochs) == 0 : elapsed >= options.seconds;
        if (done || problems.size() > 0) {
            run.stop.store(true);
            return;
        }
        workers[0]->Reconfigure(setupRng);
        run.epochStart = run.profiles;
        configurations.Add(*run.epochStart);
    };

    run.epochStart = run.profiles;
    configurations.Add(*run.epochStart);
    std::vector<std::thread> threads;
    for (int t = 0; t < options.threads; ++t) {
        threads.emplace_back([&, t] {
            for (uint64_t epoch = 0; !run.stop.load(); ++epoch) {
                workers[static_cast<size_t>(t)]->RunEpoch(quota(t, epoch));
                run.Barrier();
                if (t == 0)
                    reconcile();
                run.Barrier();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    workers.clear();

    FILE* out = console.out();
    std::fprintf(out,
                 "soak: %s operations on %d threads, %s faults injected, %s events, %s lost, %s "
                 "duplicated, %s unaccounted\n",
                 Thousands(counts.operations).c_str(), options.threads,
                 Thousands(counts.apiFaults + counts.allocFaults).c_str(),
                 Thousands(tally.Events()).c_str(), Thousands(tally.lost).c_str(),
                 Thousands(tally.duplicated).c_str(), Thousands(tally.unaccounted).c_str());
    std::fprintf(out,
                 "soak: seed %llu; %s Event documents, %s without some items, %s named not "
                 "written, %s named not captured; %s owed; %s operations failed by the host, %s "
                 "excused by a fault before them; %s profile edits (%s failed by the host, %s "
                 "settled again); %s connector sweeps; faults: %s server API calls (%s armed), %s "
                 "allocations (%s armed%s), %s refused closes\n",
                 static_cast<unsigned long long>(options.seed), Thousands(tally.documents).c_str(),
                 Thousands(tally.damaged).c_str(), Thousands(tally.named[0]).c_str(),
                 Thousands(tally.named[1]).c_str(), Thousands(tally.owed).c_str(),
                 Thousands(counts.hostFailed).c_str(), Thousands(tally.excused).c_str(),
                 Thousands(counts.edits).c_str(), Thousands(counts.editsFailed).c_str(),
                 Thousands(counts.settles).c_str(), Thousands(counts.sweeps).c_str(),
                 Thousands(counts.apiFaults).c_str(), Thousands(counts.apiArmed).c_str(),
                 Thousands(counts.allocFaults).c_str(), Thousands(counts.allocArmed).c_str(),
                 heapfail::Available() ? "" : ", not in this build",
                 Thousands(counts.refusedCloses).c_str());
    std::fprintf(out,
                 "soak: configurations of %s epochs: %s to %s trigger profiles over %s to %s "
                 "monitored databases (%s epochs at 8, 16 or 32), log level ERROR in %s, INFO in "
                 "%s, DEBUG in %s\n",
                 Thousands(epochs).c_str(), Thousands(configurations.fewestTriggers).c_str(),
                 Thousands(configurations.mostTriggers).c_str(),
                 Thousands(configurations.fewestPaths).c_str(),
                 Thousands(configurations.mostPaths).c_str(),
                 Thousands(configurations.atGrowth).c_str(),
                 Thousands(configurations.levels["ERROR"]).c_str(),
                 Thousands(configurations.levels["INFO"]).c_str(),
                 Thousands(configurations.levels["DEBUG"]).c_str());
    std::string byCall;
    for (const auto& [call, n] : counts.faultsByCall)
        byCall += " " + call + ":" + std::to_string(n);
    std::fprintf(out, "soak: server API faults by call:%s\n", byCall.c_str());
    for (const std::string& problem : problems)
        std::fprintf(out, "soak: %s\n", problem.c_str());
    std::fflush(out);
    std::fprintf(stderr, "soak: %llu epochs in %.1f s, %.0f operations/s\n",
                 static_cast<unsigned long long>(epochs), elapsed,
                 elapsed > 0 ? static_cast<double>(counts.operations) / elapsed : 0.0);
    const bool clean =
        tally.lost == 0 && tally.duplicated == 0 && tally.unaccounted == 0 && problems.empty();
    return clean ? 0 : 1;
}

}  // namespace
}  // namespace soak

int main(int argc, char** argv) {
    return soak::Main(argc, argv);
}
