// The pending-note tables: keys, duplicates newest first, the delete key pair, the entry lines and
// the "NULL" lines, a table lock that cannot be taken, FreeNoteTable (which never waits for a
// table another thread holds), and a profile document's change held in flight by its entry.
#include "addin/notetable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "log/logline.h"
#include "profile/publication.h"
#include "profile/refresh.h"
#include "tests/support/lockfaults.h"
#include "tests/support/testsupport.h"

namespace {

using kova::EventContext;
using kova::NoteEntry;

EventContext Context(NOTEHANDLE note, NOTEID id, DBHANDLE db, const char* form) {
    EventContext context;
    std::memset(&context, 0, sizeof context);
    context.noteHandle = note;
    context.noteId = id;
    context.dbHandle = db;
    context.eventType = kova::kEventTypeUpdate;
    std::snprintf(context.dbPath, sizeof context.dbPath, "%s", "shop\\items.qix");
    std::snprintf(context.formName, sizeof context.formName, "%s", form);
    context.noteClass = NOTE_CLASS_DOCUMENT;
    return context;
}

class NoteTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kovatest::ResetAll();
        kovatest::SetLogSettings(kova::kLogDebug, 0, 1);  // lines to the log database only
    }
    void TearDown() override {
        kova::FreeNoteTable(kova::hSaveNoteTable);
        kova::FreeNoteTable(kova::hDeleteNoteTable);
    }
};

TEST_F(NoteTableTest, ParkingCopiesTheContextAndMovesItsConnectorIds) {
    EventContext context = Context(7, 0x1F, 3, "Item");
    context.originatorId.sequence = 4;
    kova::KOVAListAddUniqueString(&context.connectorIds, "first");
    kova::KOVAListAddUniqueString(&context.connectorIds, "second");  // list: second, first
    EXPECT_EQ(kova::AddNoteEntryV75(kova::hSaveNoteTable, context), 0);
    EXPECT_EQ(context.connectorIds, nullptr);

    NoteEntry* entry = kova::RemoveSaveNoteEntry(7);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->noteId, 0x1Fu);
    EXPECT_EQ(entry->dbHandle, 3);
    EXPECT_EQ(entry->eventType, kova::kEventTypeUpdate);
    EXPECT_EQ(entry->originatorId.sequence, 4u);
    EXPECT_STREQ(entry->dbPath, "shop\\items.qix");
    EXPECT_STREQ(entry->formName, "Item");
    EXPECT_EQ(entry->noteClass, 0);  // not carried over
    EXPECT_EQ(kovatest::ListTexts(entry->connectorIds),
              (std::vector<std::string>{"first", "second"}));  // popped in the order added
    kova::FreeNoteEntry(entry);

    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{
                  "KOVA:DEBUG:AddSaveNoteEntry: Note ID: 1F, Database Path: shop\\items.qix, "
                  "Form Name: Item\n",
                  "KOVA:DEBUG:RemoveSaveNoteEntry: Note ID: 1F, Database Path: shop\\items.qix, "
                  "Form Name: Item\n"}));
}

TEST_F(NoteTableTest, SameKeyTwiceComesBackNewestFirstThenNull) {
    EventContext older = Context(9, 1, 3, "Old");
    EventContext newer = Context(9, 2, 3, "New");
    EventContext other = Context(10, 3, 3, "Other");
    kova::AddNoteEntryV75(kova::hSaveNoteTable, older);
    kova::AddNoteEntryV75(kova::hSaveNoteTable, newer);
    kova::AddNoteEntryV75(kova::hSaveNoteTable, other);
    NoteEntry* first = kova::RemoveSaveNoteEntry(9);
    NoteEntry* second = kova::RemoveSaveNoteEntry(9);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(first->formName, "New");
    EXPECT_STREQ(second->formName, "Old");
    EXPECT_EQ(first->connectorIds, nullptr);  // an empty list parks as an empty list
    kova::FreeNoteEntry(first);
    kova::FreeNoteEntry(second);
    EXPECT_EQ(kova::RemoveSaveNoteEntry(9), nullptr);
    EXPECT_EQ(kovatest::LogEntries().back(), "KOVA:DEBUG:RemoveSaveNoteEntry: NULL\n");
    // The entry in the middle of the chain came out without losing its neighbour.
    NoteEntry* last = kova::RemoveSaveNoteEntry(10);
    ASSERT_NE(last, nullptr);
    kova::FreeNoteEntry(last);
    EXPECT_EQ(kova::hSaveNoteTable, nullptr);
}

