// Named regression of the allocation loop: a re-read that runs out of memory replaces no complete
// configuration (the connectors in force keep their events), says so in one ERROR line, and is
// read again once its retry is due.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/faults/scenarios.h"
#include "tests/support/heapfaults.h"
#include "tests/support/testsupport.h"

namespace faultloop {
namespace {

TEST(AllocRecovery, RereadOutOfMemoryKeepsTheConfigurationAndIsRetried) {
    ASSERT_TRUE(heapfaults::Available());
    World world(ScenarioId::RefreshAfterEdit);
    world.Build();
    // The first allocation of the re-read is the copy of the configuration in force.
    heapfaults::Arm(1);
    const StepResult faulted = world.Step();
    heapfaults::Disarm();
    EXPECT_EQ(heapfaults::Get().failures, 1u);
    EXPECT_NE(faulted.console.find("KOVA:ERROR:Profile re-read incomplete, the configuration in "
                                   "force is kept: memory allocation failed, Error#: 258"),
              std::string::npos)
        << faulted.console;
    EXPECT_EQ(faulted.status, 0);
    EXPECT_EQ(Connectors(faulted.events), std::vector<std::string>{"shop"});

    kovatest::AdvanceClock(100);
    const StepResult next = world.Step();
    EXPECT_EQ(Connectors(next.events), (std::vector<std::string>{"late", "shop"}));
    const StepResult third = world.Step();
    EXPECT_NE(third.console.find("Profile refreshed but not updated!"), std::string::npos);
    EXPECT_EQ(Connectors(third.events), (std::vector<std::string>{"late", "shop"}));
    world.Unload();
    EXPECT_EQ(heapfaults::Get().live, 0);
}

}  // namespace
}  // namespace faultloop
