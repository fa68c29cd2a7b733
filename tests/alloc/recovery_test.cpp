// Named regression of the allocation loop: a profile record that could not be allocated during a
// re-read must not leave change stamps that match the view, or the add-in would run without that
// connector until the profile documents changed again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/faults/scenarios.h"
#include "tests/support/heapfaults.h"

namespace faultloop {
namespace {

TEST(AllocRecovery, TriggerRecordThatCouldNotBeAllocatedIsReadAgainByTheNextRefresh) {
    ASSERT_TRUE(heapfaults::Available());
    World world(ScenarioId::RefreshAfterEdit);
    world.Build();
    // The first allocation of the re-read is the record of the "shop" trigger.
    heapfaults::Arm(1);
    const StepResult faulted = world.Step();
    heapfaults::Disarm();
    EXPECT_EQ(heapfaults::Get().failures, 1u);
    EXPECT_NE(faulted.console.find("KOVA:ERROR:Out of memory: event trigger profile not added."),
              std::string::npos)
        << faulted.console;
    EXPECT_EQ(faulted.status, 0);
    EXPECT_EQ(Connectors(faulted.events), std::vector<std::string>{"late"});

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