TEST_F(NoteTableTest, DeleteTableNeedsBothNoteIdAndDatabaseHandle) {
    EventContext context = Context(0, 0x20, 5, "Item");
    context.eventType = kova::kEventTypeDelete;
    kova::AddNoteEntryV75(kova::hDeleteNoteTable, context);
    // Parked in the delete table, logged with the save table's text.
    EXPECT_EQ(kovatest::LogEntries().back(),
              "KOVA:DEBUG:AddSaveNoteEntry: Note ID: 20, Database Path: shop\\items.qix, Form "
              "Name: Item\n");
    EXPECT_EQ(kova::RemoveDeleteNoteEntry(0x20, 6), nullptr);
    EXPECT_EQ(kovatest::LogEntries().back(), "KOVA:DEBUG:RemoveDeleteNoteEntry: NULL\n");
    EXPECT_EQ(kova::RemoveDeleteNoteEntry(0x21, 5), nullptr);
    EXPECT_EQ(kova::RemoveSaveNoteEntry(0), nullptr);  // the other table does not have it
    NoteEntry* entry = kova::RemoveDeleteNoteEntry(0x20, 5);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(kovatest::LogEntries().back(),
              "KOVA:DEBUG:RemoveDeleteNoteEntry: Note ID: 20, Database Path: shop\\items.qix, "
              "Form Name: Item\n");
    kova::FreeNoteEntry(entry);
}

TEST_F(NoteTableTest, LockThatCannotBeTakenParksNothingAndNamesEachConnector) {
    EventContext context = Context(7, 0x1F, 3, "Item");
    kova::KOVAListAddUniqueString(&context.connectorIds, "first");
    kova::KOVAListAddUniqueString(&context.connectorIds, "second");
    kovatest::FailNextMutexLock();
    EXPECT_EQ(kova::AddNoteEntryV75(kova::hSaveNoteTable, context), 0);
    EXPECT_FALSE(kovatest::LockFailurePending()) << "the table lock was not asked for";
    EXPECT_EQ(kova::hSaveNoteTable, nullptr);
    EXPECT_EQ(kova::RemoveSaveNoteEntry(7), nullptr);
    const std::string named =
        "KOVA:ERROR:Event not captured: NoteID: 1F, EventType: Update, Database: "
        "shop\\items.qix, ConnectorId: ";
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{"KOVA:ERROR:Error locking a pending-note table.\n",
                                        named + "first\n", named + "second\n",
                                        "KOVA:DEBUG:RemoveSaveNoteEntry: NULL\n"}));
}

