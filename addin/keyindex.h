// The key index of a pending-note table: beside the chain (newest first), a hash of each entry's
// key to the entries with that key, newest first, and a link from each entry to the one before it
// in the chain, so that adding and removing cost the same however many entries are parked (a bulk
// delete parks one entry per note and its after stage takes them out oldest first). A removal
// still answers exactly what a walk from the head would find. Not thread-safe on its own: the
// table that holds it changes it under its mutex.
#ifndef KOVA_ADDIN_KEYINDEX_H
#define KOVA_ADDIN_KEYINDEX_H

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "capture/context.h"

namespace kova {

using NoteEntry = EventContext;
using NoteTable = NoteEntry*;  // head of the chain, newest first; null when empty

// The heap block of one parked entry: the NoteEntry that the chain links, then the index's links.
struct ParkedEntry {
    NoteEntry entry;          // first member: a parked NoteEntry* is its ParkedEntry*
    ParkedEntry* newer;       // the entry before it in the chain; null at the head
    ParkedEntry* sameBucket;  // the next older entry of its hash bucket
    uint64_t key;
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

inline constexpr unsigned kInlineBucketBits = 6;
inline constexpr size_t kInlineBuckets = size_t{1} << kInlineBucketBits;
inline constexpr size_t kKeptBuckets =
    1024;  // a larger bucket array is released when the table empties

// The key index of one table and its chain, changed only under the table's mutex. Every
// bucket holds its entries newest first, like the chain, and both keep their order when entries
// leave; so the first entry with a key in its bucket is the first one a walk of the chain from
// its head would meet.
struct KeyIndex {
    KeyIndex(NoteTable* chainHead, uint64_t (*key)(const NoteEntry&)) noexcept
        : head(chainHead), keyOf(key) {}
    ~KeyIndex() { ReleaseBuckets(); }
    KeyIndex(const KeyIndex&) = delete;
    KeyIndex& operator=(const KeyIndex&) = delete;

    NoteTable* const head;
    uint64_t (*const keyOf)(const NoteEntry&);
    // Entries parked; read without the table's mutex, so that an after stage with nothing parked
    // (every unmonitored notification) needs no lock.
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

}  // namespace kova

#endif  // KOVA_ADDIN_KEYINDEX_H
