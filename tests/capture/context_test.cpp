// Event context: filling from the server API (path, note id, form, class, originator id and the
// create/update resolution), failure statuses and messages, and the path helpers.
#include "capture/context.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/testsupport.h"

namespace {

using kova::EventContext;

class EventContextTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kovatest::ResetAll();
        kovatest::SetLogSettings(3, 0, 1);
        ASSERT_EQ(qixsim::CreateDatabase("orders.qix"), 0);
        ASSERT_EQ(qixsim::CreateDocument("orders.qix", {{"Form", std::string("Order")}}, &noteId_),
                  0);
        ASSERT_EQ(qixsim::OpenDatabase("orders.qix", &db_), 0);
    }
    void TearDown() override { qixsim::CloseHandle(db_); }

    static EventContext Blank() {
        EventContext context;
        std::memset(&context, 0, sizeof context);
        return context;
    }

    DBHANDLE db_ = 0;
    NOTEID noteId_ = 0;
};

TEST_F(EventContextTest, NewNoteResolvesToCreateAndStoredNoteToUpdate) {
    NOTEHANDLE fresh = 0;
    ASSERT_EQ(qixsim::NewNote(db_, &fresh), 0);
    ASSERT_EQ(qixsim::SetItems(fresh, {{"Form", std::string("Order")}}), 0);
    const size_t handles = qixsim::OpenHandleCount();

    EventContext create = Blank();
    create.noteHandle = fresh;
    create.eventType = kova::kEventTypeUnknown;
    EXPECT_EQ(kova::FillInDbContext(&create), 0);
    EXPECT_EQ(create.dbHandle, db_);
    EXPECT_STREQ(create.dbPath, "orders.qix");
    EXPECT_EQ(kova::FillInNoteContext(&create), 0);
    EXPECT_EQ(create.noteId, 0u);
    EXPECT_EQ(create.eventType, kova::kEventTypeCreate);
    EXPECT_STREQ(create.formName, "Order");
    EXPECT_EQ(create.noteClass, NOTE_CLASS_DOCUMENT);
    EXPECT_NE(create.originatorId.note.word[0] | create.originatorId.note.word[1] |
                  create.originatorId.file.word[0] | create.originatorId.file.word[1],
              0u);
    EXPECT_EQ(create.noteHandle, fresh);

    NOTEHANDLE stored = 0;
    ASSERT_EQ(qixsim::OpenNote(db_, noteId_, &stored), 0);
    EventContext update = Blank();
    update.noteHandle = stored;
    update.eventType = kova::kEventTypeUnknown;
    EXPECT_EQ(kova::FillInNoteContext(&update), 0);
    EXPECT_EQ(update.noteId, noteId_);
    EXPECT_EQ(update.eventType, kova::kEventTypeUpdate);
    const std::vector<qixsim::NoteInfo> notes = qixsim::ListNotes("orders.qix");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(std::memcmp(&update.originatorId, &notes[0].originatorId, 16), 0);

    // Without a universal id (the originator read fails) the type stays unknown.
    EventContext unknown = Blank();
    unknown.noteHandle = stored;
    unknown.eventType = kova::kEventTypeUnknown;
    // Calls: database, note id, class, then the originator id (the fourth).
    qixsim::FailNth("QIXNoteGetInfo", ERR_QIX_BAD_SELECTOR, 4);
    EXPECT_EQ(kova::FillInNoteContext(&unknown), 0);
    EXPECT_EQ(unknown.eventType, kova::kEventTypeUnknown);
    EXPECT_STREQ(unknown.formName, "Order");

    // Host-given handles are never closed here.
    EXPECT_EQ(qixsim::OpenHandleCount(), handles + 1);
    qixsim::CloseHandle(stored);
    qixsim::CloseHandle(fresh);
}

