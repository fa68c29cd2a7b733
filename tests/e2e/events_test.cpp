// The loaded add-in end to end: note operations on monitored and unmonitored databases and the
// Event documents they produce, failed operations, profile edits, system databases, and
// notifications the add-in does not handle.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "tests/e2e/addin_host.h"

namespace e2e {
namespace {

std::string PickFields(NOTEID id) {
    char text[32];
    std::snprintf(text, sizeof text, "NoteID:%X", id);
    return text;
}

// The last named parameter is an unsigned int: va_start after a promoted type is undefined.
// Every call passes at least one argument; the handler reads a copy of the list, so the host's
// own list still yields the first argument afterwards.
STATUS CallHandler(uint16_t notificationId, uint16_t stage, unsigned status, ...) {
    va_list passed;
    va_start(passed, status);
    const unsigned first = va_arg(passed, unsigned);
    va_end(passed);
    EMRECORD record;
    record.notificationId = notificationId;
    record.stage = stage;
    record.status = static_cast<uint16_t>(status);
    va_start(record.arguments, status);
    STATUS answer = LoadAddin().handler(&record);
    EXPECT_EQ(va_arg(record.arguments, unsigned), first) << "the host's argument list was advanced";
    va_end(record.arguments);
    return answer;
}

class EventsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FreshServer('\\');
        // Two connectors: "shop" wants every kind of change to documents of the form "Article"
        // (an alias of "Item") in the shop database; "audit" wants deletes in the whole database,
        // and names it with a backslash.
        shopTrigger_ =
            AddProfile({{"Form", std::string("EventTriggerConfiguration")},
                        {"ConnectorId", std::string("shop")},
                        {"EventTypes", qixsim::TextList{"Create", "Update", "Delete"}},
                        {"MonitoredDocuments", qixsim::TextList{"shop/items.qix:Article"}}});
        AddProfile({{"Form", std::string("EventTriggerConfiguration")},
                    {"ConnectorId", std::string("audit")},
                    {"EventTypes", qixsim::TextList{"Delete"}},
                    {"MonitoredDocuments", qixsim::TextList{"shop\\items.qix"}}});
        ConsoleCapture console;
        ASSERT_EQ(LoadAddin().mainEntryPoint(), 0);
    }
    NOTEID shopTrigger_ = 0;
};

TEST_F(EventsTest, CreateUpdateAndExtendedUpdateOfAMonitoredDocument) {
    STATUS status = 1;
    NOTEID lamp = CreateDoc("shop/items.qix", {{"Form", std::string("Item")}}, &status);
    ASSERT_EQ(status, 0);
    ASSERT_NE(lamp, 0u);
    const std::string unid = UnidOf("shop/items.qix", lamp);
    std::vector<Event> expected{
        {"Create", "shop/items.qix", "Item", unid, PickFields(lamp), "shop"}};
    EXPECT_EQ(Events(), expected);

    EXPECT_EQ(UpdateDoc("shop/items.qix", lamp, {{"Title", std::string("Lamp")}}), 0);
    expected.push_back({"Update", "shop/items.qix", "Item", unid, PickFields(lamp), "shop"});
    EXPECT_EQ(Events(), expected);

    EXPECT_EQ(UpdateDoc("shop/items.qix", lamp, {{"Title", std::string("Desk lamp")}}, true), 0);
    expected.push_back({"Update", "shop/items.qix", "Item", unid, PickFields(lamp), "shop"});
    EXPECT_EQ(Events(), expected);

    // Every Event document carries the ten items in the writer's order.
    for (const auto& note : qixsim::ListDocuments("kovaevents.qix", "Event")) {
        std::vector<std::string> names;
        for (const auto& item : note.items)
            names.push_back(item.first);
        EXPECT_EQ(names, (std::vector<std::string>{"EventId", "EventType", "DBPath", "FormName",
                                                   "UNID", "PickFields", "Status", "EventTime",
                                                   "ConnectorId", "Form"}));
    }
}

