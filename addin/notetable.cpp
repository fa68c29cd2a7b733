// The pending-note tables: parking a before-stage context, finding it again in the after stage,
// and releasing entries; a note that cannot be parked is named with each connector it loses. The
// chains and their key indexes are changed only under their table's mutex; log lines are formatted
// under it (the entry may be gone once it is released) and written after it.
#include "addin/notetable.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>

#include "log/logline.h"

namespace kova {

NoteTable hSaveNoteTable = nullptr;
NoteTable hDeleteNoteTable = nullptr;

namespace {

// The heap block of one parked entry: the NoteEntry that the chain links, then the index's links.
struct ParkedEntry {
    NoteEntry entry;          // first member: a parked NoteEntry* is its ParkedEntry*
    ParkedEntry* newer;       // the entry before it in the chain; null at the head
    ParkedEntry* sameBucket;  // the next older entry of its hash bucket
    uint64_t key;
};
static_assert(std::is_standard_layout<ParkedEntry>::value, "ParkedEntry must be standard layout");
static_assert(offsetof(ParkedEntry, entry) == 0, "the entry must open its block");

ParkedEntry* Parked(NoteEntry* entry) noexcept {
    return reinterpret_cast<ParkedEntry*>(entry);
}

uint64_t SaveKey(NOTEHANDLE noteHandle) noexcept {
    return noteHandle;
}
uint64_t DeleteKey(NOTEID noteId, DBHANDLE dbHandle) noexcept {
    return (static_cast<uint64_t>(dbHandle) << 32) | noteId;
}
uint64_t SaveKeyOf(const NoteEntry& entry) noexcept {
    return SaveKey(entry.noteHandle);
}
uint64_t DeleteKeyOf(const NoteEntry& entry) noexcept {
    return DeleteKey(entry.noteId, entry.dbHandle);
}

constexpr unsigned kInlineBucketBits = 6;
constexpr size_t kInlineBuckets = size_t{1} << kInlineBucketBits;
constexpr size_t kKeptBuckets = 1024;  // a larger bucket array is released when the table empties

// The key index of one process-wide table, and the mutex that guards it and the chain. Every
// bucket holds its entries newest first, like the chain, and both keep their order when entries
// leave; so the first entry with a key in its bucket is the first one a walk of the chain from
// its head would meet.
struct TableIndex {
    TableIndex(NoteTable* chainHead, uint64_t (*key)(const NoteEntry&)) noexcept
        : head(chainHead), keyOf(key) {}
    TableIndex(const TableIndex&) = delete;
    TableIndex& operator=(const TableIndex&) = delete;

    NoteTable* const head;
    uint64_t (*const keyOf)(const NoteEntry&);
    std::mutex mutex;
    // Entries parked; read without the mutex, so that an after stage with nothing parked (every
    // unmonitored notification) needs no lock.
    std::atomic<size_t> count{0};
    ParkedEntry* oldest = nullptr;  // the chain's last entry
    ParkedEntry** buckets = inlineBuckets;
    size_t bucketCount = kInlineBuckets;  // a power of two
    unsigned shift = 64 - kInlineBucketBits;
    ParkedEntry* inlineBuckets[kInlineBuckets] = {};

    ParkedEntry*& Bucket(uint64_t key) noexcept {
        return buckets[(key * 0x9E3779B97F4A7C15ull) >> shift];
    }

    // Doubles the buckets, rebuilding them from the chain oldest first; on a failed allocation
    // the buckets stay as they are (longer, still correct).
    void Grow() noexcept {
        const size_t grownCount = bucketCount * 2;
        const unsigned grownShift = shift - 1;
        auto* grown = new (std::nothrow) ParkedEntry*[grownCount]();
        if (grown == nullptr)
            return;
        ReleaseBuckets();
        buckets = grown;
        bucketCount = grownCount;
        shift = grownShift;
        for (ParkedEntry* entry = oldest; entry != nullptr; entry = entry->newer) {
            ParkedEntry*& bucket = Bucket(entry->key);
            entry->sameBucket = bucket;
            bucket = entry;
        }
    }

