// The fault loops: a table of fault kinds (a server API call failing with a status, once or from
// then on; the add-in's k-th heap allocation failing) crossed with the scenarios. For each pair,
// count the add-in's points of failure K in a clean run (its server API calls, or its
// allocations), then rerun the scenario with point k failing, for k = 1..K. Every run must give
// the host the return rule's status, raise no exception, leave no handle, parked note or heap
// block behind, show the failure (a failed call: the line its call site names; a failed
// allocation: an ERROR line, and a line naming every event it lost), and the add-in must recover:
// the same operation without faults writes exactly its normal events and leaves the normal
// configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "hostapi/qixapi.h"
#include "hostsim/host.h"
#include "tests/faults/scenarios.h"
#include "tests/support/heapfaults.h"

namespace faultloop {
namespace {

// A status with bits above 0x3fff, so that the masking of returned statuses is exercised.
constexpr STATUS kFault = ERR_QIX_INVALID_HANDLE;
constexpr char kFaultText[] = "16644";

// The kinds of fault, each failing the k-th of the points it counts.
struct FaultKind {
    const char* name;    // its part of the test names
    const char* points;  // what it counts
    bool serverCall;     // a server API call fails with kFault; otherwise an allocation fails
    bool sticky;         // the call and every call after it fail
};
const FaultKind kFaultKinds[] = {
    {"ServerCallFailingOnce", "server API calls", true, false},
    {"ServerCallFailingFromThenOn", "server API calls", true, true},
    {"AllocationFailing", "heap allocations", false, false},
};
// The operation a failed allocation is summed up under.
constexpr char kAllocation[] = "heap allocation";

// A failing close leaves its handle open in the server: those are the server's, not the add-in's.
const std::set<std::string> kCloses = {"QIXDbClose", "QIXNoteClose", "TAVCloseCollection",
                                       "OSMemFree", "IDDestroyTable"};
// Reads whose failure value is an ordinary answer (an empty item, no entries, no id): the add-in
// cannot tell them from the document's content and keeps what it read until the profile
// documents change again.
const std::set<std::string> kSilentReads = {"QIXItemGetText", "QIXItemGetTextListEntries",
                                            "QIXItemGetTextListEntry", "QIXNoteGetInfo",
                                            "OSLockObject"};
// The item messages of the event table writer, in the order the items are set.
const char* const kItemMessages[] = {"Error updateing Event ID",      "Error updateing Event Type",
                                     "Error updateing Database Path", "Error updateing Form",
                                     "Error updateing UNID",          "Error updateing NoteID",
                                     "Error updateing Status",        "Error updateing Event Time",
                                     "Error updateing Connector ID",  "Error updateing Form"};

// What a failure at one call site must show: a text on the console (empty: the site is silent),
// and whether the entry point's result is then the masked status of the profile database.
struct Site {
    Site(std::string text = {}, std::string alsoInText = {}, bool masked = false)
        : line(std::move(text)), alsoInLine(std::move(alsoInText)), maskedResult(masked) {}
    std::string line;
    std::string alsoInLine;  // a second part of the same line (after a variable note id)
    bool maskedResult;
    std::string naming;  // a further line naming the Event document the failure concerns
};

// An Event document stored without some of its items is named by its change and connector.
const std::string kStoredIncomplete =
    "KOVA:ERROR:Event document stored without some items: NoteID: ";

Site Naming(Site site) {
    site.naming = kStoredIncomplete;
    return site;
}

bool ProfileSession(const std::vector<std::string>& ops, size_t open) {
    return open + 1 < ops.size() && ops[open + 1] == "TAVFindDesignNoteExt";
}

// The index of the last `op` before `i`, or ops.size().
size_t LastBefore(const std::vector<std::string>& ops, size_t i, const char* op) {
    for (size_t j = i; j-- > 0;) {
        if (ops[j] == op)
            return j;
    }
    return ops.size();
}

// Inside the profile search: after QIXSearch and before the formula is freed or the database
// closed (the search callback calls neither).
bool InSearch(const std::vector<std::string>& ops, size_t i) {
    const size_t search = LastBefore(ops, i, "QIXSearch");
    if (search == ops.size())
        return false;
    for (size_t j = search + 1; j < i; ++j) {
        if (ops[j] == "OSMemFree" || ops[j] == "QIXDbClose")
            return false;
    }
    return true;
}

std::string Error(const std::string& message) {
    return "KOVA:ERROR:" + message;
}

// Which call site call i of the clean sequence `ops` is, told by the calls around it.
Site Classify(const std::vector<std::string>& ops, size_t i) {
    const std::string& op = ops[i];
    const std::string status = kFaultText;
    if (op == "EMCreateRecursionID")
        return {"EMCreateRecursionID Failed\n"};
    if (op == "EMRegister")
        return {"EMRegister Failed\n"};
    if (op == "EMDeregister")
        return {"EMDregister Failed\n"};
    if (op == "QIXDbOpen") {
        if (ProfileSession(ops, i))
            return {
                Error("Error opening profile database: kovaevents.qix Error#: " + status + "\n"),
                "", true};
        return {Error("Error opening event table database: kovaevents.qix\n")};
    }
    if (op == "QIXDbClose") {
        const size_t open = LastBefore(ops, i, "QIXDbOpen");
        if (open < ops.size() && ProfileSession(ops, open))
            return {
                Error("Error closing profile database: kovaevents.qix Error#: " + status + "\n"),
                "", true};
        return {};
    }
    if (op == "QIXDbPathGet") {
        const size_t open = LastBefore(ops, i, "QIXDbOpen");
        const size_t close = LastBefore(ops, i, "QIXDbClose");
        const bool inWriter = open < ops.size() && !ProfileSession(ops, open) &&
                              (close == ops.size() || close < open);
        if (inWriter)
            return Naming(Site(Error("Error retrieving database path.\n")));
        return Site("KOVA:DEBUG:Error retrieving Database name.\n");
    }
    if (op == "QIXNoteOpen") {
        if (i > 0 && ops[i - 1] == "TAVFindDesignNote")
            return {};  // the form title of the monitoring filter: silent
        if (InSearch(ops, i))
            return {Error("Error opening profile document. NoteID: "), ", Error#: " + status};
        return {Error("Error opening Note. Error# " + status + "\n")};
    }
    if (op == "QIXNoteClose") {
        if (InSearch(ops, i))
            return {Error("Error closing profile document. NoteID: "), ", Error#: " + status};
        return {};
    }
    if (op == "QIXFormulaCompile")
        return {Error("Error compiling search formula. Error#: " + status + "\n")};
    if (op == "QIXSearch")
        return {Error("Error searching profile database: kovaevents.qix Error#: " + status + "\n")};
    if (op == "TAVFindDesignNoteExt")
        return {Error("Error TAVFindView. Error# " + status + "\n")};
    if (op == "TAVOpenCollection")
        return {Error("Error TAVOpenCollection. Error# " + status + "\n")};
    if (op == "TAVReadEntries")
        return {Error("Error TAVReadEntries. Error# " + status + "\n")};
    if (op == "QIXItemSetText" || op == "QIXItemSetNumber" || op == "QIXItemSetTime") {
        size_t item = 0;
        for (size_t j = LastBefore(ops, i, "QIXNoteCreate") + 1; j < i; ++j) {
            if (ops[j].rfind("QIXItemSet", 0) == 0)
                ++item;
        }
        if (item < std::size(kItemMessages))
            return Naming(Site(Error(kItemMessages[item])));
        return {};
    }
    return {};
}

bool ShowsLine(const std::string& console, const Site& site) {
    size_t at = 0;
    while ((at = console.find(site.line, at)) != std::string::npos) {
        const size_t end = console.find('\n', at);
        const std::string rest = console.substr(at, end == std::string::npos ? end : end - at);
        if (site.alsoInLine.empty() || rest.find(site.alsoInLine) != std::string::npos)
            return true;
        ++at;
    }
    return false;
}

struct Baseline {
    StepResult step;
    std::string fingerprint;
    size_t registrations = 0;
    uint64_t points = 0;  // the points of failure of the clean run
};

// The events of the clean run that a run with a failed allocation did not write, each of which
// must be named by an ERROR line with its type and connector, unless the run kept the
// configuration in force (a re-read that could not finish owes the connectors it would have
// added nothing); and any event the clean run did not write, which a failure never excuses.
std::vector<std::string> Unnamed(const StepResult& step, const Baseline& base) {
    std::vector<std::string> unnamed;
    if (step.console.find("Profile re-read incomplete") != std::string::npos)
        return unnamed;
    std::vector<EventKey> written = step.events;
    for (const EventKey& event : base.step.events) {
        auto found = std::find(written.begin(), written.end(), event);
        if (found != written.end()) {
            written.erase(found);
            continue;
        }
        bool named = false;
        for (const char* line :
             {"KOVA:ERROR:Event not captured: ", "KOVA:ERROR:Event document not written: "}) {
            for (size_t at = step.console.find(line); at != std::string::npos && !named;
                 at = step.console.find(line, at + 1)) {
                const std::string text = step.console.substr(at, step.console.find('\n', at) - at);
                named = text.find("EventType: " + event.type + ",") != std::string::npos &&
                        text.find("ConnectorId: " + event.connector) != std::string::npos;
            }
        }
        if (!named)
            unnamed.push_back(event.type + " for " + event.connector);
    }
    for (const EventKey& extra : written)
        unnamed.push_back("an extra " + extra.type + " of " + extra.form + " for " +
                          extra.connector);
    return unnamed;
}

struct Summary {
    uint64_t runs = 0, lineShown = 0, silent = 0, recovered = 0, afterEdit = 0;
};

// One faulted run as the loop records it, checked once the whole clean sequence is known.
struct FaultedRun {
    StepResult step;
    std::string op;  // the failed server API call, or kAllocation
};

class LoopRunner {
  public:
    LoopRunner(const FaultKind& kind, ScenarioId id) : kind_(kind), world_(id) {}

