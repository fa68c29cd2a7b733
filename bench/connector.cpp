// The connector workload: two writers save monitored documents at a steady pace, a connector
// lists and deletes the Event documents it consumes from "kovaevents.qix" (starting from a
// backlog), and in the second of three back-to-back phases an administrator edits a trigger
// profile at a fixed interval; in the third, the control, a thread does the server's work of a
// full re-read, without the add-in, as often. Prints, per phase, the writers' save latencies and
// the full profile re-reads (by the kind of thread that ran them), then the event accounting: one
// Event document per save and wanting connector, consumed or still in the table, exactly once.
// Exits with 1 when an event was lost, duplicated or unexpected, or an operation failed.
#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/benchhost.h"
#include "hostapi/handles.h"

namespace kovabench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kEventDb = "kovaevents.qix";
constexpr const char* kEventsView = "(Connector Events)";  // the connector's view of form "Event"
constexpr int kWriters = 2;
constexpr const char* kConnectors[] = {"connector-a", "connector-b"};
constexpr int kConnectorCount = 2;
constexpr std::size_t kKeySize = 33;    // a "UNID" text and its terminator
constexpr int64_t kSlowSave = 5000000;  // nanoseconds: a save over 5 ms counts as slow

struct Options {
    double seconds = 3.0;  // each measured phase
    double warmUpSeconds = 0.5;
    int rate = 500;     // saves per second per writer
    int editMs = 100;   // administrator's edit interval in the phase with edits
    int pollMs = 20;    // connector's poll interval: consumes one batch
    int listMs = 1000;  // what the connector consumes in this time is one page of its view
    long backlog = 30000;
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "kova_connector: %s\n", what.c_str());
    std::exit(2);
}

// ---- Full re-reads by kind of thread ------------------------------------------------------------

// The kind of thread a full profile re-read ran on. A re-read is one QIXSearch call, which the
// search below counts and times before handing it to the stand-in's.
enum Role { kOther, kWriter, kConnector, kAdministrator, kRoleCount };
constexpr const char* kRoleNames[kRoleCount] = {"other", "writer", "connector", "admin"};
thread_local Role tRole = kOther;

// Spans of some activity on any thread (begun and ended), so that a save can tell whether one ran
// while it did.
class Spans {
  public:
    void Begin() { begun_.fetch_add(1); }
    void End() { ended_.fetch_add(1); }
    struct Mark {
        uint64_t begun;
        uint64_t ended;
    };
    Mark Now() const { return {begun_.load(), ended_.load()}; }
    // Whether a span was running at `before` or began since.
    bool RanSince(const Mark& before) const {
        return before.begun != before.ended || begun_.load() != before.begun;
    }

  private:
    std::atomic<uint64_t> begun_{0};
    std::atomic<uint64_t> ended_{0};
};

struct SearchCounts {
    std::atomic<uint64_t> calls[kRoleCount] = {};
    std::atomic<uint64_t> nanos{0};
    Spans running;
};
SearchCounts gSearches;
// The connector's listings of its view: opening a collection of a large view is the stand-in's
// costliest read, and it holds the event database's shared lock (see the connector below).
Spans gListings;

using SearchFn = STATUS (*)(DBHANDLE, FORMULAHANDLE, const char*, uint16_t, uint16_t,
                            const TIMEDATE*, QIXSEARCHPROC, void*, TIMEDATE*);

SearchFn StandInSearch() {
    static const SearchFn search = reinterpret_cast<SearchFn>(dlsym(RTLD_NEXT, "QIXSearch"));
    return search;
}

}  // namespace
}  // namespace kovabench

// The add-in's QIXSearch calls resolve here (this program exports its symbols, and the dlopen'ed
// add-in looks in the program first); everything is passed on to the stand-in unchanged.
extern "C" STATUS QIXSearch(DBHANDLE db, FORMULAHANDLE formula, const char* viewTitle,
                            uint16_t searchFlags, uint16_t noteClassMask, const TIMEDATE* since,
                            QIXSEARCHPROC callback, void* parameter, TIMEDATE* retUntil) {
    using namespace kovabench;
    const SearchFn search = StandInSearch();
    if (search == nullptr)
        return ERR_QIX_NO_MEMORY;
    gSearches.running.Begin();
    const Clock::time_point begin = Clock::now();
    const STATUS status = search(db, formula, viewTitle, searchFlags, noteClassMask, since,
                                 callback, parameter, retUntil);
    const auto nanos = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begin).count());
    gSearches.calls[tRole].fetch_add(1);
    gSearches.nanos.fetch_add(nanos);
    gSearches.running.End();
    return status;
}

