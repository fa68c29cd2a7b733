// The pending-note tables: parking a before-stage context, finding it again in the after stage,
// and releasing entries; a note that cannot be parked is named with each connector it loses. Each
// table is a key index over its chain (addin/keyindex.h) and a mutex;
// the chain and index are changed only under the mutex, log lines are formatted under it (the
// entry may be gone once it is released) and written after it.
#include "addin/notetable.h"

#include <cstdio>
#include <memory>
#include <new>

#include "base/mutex.h"
#include "base/text.h"
#include "hostapi/itemtext.h"
#include "log/logline.h"
#include "profile/refresh.h"

namespace kova {

NoteTable hSaveNoteTable = nullptr;
NoteTable hDeleteNoteTable = nullptr;

namespace {

// One process-wide table: its key, its index over the chain, and the mutex that guards both.
struct PendingTable {
    PendingTable(NoteTable* head, uint64_t (*key)(const NoteEntry&)) noexcept
        : keyOf(key), index(head) {}
    uint64_t (*const keyOf)(const NoteEntry&);
    Mutex mutex;
    KeyIndex index GUARDED_BY(mutex);
};

// Entries parked: an atomic, read without the mutex, so that an after stage with nothing parked
// (every unmonitored notification) takes no lock.
size_t ParkedCount(const PendingTable& table) noexcept NO_THREAD_SAFETY_ANALYSIS {
    return table.index.count.load(std::memory_order_acquire);
}

PendingTable gSaveTable(&hSaveNoteTable, SaveKeyOf);
PendingTable gDeleteTable(&hDeleteNoteTable, DeleteKeyOf);

PendingTable* TableOf(const NoteTable& table) noexcept {
    if (&table == &hSaveNoteTable)
        return &gSaveTable;
    if (&table == &hDeleteNoteTable)
        return &gDeleteTable;
    return nullptr;
}

// A table's mutex, held for a scope. Not held (and an ERROR line logged) when it cannot be
// taken; the caller then passes the notification on unmonitored: nothing parked, nothing found,
// nothing freed. With `wait` false it only tries (the unload, which must not wait).
class TableLock {
  public:
    TableLock(Mutex& mutex, bool wait = true) noexcept NO_THREAD_SAFETY_ANALYSIS {
        if (wait ? mutex.Lock() : mutex.TryLock()) {
            mutex_ = &mutex;
        } else {
            LogLine(kLogError, wait ? "Error locking a pending-note table.\n"
                                    : "Pending-note table busy, not released.\n");
        }
    }
    ~TableLock() { Unlock(); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    bool held() const noexcept { return mutex_ != nullptr; }
    void Unlock() noexcept NO_THREAD_SAFETY_ANALYSIS {
        if (mutex_ != nullptr)
            mutex_->Unlock();
        mutex_ = nullptr;
    }

  private:
    Mutex* mutex_ = nullptr;
};

// A parked entry's whole block, until a table links it.
struct ParkedDeleter {
    void operator()(ParkedEntry* parked) const noexcept { FreeNoteEntry(&parked->entry); }
};
using OwnedParked = std::unique_ptr<ParkedEntry, ParkedDeleter>;

// Formats an entry line into gTextBuffer when DEBUG lines pass; answers whether it did.
bool FormatEntryLine(const char* prefix, const NoteEntry* entry) noexcept {
    if (!LogLevelPasses(kLogDebug))
        return false;
    std::snprintf(gTextBuffer, kTextBufferSize,
                  "%s: Note ID: %X, Database Path: %s, Form Name: %s\n", prefix, entry->noteId,
                  entry->dbPath, entry->formName);
    return true;
}

NoteEntry* RemoveEntry(PendingTable& table, const char* prefix, uint64_t key) noexcept {
    ParkedEntry* parked = nullptr;
    bool formatted = false;
    if (ParkedCount(table) != 0) {
        TableLock lock(table.mutex);
        if (lock.held()) {
            table.mutex.AssertHeld();
            parked = table.index.Take(key);
            if (parked != nullptr)
                formatted = FormatEntryLine(prefix, &parked->entry);
        }
    }
    if (parked == nullptr) {
        if (LogLevelPasses(kLogDebug)) {
            std::snprintf(gTextBuffer, kTextBufferSize, "%s: NULL\n", prefix);
            LogLine(kLogDebug, gTextBuffer);
        }
        return nullptr;
    }
    if (formatted)
        LogLine(kLogDebug, gTextBuffer);
    return &parked->entry;
}

// Moves the ids of `from` into an empty list: the nodes are relinked, not copied, in reverse
// order, the order a copy of the list has (so the ids pop in the order they were first added).
KOVAList MoveReversed(KOVAList from) noexcept {
    KOVAList reversed = nullptr;
    while (from != nullptr) {
        KOVAListNode* next = from->next;
        from->next = reversed;
        reversed = from;
        from = next;
    }
    return reversed;
}

// A note that could not be parked loses its events: each connector that wanted it is named.
void ReportNotParked(NOTEID noteId, int32_t eventType, const char* dbPath,
                     KOVAList connectorIds) noexcept {
    for (const KOVAListNode* node = connectorIds; node != nullptr; node = node->next)
        ReportNotCaptured(noteId, eventType, dbPath, node->text);
}

}  // namespace

STATUS AddNoteEntryV75(NoteTable& table, EventContext& context, ParkedFor parkedFor) noexcept {
    PendingTable* pending = TableOf(table);
    if (pending == nullptr) {
        LogLine(kLogError, "AddSaveNoteEntry: not a pending-note table, note not parked\n");
        return 0;
    }
    // Every field is set below (the texts up to their terminators), so the block is not zeroed.
    OwnedParked parked(new (std::nothrow) ParkedEntry);
    if (parked == nullptr) {
        LogLine(kLogError, "AddSaveNoteEntry: out of memory, note not parked\n");
        ReportNotParked(context.noteId, context.eventType, context.dbPath, context.connectorIds);
        return 0;
    }
    NoteEntry* entry = &parked->entry;
    entry->originatorId = context.originatorId;
    entry->noteId = context.noteId;
    entry->noteHandle = context.noteHandle;
    entry->dbHandle = context.dbHandle;
    entry->eventType = context.eventType;
    CopyBounded(entry->dbPath, context.dbPath);
    CopyBounded(entry->formName, context.formName);
    entry->noteClass = 0;  // not carried over
    entry->next = nullptr;
    entry->connectorIds = MoveReversed(context.connectorIds);
    context.connectorIds = nullptr;
    parked->key = pending->keyOf(*entry);
    parked->profileChange = false;

    bool formatted = false;
    bool linked = false;
    {
        TableLock lock(pending->mutex);
        if (!lock.held()) {
            ReportNotParked(entry->noteId, entry->eventType, entry->dbPath, entry->connectorIds);
            return 0;  // the entry and its ids are released with their owner
        }
        pending->mutex.AssertHeld();
        linked = pending->index.Link(parked.get());
        if (linked) {
            if (parkedFor == ParkedFor::kProfileChange) {
                parked->profileChange = true;
                BeginProfileChange();
            }
            (void)parked.release();  // the table owns it now
            formatted = FormatEntryLine("AddSaveNoteEntry", entry);
        }
    }
    if (!linked) {
        LogLine(kLogError, "AddSaveNoteEntry: out of memory, note not parked\n");
        ReportNotParked(entry->noteId, entry->eventType, entry->dbPath, entry->connectorIds);
        return 0;
    }
    if (formatted)
        LogLine(kLogDebug, gTextBuffer);
    return 0;
}

NoteEntry* RemoveSaveNoteEntry(NOTEHANDLE noteHandle) noexcept {
    return RemoveEntry(gSaveTable, "RemoveSaveNoteEntry", SaveKey(noteHandle));
}

NoteEntry* RemoveDeleteNoteEntry(NOTEID noteId, DBHANDLE dbHandle) noexcept {
    return RemoveEntry(gDeleteTable, "RemoveDeleteNoteEntry", DeleteKey(noteId, dbHandle));
}

void FreeNoteEntry(NoteEntry* entry) noexcept {
    if (entry == nullptr)
        return;
    KOVAListCleanUp(entry->connectorIds);
    ParkedEntry* parked = Parked(entry);
    if (parked->profileChange)
        EndProfileChange();
    delete parked;
}

void FreeNoteTable(NoteTable& table) noexcept {
    PendingTable* pending = TableOf(table);
    if (pending == nullptr)
        return;
    NoteEntry* chain = nullptr;
    {
        TableLock lock(pending->mutex, false);
        if (!lock.held())
            return;
        pending->mutex.AssertHeld();
        chain = pending->index.TakeAll();
    }
    while (chain != nullptr) {
        OwnedNoteEntry entry(chain);
        chain = chain->next;
    }
}

}  // namespace kova
