// Internal records of the stand-in server, shared by the hostsim sources only: the process-wide
// server state, databases with their notes, design index and view indexes, the handle table, the
// clock, the call gate (counters and faults) and the notification path. Nothing here is exported.
#ifndef KOVA_HOSTSIM_INTERNAL_H
#define KOVA_HOSTSIM_INTERNAL_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "hostsim/host.h"

namespace qixsim::detail {

// ---- Call gate: every server API function, for counters and faults -------------------------

#define QIXSIM_OPERATIONS(X)      \
    X(EMCreateRecursionID)        \
    X(EMRegister)                 \
    X(EMDeregister)               \
    X(OSCurrentTIMEDATE)          \
    X(ConvertTIMEDATEToText)      \
    X(LogEventTextNoConsole)      \
    X(OSMemAlloc)                 \
    X(OSLockObject)               \
    X(OSUnlockObject)             \
    X(OSMemFree)                  \
    X(IDCreateTable)              \
    X(IDInsert)                   \
    X(IDEntries)                  \
    X(IDScan)                     \
    X(IDDestroyTable)             \
    X(QIXDbOpen)                  \
    X(QIXDbClose)                 \
    X(QIXDbPathGet)               \
    X(QIXNoteOpen)                \
    X(QIXNoteClose)               \
    X(QIXNoteCreate)              \
    X(QIXNoteUpdate)              \
    X(QIXNoteUpdateExtended)      \
    X(QIXNoteDelete)              \
    X(QIXDbDeleteNotes)           \
    X(QIXNoteGetInfo)             \
    X(QIXItemGetText)             \
    X(QIXItemGetTextListEntries)  \
    X(QIXItemGetTextListEntry)    \
    X(QIXItemSetText)             \
    X(QIXItemSetNumber)           \
    X(QIXItemSetTime)             \
    X(QIXItemAppendTextListEntry) \
    X(QIXFormulaCompile)          \
    X(QIXSearch)                  \
    X(TAVFindDesignNote)          \
    X(TAVFindDesignNoteExt)       \
    X(TAVOpenCollection)          \
    X(TAVCloseCollection)         \
    X(TAVReadEntries)             \
    X(TAVGetLastModifiedTime)

enum class Op : std::size_t {
#define QIXSIM_OP_ENUM(name) name,
    QIXSIM_OPERATIONS(QIXSIM_OP_ENUM)
#undef QIXSIM_OP_ENUM
        Count
};
constexpr std::size_t kOpCount = static_cast<std::size_t>(Op::Count);

const char* OpName(Op op) noexcept;

// What a call names, for the faults that concern it: the note of a QIXNoteOpen (database handle
// and note id), for the faults armed on one note, or the handle a close releases, which a fault
// armed by a thread reports so that its host can close what the refused close left open.
struct CallSubject {
    DBHANDLE db = QIX_NULLHANDLE;
    NOTEID noteId = 0;
    QIXHANDLE closing = QIX_NULLHANDLE;
};

// Counts one call of `op`. True when an armed fault makes the call fail; *status then holds the
// status to answer. A call that cannot fail (void result) is counted but never fails. `note`
// (may be null) is looked at only while some fault is armed.
bool EnterCall(Op op, STATUS* status, bool canFail = true,
               const CallSubject* note = nullptr) noexcept;
void ResetFaultsAndCounters() noexcept;

// The notification stage whose handler is running on this thread: EM_STAGE_BEFORE,
// EM_STAGE_AFTER, or -1 outside any handler.
int CurrentStage() noexcept;

// Runs `body` for a STATUS function behind the gate; an exception becomes ERR_QIX_NO_MEMORY.
template <typename Body>
STATUS GuardedCall(Op op, Body&& body, const CallSubject* note = nullptr) noexcept {
    STATUS fault = 0;
    if (EnterCall(op, &fault, true, note))
        return fault;
    try {
        return body();
    } catch (...) {
        return ERR_QIX_NO_MEMORY;
    }
}

// The same for a function whose result is not a STATUS: a fault or exception answers `failure`.
template <typename Result, typename Body>
Result GuardedValue(Op op, Result failure, Body&& body) noexcept {
    STATUS fault = 0;
    if (EnterCall(op, &fault))
        return failure;
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// For host-side entry points, which are not counted: an exception becomes ERR_QIX_NO_MEMORY.
template <typename Body>
STATUS HostCall(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return ERR_QIX_NO_MEMORY;
    }
}

// ---- Clock and time text ----------------------------------------------------------------------

// Hundredths of a second since 1970 UTC; under the fixed clock each read advances it by one.
uint64_t ReadClock() noexcept;
void ResetClock() noexcept;
inline TIMEDATE ToTimedate(uint64_t hundredths) noexcept {
    TIMEDATE t;
    t.word[0] = static_cast<uint32_t>(hundredths & 0xFFFFFFFFu);
    t.word[1] = static_cast<uint32_t>(hundredths >> 32);
    return t;
}
inline uint64_t FromTimedate(const TIMEDATE& t) noexcept {
    return (static_cast<uint64_t>(t.word[1]) << 32) | t.word[0];
}
// "YYYY-MM-DD HH:MM:SS.hh" into `out` (cut to fit `size`, always terminated); answers the length
// of the whole text.
std::size_t FormatTime(uint64_t hundredths, char* out, std::size_t size) noexcept;

// ---- Per-thread stripes
// ---------------------------------------------------------------------------

// Shared counters and locks are split in stripes, one per live thread (the least-held stripe when
// the thread first needs one, given back when it ends; in turn on Windows), each on its own cache
// lines, so that concurrent callers on different threads do not write the same line.
constexpr std::size_t kStripes = 8;
std::size_t ThreadStripe() noexcept;
// The alignment of anything two threads write separately: two cache lines, since processors
// fetch lines in adjacent pairs and neighbours in one pair would be shared all the same.
constexpr std::size_t kApart = 128;

// A reader-writer lock whose readers touch only their own thread's stripe: shared locking scales
// across threads; exclusive locking takes every stripe, in order. Never take it shared twice on
// one thread. A waiter first retries for a short while before it sleeps: every critical section
// of the stand-in is far shorter than a sleep and a wake-up in the kernel. A writer that waits
// goes before readers that come after it, as a server's database lock lets an update in: readers
// that keep coming (a search opening every note of a database) would otherwise hold it off for
// as long as they come.
class StripedSharedMutex {
  public:
    void lock() {
        writersWaiting_.fetch_add(1, std::memory_order_acq_rel);
        for (Stripe& stripe : stripes_) {
            if (!Retry([&] { return stripe.mutex.try_lock(); }))
                stripe.mutex.lock();
        }
        writersWaiting_.fetch_sub(1, std::memory_order_release);
    }
    void unlock() {
        for (std::size_t i = kStripes; i > 0; --i)
            stripes_[i - 1].mutex.unlock();
    }
    void lock_shared() {
        while (writersWaiting_.load(std::memory_order_acquire) != 0)
            std::this_thread::yield();
        std::shared_mutex& mutex = stripes_[ThreadStripe()].mutex;
        if (!Retry([&] { return mutex.try_lock_shared(); }))
            mutex.lock_shared();
    }
    void unlock_shared() { stripes_[ThreadStripe()].mutex.unlock_shared(); }

