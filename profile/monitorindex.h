// The index of a configuration's monitored entries by database path, built once when the
// configuration is published, so that the monitoring filter finds the entries that can match a
// change without walking every trigger profile. It answers exactly what the walk would: for a
// path, the entries whose path part equals it, in the order the walk meets them (trigger chain
// newest first, each record's entries in order). Immutable once built; it points into the
// records of the configuration that owns it and lives as long as they do.
#ifndef KOVA_PROFILE_MONITORINDEX_H
#define KOVA_PROFILE_MONITORINDEX_H

#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/allocator.h"
#include "profile/records.h"

namespace kova {

class MonitorIndex {
  public:
    // One monitored entry whose path part is the looked-up path.
    struct Candidate {
        const TriggerProfile* trigger;  // its record; null for an entry of the deprecated profile
        const char* formPart;           // the text after the entry's first colon; null when none
    };
    // The candidates of one path, in walk order.
    struct Candidates {
        const Candidate* first;
        const Candidate* last;
        const Candidate* begin() const noexcept { return first; }
        const Candidate* end() const noexcept { return last; }
    };

    // Indexes the entries of the trigger chain from `chain` or, when the chain is empty, the whole
    // entries of the deprecated profile (never split at a colon). A trigger entry's path part is
    // the text before its first colon. False when memory ran out (an ERROR line says so): the
    // index is then not valid.
    bool Build(const TriggerProfile* chain, const ConfigurationProfile& deprecated) noexcept;
    bool valid() const noexcept { return valid_; }

    // The candidates for `path` (NUL-terminated); empty when there are none.
    Candidates Find(const char* path) const noexcept;

  private:
    struct Range {
        size_t first;
        size_t count;
    };
    std::vector<Candidate, MallocAllocator<Candidate>> candidates_;  // by path part, walk order
    std::unordered_map<std::string_view, Range, std::hash<std::string_view>,
                       std::equal_to<std::string_view>,
                       MallocAllocator<std::pair<const std::string_view, Range>>>
        byPath_;
    bool valid_ = false;
};

}  // namespace kova

#endif  // KOVA_PROFILE_MONITORINDEX_H
