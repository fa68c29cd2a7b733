// The allocation fault loop: for each scenario, count the heap allocations the add-in makes, then
// rerun it with allocation k failing, for every k. Every run must let the host's operation through
// (the same status as without the failure), raise no exception, log an ERROR line, leave no
// handle, parked note or heap block behind, and the add-in must recover: the operation again
// writes exactly its normal events with the normal configuration in force.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>

#include "hostsim/host.h"
#include "tests/faults/scenarios.h"
#include "tests/support/heapfaults.h"

namespace faultloop {
namespace {

struct Baseline {
    StepResult step;
    std::string fingerprint;
    size_t registrations = 0;
    uint64_t allocations = 0;
};

// The events of the clean run that `step` did not write, each of which must be named by an ERROR
// line with its type and connector, unless the run kept the configuration in force (a re-read
// that could not finish owes the connectors it would have added nothing).
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
    return unnamed;
}

bool Recovered(World& world, const Baseline& base) {
    const StepResult again = world.Repeat();
    return again.events == base.step.events && again.status == base.step.status &&
           ConfigurationFingerprint() == base.fingerprint && ParkedEntries() == 0 &&
           qixsim::RegistrationCount() == base.registrations;
}

class AllocLoop : public ::testing::TestWithParam<ScenarioId> {};

TEST_P(AllocLoop, EveryAllocationOfTheAddinFailingEndsCleanly) {
    ASSERT_TRUE(heapfaults::Available());
    const auto started = std::chrono::steady_clock::now();
    World world(GetParam());

    Baseline base;
    world.Build();
    heapfaults::Arm(0);
    base.step = world.Step();
    base.allocations = heapfaults::Get().allocations;
    base.fingerprint = ConfigurationFingerprint();
    base.registrations = qixsim::RegistrationCount();
    world.Unload();
    ASSERT_EQ(heapfaults::Get().live, 0);

    uint64_t throwing = 0;
    uint64_t errorLines = 0;
    for (uint64_t k = 1; k <= base.allocations; ++k) {
        SCOPED_TRACE(testing::Message()
                     << "allocation " << k << " of " << base.allocations << " fails");
        world.Build();
        ResetHandlerChecks();
        const size_t handles = qixsim::OpenHandleCount();
        heapfaults::Arm(k);
        const StepResult step = world.Step();
        heapfaults::Disarm();
        const heapfaults::Counts counts = heapfaults::Get();
        EXPECT_EQ(counts.failures, 1u) << "the allocation was not reached";
        throwing += counts.throwingAllocations;

        const HandlerChecks handler = Handler();
        EXPECT_EQ(handler.exceptions, 0u);
        EXPECT_EQ(handler.ruleBroken, 0u) << handler.firstBroken;
        EXPECT_EQ(step.status, base.step.status) << "the host must get what it gets without";
        EXPECT_NE(step.console.find("KOVA:ERROR:"), std::string::npos)
            << "a failed allocation is logged:\n"
            << step.console;
        errorLines += step.console.find("KOVA:ERROR:") != std::string::npos ? 1 : 0;
        EXPECT_EQ(Unnamed(step, base), std::vector<std::string>{})
            << "events lost without a line naming them:\n"
            << step.console;
        EXPECT_EQ(qixsim::OpenHandleCount(), handles);
        EXPECT_EQ(ParkedEntries(), 0u);

        EXPECT_TRUE(Recovered(world, base))
            << "not recovered: configuration " << ConfigurationFingerprint() << " instead of "
            << base.fingerprint;
        world.Unload();
        EXPECT_EQ(heapfaults::Get().live, 0) << "heap blocks of the add-in left behind";
    }
    // Every allocation of the add-in goes through malloc or a nothrow new and is checked.
    EXPECT_EQ(throwing, 0u);

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "\nAllocation loop, %s: %llu allocations, each failed once (%llu runs, %llu with "
        "an ERROR line) in %.2f s; 0 crashes, 0 exceptions, 0 blocks left behind\n",
        Name(GetParam()), static_cast<unsigned long long>(base.allocations),
        static_cast<unsigned long long>(base.allocations),
        static_cast<unsigned long long>(errorLines), seconds);
}

std::string ScenarioName(const testing::TestParamInfo<ScenarioId>& info) {
    return TestName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, AllocLoop, testing::ValuesIn(AllScenarios()), ScenarioName);

}  // namespace
}  // namespace faultloop