    Baseline Clean() {
        world_.Build();
        ResetHandlerChecks();
        qixsim::ResetCallCounts();
        heapfaults::Arm(0);
        Baseline base;
        base.step = world_.Step();
        if (kind_.serverCall) {
            for (const auto& [op, n] : qixsim::CallCounts()) {
                if (op != "OSCurrentTIMEDATE")  // counted, but it cannot fail
                    base.points += n;
            }
        } else {
            base.points = heapfaults::Get().allocations;
        }
        base.fingerprint = ConfigurationFingerprint();
        base.registrations = qixsim::RegistrationCount();
        EXPECT_TRUE(NoteTablesEmpty());
        const StepResult again = world_.Repeat();
        EXPECT_EQ(ToString(again.events), ToString(base.step.events)) << "repeat without faults";
        world_.Unload();
        EXPECT_EQ(heapfaults::Get().live, 0);
        return base;
    }

    // Runs the scenario with point k failing; false when the run has no point k (k > K).
    bool Faulted(uint64_t k, const Baseline& base, FaultedRun* run) {
        world_.Build();
        ResetHandlerChecks();
        const size_t handles = qixsim::OpenHandleCount();
        if (kind_.serverCall) {
            qixsim::FailNthCall(k, kFault, kind_.sticky);
        } else {
            heapfaults::Arm(k);
        }
        run->step = world_.Step();
        std::vector<std::string> injected;
        if (kind_.serverCall) {
            injected = qixsim::FaultsInjected();
            qixsim::ClearFaults();
        } else {
            heapfaults::Disarm();
            const heapfaults::Counts counts = heapfaults::Get();
            EXPECT_LE(counts.failures, 1u);
            if (counts.failures != 0)
                injected.push_back(kAllocation);
            throwing_ += counts.throwingAllocations;
        }
        if (injected.empty()) {
            world_.Unload();
            return false;
        }
        run->op = injected.front();
        SCOPED_TRACE(testing::Message()
                     << kind_.points << ": " << k << " of " << base.points << " (" << run->op
                     << ") failing " << (kind_.sticky ? "from then on" : "once"));

        const HandlerChecks handler = Handler();
        EXPECT_EQ(handler.exceptions, 0u);
        EXPECT_EQ(handler.ruleBroken, 0u) << handler.firstBroken;
        if (!kind_.serverCall) {
            EXPECT_EQ(run->step.status, base.step.status)
                << "the host must get what it gets without";
            const bool logged = run->step.console.find("KOVA:ERROR:") != std::string::npos;
            EXPECT_TRUE(logged) << "a failed allocation is logged:\n" << run->step.console;
            summary_[run->op].lineShown += logged ? 1 : 0;
            EXPECT_EQ(Unnamed(run->step, base), std::vector<std::string>{})
                << "events lost without a line naming them, or written beyond the clean run's:\n"
                << run->step.console;
        } else if (world_.id() != ScenarioId::Startup && world_.id() != ScenarioId::FirstRead &&
                   run->step.hasStatus) {
            EXPECT_EQ(run->step.status, 0) << "the host's operation must go through";
        }
        size_t refusedCloses = 0;
        for (const std::string& op : injected)
            refusedCloses += kCloses.count(op);
        EXPECT_EQ(qixsim::OpenHandleCount(), handles + refusedCloses) << "handles left open";
        // Only an ID table scan that answers "no more ids" early in a bulk delete's after stage
        // strands parked notes (the add-in cannot tell it from the end of the table); they stay
        // parked until unload, which releases them (checked below with the heap).
        const size_t stranded = ParkedEntries();
        if (run->op != "IDScan") {
            EXPECT_EQ(stranded, 0u) << "parked notes left behind";
        }
        // A failed deregistration leaves its row registered; a failed allocation leaves none.
        const size_t leftRegistrations =
            kind_.serverCall ? qixsim::RegistrationCount() : base.registrations;

        // Recovery: the operation again, without faults.
        StepResult again = world_.Repeat();
        bool recovered = Matches(again, base, leftRegistrations, stranded);
        if (!recovered && kSilentReads.count(run->op) != 0) {
            world_.TouchProfiles();
            again = world_.Repeat();
            recovered = Matches(again, base, leftRegistrations, stranded);
            if (recovered)
                ++summary_[run->op].afterEdit;
        } else if (recovered) {
            ++summary_[run->op].recovered;
        }
        EXPECT_TRUE(recovered) << "not recovered: events " << ToString(again.events)
                               << " instead of " << ToString(base.step.events) << "; configuration "
                               << ConfigurationFingerprint() << " instead of " << base.fingerprint;
        EXPECT_EQ(Handler().ruleBroken, 0u) << Handler().firstBroken;

        world_.Unload();
        EXPECT_EQ(heapfaults::Get().live, 0) << "heap blocks of the add-in left behind";
        ++summary_[run->op].runs;
        return true;
    }