  private:
    template <typename Try>
    static bool Retry(Try&& attempt) {
        for (int i = 0; i < kRetries; ++i) {
            if (attempt())
                return true;
        }
        return false;
    }
    static constexpr int kRetries = 200;

    struct alignas(kApart) Stripe {
        std::shared_mutex mutex;
    };
    Stripe stripes_[kStripes];
    alignas(kApart) std::atomic<unsigned> writersWaiting_{0};
};
using ReadLock = std::shared_lock<StripedSharedMutex>;
using WriteLock = std::unique_lock<StripedSharedMutex>;

// A lock for the handle table's short critical sections (a lookup, a short item read, pushing
// a freed number): one atomic flag, so it costs the same whether or not the process has started
// other threads. Waiters yield; the table never holds one while calling out of the stand-in.
class SpinLock {
  public:
    void lock() noexcept {
        while (flag_.exchange(true, std::memory_order_acquire)) {
            while (flag_.load(std::memory_order_relaxed))
                std::this_thread::yield();
        }
    }
    void unlock() noexcept { flag_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> flag_{false};
};

// ---- Handle table -------------------------------------------------------------------------------

enum class Kind : uint8_t { None, Db, Note, Memory, IdTable, Collection };

// One pool of handle numbers for every kind: 0 is never issued, at most kMaxHandles are live,
// freed numbers are reused last-freed first. Each slot has its own mutex, so lookups of different
// handles never contend. Freed numbers go to the freeing thread's stripe of the free list and are
// issued from there first; numbers never issued come from one atomic counter, and a stripe that
// runs dry borrows from the others before the pool answers ERR_QIX_NO_HANDLES.
class HandleTable {
  public:
    static constexpr uint32_t kMaxHandles = 65535;