namespace kovabench {
namespace {

struct SearchSnapshot {
    uint64_t calls[kRoleCount] = {};
    uint64_t standIn = 0;  // the stand-in's own count of QIXSearch calls
    uint64_t nanos = 0;
};

SearchSnapshot TakeSearchSnapshot() {
    SearchSnapshot s;
    for (int r = 0; r < kRoleCount; ++r)
        s.calls[r] = gSearches.calls[r].load();
    s.standIn = qixsim::CallCount("QIXSearch");
    s.nanos = gSearches.nanos.load();
    return s;
}

// ---- Event keys ---------------------------------------------------------------------------------

// An Event document's identity for the accounting: the saved document's "UNID" text and the
// connector index (-1 for a connector id that is not one of ours or an event type other than
// "Update").
struct EventKey {
    std::string unid;
    int connector = -1;
};

int ConnectorIndex(const char* id) {
    for (int c = 0; c < kConnectorCount; ++c) {
        if (std::strcmp(id, kConnectors[c]) == 0)
            return c;
    }
    return -1;
}

std::string UnidText(const ORIGINATORID& oid) {
    char text[kKeySize];
    std::snprintf(text, sizeof text, "%08X%08X%08X%08X", oid.file.word[1], oid.file.word[0],
                  oid.note.word[1], oid.note.word[0]);
    return text;
}

// Counts of Event documents by saved document (its "UNID") and connector.
class EventTally {
  public:
    void Add(const EventKey& key) {
        if (key.unid == kBacklogUnid) {
            ++backlog_;
        } else if (key.connector < 0) {
            ++foreign_;
        } else {
            ++counts_[key.unid][static_cast<std::size_t>(key.connector)];
        }
    }
    long Count(const std::string& unid, int connector) const {
        auto it = counts_.find(unid);
        return it == counts_.end() ? 0 : it->second[static_cast<std::size_t>(connector)];
    }
    long Total() const {
        long total = 0;
        for (const auto& entry : counts_) {
            for (long count : entry.second)
                total += count;
        }
        return total;
    }
    long backlog() const { return backlog_; }
    long foreign() const { return foreign_; }

    static const std::string kBacklogUnid;

  private:
    std::unordered_map<std::string, std::array<long, kConnectorCount>> counts_;
    long backlog_ = 0;
    long foreign_ = 0;
};
// The "UNID" text of the backlog's Event documents (AddEvents).
const std::string EventTally::kBacklogUnid(32, '1');

// ---- Set-up -------------------------------------------------------------------------------------

class Suspended {
  public:
    Suspended() : was_(qixsim::SuspendHandlers(true)) {}
    ~Suspended() { qixsim::SuspendHandlers(was_); }
    Suspended(const Suspended&) = delete;
    Suspended& operator=(const Suspended&) = delete;

