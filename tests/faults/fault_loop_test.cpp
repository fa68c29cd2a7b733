// The exhaustive server API fault loop: for each scenario, count the add-in's server API calls K,
// then for i = 1..K rerun the scenario with call i failing, once and from then on. Every run must
// end with the host getting the return rule's status, no handle or heap block left behind, the
// failure line that the failing call site names, and the add-in recovered: the same operation
// without faults writes exactly its normal events and leaves the normal configuration.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <map>
#include <set>
#include <string>
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
    uint64_t failableCalls = 0;
};

struct Summary {
    uint64_t once = 0, sticky = 0, lineShown = 0, silent = 0, recovered = 0, afterEdit = 0;
};

// One faulted run as the loop records it, checked once the whole clean sequence is known.
struct FaultedRun {
    StepResult step;
    std::string op;
    bool sticky = false;
};

class LoopRunner {
  public:
    explicit LoopRunner(ScenarioId id) : world_(id) {}

    Baseline Clean() {
        world_.Build();
        ResetHandlerChecks();
        qixsim::ResetCallCounts();
        Baseline base;
        base.step = world_.Step();
        const std::map<std::string, uint64_t> counts = qixsim::CallCounts();
        for (const auto& [op, n] : counts) {
            if (op != "OSCurrentTIMEDATE")  // counted, but it cannot fail
                base.failableCalls += n;
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

    // Runs the scenario with call i failing; false when no call i was made (i > K).
    bool Faulted(uint64_t i, bool sticky, const Baseline& base, FaultedRun* run) {
        world_.Build();
        ResetHandlerChecks();
        const size_t handles = qixsim::OpenHandleCount();
        qixsim::FailNthCall(i, kFault, sticky);
        run->step = world_.Step();
        const std::vector<std::string> injected = qixsim::FaultsInjected();
        qixsim::ClearFaults();
        if (injected.empty()) {
            world_.Unload();
            return false;
        }
        run->op = injected.front();
        run->sticky = sticky;
        SCOPED_TRACE(testing::Message() << "call " << i << " (" << run->op << ") failing "
                                        << (sticky ? "from then on" : "once"));

        const HandlerChecks handler = Handler();
        EXPECT_EQ(handler.exceptions, 0u);
        EXPECT_EQ(handler.ruleBroken, 0u) << handler.firstBroken;
        if (world_.id() != ScenarioId::Startup && world_.id() != ScenarioId::FirstRead &&
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
        const size_t leftRegistrations = qixsim::RegistrationCount();

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
        (sticky ? summary_[run->op].sticky : summary_[run->op].once)++;
        return true;
    }

    // The failure line and the entry point's result, once the site of call i is known.
    void CheckSite(const std::vector<std::string>& ops, size_t i, const FaultedRun& run) {
        SCOPED_TRACE(testing::Message() << "call " << i + 1 << " (" << run.op << ") failing "
                                        << (run.sticky ? "from then on" : "once"));
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

    World world_;
    std::map<std::string, Summary> summary_;
};

void PrintSummary(ScenarioId id, const std::map<std::string, Summary>& summary, uint64_t k,
                  double seconds) {
    std::printf("\nFault loop, %s: K = %llu server API calls, %llu runs in %.1f s\n", Name(id),
                static_cast<unsigned long long>(k), static_cast<unsigned long long>(2 * k),
                seconds);
    std::printf("%-26s %6s %6s %6s %6s %9s %11s\n", "operation", "once", "sticky", "line", "silent",
                "recovered", "after edit");
    Summary total;
    for (const auto& [op, s] : summary) {
        std::printf(
            "%-26s %6llu %6llu %6llu %6llu %9llu %11llu\n", op.c_str(),
            static_cast<unsigned long long>(s.once), static_cast<unsigned long long>(s.sticky),
            static_cast<unsigned long long>(s.lineShown), static_cast<unsigned long long>(s.silent),
            static_cast<unsigned long long>(s.recovered),
            static_cast<unsigned long long>(s.afterEdit));
        total.once += s.once;
        total.sticky += s.sticky;
        total.lineShown += s.lineShown;
        total.silent += s.silent;
        total.recovered += s.recovered;
        total.afterEdit += s.afterEdit;
    }
    std::printf("%-26s %6llu %6llu %6llu %6llu %9llu %11llu\n", "total",
                static_cast<unsigned long long>(total.once),
                static_cast<unsigned long long>(total.sticky),
                static_cast<unsigned long long>(total.lineShown),
                static_cast<unsigned long long>(total.silent),
                static_cast<unsigned long long>(total.recovered),
                static_cast<unsigned long long>(total.afterEdit));
    std::printf("crashes 0, handles and heap blocks left behind 0 (checked on every run)\n");
    std::fflush(stdout);
}

class FaultLoop : public ::testing::TestWithParam<ScenarioId> {};

TEST_P(FaultLoop, EveryServerCallFailingOnceAndFromThenOnEndsCleanly) {
    ASSERT_TRUE(heapfaults::Available());
    const auto started = std::chrono::steady_clock::now();
    LoopRunner runner(GetParam());
    const Baseline base = runner.Clean();
    ASSERT_GT(base.failableCalls, 0u);

    for (bool sticky : {false, true}) {
        std::vector<FaultedRun> runs;
        uint64_t i = 1;
        for (;; ++i) {
            FaultedRun run;
            if (!runner.Faulted(i, sticky, base, &run))
                break;
            runs.push_back(run);
            ASSERT_LE(i, base.failableCalls) << "more calls than the clean run made";
        }
        // Every call of the clean run was reached and failed.
        ASSERT_EQ(runs.size(), base.failableCalls);
        std::vector<std::string> ops;
        for (const FaultedRun& run : runs)
            ops.push_back(run.op);
        for (size_t j = 0; j < runs.size(); ++j)
            runner.CheckSite(ops, j, runs[j]);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    PrintSummary(GetParam(), runner.summary(), base.failableCalls, seconds);
}

std::string ScenarioName(const testing::TestParamInfo<ScenarioId>& info) {
    return TestName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultLoop, testing::ValuesIn(AllScenarios()), ScenarioName);

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
