// The notification handler's before stage and its one snapshot of the configuration in force,
// driven through the stand-in server's notifications.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/lifecycle.h"
#include "addin/notetable.h"
#include "tests/support/lockfaults.h"
#include "tests/support/testsupport.h"

namespace {

qixsim::Items Trigger(const std::string& connector) {
    return {{"Form", std::string("EventTriggerConfiguration")},
            {"ConnectorId", connector},
            {"EventTypes", qixsim::TextList{"Create", "Update"}},
            {"MonitoredDocuments", qixsim::TextList{"orders.qix"}}};
}

// Stores `note` (open) with the next add-in mutex lock of this thread failing: the before
// stage's snapshot, the first mutex it locks.
STATUS StoreWithoutSnapshot(NOTEHANDLE note) {
    kovatest::FailNextMutexLock();
    const STATUS status = qixsim::StoreNote(note);
    EXPECT_FALSE(kovatest::LockFailurePending()) << "the snapshot was not taken";
    return status;
}

// A snapshot that cannot be taken leaves no configuration to read unguarded: the change test
// says so in an ERROR line and the change passes as not monitored; a profile document is parked
// all the same, so its after stage reads it. The next change is filtered as usual.
TEST(Dispatcher, BeforeStageWithoutSnapshotPassesTheChangeWithAnError) {
    kovatest::ResetAll();
    qixsim::CreateEventDatabase();
    qixsim::CreateDatabase("orders.qix");
    qixsim::CreateForm("orders.qix", "Order");
    qixsim::CreateDocument("kovaevents.qix", {{"Form", std::string("SystemConfiguration")},
                                              {"LogLevel", std::string("ERROR")},
                                              {"LogOutputs", qixsim::TextList{"log.qix"}}});
    qixsim::CreateDocument("kovaevents.qix", Trigger("c"));
    NOTEID order = 0;
    qixsim::CreateDocument("orders.qix", {{"Form", std::string("Order")}}, &order);
    {
        kovasupport::StdoutCapture console;
        ASSERT_EQ(MainEntryPoint(), 0);
    }
    DBHANDLE orders = 0;
    DBHANDLE events = 0;
    ASSERT_EQ(qixsim::OpenDatabase("orders.qix", &orders), 0);
    ASSERT_EQ(qixsim::OpenDatabase("kovaevents.qix", &events), 0);
    const size_t lines = kovatest::LogEntries().size();
    const auto update = [&](bool withSnapshot) {
        NOTEHANDLE note = 0;
        EXPECT_EQ(qixsim::OpenNote(orders, order, &note), 0);
        EXPECT_EQ(withSnapshot ? qixsim::StoreNote(note) : StoreWithoutSnapshot(note), 0);
        qixsim::CloseHandle(note);
        return qixsim::ListDocuments("kovaevents.qix", "Event").size();
    };

    EXPECT_EQ(update(false), 0u);
    EXPECT_EQ(kova::hSaveNoteTable, nullptr);
    std::vector<std::string> logged = kovatest::LogEntries();
    EXPECT_EQ(std::vector<std::string>(logged.begin() + static_cast<long>(lines), logged.end()),
              std::vector<std::string>{"KOVA:ERROR:Error locking the profile records.\n"});
    EXPECT_EQ(update(true), 1u);

    // A new trigger stored without a snapshot: its after stage reads it.
    NOTEHANDLE late = 0;
    ASSERT_EQ(qixsim::NewNote(events, &late), 0);
    ASSERT_EQ(qixsim::SetItems(late, Trigger("late")), 0);
    EXPECT_EQ(StoreWithoutSnapshot(late), 0);
    qixsim::CloseHandle(late);
    EXPECT_EQ(kova::hSaveNoteTable, nullptr);
    const kova::TriggerProfile* newest = kova::pEventTriggerProfile(kovatest::InForce());
    ASSERT_NE(newest, nullptr);
    EXPECT_STREQ(newest->connectorID, "late");
    EXPECT_EQ(update(true), 3u);  // one more for each connector

    qixsim::CloseHandle(orders);
    qixsim::CloseHandle(events);
    kovatest::ResetAll();
}

}  // namespace