  private:
    bool was_;
};

// Both connectors want updates of both writers' databases; the second also monitors a database
// nobody writes to, the entry the administrator rewrites.
Trigger EditedTrigger(long edit) {
    return {kConnectors[1],
            {"Update"},
            {WatchedDb(0), WatchedDb(1), "archive/edit-" + std::to_string(edit) + ".qix"}};
}

// One writer's documents, each saved once during the run, and their "UNID" texts.
struct WriterDocuments {
    std::string db;
    std::vector<NOTEID> ids;
    std::vector<std::string> unids;
};

WriterDocuments CreateWriterDocuments(int writer, std::size_t count) {
    WriterDocuments docs;
    docs.db = WatchedDb(writer);
    Suspended quiet;
    for (std::size_t i = 0; i < count; ++i) {
        NOTEID id = 0;
        if (qixsim::CreateDocument(docs.db, {{"Form", std::string("Item")}, {"Title", docs.db}},
                                   &id) != 0) {
            Fail("CreateDocument " + docs.db);
        }
        docs.ids.push_back(id);
    }
    std::unordered_map<NOTEID, std::string> unids;
    for (const qixsim::NoteInfo& note : qixsim::ListNotes(docs.db))
        unids[note.noteId] = UnidText(note.originatorId);
    for (NOTEID id : docs.ids)
        docs.unids.push_back(unids.at(id));
    return docs;
}

// ---- Writers ------------------------------------------------------------------------------------

struct Save {
    int64_t nanos;
    bool duringReRead;   // a full re-read ran on some thread while the save ran
    bool duringListing;  // the connector listed its view while the save ran
};

// Saves the writer's next documents, one every 1/rate seconds from `start` until `end` (a late
// save runs at once: the schedule does not slip). Each save is one store of an existing
// document; its wall-clock time is recorded.
void RunWriter(WriterDocuments& docs, std::size_t& next, Clock::time_point start,
               Clock::time_point end, int rate, std::vector<Save>& saves, long& failed) {
    tRole = kWriter;
    DBHANDLE db = 0;
    if (qixsim::OpenDatabase(docs.db, &db) != 0)
        Fail("OpenDatabase " + docs.db);
    const auto period = std::chrono::nanoseconds(1000000000LL / rate);
    for (long k = 0;; ++k) {
        const Clock::time_point due = start + k * period;
        if (due >= end || next >= docs.ids.size())
            break;
        std::this_thread::sleep_until(due);
        NOTEHANDLE note = 0;
        if (qixsim::OpenNote(db, docs.ids[next], &note) != 0)
            Fail("OpenNote " + docs.db);
        const Spans::Mark searches = gSearches.running.Now();
        const Spans::Mark listings = gListings.Now();
        const Clock::time_point begin = Clock::now();
        const STATUS status = qixsim::StoreNote(note);
        const Clock::time_point done = Clock::now();
        qixsim::CloseHandle(note);
        if (status != 0) {
            ++failed;
            docs.unids[next].clear();  // no event expected
        } else {
            saves.push_back(
                {std::chrono::duration_cast<std::chrono::nanoseconds>(done - begin).count(),
                 gSearches.running.RanSince(searches), gListings.RanSince(listings)});
        }
        ++next;
    }
    qixsim::CloseHandle(db);
}

// ---- Administrator ------------------------------------------------------------------------------

// Edits the second connector's profile every `interval` from `start` until `end`: rewrites its
// unrelated monitored entry and stores the document through the server (notifications raised).
void RunAdministrator(NOTEID profileId, Clock::time_point start, Clock::time_point end,
                      std::chrono::milliseconds interval, long& edits, long& failed) {
    tRole = kAdministrator;
    DBHANDLE db = 0;
    if (qixsim::OpenDatabase(kEventDb, &db) != 0)
        Fail("OpenDatabase kovaevents.qix");
    for (long k = 0;; ++k) {
        const Clock::time_point due = start + k * interval;
        if (due >= end)
            break;
        std::this_thread::sleep_until(due);
        NOTEHANDLE note = 0;
        if (qixsim::OpenNote(db, profileId, &note) != 0)
            Fail("OpenNote (profile)");
        const Trigger edited = EditedTrigger(edits + 1);
        qixsim::SetItems(note, {{"MonitoredDocuments", qixsim::TextList(edited.monitored)}});
        if (qixsim::StoreNote(note) != 0)
            ++failed;
        qixsim::CloseHandle(note);
        ++edits;
    }
    qixsim::CloseHandle(db);
}

// The control for the phase with edits: every `interval`, a thread does the server's work of a
// full profile re-read without the add-in (a search over every document of "kovaevents.qix",
// each opened, its "Form" read, closed). What the writers lose to it is what that work costs them
// on this machine whoever does it; the edits' phase adds the add-in's own part, and any waiting.
void RunServerSearches(Clock::time_point start, Clock::time_point end,
                       std::chrono::milliseconds interval, long& failed) {
    tRole = kOther;
    for (long k = 0;; ++k) {
        const Clock::time_point due = start + k * interval;
        if (due >= end)
            break;
        std::this_thread::sleep_until(due);
        if (SearchAllDocuments() != 0)
            ++failed;
    }
}

// ---- Connector ----------------------------------------------------------------------------------

struct ConnectorResult {
    EventTally consumed;
    long polls = 0;
    long listings = 0;
    long errors = 0;
};

// The note ids of up to `count` entries from the start of the connector's view (oldest first);
// empty on a failure, which is counted.
std::vector<NOTEID> ListEvents(DBHANDLE db, NOTEID viewId, uint32_t count,
                               ConnectorResult& result) {
    ++result.listings;
    kova::CollectionGuard collection;
    gListings.Begin();
    const STATUS opened = TAVOpenCollection(db, db, viewId, 0, QIX_NULLHANDLE, collection.Out(),
                                            nullptr, nullptr, nullptr, nullptr);
    gListings.End();
    COLLECTIONPOSITION position{};
    MEMHANDLE buffer = QIX_NULLHANDLE;
    uint32_t returned = 0;
    if (opened != 0 ||
        TAVReadEntries(collection.Get(), &position, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, count,
                       READ_MASK_NOTEID, &buffer, nullptr, nullptr, &returned, nullptr) != 0) {
        ++result.errors;
        return {};
    }
    kova::MemGuard owned(buffer);
    if (returned == 0)
        return {};
    kova::MemLock lock(owned.Get());
    const auto* entries = static_cast<const NOTEID*>(lock.Get());
    if (entries == nullptr) {
        ++result.errors;
        return {};
    }
    return std::vector<NOTEID>(entries, entries + returned);
}

// Opens each Event document of `ids` and reads what a connector forwards, then deletes them
// through the server (notifications raised). Only documents deleted count as consumed.
void ConsumeEvents(DBHANDLE db, const std::vector<NOTEID>& ids, ConnectorResult& result) {
    std::vector<EventKey> keys;
    keys.reserve(ids.size());
    for (NOTEID id : ids) {
        kova::NoteGuard note;
        if (QIXNoteOpen(db, id, 0, note.Out()) != 0) {
            ++result.errors;
            return;
        }
        char unid[kKeySize] = "";
        char connector[64] = "";
        char eventType[32] = "";
        QIXItemGetText(note.Get(), "UNID", unid, sizeof unid);
        QIXItemGetText(note.Get(), "ConnectorId", connector, sizeof connector);
        QIXItemGetText(note.Get(), "EventType", eventType, sizeof eventType);
        const bool update = std::strcmp(eventType, "Update") == 0;
        keys.push_back({unid, update ? ConnectorIndex(connector) : -1});
    }
    if (qixsim::DeleteNotes(db, ids) != 0) {
        ++result.errors;
        return;
    }
    for (const EventKey& key : keys)
        result.consumed.Add(key);
}

// Every `interval` consumes the next `batch` Event documents of a page it listed, and lists the
// next page of `page` entries when the last one is used up: it keeps pace with the writers, so
// the backlog stays about where it started. Once `stop` is set it consumes the rest of the table
// at full speed, so that every Event document passes through it.
void RunConnector(std::chrono::milliseconds interval, uint32_t batch, uint32_t page,
                  const std::atomic<bool>& stop, ConnectorResult& result) {
    tRole = kConnector;
    DBHANDLE db = 0;
    if (qixsim::OpenDatabase(kEventDb, &db) != 0)
        Fail("OpenDatabase kovaevents.qix");
    NOTEID viewId = 0;
    if (TAVFindDesignNoteExt(db, kEventsView, NOTE_CLASS_VIEW, "", &viewId, 0) != 0)
        Fail("the connector's view is missing");
    std::vector<NOTEID> listed;
    std::size_t used = 0;
    const Clock::time_point start = Clock::now();
    for (long k = 1; !stop.load(); ++k) {
        std::this_thread::sleep_until(start + k * interval);
        if (used == listed.size()) {
            listed = ListEvents(db, viewId, page, result);
            used = 0;
        }
        const std::size_t take = std::min<std::size_t>(batch, listed.size() - used);
        if (take > 0) {
            const auto from = listed.begin() + static_cast<std::ptrdiff_t>(used);
            ConsumeEvents(db, std::vector<NOTEID>(from, from + static_cast<std::ptrdiff_t>(take)),
                          result);
            used += take;
        }
        ++result.polls;
    }
    const long errors = result.errors;
    for (;;) {
        const std::vector<NOTEID> rest = ListEvents(db, viewId, page, result);
        if (rest.empty() || result.errors != errors)
            break;
        ConsumeEvents(db, rest, result);
    }
    qixsim::CloseHandle(db);
}

// ---- Phases -------------------------------------------------------------------------------------

struct PhaseResult {
    std::vector<Save> saves;
    long failed = 0;
    long edits = 0;
    long editFailures = 0;
    SearchSnapshot before;
    SearchSnapshot after;
    std::size_t eventsBefore = 0;
    std::size_t eventsAfter = 0;
};

// What runs beside the writers in a phase.
enum class Beside { kNothing, kEdits, kServerSearches };

// A phase: the writers, and the administrator's edits or the server's searches at the edit
// interval.
PhaseResult RunPhase(std::vector<WriterDocuments>& docs, std::vector<std::size_t>& next,
                     const Options& options, double seconds, Beside beside, NOTEID profileId) {
    PhaseResult result;
    result.eventsBefore = EventCount();
    result.before = TakeSearchSnapshot();
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(5);
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::vector<Save>> saves(kWriters);
    std::vector<long> failed(kWriters, 0);
    for (auto& s : saves)
        s.reserve(static_cast<std::size_t>(seconds * options.rate) + 16);
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back(RunWriter, std::ref(docs[static_cast<std::size_t>(w)]),
                             std::ref(next[static_cast<std::size_t>(w)]), start, end, options.rate,
                             std::ref(saves[static_cast<std::size_t>(w)]),
                             std::ref(failed[static_cast<std::size_t>(w)]));
    }
    if (beside == Beside::kEdits) {
        threads.emplace_back(RunAdministrator, profileId, start, end,
                             std::chrono::milliseconds(options.editMs), std::ref(result.edits),
                             std::ref(result.editFailures));
    } else if (beside == Beside::kServerSearches) {
        threads.emplace_back(RunServerSearches, start, end,
                             std::chrono::milliseconds(options.editMs),
                             std::ref(result.editFailures));
    }
    for (auto& thread : threads)
        thread.join();
    result.after = TakeSearchSnapshot();
    result.eventsAfter = EventCount();
    for (int w = 0; w < kWriters; ++w) {
        const auto& s = saves[static_cast<std::size_t>(w)];
        result.saves.insert(result.saves.end(), s.begin(), s.end());
        result.failed += failed[static_cast<std::size_t>(w)];
    }
    return result;
}

double Percentile(const std::vector<int64_t>& sorted, double p) {
    if (sorted.empty())
        return 0;
    // Nearest rank.
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * sorted.size()));
    return static_cast<double>(sorted[std::max<std::size_t>(rank, 1) - 1]) / 1000.0;
}