    // A failed call's line and the entry point's result, once the site of call i is known.
    void CheckSite(const std::vector<std::string>& ops, size_t i, const FaultedRun& run) {
        SCOPED_TRACE(testing::Message() << "call " << i + 1 << " (" << run.op << ") failing "
                                        << (kind_.sticky ? "from then on" : "once"));
        ASSERT_EQ(run.op, ops[i]);
        const Site site = Classify(ops, i);
        if (site.line.empty()) {
            ++summary_[run.op].silent;
        } else {
            EXPECT_TRUE(ShowsLine(run.step.console, site))
                << "expected \"" << site.line << site.alsoInLine << "\" in:\n"
                << run.step.console;
            EXPECT_TRUE(site.naming.empty() ||
                        run.step.console.find(site.naming) != std::string::npos)
                << "expected \"" << site.naming << "\" in:\n"
                << run.step.console;
            ++summary_[run.op].lineShown;
        }
        if (world_.id() == ScenarioId::Startup || world_.id() == ScenarioId::FirstRead) {
            const STATUS expected = site.maskedResult ? STATUS(kFault & 0x3fff) : STATUS(0);
            EXPECT_EQ(run.step.status, expected);
        }
    }
    const std::map<std::string, Summary>& summary() const { return summary_; }
    // Faulted runs' allocations made through a throwing operator new.
    uint64_t throwing() const { return throwing_; }

