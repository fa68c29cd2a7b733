// The event table writer: the Event document's items and formats, one document per connector in
// list order, an empty list, a create or store failing part-way (named, the rest still written),
// a missing event database, an unreadable database path and failing item writes. The list is
// consumed on every path.
#include "capture/eventwriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "tests/support/testsupport.h"

namespace {

using kovatest::ItemNames;
using kovatest::ItemText;

// A list whose pops yield `ids` in this order.
kova::KOVAList ListOf(const std::vector<std::string>& ids) {
    kova::KOVAList list = nullptr;
    for (auto it = ids.rbegin(); it != ids.rend(); ++it)
        kova::KOVAListAddUniqueString(&list, it->c_str());
    return list;
}

std::string Hex32(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X%08X%08X%08X", a, b, c, d);
    return text;
}

ORIGINATORID ChangedNote() {
    ORIGINATORID id{};
    id.file.word[0] = 0x1;
    id.file.word[1] = 0xABCDEF;
    id.note.word[0] = 0x12;
    id.note.word[1] = 0xFFFFFFFF;
    id.sequence = 3;
    return id;
}

class EventWriterTest : public ::testing::Test {
  protected:
    void SetUp() override { FreshServer(); }
    // A fresh server with the event database and "orders.qix" open.
    void FreshServer() {
        kovatest::ResetAll();
        kovatest::SetLogSettings(3, 0, 1);
        ASSERT_EQ(qixsim::CreateEventDatabase(), 0);
        ASSERT_EQ(qixsim::CreateDatabase("orders.qix"), 0);
        ASSERT_EQ(qixsim::OpenDatabase("orders.qix", &db_), 0);
        handles_ = qixsim::OpenHandleCount();
    }
    void TearDown() override {
        EXPECT_EQ(qixsim::OpenHandleCount(), handles_);  // nothing left open
        qixsim::CloseHandle(db_);
    }
    static std::vector<qixsim::NoteInfo> Events() {
        return qixsim::ListDocuments("kovaevents.qix", "Event");
    }

    DBHANDLE db_ = 0;
    size_t handles_ = 0;
};

TEST_F(EventWriterTest, WritesOneDocumentPerConnectorWithEveryItem) {
    kova::KOVAList ids = ListOf({"conn-A", "conn-B"});
    kova::AddEvent(ChangedNote(), 255, db_, "Update", "Order", 0, &ids);
    EXPECT_EQ(ids, nullptr);

    const std::vector<qixsim::NoteInfo> events = Events();
    ASSERT_EQ(events.size(), 2u);
    const std::vector<std::string> itemOrder = {"EventId",     "EventType",  "DBPath", "FormName",
                                                "UNID",        "PickFields", "Status", "EventTime",
                                                "ConnectorId", "Form"};
    const char* connectors[] = {"conn-A", "conn-B"};
    for (size_t i = 0; i < events.size(); ++i) {
        const qixsim::NoteInfo& event = events[i];
        EXPECT_EQ(ItemNames(event), itemOrder);
        const ORIGINATORID& own = event.originatorId;
        EXPECT_EQ(ItemText(event, "EventId"),
                  Hex32(own.note.word[1], own.note.word[0], own.file.word[1], own.file.word[0]));
        EXPECT_EQ(ItemText(event, "EventType"), "Update");
        EXPECT_EQ(ItemText(event, "DBPath"), "orders.qix");
        EXPECT_EQ(ItemText(event, "FormName"), "Order");
        EXPECT_EQ(ItemText(event, "UNID"), "00ABCDEF00000001FFFFFFFF00000012");
        EXPECT_EQ(ItemText(event, "PickFields"), "NoteID:FF");
        EXPECT_EQ(ItemText(event, "ConnectorId"), connectors[i]);
        EXPECT_EQ(ItemText(event, "Form"), "Event");
        ASSERT_TRUE(std::holds_alternative<double>(event.items[6].second));
        EXPECT_EQ(std::get<double>(event.items[6].second), 0.0);
        ASSERT_TRUE(std::holds_alternative<TIMEDATE>(event.items[7].second));
    }
    EXPECT_NE(ItemText(events[0], "EventId"), ItemText(events[1], "EventId"));
    EXPECT_EQ(ItemText(events[0], "EventId").size(), 32u);
    const TIMEDATE t0 = std::get<TIMEDATE>(events[0].items[7].second);
    const TIMEDATE t1 = std::get<TIMEDATE>(events[1].items[7].second);
    EXPECT_EQ(std::memcmp(&t0, &t1, sizeof t0), 0);  // one instant per call

    const std::string info =
        "KOVA:INFO:Updating event table: UNID: 00ABCDEF00000001FFFFFFFF00000012, Pick Fields: "
        "NoteID:FF, EventType: Update, Database Name: orders.qix, Timestamp: " +
        kovatest::DefaultTimeText(t0) + " \n";
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{"KOVA:DEBUG:Database kovaevents.qix opened successfully.\n",
                                        info, info, "KOVA:DEBUG:Starting Exit routine.\n"}));
}