void PrintPhase(const char* name, const PhaseResult& phase, double seconds) {
    std::vector<int64_t> nanos;
    std::vector<int64_t> duringNanos;  // saves while a re-read ran
    std::vector<int64_t> outsideNanos;
    long over = 0;
    long overDuringReRead = 0;
    long overDuringListing = 0;
    long overReReadOnly = 0;  // during a re-read and no listing
    long duringReRead = 0;
    for (const Save& save : phase.saves) {
        nanos.push_back(save.nanos);
        (save.duringReRead ? duringNanos : outsideNanos).push_back(save.nanos);
        const bool slow = save.nanos > kSlowSave;
        over += slow ? 1 : 0;
        overDuringReRead += slow && save.duringReRead ? 1 : 0;
        overDuringListing += slow && save.duringListing ? 1 : 0;
        overReReadOnly += slow && save.duringReRead && !save.duringListing ? 1 : 0;
        duringReRead += save.duringReRead ? 1 : 0;
    }
    for (auto* sample : {&nanos, &duringNanos, &outsideNanos})
        std::sort(sample->begin(), sample->end());
    std::printf(
        "phase=%s seconds=%g saves=%zu failed=%ld p50_us=%.1f p99_us=%.1f max_us=%.1f "
        "over5ms=%ld over5ms_during_reread=%ld over5ms_during_listing=%ld "
        "over5ms_during_reread_only=%ld "
        "saves_during_reread=%ld edits=%ld edit_failures=%ld rereads=%" PRIu64,
        name, seconds, phase.saves.size(), phase.failed, Percentile(nanos, 50),
        Percentile(nanos, 99), nanos.empty() ? 0.0 : nanos.back() / 1000.0, over, overDuringReRead,
        overDuringListing, overReReadOnly, duringReRead, phase.edits, phase.editFailures,
        phase.after.standIn - phase.before.standIn);
    uint64_t attributed = 0;
    for (int r = 0; r < kRoleCount; ++r) {
        const uint64_t calls = phase.after.calls[r] - phase.before.calls[r];
        std::printf(" rereads_%s=%" PRIu64, kRoleNames[r], calls);
        attributed += calls;
    }
    const double reReadMs = attributed == 0
                                ? 0.0
                                : static_cast<double>(phase.after.nanos - phase.before.nanos) /
                                      1e6 / static_cast<double>(attributed);
    std::printf(
        " reread_mean_ms=%.2f p99_during_reread_us=%.1f p99_outside_reread_us=%.1f "
        "events_before=%zu events_after=%zu\n",
        reReadMs, Percentile(duringNanos, 99), Percentile(outsideNanos, 99), phase.eventsBefore,
        phase.eventsAfter);
}

