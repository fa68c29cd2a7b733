// Builds and searches the monitored-entry index: the entries grouped by path part in a hash table
// with linear probing. Building allocates; a look-up allocates nothing and costs one pass over the
// path and, on a hit, one comparison per colliding key.
#include "profile/monitorindex.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "log/logline.h"

namespace kova {
namespace {

// A hash of the key's bytes, eight at a time (the last eight overlapping the word before them):
// the look-up runs on every notification below DEBUG, and paths are short.
uint64_t HashKey(const char* key, size_t length) noexcept {
    constexpr uint64_t kMultiplier = 0xff51afd7ed558ccdull;
    uint64_t hash = 0x9E3779B97F4A7C15ull ^ length;
    auto mix = [&hash](uint64_t word) {
        hash = (hash ^ word) * kMultiplier;
        hash ^= hash >> 32;
    };
    if (length < sizeof(uint64_t)) {
        uint64_t word = 0;
        for (size_t i = 0; i < length; ++i)
            word |= uint64_t{static_cast<unsigned char>(key[i])} << (8 * i);
        mix(word);
        return hash;
    }
    uint64_t word;
    for (size_t at = 0; at + sizeof word < length; at += sizeof word) {
        std::memcpy(&word, key + at, sizeof word);
        mix(word);
    }
    std::memcpy(&word, key + length - sizeof word, sizeof word);
    mix(word);
    return hash;
}

// One entry on its way into the index, with the key it is filed under and its place in the walk.
struct Filed {
    const char* key;
    uint32_t keyLength;
    uint64_t hash;
    uint32_t order;
    MonitorIndex::Candidate candidate;
};

bool SameKey(const Filed& a, const Filed& b) noexcept {
    return a.hash == b.hash && a.keyLength == b.keyLength &&
           std::memcmp(a.key, b.key, a.keyLength) == 0;
}

size_t CountEntries(const TriggerProfile* chain, const ConfigurationProfile& deprecated) noexcept {
    size_t count = 0;
    if (chain != nullptr) {
        for (const TriggerProfile* profile = chain; profile != nullptr; profile = profile->next) {
            if (profile->monitored != nullptr && profile->monitoredNum > 0)
                count += static_cast<size_t>(profile->monitoredNum);
        }
    } else if (deprecated.monitored != nullptr && deprecated.monitoredNum > 0) {
        count = static_cast<size_t>(deprecated.monitoredNum);
    }
    return count;
}

// Files every entry a walk would meet, in its order; answers how many.
size_t FileEntries(const TriggerProfile* chain, const ConfigurationProfile& deprecated,
                   Filed* filed) noexcept {
    size_t count = 0;
    auto file = [&](const char* entry, size_t length, MonitorIndex::Candidate candidate) {
        filed[count] = Filed{entry, static_cast<uint32_t>(length), HashKey(entry, length),
                             static_cast<uint32_t>(count), candidate};
        ++count;
    };
    if (chain != nullptr) {
        for (const TriggerProfile* profile = chain; profile != nullptr; profile = profile->next) {
            FindMonitoredEntry(profile->monitored, profile->monitoredNum, [&](const char* entry) {
                const char* colon = std::strchr(entry, ':');
                file(entry,
                     colon != nullptr ? static_cast<size_t>(colon - entry) : std::strlen(entry),
                     {profile, colon != nullptr ? colon + 1 : nullptr});
                return false;
            });
        }
    } else {
        FindMonitoredEntry(deprecated.monitored, deprecated.monitoredNum, [&](const char* entry) {
            file(entry, std::strlen(entry), {nullptr, nullptr});
            return false;
        });
    }
    return count;
}

}  // namespace

bool MonitorIndex::Build(const TriggerProfile* chain,
                         const ConfigurationProfile& deprecated) noexcept {
    valid_ = false;
    candidates_.reset();
    slots_.reset();
    slotCount_ = 0;

    const size_t capacity = CountEntries(chain, deprecated);
    std::unique_ptr<Filed[]> filed(new (std::nothrow) Filed[capacity > 0 ? capacity : 1]);
    if (filed == nullptr) {
        LogLine(kLogError, "Out of memory: monitored entries not indexed.\n");
        return false;
    }
    const size_t count = FileEntries(chain, deprecated, filed.get());
    // Equal keys side by side, each group still in walk order.
    std::sort(filed.get(), filed.get() + count, [](const Filed& a, const Filed& b) {
        if (a.hash != b.hash)
            return a.hash < b.hash;
        if (a.keyLength != b.keyLength)
            return a.keyLength < b.keyLength;
        const int byKey = std::memcmp(a.key, b.key, a.keyLength);
        return byKey != 0 ? byKey < 0 : a.order < b.order;
    });

    size_t keys = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i == 0 || !SameKey(filed[i - 1], filed[i]))
            ++keys;
    }
    size_t slotCount = 8;
    while (slotCount < keys * 2)
        slotCount *= 2;
    std::unique_ptr<Slot[]> slots(new (std::nothrow) Slot[slotCount]);
    std::unique_ptr<Candidate[]> candidates(new (std::nothrow) Candidate[count > 0 ? count : 1]);
    if (slots == nullptr || candidates == nullptr) {
        LogLine(kLogError, "Out of memory: monitored entries not indexed.\n");
        return false;
    }

    size_t stored = 0;
    for (size_t i = 0; i < count;) {
        size_t end = i + 1;
        while (end < count && SameKey(filed[i], filed[end]))
            ++end;
        size_t at = static_cast<size_t>(filed[i].hash) & (slotCount - 1);
        while (slots[at].key != nullptr)
            at = (at + 1) & (slotCount - 1);
        slots[at] = Slot{filed[i].key, filed[i].keyLength, static_cast<uint32_t>(stored),
                         static_cast<uint32_t>(end - i)};
        for (; i < end; ++i)
            candidates[stored++] = filed[i].candidate;
    }
    slots_ = std::move(slots);
    candidates_ = std::move(candidates);
    slotCount_ = slotCount;
    valid_ = true;
    return true;
}

const MonitorIndex::Candidate* MonitorIndex::Find(const char* path, size_t* count) const noexcept {
    *count = 0;
    if (!valid_ || path == nullptr)
        return nullptr;
    const size_t length = std::strlen(path);
    const size_t mask = slotCount_ - 1;
    for (size_t at = static_cast<size_t>(HashKey(path, length)) & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.key == nullptr)
            return nullptr;
        if (slot.keyLength == length && std::memcmp(slot.key, path, length) == 0) {
            *count = slot.count;
            return &candidates_[slot.first];
        }
    }
}

}  // namespace kova