  private:
    bool Matches(const StepResult& again, const Baseline& base, size_t leftRegistrations,
                 size_t stranded) {
        const size_t registrations =
            world_.id() == ScenarioId::Unload ? leftRegistrations : base.registrations;
        // An unload releases whatever was still parked.
        const size_t parked = world_.id() == ScenarioId::Unload ? 0 : stranded;
        return again.events == base.step.events && again.status == base.step.status &&
               ConfigurationFingerprint() == base.fingerprint && ParkedEntries() == parked &&
               qixsim::RegistrationCount() == registrations;
    }

    const FaultKind& kind_;
    World world_;
    std::map<std::string, Summary> summary_;
    uint64_t throwing_ = 0;
};

void PrintSummary(const FaultKind& kind, ScenarioId id,
                  const std::map<std::string, Summary>& summary, uint64_t k, double seconds) {
    std::printf("\nFault loop, %s, %s: K = %llu %s, each failing %s, in %.1f s\n", Name(id),
                kind.name, static_cast<unsigned long long>(k), kind.points,
                kind.sticky ? "from then on" : "once", seconds);
    std::printf("%-26s %6s %6s %6s %9s %11s\n", "operation", "runs", "line", "silent", "recovered",
                "after edit");
    Summary total;
    for (const auto& [op, s] : summary) {
        std::printf(
            "%-26s %6llu %6llu %6llu %9llu %11llu\n", op.c_str(),
            static_cast<unsigned long long>(s.runs), static_cast<unsigned long long>(s.lineShown),
            static_cast<unsigned long long>(s.silent), static_cast<unsigned long long>(s.recovered),
            static_cast<unsigned long long>(s.afterEdit));
        total.runs += s.runs;
        total.lineShown += s.lineShown;
        total.silent += s.silent;
        total.recovered += s.recovered;
        total.afterEdit += s.afterEdit;
    }
    std::printf("%-26s %6llu %6llu %6llu %9llu %11llu\n", "total",
                static_cast<unsigned long long>(total.runs),
                static_cast<unsigned long long>(total.lineShown),
                static_cast<unsigned long long>(total.silent),
                static_cast<unsigned long long>(total.recovered),
                static_cast<unsigned long long>(total.afterEdit));
    std::printf(
        "crashes 0, exceptions 0, handles and heap blocks left behind 0 (checked on every "
        "run)\n");
    std::fflush(stdout);
}

class FaultLoop : public ::testing::TestWithParam<std::tuple<size_t, ScenarioId>> {};

TEST_P(FaultLoop, EveryFaultEndsCleanly) {
    ASSERT_TRUE(heapfaults::Available());
    const FaultKind& kind = kFaultKinds[std::get<0>(GetParam())];
    const ScenarioId id = std::get<1>(GetParam());
    const auto started = std::chrono::steady_clock::now();
    LoopRunner runner(kind, id);
    const Baseline base = runner.Clean();
    if (kind.serverCall) {
        ASSERT_GT(base.points, 0u);  // an operation the host hands the add-in calls the server
    }

    std::vector<FaultedRun> runs;
    for (uint64_t k = 1;; ++k) {
        FaultedRun run;
        if (!runner.Faulted(k, base, &run))
            break;
        runs.push_back(run);
        ASSERT_LE(k, base.points) << "more " << kind.points << " than the clean run made";
    }
    // Every point of the clean run was reached and failed.
    ASSERT_EQ(runs.size(), base.points);
    if (kind.serverCall) {
        std::vector<std::string> ops;
        for (const FaultedRun& run : runs)
            ops.push_back(run.op);
        for (size_t j = 0; j < runs.size(); ++j)
            runner.CheckSite(ops, j, runs[j]);
    } else {
        // Every allocation of the add-in goes through malloc or a nothrow new and is checked.
        EXPECT_EQ(runner.throwing(), 0u);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    PrintSummary(kind, id, runner.summary(), base.points, seconds);
}

std::string LoopName(const testing::TestParamInfo<std::tuple<size_t, ScenarioId>>& info) {
    return TestName(std::get<1>(info.param)) + "_" + kFaultKinds[std::get<0>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultLoop,
                         testing::Combine(testing::Range<size_t>(0, std::size(kFaultKinds)),
                                          testing::ValuesIn(AllScenarios())),
                         LoopName);

// Together the scenarios reach every server API operation the add-in calls, and no other.
TEST(FaultCoverage, TheScenariosReachEveryOperationTheAddinCalls) {
    std::map<std::string, std::map<std::string, uint64_t>> byScenario;
    std::set<std::string> reached;
    for (ScenarioId id : AllScenarios()) {
        World world(id);
        world.Build();
        qixsim::ResetCallCounts();
        world.Step();
        for (const auto& [op, n] : qixsim::CallCounts()) {
            if (op == "OSCurrentTIMEDATE")
                continue;
            byScenario[op][Name(id)] = n;
            reached.insert(op);
        }
        world.Unload();
    }
    std::printf("\nServer API calls per operation and scenario (clean runs):\n");
    for (const auto& [op, counts] : byScenario) {
        std::printf("%-26s", op.c_str());
        for (const auto& [scenario, n] : counts)
            std::printf(" %s:%llu", scenario.c_str(), static_cast<unsigned long long>(n));
        std::printf("\n");
    }
    const std::set<std::string> expected(AddinOperations().begin(), AddinOperations().end());
    EXPECT_EQ(reached, expected);
}

}  // namespace
}  // namespace faultloop
