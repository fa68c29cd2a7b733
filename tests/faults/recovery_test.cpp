// Named regressions of the fault loops. A profile re-read that did not take in every document
// (no formula, a failed search, a search cut short by an unopenable document, memory running
// out) replaces no complete configuration: the connectors in force keep their events, one ERROR
// line says the read was dropped, and the read is tried again once the retry is due. A connector
// id the filter's list could not take is named lost only when no other profile of that connector
// listed it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "capture/filter.h"
#include "hostapi/qixapi.h"
#include "hostsim/host.h"
#include "log/logline.h"
#include "tests/faults/scenarios.h"
#include "tests/support/heapfaults.h"
#include "tests/support/testsupport.h"

namespace faultloop {
namespace {

struct CutShortRead {
    const char* failed;  // as the re-read's ERROR line names it
    const char* status;  // its status, as that line gives it
    std::function<void()> arm;
    std::function<bool()> hit;  // the fault was injected, and nothing else
    const char* line;           // the failing call site's own line; null: none
};

TEST(Recovery, ProfileReadCutShortKeepsTheConfigurationAndIsRetried) {
    ASSERT_TRUE(heapfaults::Available());
    const auto failing = [](const char* operation, uint32_t nth) {
        return [=] { qixsim::FailNth(operation, ERR_QIX_INVALID_HANDLE, nth); };
    };
    const auto injected = [](const char* operation) {
        return [=] { return qixsim::FaultsInjected() == std::vector<std::string>{operation}; };
    };
    // The before stage of the update finds the new "late" trigger: open 1 is the change test's
    // latest profile, open 2 the first document of the search. The first allocation of the
    // re-read is the copy of the configuration in force.
    const CutShortRead faults[] = {
        {"QIXFormulaCompile", "16644", failing("QIXFormulaCompile", 1),
         injected("QIXFormulaCompile"), "Error compiling search formula. Error#: 16644"},
        {"QIXSearch", "16644", failing("QIXSearch", 1), injected("QIXSearch"),
         "Error searching profile database: kovaevents.qix Error#: 16644"},
        {"QIXNoteOpen", "16644", failing("QIXNoteOpen", 2), injected("QIXNoteOpen"),
         "Error opening profile document. NoteID: "},
        {"memory allocation", "258", [] { heapfaults::Arm(1); },
         [] { return heapfaults::Get().failures == 1; }, nullptr},
    };
    for (const CutShortRead& fault : faults) {
        SCOPED_TRACE(fault.failed);
        World world(ScenarioId::RefreshAfterEdit);
        world.Build();
        fault.arm();
        const StepResult faulted = world.Step();
        heapfaults::Disarm();
        EXPECT_TRUE(fault.hit());
        EXPECT_EQ(faulted.status, 0);
        if (fault.line != nullptr) {
            EXPECT_NE(faulted.console.find(fault.line), std::string::npos) << faulted.console;
        }
        EXPECT_NE(faulted.console.find("KOVA:ERROR:Profile re-read incomplete, the configuration "
                                       "in force is kept: " +
                                       std::string(fault.failed) +
                                       " failed, Error#: " + fault.status + "\n"),
                  std::string::npos)
            << faulted.console;
        EXPECT_EQ(Connectors(faulted.events), std::vector<std::string>{"shop"});

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
        EXPECT_EQ(heapfaults::Get().live, 0);
    }
}

// Found by the soak: with two profiles of one connector, the first one's list node failing named
// the event lost although the second listed the connector and its Event document was written.
TEST(Recovery, FailedListNodeIsNamedOnlyWhenNoProfileListsTheConnector) {
    ASSERT_TRUE(heapfaults::Available());
    // The decision alone, then with the DEBUG trace beside it.
    for (int level : {kova::kLogError, kova::kLogDebug}) {
        SCOPED_TRACE(level);
        for (bool twice : {true, false}) {
            kovatest::ResetAll();
            kovatest::SetLogSettings(level, 0, 1);
            ASSERT_EQ(qixsim::CreateDatabase("orders.qix"), 0);
            ASSERT_EQ(qixsim::CreateForm("orders.qix", "Order"), 0);
            kovatest::AddTrigger({{"orders.qix"}, 1, 1, 1, "dup"});
            if (twice)
                kovatest::AddTrigger({{"orders.qix"}, 1, 1, 1, "dup"});
            kova::EventContext context;
            std::memset(&context, 0, sizeof context);
            ASSERT_EQ(qixsim::OpenDatabase("orders.qix", &context.dbHandle), 0);
            std::strcpy(context.dbPath, "orders.qix");
            std::strcpy(context.formName, "Order");
            context.noteId = 0x8FA;
            context.eventType = kova::kEventTypeUpdate;
            context.noteClass = NOTE_CLASS_DOCUMENT;
            {
                const kova::ProfileConfiguration& inForce = kovatest::InForce();
                heapfaults::AddinScope scope;
                heapfaults::Arm(1);  // the first profile's list node
                EXPECT_EQ(kova::CheckIsEventMonitored(&context, inForce), 1);
                heapfaults::Disarm();
            }
            EXPECT_EQ(heapfaults::Get().failures, 1u);
            EXPECT_EQ(kovatest::ListTexts(context.connectorIds),
                      twice ? std::vector<std::string>{"dup"} : std::vector<std::string>{});
            std::vector<std::string> named;
            for (const std::string& line : kovatest::LogEntries()) {
                if (line.find("Event not captured") != std::string::npos)
                    named.push_back(line);
            }
            EXPECT_EQ(named, twice ? std::vector<std::string>{}
                                   : std::vector<std::string>{
                                         "KOVA:ERROR:Event not captured: NoteID: 8FA, EventType: "
                                         "Update, Database: orders.qix, ConnectorId: dup\n"});
            kova::KOVAListCleanUp(context.connectorIds);
            qixsim::CloseHandle(context.dbHandle);
        }
    }
    kovatest::ResetAll();
}

}  // namespace
}  // namespace faultloop