TEST_F(NoteTableTest, FreeNoteTableEmptiesTheTableWithoutLogging) {
    for (NOTEID id = 1; id <= 3; ++id) {
        EventContext context = Context(0, id, 5, "Item");
        kova::KOVAListAddUniqueString(&context.connectorIds, "c");
        kova::AddNoteEntryV75(kova::hDeleteNoteTable, context);
    }
    const size_t lines = kovatest::LogEntries().size();
    kova::FreeNoteTable(kova::hDeleteNoteTable);
    EXPECT_EQ(kova::hDeleteNoteTable, nullptr);
    EXPECT_EQ(kovatest::LogEntries().size(), lines);
    EXPECT_EQ(kova::RemoveDeleteNoteEntry(1, 5), nullptr);
    EXPECT_EQ(kovatest::LogEntries().back(), "KOVA:DEBUG:RemoveDeleteNoteEntry: NULL\n");

    // The unload runs under the loader lock on Windows: with another thread inside the table, it
    // leaves the table as it is rather than wait.
    kovatest::SetLogSettings(kova::kLogError, 0, 1);
    std::thread parker([] {
        EventContext context = Context(9, 0x2A, 5, "Item");
        kova::KOVAListAddUniqueString(&context.connectorIds, "c");
        kovatest::HoldNextMutexLock();
        kova::AddNoteEntryV75(kova::hSaveNoteTable, context);
    });
    ASSERT_TRUE(kovatest::WaitUntilHolding(10)) << "the parking thread took no lock";
    auto unload = std::async(std::launch::async, [] { kova::FreeNoteTable(kova::hSaveNoteTable); });
    const bool returned = unload.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    kovatest::ReleaseHeldLock();
    parker.join();
    unload.wait();
    EXPECT_TRUE(returned) << "FreeNoteTable waited for the table another thread held";
    EXPECT_EQ(kovatest::LogEntries().back(), "KOVA:ERROR:Pending-note table busy, not released.\n");
    NoteEntry* parked = kova::RemoveSaveNoteEntry(9);  // the busy table was left whole
    EXPECT_NE(parked, nullptr);
    kova::FreeNoteEntry(parked);
}

TEST_F(NoteTableTest, DebugLinesAreSkippedBelowDebug) {
    kovatest::SetLogSettings(kova::kLogInfo, 0, 1);
    EventContext context = Context(4, 1, 5, "Item");
    kova::AddNoteEntryV75(kova::hSaveNoteTable, context);
    kova::FreeNoteEntry(kova::RemoveSaveNoteEntry(4));
    kova::RemoveSaveNoteEntry(4);
    EXPECT_TRUE(kovatest::LogEntries().empty());
}

// A profile document's entry holds its change in flight from its parking to its release, on
// every path out of the table: meanwhile a write-path refresh that finds the change leaves the
// re-read to the entry's after stage. Released, never parked, or an event's entry: the next
// refresh reads.
TEST_F(NoteTableTest, ProfileDocumentEntryHoldsItsChangeUntilItIsReleased) {
    ASSERT_EQ(qixsim::CreateEventDatabase(), 0);
    const auto refreshReadsAnEdit = [] {
        qixsim::CreateDocument("kovaevents.qix",
                               {{"Form", std::string("EventTriggerConfiguration")}});
        const uint64_t searches = qixsim::CallCount("QIXSearch");
        kova::ConfigurationSnapshot snapshot;
        EXPECT_EQ(kova::ReadProfile(snapshot), 0);
        return qixsim::CallCount("QIXSearch") > searches;
    };
    const auto park = [](kova::ParkedFor parkedFor) {
        EventContext context = Context(7, 0x1F, 3, "EventTriggerConfiguration");
        kova::AddNoteEntryV75(kova::hSaveNoteTable, context, parkedFor);
    };

    park(kova::ParkedFor::kProfileChange);
    EXPECT_FALSE(refreshReadsAnEdit());
    kova::FreeNoteEntry(kova::RemoveSaveNoteEntry(7));
    EXPECT_TRUE(refreshReadsAnEdit());

    park(kova::ParkedFor::kProfileChange);
    EXPECT_FALSE(refreshReadsAnEdit());
    kova::FreeNoteTable(kova::hSaveNoteTable);
    EXPECT_TRUE(refreshReadsAnEdit());

    kovatest::FailNextMutexLock();
    park(kova::ParkedFor::kProfileChange);
    EXPECT_FALSE(kovatest::LockFailurePending());
    EXPECT_EQ(kova::hSaveNoteTable, nullptr);
    EXPECT_TRUE(refreshReadsAnEdit());

    park(kova::ParkedFor::kEvent);
    EXPECT_TRUE(refreshReadsAnEdit());
}

}  // namespace