TEST_F(EventsTest, DeleteAndBulkDeleteWriteOneDocumentPerConnector) {
    NOTEID a = CreateDoc("shop/items.qix", {{"Form", std::string("Article")}});
    NOTEID b = CreateDoc("shop/items.qix", {{"Form", std::string("Other")}});
    NOTEID c = CreateDoc("shop/items.qix", {{"Form", std::string("Item")}});
    const size_t before = Events().size();
    ASSERT_EQ(before, 2u);  // the two creates of Article/Item documents

    ASSERT_EQ(DeleteDoc("shop/items.qix", a), 0);
    std::vector<Event> events = Events();
    ASSERT_EQ(events.size(), before + 2);
    // The trigger read last ("audit") heads the chain, so its id is collected first.
    EXPECT_EQ(events[before].connector, "audit");
    EXPECT_EQ(events[before + 1].connector, "shop");
    EXPECT_EQ(events[before + 1], (Event{"Delete", "shop/items.qix", "Article",
                                         events[before + 1].unid, PickFields(a), "shop"}));

    // b is monitored only by "audit" (its form is not an alias of the shop trigger's form).
    ASSERT_EQ(DeleteDocs("shop/items.qix", {b, c}), 0);
    events = Events();
    ASSERT_EQ(events.size(), before + 5);
    EXPECT_EQ(events[before + 2].pickFields, PickFields(b));
    EXPECT_EQ(events[before + 2].connector, "audit");
    EXPECT_EQ(events[before + 3].pickFields, PickFields(c));
    EXPECT_EQ(events[before + 3].connector, "audit");
    EXPECT_EQ(events[before + 4].pickFields, PickFields(c));
    EXPECT_EQ(events[before + 4].connector, "shop");
}

TEST_F(EventsTest, BulkDeleteSkipsANoteThatCannotBeOpened) {
    NOTEID a = CreateDoc("shop/items.qix", {{"Form", std::string("Item")}});
    NOTEID b = CreateDoc("shop/items.qix", {{"Form", std::string("Item")}});
    NOTEID c = CreateDoc("shop/items.qix", {{"Form", std::string("Item")}});
    const size_t before = Events().size();
    // Before stage opens: the latest profile note, then per note the note and its form. The
    // fourth open is note b's.
    qixsim::FailNth("QIXNoteOpen", ERR_QIX_NOTE_NOT_FOUND, 4);
    ASSERT_EQ(DeleteDocs("shop/items.qix", {a, b, c}), 0);
    std::vector<Event> events = Events();
    ASSERT_EQ(events.size(), before + 4);
    EXPECT_EQ(events[before].pickFields, PickFields(a));
    EXPECT_EQ(events[before + 1].pickFields, PickFields(a));
    EXPECT_EQ(events[before + 2].pickFields, PickFields(c));
    EXPECT_EQ(events[before + 3].pickFields, PickFields(c));
    EXPECT_EQ(qixsim::FaultsInjected(), std::vector<std::string>{"QIXNoteOpen"});
}

TEST_F(EventsTest, UnmonitoredAndFailedOperationsWriteNothing) {
    NOTEID other = CreateDoc("other.qix", {{"Form", std::string("Item")}});
    EXPECT_EQ(UpdateDoc("other.qix", other, {{"Title", std::string("x")}}), 0);
    EXPECT_EQ(DeleteDoc("other.qix", other), 0);
    EXPECT_TRUE(Events().empty());

    NOTEID lamp = CreateDoc("shop/items.qix", {{"Form", std::string("Item")}});
    const size_t before = Events().size();
    EXPECT_EQ(UpdateDoc("shop/items.qix", lamp, {{"Title", std::string("x")}}, false, 549), 549);
    EXPECT_EQ(DeleteDoc("shop/items.qix", lamp, 0x4321), 0x4321);
    EXPECT_EQ(DeleteDocs("shop/items.qix", {lamp}, 0x0222), 0x0222);
    STATUS status = 0;
    CreateDoc("shop/items.qix", {{"Form", std::string("Item")}}, &status, false, 549);
    EXPECT_EQ(status, 549);
    EXPECT_EQ(Events().size(), before);
}

TEST_F(EventsTest, ProfileEditsRereadTheProfilesAndWriteNoEvent) {
    const size_t documents = qixsim::ListNotes("kovaevents.qix").size();
    // The shop connector stops wanting creates.
    ASSERT_EQ(UpdateDoc("kovaevents.qix", shopTrigger_,
                        {{"EventTypes", qixsim::TextList{"Update", "Delete"}}}),
              0);
    EXPECT_EQ(qixsim::ListNotes("kovaevents.qix").size(), documents);
    EXPECT_TRUE(Events().empty());
    NOTEID lamp = CreateDoc("shop/items.qix", {{"Form", std::string("Item")}});
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(UpdateDoc("shop/items.qix", lamp, {{"Title", std::string("x")}}), 0);
    EXPECT_EQ(Events().size(), 1u);

    // Deleting the trigger leaves only "audit", which wants deletes.
    ASSERT_EQ(DeleteDoc("kovaevents.qix", shopTrigger_), 0);
    EXPECT_EQ(Events().size(), 1u);
    EXPECT_EQ(UpdateDoc("shop/items.qix", lamp, {{"Title", std::string("y")}}), 0);
    EXPECT_EQ(Events().size(), 1u);
    ASSERT_EQ(DeleteDoc("shop/items.qix", lamp), 0);
    ASSERT_EQ(Events().size(), 2u);
    EXPECT_EQ(Events()[1].connector, "audit");
}