    HandleTable();
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    STATUS Add(Kind kind, std::shared_ptr<void> object, QIXHANDLE* retHandle);
    // Calls `use(object)` for a live handle of `kind` while its slot is locked, so that the
    // handle cannot be closed meanwhile; false when there is no such handle. `use` must not
    // lock another handle's slot.
    template <typename Use>
    bool With(QIXHANDLE handle, Kind kind, Use&& use) const {
        if (handle == QIX_NULLHANDLE || handle > kMaxHandles || kind == Kind::None)
            return false;
        const Slot& slot = slots_[handle];
        std::lock_guard<SpinLock> lock(slot.mutex);
        if (slot.kind != kind)
            return false;
        use(slot.object);
        return true;
    }
    // Takes a live handle of `kind` (Kind::None: any kind) out of the table; null when none.
    std::shared_ptr<void> Remove(QIXHANDLE handle, Kind kind);
    void Clear();
    std::size_t Live() const noexcept;

  private:
    struct alignas(kApart) Slot {
        mutable SpinLock mutex;  // guards kind and object
        Kind kind = Kind::None;
        std::shared_ptr<void> object;
    };
    struct alignas(kApart) FreeStripe {
        SpinLock mutex;                  // guards numbers
        std::vector<QIXHANDLE> numbers;  // freed numbers, reused last first
        std::atomic<int64_t> live{0};    // issued here minus freed here
    };
    bool TakeFree(FreeStripe& stripe, QIXHANDLE* handle);

