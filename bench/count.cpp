// Counts that repeat exactly where times do not: runs each case a fixed number of times between
// two callgrind client requests (zero the counters, then dump them under the case's name), so that
// a callgrind run that collects only inside the add-in yields its instructions per case. Built a
// second time with the counting allocator (KOVA_COUNT_ALLOCATIONS), it prints the heap
// allocations the add-in's own code made in each case instead. Cases: the unmonitored
// notification pair with 1, 10, 100 and 1,000 trigger profiles, the monitored update with 1 and 4
// connectors, and the bulk delete of 1,000 and 100,000 monitored notes. Last, not a count of
// instructions: the full re-reads and the Event documents of 200 notifications after a profile
// edit, while another profile document never opens.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/benchhost.h"
#if defined(KOVA_COUNT_ALLOCATIONS)
#include "bench/countalloc.h"
#endif

namespace kovabench {
namespace {

constexpr int kWarmUpPairs = 20;
constexpr int kCountedPairs = 200;

// Counts `work` (which reports `units` of `unit`, and a status) between the two client requests.
template <typename Work>
void Measure(const std::string& name, const char* unit, long units, Work&& work) {
    ClearEvents();
#if defined(KOVA_COUNT_ALLOCATIONS)
    uintptr_t begin = 0;
    uintptr_t end = 0;
    AddinCodeRange(&begin, &end);
    StartCountingAllocations(begin, end);
#endif
    CALLGRIND_ZERO_STATS;
    const STATUS failed = work();
    CALLGRIND_DUMP_STATS_AT(name.c_str());
#if defined(KOVA_COUNT_ALLOCATIONS)
    const AllocationCounts counts = AllocationsSinceStart();
    std::printf("%s %s=%ld addin_allocations=%llu all_allocations=%llu\n", name.c_str(), unit,
                units, static_cast<unsigned long long>(counts.fromRange),
                static_cast<unsigned long long>(counts.all));
#else
    std::printf("%s %s=%ld\n", name.c_str(), unit, units);
#endif
    ClearEvents();
    if (failed != 0) {
        std::fprintf(stderr, "%s: an operation failed with status %d\n", name.c_str(), failed);
        std::exit(1);
    }
}

// kCountedPairs saves of `document`, after kWarmUpPairs uncounted ones.
void MeasurePairs(const std::string& name, const SavedDocument& document) {
    for (int i = 0; i < kWarmUpPairs; ++i)
        document.Save();
    Measure(name, "pairs", kCountedPairs, [&] {
        STATUS failed = 0;
        for (int i = 0; i < kCountedPairs; ++i) {
            const STATUS status = document.Save();
            if (status != 0)
                failed = status;
        }
        return failed;
    });
}

// One bulk delete of `notes` monitored notes (created before the count starts).
void MeasureBulkDelete(long notes) {
    DeleteBulkNotes(CreateBulkNotes(16));  // warm-up
    const std::vector<NOTEID> ids = CreateBulkNotes(static_cast<std::size_t>(notes));
    Measure("bulk/notes:" + std::to_string(notes), "notes", notes,
            [&] { return DeleteBulkNotes(ids); });
}

// One profile document that never opens, from the edit of another one on: every re-read is
// incomplete and dropped. Counts the full re-reads (QIXSearch calls) over 200 notifications (100
// saves of a document both connectors want) and the Event documents they write.
void CountRereadsWithAFailingProfile() {
    constexpr int kSaves = 100;
    constexpr int kConnectors = 2;
    SetProfiles(ShopTriggers(kConnectors));
    const SavedDocument document(kShopDb);
    Prime(document);
    const std::vector<qixsim::NoteInfo> profiles =
        qixsim::ListDocuments("kovaevents.qix", "EventTriggerConfiguration");
    qixsim::FailNoteOpen("kovaevents.qix", profiles.back().noteId, ERR_QIX_NO_MEMORY, UINT32_MAX);
    OpenFirstProfile().Save();  // the edit: its after stage's re-read cannot open the other one
    ClearEvents();
    const uint64_t searches = qixsim::CallCount("QIXSearch");
    for (int i = 0; i < kSaves; ++i)
        document.Save();
    const uint64_t rereads = qixsim::CallCount("QIXSearch") - searches;
    qixsim::ClearFaults();
    std::printf("failing-profile notifications=%d rereads=%llu events=%zu wanted=%d\n", 2 * kSaves,
                static_cast<unsigned long long>(rereads), EventCount(), kSaves * kConnectors);
    ClearEvents();
}

}  // namespace
}  // namespace kovabench

int main() {
    using namespace kovabench;
    std::thread([] {}).join();  // leave the runtime's single-threaded fast path, as a server has
    StartServerAndAddin();
    for (int profiles : {1, 10, 100, 1000}) {
        SetProfiles(UnrelatedTriggers(profiles));
        const SavedDocument document(kUnmonitoredDb);
        MeasurePairs("unmonitored/profiles:" + std::to_string(profiles), document);
    }
    for (int connectors : {1, 4}) {
        SetProfiles(ShopTriggers(connectors));
        const SavedDocument document(kShopDb);
        MeasurePairs("monitored/connectors:" + std::to_string(connectors), document);
    }
    SetProfiles({{"bulk", {"Delete"}, {kBulkDb}}});
    for (long notes : {1000L, 100000L})
        MeasureBulkDelete(notes);
    CountRereadsWithAFailingProfile();
    std::fflush(stdout);
    return 0;
}
