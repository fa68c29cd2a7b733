// The index of a configuration's monitored entries by database path, built once when the
// configuration is published, so that the monitoring filter finds the entries that can match a
// change without walking every trigger profile. It answers exactly what the walk would: for a
// path, the entries whose path part equals it, in the order the walk meets them (trigger chain
// newest first, each record's entries in order). Immutable once built; it points into the
// records of the configuration that owns it and lives as long as they do.
#ifndef KOVA_PROFILE_MONITORINDEX_H
#define KOVA_PROFILE_MONITORINDEX_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "profile/records.h"

namespace kova {

class MonitorIndex {
  public:
    // One monitored entry whose path part is the looked-up path.
    struct Candidate {
        const TriggerProfile* trigger;  // its record; null for an entry of the deprecated profile
        const char* formPart;           // the text after the entry's first colon; null when none
    };

    MonitorIndex() = default;
    MonitorIndex(const MonitorIndex&) = delete;
    MonitorIndex& operator=(const MonitorIndex&) = delete;

    // Indexes the entries of the trigger chain from `chain` or, when the chain is empty, the whole
    // entries of the deprecated profile (never split at a colon). A trigger entry's path part is
    // the text before its first colon. False when memory ran out (an ERROR line says so): the
    // index is then not valid. Allocates with the non-throwing new only.
    bool Build(const TriggerProfile* chain, const ConfigurationProfile& deprecated) noexcept;
    bool valid() const noexcept { return valid_; }

    // The candidates for `path` (NUL-terminated), in walk order; *count 0 when there are none.
    const Candidate* Find(const char* path, size_t* count) const noexcept;

  private:
    struct Slot {
        const char* key = nullptr;  // null: an empty slot
        uint32_t keyLength = 0;
        uint32_t first = 0;  // the key's candidates: candidates_[first, first + count)
        uint32_t count = 0;
    };

    std::unique_ptr<Candidate[]> candidates_;
    std::unique_ptr<Slot[]> slots_;  // open addressing, a power of two in size
    size_t slotCount_ = 0;
    bool valid_ = false;
};

}  // namespace kova

#endif  // KOVA_PROFILE_MONITORINDEX_H