    std::unique_ptr<Slot[]> slots_;
    FreeStripe free_[kStripes];
    std::atomic<uint32_t> nextFresh_{1};  // lowest number never issued since the last Clear
    std::mutex clearMutex_;               // one Clear at a time
};

HandleTable& Handles();

// The object of a live handle of T's kind, or null.
template <typename T>
std::shared_ptr<T> Lookup(QIXHANDLE handle) {
    std::shared_ptr<T> found;
    Handles().With(handle, T::kKind, [&](const std::shared_ptr<void>& object) {
        found = std::shared_ptr<T>(object, static_cast<T*>(object.get()));
    });
    return found;
}
// Calls `use(T&)` on the object of a live handle of T's kind without taking a reference (for
// short calls that call nothing outside the stand-in); false when there is no such handle.
template <typename T, typename Use>
bool WithObject(QIXHANDLE handle, Use&& use) {
    return Handles().With(handle, T::kKind, [&](const std::shared_ptr<void>& object) {
        use(*static_cast<T*>(object.get()));
    });
}
template <typename T>
STATUS AddHandle(std::shared_ptr<T> object, QIXHANDLE* retHandle) {
    return Handles().Add(T::kKind, std::move(object), retHandle);
}
// Closes a handle of `kind` (Kind::None: any kind). Never throws.
STATUS CloseHandleOfKind(QIXHANDLE handle, Kind kind);

// Closes a handle the stand-in opened for itself when the scope ends.
class ScopedHandle {
  public:
    explicit ScopedHandle(QIXHANDLE handle) noexcept : handle_(handle) {}
    ~ScopedHandle() {
        if (handle_ != QIX_NULLHANDLE)
            CloseHandleOfKind(handle_, Kind::None);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    void Release() noexcept { handle_ = QIX_NULLHANDLE; }

  private:
    QIXHANDLE handle_;
};

// ---- Databases and notes ------------------------------------------------------------------------

// A stored note. Its items are immutable and shared with the note handles that opened it.
struct StoredNote {
    NOTEID id = 0;
    uint16_t noteClass = 0;
    ORIGINATORID originatorId{};
    uint64_t changeSeq = 0;  // the database's change counter at the last store
    std::string form;        // text of the "Form" item (documents select views by it)
    std::shared_ptr<const Items> items;
};

// A design note other than a document, for the design lookups.
struct DesignEntry {
    uint16_t noteClass = 0;
    std::string title;               // "$TITLE" as stored
    std::vector<std::string> names;  // the ";"-separated names, blanks trimmed
};

// The entries of one view: the documents whose form it selects, by change order. `entries` is
// kept up to date by every store and delete; `snapshot` is rebuilt from it lazily, when a
// collection is opened after a change.
struct ViewIndex {
    std::set<std::string> forms;
    std::map<uint64_t, NOTEID> entries;  // change counter -> note id
    uint64_t lastModified = 0;           // hundredths; moves on every change of a selected doc
    // Set by a change (under the database's exclusive lock); cleared by the one opener that
    // rebuilds `snapshot` (under the shared lock plus rebuildMutex). While it is clear nobody
    // writes `snapshot`, so openers read it with the shared lock alone and share no lock.
    std::atomic<bool> dirty{true};
    std::mutex rebuildMutex;
    std::shared_ptr<const std::vector<NOTEID>> snapshot;
};

struct Database {
    std::string path;  // relative, written with '/'
    uint32_t serial = 0;
    TIMEDATE fileUnid{};                      // file part of every universal id of this database
    std::atomic<uint32_t> nextNoteSerial{1};  // note part of the next universal id

    // Everything below is guarded by `mutex`.
    mutable StripedSharedMutex mutex;
    std::unordered_map<NOTEID, StoredNote> notes;
    std::map<NOTEID, DesignEntry> designs;
    std::map<NOTEID, std::unique_ptr<ViewIndex>> views;
    NOTEID nextNoteId = 0;
    uint64_t changeCounter = 0;
};

// First note id of a database and the step between ids.
constexpr NOTEID kFirstNoteId = 0x8F6;
constexpr NOTEID kNoteIdStep = 4;

// Databases are never destroyed (see ServerState), so handles point to them without owning.
struct DbObject {
    static constexpr Kind kKind = Kind::Db;
    Database* db = nullptr;
};

// An open note: a working copy. Reads share the stored items; the first write copies them.
// Every field is used only under the handle's slot lock (WithObject), so that a note handle needs
// no lock of its own.
struct NoteObject {
    static constexpr Kind kKind = Kind::Note;
    Database* db = nullptr;
    DBHANDLE dbHandle = QIX_NULLHANDLE;  // the handle it was opened through
    NOTEID id = 0;
    uint16_t noteClass = NOTE_CLASS_DOCUMENT;
    ORIGINATORID originatorId{};
    std::shared_ptr<const Items> shared;
    std::unique_ptr<Items> own;