// ---- Accounting -----------------------------------------------------------------------------

// Checks, over every save of every phase, that each wanting connector got exactly one Event
// document, consumed by the connector or still in the table; prints the figures; true when
// nothing was lost, duplicated or unexpected.
bool CheckEvents(const std::vector<WriterDocuments>& docs, const std::vector<std::size_t>& next,
                 const ConnectorResult& connector, long backlog) {
    EventTally remaining;
    for (const qixsim::NoteInfo& event : qixsim::ListDocuments(kEventDb, "Event")) {
        std::string unid;
        std::string connectorId;
        std::string eventType;
        for (const auto& [name, value] : event.items) {
            if (name == "UNID")
                unid = qixsim::ItemText(value);
            else if (name == "ConnectorId")
                connectorId = qixsim::ItemText(value);
            else if (name == "EventType")
                eventType = qixsim::ItemText(value);
        }
        remaining.Add({unid, eventType == "Update" ? ConnectorIndex(connectorId.c_str()) : -1});
    }

    long saves = 0;
    long lost = 0;
    long duplicated = 0;
    long matched = 0;
    for (std::size_t w = 0; w < docs.size(); ++w) {
        for (std::size_t i = 0; i < next[w]; ++i) {
            const std::string& unid = docs[w].unids[i];
            if (unid.empty())
                continue;  // a failed save
            ++saves;
            for (int c = 0; c < kConnectorCount; ++c) {
                const long n = connector.consumed.Count(unid, c) + remaining.Count(unid, c);
                lost += n == 0 ? 1 : 0;
                duplicated += n > 1 ? n - 1 : 0;
                matched += n;
            }
        }
    }
    const long consumed = connector.consumed.Total();
    const long left = remaining.Total();
    // Events for a document no writer saved in this run (none are expected).
    const long unexpected =
        consumed + left - matched + connector.consumed.foreign() + remaining.foreign();
    const long backlogLeft = remaining.backlog();
    const long backlogConsumed = connector.consumed.backlog();
    const long expected = saves * kConnectorCount;
    std::printf(
        "events saves=%ld connectors=%d expected=%ld consumed=%ld remaining=%ld lost=%ld "
        "duplicated=%ld unexpected=%ld backlog=%ld backlog_consumed=%ld "
        "backlog_remaining=%ld connector_polls=%ld connector_listings=%ld "
        "connector_errors=%ld\n",
        saves, kConnectorCount, expected, consumed, left, lost, duplicated, unexpected, backlog,
        backlogConsumed, backlogLeft, connector.polls, connector.listings, connector.errors);
    return lost == 0 && duplicated == 0 && unexpected == 0 && consumed + left == expected &&
           backlogConsumed + backlogLeft == backlog && connector.errors == 0;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        char* endOfNumber = nullptr;
        const double number = std::strtod(value.c_str(), &endOfNumber);
        if (value.empty() || *endOfNumber != '\0' || number <= 0)
            Fail(
                "usage: kova_connector [--seconds=S] [--rate=N] [--edit-ms=N] [--poll-ms=N] "
                "[--list-ms=N] [--backlog=N]");
        if (name == "--seconds")
            options.seconds = number;
        else if (name == "--rate")
            options.rate = static_cast<int>(number);
        else if (name == "--edit-ms")
            options.editMs = static_cast<int>(number);
        else if (name == "--poll-ms")
            options.pollMs = static_cast<int>(number);
        else if (name == "--list-ms")
            options.listMs = static_cast<int>(number);
        else if (name == "--backlog")
            options.backlog = static_cast<long>(number);
        else
            Fail("unknown option " + name);
    }
    if (options.rate <= 0 || options.editMs <= 0 || options.pollMs <= 0 || options.listMs <= 0)
        Fail("rates and intervals must be positive");
    return options;
}

}  // namespace
}  // namespace kovabench

