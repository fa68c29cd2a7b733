// Builds and searches the monitored-entry index: the entries grouped by path part, each group a
// range of one array, found through a hash map keyed by the path part. Building allocates; a
// look-up allocates nothing and costs one hash of the path and, on a hit, one comparison.
#include "profile/monitorindex.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "log/logline.h"

namespace kova {
namespace {

// One entry on its way into the index, with the key it is filed under and its place in the walk.
struct Filed {
    std::string_view key;
    size_t order;
    MonitorIndex::Candidate candidate;
};
using FiledEntries = std::vector<Filed, MallocAllocator<Filed>>;

// Every entry a walk would meet, in its order.
FiledEntries FileEntries(const TriggerProfile* chain, const ConfigurationProfile& deprecated) {
    FiledEntries filed;
    if (chain != nullptr) {
        for (const TriggerProfile* profile = chain; profile != nullptr; profile = profile->next) {
            FindMonitoredEntry(profile->monitored, profile->monitoredNum, [&](const char* entry) {
                const char* colon = std::strchr(entry, ':');
                const size_t length =
                    colon != nullptr ? static_cast<size_t>(colon - entry) : std::strlen(entry);
                filed.push_back({{entry, length},
                                 filed.size(),
                                 {profile, colon != nullptr ? colon + 1 : nullptr}});
                return false;
            });
        }
    } else {
        FindMonitoredEntry(deprecated.monitored, deprecated.monitoredNum, [&](const char* entry) {
            filed.push_back({entry, filed.size(), {nullptr, nullptr}});
            return false;
        });
    }
    return filed;
}

}  // namespace

bool MonitorIndex::Build(const TriggerProfile* chain,
                         const ConfigurationProfile& deprecated) noexcept {
    valid_ = false;
    try {
        candidates_.clear();
        byPath_.clear();
        FiledEntries filed = FileEntries(chain, deprecated);
        // Equal keys side by side, each group still in walk order (a sort that needs no buffer).
        std::sort(filed.begin(), filed.end(), [](const Filed& a, const Filed& b) {
            return a.key != b.key ? a.key < b.key : a.order < b.order;
        });
        candidates_.reserve(filed.size());
        byPath_.reserve(filed.size());
        for (const Filed& entry : filed) {
            if (candidates_.empty() || entry.key != filed[candidates_.size() - 1].key)
                byPath_.emplace(entry.key, Range{candidates_.size(), 0});
            ++byPath_[entry.key].count;
            candidates_.push_back(entry.candidate);
        }
    } catch (...) {
        candidates_.clear();
        byPath_.clear();
        LogLine(kLogError, "Out of memory: monitored entries not indexed.\n");
        return false;
    }
    valid_ = true;
    return true;
}

MonitorIndex::Candidates MonitorIndex::Find(const char* path) const noexcept {
    if (!valid_ || path == nullptr)
        return {nullptr, nullptr};
    const auto found = byPath_.find(std::string_view(path));
    if (found == byPath_.end())
        return {nullptr, nullptr};
    const Candidate* first = candidates_.data() + found->second.first;
    return {first, first + found->second.count};
}

}  // namespace kova
