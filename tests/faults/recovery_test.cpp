// Named regressions of the fault loop: a profile re-read that did not take in every document
// (no formula, a failed search, a search cut short by an unopenable document) must not leave
// change stamps that match the view, or the add-in would run with stale or emptied records until
// the profile documents changed again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostapi/qixapi.h"
#include "hostsim/host.h"
#include "profile/records.h"
#include "tests/faults/scenarios.h"

namespace faultloop {
namespace {

struct CutShortRead {
    const char* operation;
    uint32_t nth;  // which call of the operation, counted from the monitored update
    const char* line;
    std::vector<std::string> connectors;  // of the faulted update's events
};

TEST(Recovery, ProfileReadCutShortIsReadAgainByTheNextNotification) {
    // The before stage of the update finds the new "late" trigger: open 1 is the change test's
    // latest profile, open 2 the first document of the search.
    const CutShortRead faults[] = {
        // No search: the records stay as they were, without the new trigger.
        {"QIXFormulaCompile", 1, "Error compiling search formula. Error#: 16644", {"shop"}},
        // Records emptied, nothing read.
        {"QIXSearch", 1, "Error searching profile database: kovaevents.qix Error#: 16644", {}},
        {"QIXNoteOpen", 2, "Error opening profile document. NoteID: ", {}},
    };
    for (const CutShortRead& fault : faults) {
        SCOPED_TRACE(fault.operation);
        World world(ScenarioId::RefreshAfterEdit);
        world.Build();
        qixsim::FailNth(fault.operation, ERR_QIX_INVALID_HANDLE, fault.nth);
        const StepResult faulted = world.Step();
        EXPECT_EQ(qixsim::FaultsInjected(), std::vector<std::string>{fault.operation});
        EXPECT_EQ(faulted.status, 0);
        EXPECT_NE(faulted.console.find(fault.line), std::string::npos) << faulted.console;
        EXPECT_EQ(Connectors(faulted.events), fault.connectors);

        // Nothing changed in the documents since, yet the next update reads them in full.
        const StepResult next = world.Step();
        EXPECT_EQ(Connectors(next.events), (std::vector<std::string>{"late", "shop"}));
        EXPECT_NE(next.console.find("Event Trigger Profile added!"), std::string::npos);
        // And the one after that finds the stamps current again.
        const StepResult third = world.Step();
        EXPECT_EQ(Connectors(third.events), (std::vector<std::string>{"late", "shop"}));
        EXPECT_NE(third.console.find("Profile refreshed but not updated!"), std::string::npos);
        world.Unload();
    }
}

}  // namespace
}  // namespace faultloop