TEST_F(EventWriterTest, SubdirectoryPathIsNormalisedInTheItemOnly) {
    qixsim::SetSeparator('\\');
    ASSERT_EQ(qixsim::CreateDatabase("mail/sub/orders.qix"), 0);
    DBHANDLE sub = 0;
    ASSERT_EQ(qixsim::OpenDatabase("mail/sub/orders.qix", &sub), 0);
    kova::KOVAList ids = ListOf({"c"});
    kova::AddEvent(ORIGINATORID{}, 0, sub, "Create", "Order", 0, &ids);
    qixsim::CloseHandle(sub);

    const std::vector<qixsim::NoteInfo> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(ItemText(events[0], "DBPath"), "mail/sub/orders.qix");
    EXPECT_EQ(ItemText(events[0], "PickFields"), "NoteID:0");
    EXPECT_EQ(ItemText(events[0], "UNID"), std::string(32, '0'));
    EXPECT_EQ(ItemText(events[0], "EventType"), "Create");
    bool logged = false;
    for (const std::string& line : kovatest::LogEntries()) {
        logged |= line.find("EventType: Create, Database Name: mail\\sub\\orders.qix,") !=
                  std::string::npos;
    }
    EXPECT_TRUE(logged);
}

TEST_F(EventWriterTest, EmptyListOpensAndClosesTheEventDatabaseOnly) {
    qixsim::ResetCallCounts();
    kova::KOVAList ids = nullptr;
    kova::AddEvent(ChangedNote(), 1, db_, "Delete", "Order", 0, &ids);
    EXPECT_EQ(qixsim::CallCount("QIXDbOpen"), 1u);
    EXPECT_EQ(qixsim::CallCount("QIXDbClose"), 1u);
    EXPECT_EQ(qixsim::CallCount("QIXNoteCreate"), 0u);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{"KOVA:DEBUG:Database kovaevents.qix opened successfully.\n",
                                        "KOVA:DEBUG:Starting Exit routine.\n"}));
}

// A document that cannot be created or stored is named with its change and connector, and the
// connectors after it still get theirs.
TEST_F(EventWriterTest, ACreateOrStoreFailingOnTheThirdOfFourIsNamedAndTheRestAreWritten) {
    for (const char* operation : {"QIXNoteCreate", "QIXNoteUpdate"}) {
        SCOPED_TRACE(operation);
        FreshServer();

        kova::KOVAList ids = ListOf({"c1", "c2", "c3", "c4"});
        qixsim::FailNth(operation, ERR_QIX_NO_MEMORY, 3);
        kova::AddEvent(ChangedNote(), 0x2A, db_, "Update", "Order", 0, &ids);
        EXPECT_EQ(ids, nullptr);
        std::vector<std::string> written;
        for (const qixsim::NoteInfo& event : Events())
            written.push_back(ItemText(event, "ConnectorId"));
        EXPECT_EQ(written, (std::vector<std::string>{"c1", "c2", "c4"}));
        EXPECT_EQ(qixsim::FaultsInjected(), std::vector<std::string>{operation});
        std::vector<std::string> errors;
        for (const std::string& line : kovatest::LogEntries()) {
            if (line.find("KOVA:ERROR:") == 0)
                errors.push_back(line);
        }
        EXPECT_EQ(errors, (std::vector<std::string>{
                              "KOVA:ERROR:Event document not written: NoteID: 2A, EventType: "
                              "Update, Database: orders.qix, ConnectorId: c3, Error#: 258\n"}));
        EXPECT_EQ(qixsim::OpenHandleCount(), handles_);
        qixsim::CloseHandle(db_);
    }
    FreshServer();
}