TEST_F(EventContextTest, DeleteContextOpensClosesTheNoteAndKeepsItsType) {
    const size_t handles = qixsim::OpenHandleCount();
    EventContext context = Blank();
    context.dbHandle = db_;
    context.noteId = noteId_;
    context.eventType = kova::kEventTypeDelete;
    EXPECT_EQ(kova::FillInDbContext(&context), 0);
    EXPECT_STREQ(context.dbPath, "orders.qix");
    EXPECT_EQ(kova::FillInNoteContext(&context), 0);
    EXPECT_EQ(context.eventType, kova::kEventTypeDelete);
    EXPECT_STREQ(context.formName, "Order");
    EXPECT_EQ(context.noteClass, NOTE_CLASS_DOCUMENT);
    EXPECT_NE(context.noteHandle, 0);  // the closed handle's value stays
    EXPECT_EQ(qixsim::OpenHandleCount(), handles);

    // A note that cannot be opened: the unmasked status in decimal, at ERROR.
    EventContext missing = Blank();
    missing.dbHandle = db_;
    missing.noteId = noteId_;
    missing.eventType = kova::kEventTypeDelete;
    qixsim::FailNext("QIXNoteOpen", ERR_QIX_DB_NOT_FOUND);
    EXPECT_EQ(kova::FillInNoteContext(&missing), ERR_QIX_DB_NOT_FOUND);
    EXPECT_STREQ(missing.formName, "");
    EXPECT_EQ(missing.noteClass, 0);
    EXPECT_EQ(kovatest::LogEntries(),
              std::vector<std::string>{"KOVA:ERROR:Error opening Note. Error# 16645\n"});
    EXPECT_EQ(qixsim::OpenHandleCount(), handles);
}

TEST_F(EventContextTest, MissingHandlesAndUnreadablePathsLogAtDebugOnly) {
    EventContext empty = Blank();
    EXPECT_EQ(kova::FillInDbContext(&empty), 0xFFFF);
    EXPECT_EQ(kova::FillInNoteContext(&empty), 0);
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{"KOVA:DEBUG:Error note context.\n",
                                        "KOVA:DEBUG:Error note context.\n"}));

    kovatest::ResetAll();
    kovatest::SetLogSettings(2, 0, 1);  // DEBUG filtered: nothing reaches the log
    EXPECT_EQ(kova::FillInDbContext(&empty), 0xFFFF);
    EXPECT_TRUE(kovatest::LogEntries().empty());

    kovatest::SetLogSettings(3, 0, 1);
    ASSERT_EQ(qixsim::CreateDatabase("orders.qix"), 0);
    ASSERT_EQ(qixsim::CreateDocument("orders.qix", {{"Form", std::string("Order")}}, &noteId_), 0);
    ASSERT_EQ(qixsim::OpenDatabase("orders.qix", &db_), 0);
    EventContext context = Blank();
    context.dbHandle = db_;
    context.noteId = noteId_;
    context.eventType = kova::kEventTypeDelete;
    qixsim::FailNext("QIXDbPathGet", ERR_QIX_INVALID_HANDLE);
    EXPECT_EQ(kova::FillInDbContext(&context), ERR_QIX_INVALID_HANDLE);
    qixsim::FailNext("QIXDbPathGet", ERR_QIX_INVALID_HANDLE);
    EXPECT_EQ(kova::FillInNoteContext(&context), ERR_QIX_INVALID_HANDLE);
    EXPECT_STREQ(context.dbPath, "");
    EXPECT_STREQ(context.formName, "");
    EXPECT_EQ(context.noteClass, 0);
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{"KOVA:DEBUG:Error retrieving Database name.\n",
                                        "KOVA:DEBUG:Error retrieving Database name.\n"}));
}

TEST_F(EventContextTest, FormNameLongerThanTheReadLimitIsCutAndTerminated) {
    const std::string longForm(200, 'F');
    NOTEID id = 0;
    ASSERT_EQ(qixsim::CreateDocument("orders.qix", {{"Form", longForm}}, &id), 0);
    EventContext context = Blank();
    std::memset(context.formName, '#', sizeof context.formName);
    context.dbHandle = db_;
    context.noteId = id;
    context.eventType = kova::kEventTypeDelete;
    EXPECT_EQ(kova::FillInNoteContext(&context), 0);
    const size_t length = std::strlen(context.formName);
    EXPECT_LT(length, sizeof context.formName);
    EXPECT_GE(length, 129u);
    EXPECT_EQ(std::string(context.formName), longForm.substr(0, length));

    // A note without a "Form" item gives an empty form name.
    ASSERT_EQ(qixsim::CreateDocument("orders.qix", {{"Subject", std::string("x")}}, &id), 0);
    EventContext formless = Blank();
    formless.dbHandle = db_;
    formless.noteId = id;
    formless.eventType = kova::kEventTypeDelete;
    EXPECT_EQ(kova::FillInNoteContext(&formless), 0);
    EXPECT_STREQ(formless.formName, "");
}

