// Named regressions of the fault loop: a profile re-read that did not take in every document
// (no formula, a failed search, a search cut short by an unopenable document) replaces no
// complete configuration: the connectors in force keep their events, one ERROR line says the read
// was dropped, and the read is tried again once the retry is due.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostapi/qixapi.h"
#include "hostsim/host.h"
#include "profile/records.h"
#include "tests/faults/scenarios.h"
#include "tests/support/testsupport.h"

namespace faultloop {
namespace {

struct CutShortRead {
    const char* operation;
    uint32_t nth;  // which call of the operation, counted from the monitored update
    const char* line;
    std::vector<std::string> connectors;  // of the faulted update's events
};

TEST(Recovery, ProfileReadCutShortKeepsTheConfigurationAndIsRetried) {
    // The before stage of the update finds the new "late" trigger: open 1 is the change test's
    // latest profile, open 2 the first document of the search.
    const CutShortRead faults[] = {
        {"QIXFormulaCompile", 1, "Error compiling search formula. Error#: 16644", {"shop"}},
        {"QIXSearch",
         1,
         "Error searching profile database: kovaevents.qix Error#: 16644",
         {"shop"}},
        {"QIXNoteOpen", 2, "Error opening profile document. NoteID: ", {"shop"}},
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
        EXPECT_NE(faulted.console.find("KOVA:ERROR:Profile re-read incomplete, the configuration "
                                       "in force is kept: " +
                                       std::string(fault.operation) + " failed, Error#: 16644\n"),
                  std::string::npos)
            << faulted.console;
        EXPECT_EQ(Connectors(faulted.events), fault.connectors);

        // Once the retry is due, the next update reads the documents in full.
        kovatest::AdvanceClock(100);
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
