// The pending-note tables: parking a before-stage context, finding it again in the after stage,
// and releasing entries; a note that cannot be parked is named with each connector it loses. Each
// table is a key index over its chain (addin/keyindex.h) and a mutex;
// the chain and index are changed only under the mutex, log lines are formatted under it (the
// entry may be gone once it is released) and written after it.
#include "addin/notetable.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <new>

#include "hostapi/text.h"
#include "log/logline.h"

namespace kova {

NoteTable hSaveNoteTable = nullptr;
NoteTable hDeleteNoteTable = nullptr;

namespace {

// One process-wide table: its index over the chain, and the mutex that guards both.
struct PendingTable {
    PendingTable(NoteTable* head, uint64_t (*keyOf)(const NoteEntry&)) noexcept
        : index(head, keyOf) {}
    KeyIndex index;
    std::mutex mutex;
};

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
    TableLock(std::mutex& mutex, bool wait = true) noexcept {
        try {
            if (wait) {
                mutex.lock();
            } else if (!mutex.try_lock()) {
                LogLine(kLogError, "Pending-note table busy, not released.\n");
                return;
            }
            mutex_ = &mutex;
        } catch (...) {
            LogLine(kLogError, "Error locking a pending-note table.\n");
        }
    }
    ~TableLock() { Unlock(); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    bool held() const noexcept { return mutex_ != nullptr; }
    void Unlock() noexcept {
        if (mutex_ != nullptr)
            mutex_->unlock();
        mutex_ = nullptr;
    }

  private:
    std::mutex* mutex_ = nullptr;
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
    if (table.index.count.load(std::memory_order_acquire) != 0) {
        TableLock lock(table.mutex);
        if (lock.held()) {
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

STATUS AddNoteEntryV75(NoteTable& table, EventContext& context) noexcept {
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
    parked->key = pending->index.keyOf(*entry);

    bool formatted;
    {
        TableLock lock(pending->mutex);
        if (!lock.held()) {
            ReportNotParked(entry->noteId, entry->eventType, entry->dbPath, entry->connectorIds);
            return 0;  // the entry and its ids are released with their owner
        }
        pending->index.Link(parked.release());
        formatted = FormatEntryLine("AddSaveNoteEntry", entry);
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
    delete Parked(entry);
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
        chain = pending->index.TakeAll();
    }
    while (chain != nullptr) {
        OwnedNoteEntry entry(chain);
        chain = chain->next;
    }
}

}  // namespace kova