TEST_F(EventContextTest, PathOfASubdirectoryDatabaseIsKeptAsTheServerGivesIt) {
    qixsim::SetSeparator('\\');
    ASSERT_EQ(qixsim::CreateDatabase("sub/dir/Orders.qix"), 0);
    DBHANDLE sub = 0;
    ASSERT_EQ(qixsim::OpenDatabase("sub/dir/Orders.qix", &sub), 0);
    EventContext context = Blank();
    context.dbHandle = sub;
    EXPECT_EQ(kova::FillInDbContext(&context), 0);
    EXPECT_STREQ(context.dbPath, "sub\\dir\\Orders.qix");
    char normalized[kova::kNormalizedPathSize];
    kova::GetNormalizedDbPath(normalized, sizeof normalized, context.dbPath);
    EXPECT_STREQ(normalized, "sub/dir/Orders.qix");
    qixsim::CloseHandle(sub);
}

TEST(DbPathHelpers, NormalisationTurnsBackslashesIntoSlashesAndNothingElse) {
    char dest[kova::kNormalizedPathSize];
    kova::GetNormalizedDbPath(dest, sizeof dest, "Mail\\Sub\\User.QIX");
    EXPECT_STREQ(dest, "Mail/Sub/User.QIX");
    kova::GetNormalizedDbPath(dest, sizeof dest, "a\\\\b");
    EXPECT_STREQ(dest, "a//b");
    kova::GetNormalizedDbPath(dest, sizeof dest, " c:\\x// ");
    EXPECT_STREQ(dest, " c:/x// ");
    kova::GetNormalizedDbPath(dest, sizeof dest, "");
    EXPECT_STREQ(dest, "");

    char small[8];
    std::memset(small, '#', sizeof small);
    kova::GetNormalizedDbPath(small, 5, "abc\\defg");
    EXPECT_STREQ(small, "abc/");
    EXPECT_EQ(small[5], '#');
}

TEST(DbPathHelpers, SystemDatabasesAndProfileDocumentsMatchExactly) {
    EventContext context;
    std::memset(&context, 0, sizeof context);
    const std::vector<std::pair<const char*, int>> systemCases = {
        {"log.qix", 1},       {"hub.qix", 1},     {"LOG.QIX", 0},
        {"Hub.qix", 0},       {"sub/log.qix", 0}, {"sub\\hub.qix", 0},
        {"log.qix ", 0},      {"log.qi", 0},      {"", 0},
        {"kovaevents.qix", 0}};
    for (const auto& [path, expected] : systemCases) {
        std::snprintf(context.dbPath, sizeof context.dbPath, "%s", path);
        EXPECT_EQ(kova::IsSystemDb(&context), expected) << '"' << path << '"';
    }

    EXPECT_EQ(kova::IsConfigurationNote("kovaevents.qix", "SystemConfiguration"), 1);
    EXPECT_EQ(kova::IsConfigurationNote("kovaevents.qix", "Configuration"), 1);
    EXPECT_EQ(kova::IsConfigurationNote("kovaevents.qix", "EventTriggerConfiguration"), 1);
    EXPECT_EQ(kova::IsConfigurationNote("kovaevents.qix", "Event"), 0);
    EXPECT_EQ(kova::IsConfigurationNote("kovaevents.qix", "systemconfiguration"), 0);
    EXPECT_EQ(kova::IsConfigurationNote("kovaevents.qix", "Configuration "), 0);
    EXPECT_EQ(kova::IsConfigurationNote("orders.qix", "SystemConfiguration"), 0);
    EXPECT_EQ(kova::IsConfigurationNote("KovaEvents.qix", "SystemConfiguration"), 0);
    EXPECT_EQ(kova::IsConfigurationNote("sub/kovaevents.qix", "Configuration"), 0);
}

}  // namespace