TEST_F(EventWriterTest, MissingEventDatabaseNamesEveryConnectorAndReleasesTheList) {
    kovatest::ResetAll();
    kovatest::SetLogSettings(3, 0, 1);
    ASSERT_EQ(qixsim::CreateDatabase("orders.qix"), 0);
    ASSERT_EQ(qixsim::OpenDatabase("orders.qix", &db_), 0);
    handles_ = qixsim::OpenHandleCount();
    qixsim::ResetCallCounts();
    kova::KOVAList ids = ListOf({"c1", "c2"});
    kova::AddEvent(ChangedNote(), 2, db_, "Update", "Order", 0, &ids);
    EXPECT_EQ(ids, nullptr);
    EXPECT_EQ(qixsim::CallCount("QIXNoteCreate"), 0u);
    EXPECT_EQ(qixsim::CallCount("QIXDbClose"), 0u);
    const std::string notWritten =
        "KOVA:ERROR:Event document not written: NoteID: 2, EventType: Update, Database: "
        "orders.qix, ConnectorId: ";
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{
                  "KOVA:ERROR:Error opening event table database: kovaevents.qix\n",
                  notWritten + "c1, Error#: 16645\n", notWritten + "c2, Error#: 16645\n",
                  "KOVA:DEBUG:Starting Exit routine.\n"}));
}

TEST_F(EventWriterTest, UnreadableDatabasePathWritesAnEmptyDBPath) {
    kova::KOVAList ids = ListOf({"c1"});
    qixsim::FailNext("QIXDbPathGet", ERR_QIX_INVALID_HANDLE);
    kova::AddEvent(ChangedNote(), 16, db_, "Update", "Order", 0, &ids);
    const std::vector<qixsim::NoteInfo> events = Events();
    ASSERT_EQ(events.size(), 1u);
    bool found = false;
    EXPECT_EQ(ItemText(events[0], "DBPath", &found), "");
    EXPECT_TRUE(found);
    EXPECT_EQ(ItemText(events[0], "PickFields"), "NoteID:10");
    const std::vector<std::string> log = kovatest::LogEntries();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "KOVA:ERROR:Error retrieving database path.\n");
    EXPECT_NE(log[2].find("Database Name: , Timestamp: "), std::string::npos) << log[2];
    // The document lacks its path: named, since the line above names no change.
    EXPECT_EQ(log[3],
              "KOVA:ERROR:Event document stored without some items: NoteID: 10, EventType: "
              "Update, Database: , ConnectorId: c1\n");
}

TEST_F(EventWriterTest, FailingItemWritesAreLoggedAndTheDocumentIsStored) {
    kova::KOVAList ids = ListOf({"c1"});
    qixsim::FailNth("QIXItemSetText", ERR_QIX_NO_MEMORY, 2);  // "EventType"
    qixsim::FailNth("QIXItemSetText", ERR_QIX_NO_MEMORY, 7);  // "ConnectorId"
    qixsim::FailNext("QIXItemSetTime", ERR_QIX_NO_MEMORY);
    kova::AddEvent(ChangedNote(), 2, db_, "Update", "Order", 0, &ids);
    const std::vector<qixsim::NoteInfo> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(ItemNames(events[0]),
              (std::vector<std::string>{"EventId", "DBPath", "FormName", "UNID", "PickFields",
                                        "Status", "Form"}));
    std::vector<std::string> errors;
    for (const std::string& line : kovatest::LogEntries()) {
        if (line.rfind("KOVA:ERROR:", 0) == 0)
            errors.push_back(line);
    }
    // The item lines name neither the change nor the connector; the last line does.
    EXPECT_EQ(errors,
              (std::vector<std::string>{
                  "KOVA:ERROR:Error updateing Event Type", "KOVA:ERROR:Error updateing Event Time",
                  "KOVA:ERROR:Error updateing Connector ID",
                  "KOVA:ERROR:Event document stored without some items: NoteID: 2, "
                  "EventType: Update, Database: orders.qix, ConnectorId: c1\n"}));
}

}  // namespace
