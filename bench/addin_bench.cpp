// Timings of the add-in over the stand-in server: every case runs once with the handlers
// suspended (the stand-in's own cost of the operation) and once with the add-in's handler called
// (the stand-in plus the add-in), one right after the other, so that the two are compared within
// one run. Cases: the unmonitored notification pair by number of trigger profiles, the monitored
// update by number of connectors, the bulk delete by number of notes, the full profile refresh by
// number of Event documents, and saves on one and two threads.
#include <benchmark/benchmark.h>

#include <string>
#include <thread>
#include <vector>

#include "bench/benchhost.h"

namespace kovabench {
namespace {

enum class Mode { StandIn, Addin, ApiFloor };

const char* ModeName(Mode mode) {
    switch (mode) {
        case Mode::StandIn:
            return "standin";
        case Mode::Addin:
            return "addin";
        case Mode::ApiFloor:
            return "apifloor";
    }
    return "?";
}

// Handlers suspended for the stand-in's own cost, called otherwise; resumed when the scope ends.
class HandlersFor {
  public:
    explicit HandlersFor(Mode mode) { qixsim::SuspendHandlers(mode != Mode::Addin); }
    ~HandlersFor() { qixsim::SuspendHandlers(false); }
    HandlersFor(const HandlersFor&) = delete;
    HandlersFor& operator=(const HandlersFor&) = delete;
};

// What "kovaevents.qix" holds now, so that consecutive cases reuse it instead of rebuilding it.
std::string gProfileKey;
long gEventCount = -1;  // Event documents known to be there; -1 = unknown

void UseProfiles(const std::string& key, const std::vector<Trigger>& triggers) {
    if (key == gProfileKey)
        return;
    SetProfiles(triggers);  // also removes every Event document
    gProfileKey = key;
    gEventCount = 0;
}

void UseEventCount(long count) {
    if (gEventCount == count)
        return;
    ClearEvents();
    AddEvents(static_cast<std::size_t>(count));
    gEventCount = count;
}

// Clears the Event documents the add-in wrote, outside the timing.
void ClearWrittenEvents() {
    ClearEvents();
    gEventCount = 0;
}

bool Saved(benchmark::State& state, STATUS status) {
    if (status == 0)
        return true;
    state.SkipWithError(("a save failed with status " + std::to_string(status)).c_str());
    return false;
}

// ---- Single-thread cases ------------------------------------------------------------------

void UnmonitoredPair(benchmark::State& state, Mode mode, int profiles) {
    UseProfiles("unrelated:" + std::to_string(profiles), UnrelatedTriggers(profiles));
    const SavedDocument document(kUnmonitoredDb);
    Prime(document);
    HandlersFor handlers(mode);
    for (auto _ : state) {
        if (!Saved(state, document.Save()))
            break;
    }
    state.counters["profiles"] = profiles;
}

void MonitoredUpdate(benchmark::State& state, Mode mode, int connectors) {
    UseProfiles("shop:" + std::to_string(connectors), ShopTriggers(connectors));
    const SavedDocument document(kShopDb);
    Prime(document);
    ClearWrittenEvents();
    HandlersFor handlers(mode);
    long saves = 0;
    for (auto _ : state) {
        if (!Saved(state, document.Save()))
            break;
        if (++saves % 1024 == 0) {
            state.PauseTiming();
            ClearWrittenEvents();
            state.ResumeTiming();
        }
    }
    ClearWrittenEvents();
    state.counters["connectors"] = connectors;
}

void BulkDelete(benchmark::State& state, Mode mode, long notes) {
    UseProfiles("bulk", {{"bulk", {"Delete"}, {kBulkDb}}});
    ClearWrittenEvents();
    DeleteBulkNotes(CreateBulkNotes(16));  // the profile read happens here, not in the timing
    ClearWrittenEvents();
    HandlersFor handlers(mode);
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<NOTEID> ids = CreateBulkNotes(static_cast<std::size_t>(notes));
        state.ResumeTiming();
        const STATUS status = DeleteBulkNotes(ids);
        state.PauseTiming();
        ClearWrittenEvents();
        state.ResumeTiming();
        if (!Saved(state, status))
            break;
    }
    state.counters["notes"] = static_cast<double>(notes);
}

void ProfileRefresh(benchmark::State& state, Mode mode, long events) {
    UseProfiles("refresh", {{"refresh", {"Update"}, {kShopDb}}});
    UseEventCount(events);
    const SavedDocument profile = OpenFirstProfile();
    Prime(profile, 2);
    HandlersFor handlers(mode);
    for (auto _ : state) {
        const STATUS status = mode == Mode::ApiFloor ? SearchAllDocuments() : profile.Save();
        if (!Saved(state, status))
            break;
    }
    state.counters["events"] = static_cast<double>(events);
}

// ---- Saves on one and two threads -----------------------------------------------------------

// Thread i saves a document of its own: unmonitored in PlainDb(i), monitored in WatchedDb(i).
// Each thread creates and opens its document itself, as a server thread would, so that what it
// writes on every save lies in memory of its own (documents made by one set-up thread lie side
// by side and make two saving threads write the same cache lines). The profiles and the handler
// mode are set up before the threads start.
void SetUpSaves(const benchmark::State& state) {
    const bool monitored = state.range(0) != 0;
    const Mode mode = state.range(1) != 0 ? Mode::Addin : Mode::StandIn;
    UseProfiles("saves", {{"saves", {"Update"}, {WatchedDb(0), WatchedDb(1)}}});
    ClearWrittenEvents();
    Prime(SavedDocument(monitored ? WatchedDb(0) : PlainDb(0)));  // reads the profiles now
    ClearWrittenEvents();
    qixsim::SuspendHandlers(mode != Mode::Addin);
}

void TearDownSaves(const benchmark::State&) {
    qixsim::SuspendHandlers(false);
    ClearWrittenEvents();
}

void Saves(benchmark::State& state) {
    const bool monitored = state.range(0) != 0;
    const int thread = state.thread_index();
    const SavedDocument document(monitored ? WatchedDb(thread) : PlainDb(thread));
    Prime(document);
    for (auto _ : state) {
        if (!Saved(state, document.Save()))
            break;
    }
    state.SetItemsProcessed(state.iterations());
}

// ---- Registration -----------------------------------------------------------------------------

void RegisterAll() {
    // The thread cases first, before the cases that allocate and free hundreds of megabytes;
    // five repetitions each, since two threads on a shared machine vary the most.
    for (int monitored : {0, 1}) {
        for (int addin : {0, 1}) {
            benchmark::RegisterBenchmark("Saves", Saves)
                ->ArgNames({"monitored", "addin"})
                ->Args({monitored, addin})
                ->Setup(SetUpSaves)
                ->Teardown(TearDownSaves)
                ->Threads(1)
                ->Threads(2)
                ->Repetitions(5)
                ->UseRealTime()
                ->Unit(benchmark::kMicrosecond);
        }
    }
    for (int profiles : {1, 10, 100, 1000}) {
        for (Mode mode : {Mode::StandIn, Mode::Addin}) {
            const std::string name = std::string("UnmonitoredPair/") + ModeName(mode) +
                                     "/profiles:" + std::to_string(profiles);
            benchmark::RegisterBenchmark(name.c_str(), UnmonitoredPair, mode, profiles)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    for (int connectors : {1, 4}) {
        for (Mode mode : {Mode::StandIn, Mode::Addin}) {
            const std::string name = std::string("MonitoredUpdate/") + ModeName(mode) +
                                     "/connectors:" + std::to_string(connectors);
            benchmark::RegisterBenchmark(name.c_str(), MonitoredUpdate, mode, connectors)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    for (long notes : {1000L, 10000L, 100000L}) {
        for (Mode mode : {Mode::StandIn, Mode::Addin}) {
            const std::string name =
                std::string("BulkDelete/") + ModeName(mode) + "/notes:" + std::to_string(notes);
            // Longer than the others: at 100,000 notes a run holds only a few deletes.
            benchmark::RegisterBenchmark(name.c_str(), BulkDelete, mode, notes)
                ->MinTime(1.5)
                ->Unit(benchmark::kMillisecond);
        }
    }
    for (long events : {0L, 10000L, 100000L}) {
        for (Mode mode : {Mode::StandIn, Mode::Addin, Mode::ApiFloor}) {
            const std::string name = std::string("ProfileRefresh/") + ModeName(mode) +
                                     "/events:" + std::to_string(events);
            benchmark::RegisterBenchmark(name.c_str(), ProfileRefresh, mode, events)
                ->Unit(benchmark::kMicrosecond);
        }
    }
}

}  // namespace
}  // namespace kovabench

int main(int argc, char** argv) {
    // The C++ runtime skips atomic operations until the process starts its first thread; start
    // one now, so that the one-thread figures pay what every multi-threaded server pays.
    std::thread([] {}).join();
    kovabench::StartServerAndAddin();
    kovabench::RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