    const Items& Read() const { return own ? *own : *shared; }
    Items& Write() {
        if (!own)
            own = std::make_unique<Items>(*shared);
        return *own;
    }
};

struct MemObject {
    static constexpr Kind kKind = Kind::Memory;
    std::mutex mutex;  // guards locks
    std::unique_ptr<unsigned char[]> data;
    uint32_t size = 0;
    uint32_t locks = 0;
    bool formula = false;  // a compiled formula
};

struct IdTableObject {
    static constexpr Kind kKind = Kind::IdTable;
    std::mutex mutex;  // guards every field below
    std::set<NOTEID> ids;
    bool scanning = false;
    // The last id delivered by IDScan. Ids are only ever added to a table, which keeps the
    // iterator valid, so the next id is one step on rather than a search.
    std::set<NOTEID>::const_iterator cursor;
};

// An open view: the entries and modification time the view had when it was opened.
struct CollectionObject {
    static constexpr Kind kKind = Kind::Collection;
    Database* db = nullptr;
    NOTEID viewId = 0;
    std::shared_ptr<const std::vector<NOTEID>> entries;
    uint64_t lastModified = 0;
};

// ---- Server state -------------------------------------------------------------------------------

struct ServerState {
    StripedSharedMutex registryMutex;            // guards the five below
    std::map<std::string, Database*> databases;  // the server's databases by path
    // Owns every database ever created. Reset empties the old ones and takes them out of the
    // registry but keeps them, so that a handle or a call in flight never points to a destroyed
    // database and opening a database needs no reference count shared between threads.
    std::vector<std::unique_ptr<Database>> everyDatabase;
    uint32_t dbSerial = 0;
    char separator = '/';
    std::string dataDirectory = "/qix/data";

    std::mutex logMutex;  // guards logEntries
    std::vector<std::string> logEntries;
};

ServerState& Server();

// Database by relative path ('/' or '\\'); null when missing.
Database* FindDatabase(const std::string& path);
// The registry's key of a database path: '/' for '\\', the data directory taken off.
std::string DatabaseKey(const std::string& path);
std::string NormalizePath(const std::string& path);
void ResetStore();

STATUS OpenDatabaseHandle(const std::string& path, DBHANDLE* retDb);
STATUS OpenNoteHandle(DBHANDLE db, NOTEID noteId, NOTEHANDLE* retNote);
STATUS NewNoteHandle(DBHANDLE db, NOTEHANDLE* retNote);

// A new memory block of `size` bytes (zero-filled, or a copy of `contents`) under a new handle.
STATUS NewMemoryHandle(uint32_t size, bool formula, const void* contents, MEMHANDLE* retHandle);

// A fresh universal id in `db` (file part of the database, next note serial).
UNIVERSALID NewUniversalId(Database& db);

// The operations proper, without notification.
STATUS StoreNoteOperation(NOTEHANDLE note);  // ERR_QIX_INVALID_HANDLE once it is closed
STATUS DeleteNoteOperation(Database& db, NOTEID noteId);
STATUS DeleteNotesOperation(Database& db, const std::vector<NOTEID>& ids);
// Stores a new note of `noteClass` with `items` (set-up: no handle, no notification).
STATUS StoreNewNote(Database& db, uint16_t noteClass, Items items, NOTEID* retNoteId);

// Text of an item value as QIXItemGetText reads it; an item by name (null when missing).
std::string ValueText(const ItemValue& value);
const ItemValue* FindItem(const Items& items, const char* name);
std::vector<std::string> SplitTitle(const std::string& title);

// ---- Notification path --------------------------------------------------------------------------

// Raises `notificationId` around `operation`: before-stage handlers in registration order (a
// status other than 0 or EM_CONTINUE_STATUS vetoes), the operation (or `forcedStatus` when it is
// not 0), then the after-stage handlers with the outcome. The arguments are handed to each
// handler as unsigned ints. No lock of the stand-in is held while a handler runs.
STATUS RunNotified(uint16_t notificationId, const std::vector<unsigned int>& arguments,
                   STATUS forcedStatus, const std::function<STATUS()>& operation);
void ResetRegistrations() noexcept;

}  // namespace qixsim::detail

#endif  // KOVA_HOSTSIM_INTERNAL_H