// A profile document that never opens makes every re-read incomplete: the configuration in force
// stays, its connectors lose nothing, and the re-read is tried at most once a second of the
// server's clock instead of on every notification.
TEST_F(EventsTest, AProfileDocumentThatNeverOpensKeepsTheConfigurationAndRetriesRarely) {
    NOTEID audit = 0;
    for (const qixsim::NoteInfo& note : qixsim::ListNotes("kovaevents.qix")) {
        if (ItemOf(note, "ConnectorId") == "audit")
            audit = note.noteId;
    }
    ASSERT_NE(audit, 0u);
    qixsim::FailNoteOpen("kovaevents.qix", audit, ERR_QIX_NO_MEMORY, UINT32_MAX);
    ASSERT_EQ(UpdateDoc("kovaevents.qix", shopTrigger_, {{"ConnectorId", std::string("shop2")}}),
              0);
    const NOTEID lamp = CreateDoc("shop/items.qix", {{"Form", std::string("Article")}});
    const uint64_t searches = qixsim::CallCount("QIXSearch");
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(UpdateDoc("shop/items.qix", lamp, {{"Title", std::to_string(i)}}), 0);
    const uint64_t rereads = qixsim::CallCount("QIXSearch") - searches;
    EXPECT_GE(rereads, 1u);
    EXPECT_LE(rereads, 10u);
    const std::vector<Event> events = Events();
    ASSERT_EQ(events.size(), 201u);  // the create, then every update, all for "shop"
    for (const Event& event : events)
        EXPECT_EQ(event.connector, "shop");
}

TEST_F(EventsTest, SystemDatabasesAreIgnoredAndLogNothing) {
    NOTEID id = AddProfile({{"Form", std::string("SystemConfiguration")},
                            {"LogLevel", std::string("DEBUG")},
                            {"LogOutputs", qixsim::TextList{"Console"}}});
    ASSERT_NE(id, 0u);
    // Bring the DEBUG settings into force with an ordinary notification first.
    CreateDoc("other.qix", {{"Form", std::string("Item")}});
    for (const char* db : {"log.qix", "hub.qix"}) {
        ConsoleCapture console;
        NOTEID note = CreateDoc(db, {{"Form", std::string("Item")}});
        UpdateDoc(db, note, {{"Title", std::string("x")}});
        DeleteDoc(db, note);
        EXPECT_EQ(console.Stop(), "") << db;
    }
    EXPECT_TRUE(Events().empty());
}

TEST_F(EventsTest, UnknownNotificationFollowsTheReturnRuleSilently) {
    AddProfile({{"Form", std::string("SystemConfiguration")},
                {"LogLevel", std::string("DEBUG")},
                {"LogOutputs", qixsim::TextList{"Console", "log.qix"}}});
    // Bring the DEBUG settings into force with an ordinary (logged) notification first.
    CreateDoc("other.qix", {{"Form", std::string("Item")}});
    const size_t logEntries = qixsim::LogEntries().size();
    ConsoleCapture console;
    EXPECT_EQ(CallHandler(99, EM_STAGE_BEFORE, 0, 1u, 2u), EM_CONTINUE_STATUS);
    EXPECT_EQ(CallHandler(99, EM_STAGE_AFTER, 0x1234, 1u, 2u), 0x1234);
    EXPECT_EQ(console.Stop(), "");
    EXPECT_EQ(qixsim::LogEntries().size(), logEntries);
}

TEST_F(EventsTest, AfterStageWithoutBeforeStageReturnsTheHostStatus) {
    EXPECT_EQ(CallHandler(EM_QIXNOTEUPDATE, EM_STAGE_AFTER, 0x0101, 0u, 0u), 0x0101);
    EXPECT_EQ(CallHandler(EM_QIXNOTEDELETE, EM_STAGE_AFTER, 0, 999u, 5u, 0u), 0);
    EXPECT_EQ(CallHandler(EM_QIXDBDELETENOTES, EM_STAGE_BEFORE, 0, 999u, 998u, 0u),
              EM_CONTINUE_STATUS);
    EXPECT_TRUE(Events().empty());
}

}  // namespace
}  // namespace e2e