int main(int argc, char** argv) {
    using namespace kovabench;
    const Options options = ParseOptions(argc, argv);
    std::thread([] {}).join();  // leave the runtime's single-threaded fast path, as a server has
    StartServerAndAddin();

    // Profiles, the connector's view, the writers' documents, then one save so that the add-in
    // reads the profiles before anything is measured, and the backlog.
    SetProfiles({{kConnectors[0], {"Update"}, {WatchedDb(0), WatchedDb(1)}}, EditedTrigger(0)});
    {
        Suspended quiet;
        if (qixsim::CreateView(kEventDb, kEventsView, {"Event"}) != 0)
            Fail("CreateView");
    }
    const std::vector<qixsim::NoteInfo> profiles =
        qixsim::ListDocuments(kEventDb, "EventTriggerConfiguration");
    if (profiles.size() != 2)
        Fail("expected two trigger profiles");
    const NOTEID editedProfile = profiles.back().noteId;

    const double total = options.warmUpSeconds + 3 * options.seconds;
    const auto perWriter = static_cast<std::size_t>(std::ceil(total * options.rate)) + 16;
    std::vector<WriterDocuments> docs;
    for (int w = 0; w < kWriters; ++w)
        docs.push_back(CreateWriterDocuments(w, perWriter));
    // The priming save re-reads the profiles on this thread: the count by thread must see it.
    const SearchSnapshot beforePrime = TakeSearchSnapshot();
    Prime(SavedDocument(kShopDb), 1);
    const SearchSnapshot afterPrime = TakeSearchSnapshot();
    const bool attributed = afterPrime.standIn > beforePrime.standIn &&
                            afterPrime.calls[kOther] - beforePrime.calls[kOther] ==
                                afterPrime.standIn - beforePrime.standIn;
    ClearEvents();
    AddEvents(static_cast<std::size_t>(options.backlog));

    const int eventsPerSecond = kWriters * options.rate * kConnectorCount;
    const auto batch = static_cast<uint32_t>(std::ceil(eventsPerSecond * options.pollMs / 1000.0));
    const auto page = std::max(
        batch, static_cast<uint32_t>(std::ceil(eventsPerSecond * options.listMs / 1000.0)));
    std::printf(
        "workload writers=%d rate=%d connectors=%d backlog=%ld edit_ms=%d poll_ms=%d "
        "batch=%u page=%u seconds=%g rereads_by_thread=%s\n",
        kWriters, options.rate, kConnectorCount, options.backlog, options.editMs, options.pollMs,
        batch, page, options.seconds, attributed ? "yes" : "no");

    std::atomic<bool> stop{false};
    ConnectorResult connector;
    std::thread connectorThread(RunConnector, std::chrono::milliseconds(options.pollMs), batch,
                                page, std::cref(stop), std::ref(connector));
    std::vector<std::size_t> next(kWriters, 0);
    RunPhase(docs, next, options, options.warmUpSeconds, Beside::kNothing, editedProfile);
    const PhaseResult without =
        RunPhase(docs, next, options, options.seconds, Beside::kNothing, editedProfile);
    const PhaseResult with =
        RunPhase(docs, next, options, options.seconds, Beside::kEdits, editedProfile);
    // The control: the server's work of a re-read alone, at the same interval.
    const PhaseResult competed =
        RunPhase(docs, next, options, options.seconds, Beside::kServerSearches, editedProfile);
    stop.store(true);
    connectorThread.join();

    PrintPhase("without_edits", without, options.seconds);
    PrintPhase("with_edits", with, options.seconds);
    PrintPhase("with_server_searches", competed, options.seconds);
    const bool ok = CheckEvents(docs, next, connector, options.backlog);
    std::fflush(stdout);
    return ok && without.failed == 0 && with.failed == 0 && competed.failed == 0 &&
                   with.editFailures == 0 && competed.editFailures == 0
               ? 0
               : 1;
}