    void ReleaseBuckets() noexcept {
        if (buckets != inlineBuckets)
            delete[] buckets;
        buckets = inlineBuckets;
        bucketCount = kInlineBuckets;
        shift = 64 - kInlineBucketBits;
        std::fill(inlineBuckets, inlineBuckets + kInlineBuckets, nullptr);
    }

    void Link(ParkedEntry* parked) noexcept {
        if (count.load(std::memory_order_relaxed) + 1 > bucketCount)
            Grow();
        NoteEntry* oldHead = *head;
        parked->newer = nullptr;
        parked->entry.next = oldHead;
        if (oldHead != nullptr) {
            Parked(oldHead)->newer = parked;
        } else {
            oldest = parked;
        }
        *head = &parked->entry;
        ParkedEntry*& bucket = Bucket(parked->key);
        parked->sameBucket = bucket;
        bucket = parked;
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    // Unlinks the newest entry with `key` from its bucket and the chain; null when there is none.
    ParkedEntry* Take(uint64_t key) noexcept {
        ParkedEntry** link = &Bucket(key);
        while (*link != nullptr && (*link)->key != key)
            link = &(*link)->sameBucket;
        ParkedEntry* parked = *link;
        if (parked == nullptr)
            return nullptr;
        *link = parked->sameBucket;
        NoteEntry* next = parked->entry.next;
        if (parked->newer != nullptr) {
            parked->newer->entry.next = next;
        } else {
            *head = next;
        }
        if (next != nullptr) {
            Parked(next)->newer = parked->newer;
        } else {
            oldest = parked->newer;
        }
        parked->entry.next = nullptr;
        parked->newer = nullptr;
        parked->sameBucket = nullptr;
        const size_t left = count.load(std::memory_order_relaxed) - 1;
        count.store(left, std::memory_order_release);
        if (left == 0 && bucketCount > kKeptBuckets)
            ReleaseBuckets();
        return parked;
    }

    // Empties the index and hands the whole chain to the caller.
    NoteEntry* TakeAll() noexcept {
        NoteEntry* chain = *head;
        *head = nullptr;
        oldest = nullptr;
        count.store(0, std::memory_order_release);
        if (bucketCount > kKeptBuckets) {
            ReleaseBuckets();
        } else {
            std::fill(buckets, buckets + bucketCount, nullptr);
        }
        return chain;
    }
};

TableIndex gSaveIndex(&hSaveNoteTable, SaveKeyOf);
TableIndex gDeleteIndex(&hDeleteNoteTable, DeleteKeyOf);
std::mutex gOtherTableLock;  // tables other than the two process-wide ones (tests)

TableIndex* IndexOf(const NoteTable& table) noexcept {
    if (&table == &hSaveNoteTable)
        return &gSaveIndex;
    if (&table == &hDeleteNoteTable)
        return &gDeleteIndex;
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
                LogLine(LOG_ERROR, "Pending-note table busy, not released.\n");
                return;
            }
            mutex_ = &mutex;
        } catch (...) {
            LogLine(LOG_ERROR, "Error locking a pending-note table.\n");
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

// Formats an entry line into gTextBuffer when DEBUG lines pass; answers whether it did.
bool FormatEntryLine(const char* prefix, const NoteEntry* entry) noexcept {
    if (!LogLevelPasses(LOG_DEBUG))
        return false;
    std::snprintf(gTextBuffer, kTextBufferSize,
                  "%s: Note ID: %X, Database Path: %s, Form Name: %s\n", prefix, entry->noteId,
                  entry->dbPath, entry->formName);
    return true;
}

NoteEntry* RemoveEntry(TableIndex& index, const char* prefix, uint64_t key) noexcept {
    ParkedEntry* parked = nullptr;
    bool formatted = false;
    if (index.count.load(std::memory_order_acquire) != 0) {
        TableLock lock(index.mutex);
        if (lock.held()) {
            parked = index.Take(key);
            if (parked != nullptr)
                formatted = FormatEntryLine(prefix, &parked->entry);
        }
    }
    if (parked == nullptr) {
        if (LogLevelPasses(LOG_DEBUG)) {
            std::snprintf(gTextBuffer, kTextBufferSize, "%s: NULL\n", prefix);
            LogLine(LOG_DEBUG, gTextBuffer);
        }
        return nullptr;
    }
    if (formatted)
        LogLine(LOG_DEBUG, gTextBuffer);
    return &parked->entry;
}

// Copies `source` into `dest` of `size` bytes, cut to fit, always terminated.
void CopyText(char* dest, size_t size, const char* source) noexcept {
    const void* end = std::memchr(source, '\0', size - 1);
    const size_t length =
        end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - source) : size - 1;
    std::memcpy(dest, source, length);
    dest[length] = '\0';
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

void FreeChain(NoteEntry* chain) noexcept {
    while (chain != nullptr) {
        NoteEntry* next = chain->next;
        FreeNoteEntry(chain);
        chain = next;
    }
}

}  // namespace

STATUS AddNoteEntryV75(NoteTable& table, EventContext& context) noexcept {
    // Every field is set below (the texts up to their terminators), so the block is not zeroed.
    auto* parked = new (std::nothrow) ParkedEntry;
    if (parked == nullptr) {
        LogLine(LOG_ERROR, "AddSaveNoteEntry: out of memory, note not parked\n");
        ReportNotParked(context.noteId, context.eventType, context.dbPath, context.connectorIds);
        return 0;
    }
    NoteEntry* entry = &parked->entry;
    entry->originatorId = context.originatorId;
    entry->noteId = context.noteId;
    entry->noteHandle = context.noteHandle;
    entry->dbHandle = context.dbHandle;
    entry->eventType = context.eventType;
    CopyText(entry->dbPath, sizeof entry->dbPath, context.dbPath);
    CopyText(entry->formName, sizeof entry->formName, context.formName);
    entry->noteClass = 0;  // not carried over
    entry->next = nullptr;
    parked->key = 0;
    entry->connectorIds = MoveReversed(context.connectorIds);
    context.connectorIds = nullptr;

    bool formatted;
    TableIndex* index = IndexOf(table);
    TableLock lock(index != nullptr ? index->mutex : gOtherTableLock);
    if (!lock.held()) {
        ReportNotParked(entry->noteId, entry->eventType, entry->dbPath, entry->connectorIds);
        FreeNoteEntry(entry);
        return 0;
    }
    if (index != nullptr) {
        parked->key = index->keyOf(*entry);
        index->Link(parked);
    } else {
        entry->next = table;
        table = entry;
    }
    formatted = FormatEntryLine("AddSaveNoteEntry", entry);
    lock.Unlock();
    if (formatted)
        LogLine(LOG_DEBUG, gTextBuffer);
    return 0;
}

NoteEntry* RemoveSaveNoteEntry(NOTEHANDLE noteHandle) noexcept {
    return RemoveEntry(gSaveIndex, "RemoveSaveNoteEntry", SaveKey(noteHandle));
}

NoteEntry* RemoveDeleteNoteEntry(NOTEID noteId, DBHANDLE dbHandle) noexcept {
    return RemoveEntry(gDeleteIndex, "RemoveDeleteNoteEntry", DeleteKey(noteId, dbHandle));
}

void FreeNoteEntry(NoteEntry* entry) noexcept {
    if (entry == nullptr)
        return;
    KOVAListCleanUp(entry->connectorIds);
    delete Parked(entry);
}

void FreeNoteTable(NoteTable& table) noexcept {
    NoteEntry* chain;
    TableIndex* index = IndexOf(table);
    {
        TableLock lock(index != nullptr ? index->mutex : gOtherTableLock, false);
        if (!lock.held())
            return;
        if (index != nullptr) {
            chain = index->TakeAll();
        } else {
            chain = table;
            table = nullptr;
        }
    }
    FreeChain(chain);
}

}  // namespace kova
