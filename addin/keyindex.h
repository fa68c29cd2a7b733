// The key index of a pending-note table: beside the chain (newest first), a map from each key to
// its newest entry, the entries of one key linked newest first, and a link from each entry to the
// one before it in the chain, so that adding and removing cost the same however many entries are
// parked (a bulk delete parks one entry per note and its after stage takes them out oldest first).
// A removal still answers exactly what a walk from the head would find. Not thread-safe on its
// own: the table that holds it changes it under its mutex.
#ifndef KOVA_ADDIN_KEYINDEX_H
#define KOVA_ADDIN_KEYINDEX_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <unordered_map>

#include "base/allocator.h"
#include "capture/context.h"

namespace kova {

using NoteEntry = EventContext;
using NoteTable = NoteEntry*;  // head of the chain, newest first; null when empty

// The heap block of one parked entry: the NoteEntry that the chain links, then the index's links.
struct ParkedEntry {
    NoteEntry entry;            // first member: a parked NoteEntry* is its ParkedEntry*
    ParkedEntry* newer;         // the entry before it in the chain; null at the head
    ParkedEntry* olderSameKey;  // the next older entry with the same key
    uint64_t key;
    bool profileChange;  // a profile document's change, in flight until the entry is released
};
static_assert(std::is_standard_layout<ParkedEntry>::value, "ParkedEntry must be standard layout");
static_assert(offsetof(ParkedEntry, entry) == 0, "the entry must open its block");

inline ParkedEntry* Parked(NoteEntry* entry) noexcept {
    return reinterpret_cast<ParkedEntry*>(entry);
}

// The keys of the two tables.
inline uint64_t SaveKey(NOTEHANDLE noteHandle) noexcept {
    return noteHandle;
}
inline uint64_t DeleteKey(NOTEID noteId, DBHANDLE dbHandle) noexcept {
    return (static_cast<uint64_t>(dbHandle) << 32) | noteId;
}
inline uint64_t SaveKeyOf(const NoteEntry& entry) noexcept {
    return SaveKey(entry.noteHandle);
}
inline uint64_t DeleteKeyOf(const NoteEntry& entry) noexcept {
    return DeleteKey(entry.noteId, entry.dbHandle);
}

// The key index of one table and its chain, changed only under the table's mutex.
struct KeyIndex {
    explicit KeyIndex(NoteTable* chainHead) noexcept : head(chainHead) {}
    KeyIndex(const KeyIndex&) = delete;
    KeyIndex& operator=(const KeyIndex&) = delete;

    NoteTable* const head;
    // Entries parked; read without the table's mutex, so that an after stage with nothing parked
    // (every unmonitored notification) needs no lock.
    std::atomic<size_t> count{0};
    using NewestByKey =
        std::unordered_map<uint64_t, ParkedEntry*, std::hash<uint64_t>, std::equal_to<uint64_t>,
                           MallocAllocator<std::pair<const uint64_t, ParkedEntry*>>>;
    NewestByKey newestByKey;

    // Links `parked` at the head; false (nothing linked) when memory ran out.
    bool Link(ParkedEntry* parked) noexcept {
        try {
            ParkedEntry*& newest = newestByKey[parked->key];
            parked->olderSameKey = newest;
            newest = parked;
        } catch (...) {
            return false;
        }
        NoteEntry* oldHead = *head;
        parked->newer = nullptr;
        parked->entry.next = oldHead;
        if (oldHead != nullptr)
            Parked(oldHead)->newer = parked;
        *head = &parked->entry;
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        return true;
    }

    // Unlinks the newest entry with `key` from the chain; null when there is none.
    ParkedEntry* Take(uint64_t key) noexcept {
        const auto found = newestByKey.find(key);
        if (found == newestByKey.end())
            return nullptr;
        ParkedEntry* parked = found->second;
        if (parked->olderSameKey != nullptr) {
            found->second = parked->olderSameKey;
        } else {
            newestByKey.erase(found);
        }
        NoteEntry* next = parked->entry.next;
        if (parked->newer != nullptr) {
            parked->newer->entry.next = next;
        } else {
            *head = next;
        }
        if (next != nullptr)
            Parked(next)->newer = parked->newer;
        parked->entry.next = nullptr;
        parked->newer = nullptr;
        parked->olderSameKey = nullptr;
        const size_t left = count.load(std::memory_order_relaxed) - 1;
        count.store(left, std::memory_order_release);
        // An emptied table gives its buckets back when a bulk delete grew them.
        constexpr size_t kKeptBuckets = 1024;
        if (left == 0 && newestByKey.bucket_count() > kKeptBuckets)
            Release();
        return parked;
    }

    // Empties the index, gives its memory back, and hands the whole chain to the caller.
    NoteEntry* TakeAll() noexcept {
        NoteEntry* chain = *head;
        *head = nullptr;
        count.store(0, std::memory_order_release);
        Release();
        return chain;
    }

  private:
    void Release() noexcept {
        NewestByKey released;
        newestByKey.swap(released);
    }
};

}  // namespace kova

#endif  // KOVA_ADDIN_KEYINDEX_H
