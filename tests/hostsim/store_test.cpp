// Databases, paths, notes and items of the stand-in server: separators and missing databases,
// the note lifecycle with its originator ids, deleted notes, and the item read contract.
#include <cstring>

#include "tests/hostsim/hostsim_fixture.h"

namespace hostsimtest {
namespace {

using DatabasesTest = HostsimTest;
using NotesTest = HostsimTest;
using ItemsTest = HostsimTest;

TEST_F(DatabasesTest, PathsSeparatorsAndMissingDatabases) {
    EXPECT_EQ((std::vector<std::string>{"hub.qix", "log.qix"}), qixsim::ListDatabases());
    ASSERT_EQ(0, qixsim::CreateDatabase("mail\\sales.qix"));
    EXPECT_EQ(ERR_QIX_DB_EXISTS, qixsim::CreateDatabase("mail/sales.qix"));
    EXPECT_EQ((std::vector<std::string>{"hub.qix", "log.qix", "mail/sales.qix"}),
              qixsim::ListDatabases());

    kova::DbGuard slash, backslash, prefixed;
    ASSERT_EQ(0, QIXDbOpen("mail/sales.qix", slash.Out()));
    ASSERT_EQ(0, QIXDbOpen("mail\\sales.qix", backslash.Out()));
    ASSERT_EQ(0, QIXDbOpen("/qix/data/mail/sales.qix", prefixed.Out()));
    DBHANDLE missing = QIX_NULLHANDLE;
    EXPECT_EQ(ERR_QIX_DB_NOT_FOUND, QIXDbOpen("Mail/sales.qix", &missing));
    EXPECT_EQ(ERR_QIX_DB_NOT_FOUND, QIXDbOpen("sales.qix", &missing));
    EXPECT_EQ(QIX_NULLHANDLE, missing);

    char canonical[QIX_MAXPATH];
    char expanded[QIX_MAXPATH];
    ASSERT_EQ(0, QIXDbPathGet(backslash.Get(), canonical, expanded));
    EXPECT_STREQ("mail/sales.qix", canonical);
    EXPECT_STREQ("/qix/data/mail/sales.qix", expanded);
    qixsim::SetSeparator('\\');
    qixsim::SetDataDirectory("C:\\qix\\data");
    ASSERT_EQ(0, QIXDbPathGet(slash.Get(), canonical, nullptr));
    EXPECT_STREQ("mail\\sales.qix", canonical);
    ASSERT_EQ(0, QIXDbPathGet(slash.Get(), canonical, expanded));
    EXPECT_STREQ("C:\\qix\\data\\mail\\sales.qix", expanded);
}

TEST_F(DatabasesTest, OverlongPathIsCutToTheBuffer) {
    const std::string path = std::string(300, 'd') + ".qix";
    ASSERT_EQ(0, qixsim::CreateDatabase(path));
    kova::DbGuard db;
    ASSERT_EQ(0, QIXDbOpen(path.c_str(), db.Out()));
    char buffer[QIX_MAXPATH + 8];
    std::memset(buffer, 'X', sizeof buffer);
    ASSERT_EQ(0, QIXDbPathGet(db.Get(), buffer, nullptr));
    EXPECT_EQ(static_cast<size_t>(QIX_MAXPATH - 1), std::strlen(buffer));
    EXPECT_EQ('X', buffer[QIX_MAXPATH]);  // nothing written past the buffer
}

TEST_F(NotesTest, LifecycleAssignsIdsAndOriginatorIds) {
    ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
    ASSERT_EQ(0, qixsim::CreateDatabase("b.qix"));
    kova::DbGuard a, b;
    ASSERT_EQ(0, QIXDbOpen("a.qix", a.Out()));
    ASSERT_EQ(0, QIXDbOpen("b.qix", b.Out()));

    kova::NoteGuard note;
    ASSERT_EQ(0, QIXNoteCreate(a.Get(), note.Out()));
    NOTEID id = 99;
    uint16_t noteClass = 0;
    DBHANDLE owner = QIX_NULLHANDLE;
    ASSERT_EQ(0, QIXNoteGetInfo(note.Get(), NOTE_INFO_ID, &id));
    ASSERT_EQ(0, QIXNoteGetInfo(note.Get(), NOTE_INFO_CLASS, &noteClass));
    ASSERT_EQ(0, QIXNoteGetInfo(note.Get(), NOTE_INFO_DB, &owner));
    EXPECT_EQ(0u, id);
    EXPECT_EQ(NOTE_CLASS_DOCUMENT, noteClass);
    EXPECT_EQ(a.Get(), owner);
    const ORIGINATORID fresh = Originator(note.Get());
    EXPECT_EQ(0u, fresh.sequence);
    EXPECT_NE(0u,
              fresh.file.word[0] | fresh.file.word[1] | fresh.note.word[0] | fresh.note.word[1]);
    uint32_t unused = 0;
    EXPECT_EQ(ERR_QIX_BAD_SELECTOR, QIXNoteGetInfo(note.Get(), 9, &unused));

    ASSERT_EQ(0, QIXItemSetText(note.Get(), "Form", "Order", QIX_TEXT_TERMINATED));
    ASSERT_EQ(0, QIXNoteUpdate(note.Get(), 0));
    ASSERT_EQ(0, QIXNoteGetInfo(note.Get(), NOTE_INFO_ID, &id));
    EXPECT_NE(0u, id);
    NOTEID hostView = 0;
    ASSERT_EQ(0, qixsim::NoteIdOf(note.Get(), &hostView));
    EXPECT_EQ(id, hostView);
    const ORIGINATORID first = Originator(note.Get());
    EXPECT_EQ(1u, first.sequence);
    EXPECT_GE(Hundredths(first.sequenceTime), kStart);
    EXPECT_EQ(0, std::memcmp(&fresh, &first, sizeof(UNIVERSALID)));  // universal id kept

    ASSERT_EQ(0, QIXNoteUpdate(note.Get(), 0));
    NOTEID again = 0;
    ASSERT_EQ(0, QIXNoteGetInfo(note.Get(), NOTE_INFO_ID, &again));
    const ORIGINATORID second = Originator(note.Get());
    EXPECT_EQ(id, again);
    EXPECT_EQ(2u, second.sequence);
    EXPECT_GT(Hundredths(second.sequenceTime), Hundredths(first.sequenceTime));

    // A second note: a later id, its own note part, the same file part; another database has
    // another file part.
    const NOTEID next = StoreDocument(a.Get(), "Order");
    EXPECT_GT(next, id);
    kova::NoteGuard other, elsewhere;
    ASSERT_EQ(0, QIXNoteOpen(a.Get(), next, 0, other.Out()));
    ASSERT_EQ(0, QIXNoteCreate(b.Get(), elsewhere.Out()));
    const ORIGINATORID otherOid = Originator(other.Get());
    const ORIGINATORID elsewhereOid = Originator(elsewhere.Get());
    EXPECT_EQ(0, std::memcmp(&first.file, &otherOid.file, sizeof(TIMEDATE)));
    EXPECT_NE(0, std::memcmp(&first.note, &otherOid.note, sizeof(TIMEDATE)));
    EXPECT_NE(0, std::memcmp(&first.file, &elsewhereOid.file, sizeof(TIMEDATE)));

    NOTEHANDLE none = QIX_NULLHANDLE;
    EXPECT_EQ(ERR_QIX_NOTE_NOT_FOUND, QIXNoteOpen(a.Get(), next + 1, 0, &none));
    EXPECT_EQ(2u, qixsim::ListNotes("a.qix").size());
}

TEST_F(NotesTest, OpenNoteIsAWorkingCopy) {
    ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
    NOTEID id = 0;
    ASSERT_EQ(0, qixsim::CreateDocument("a.qix", {{"Form", std::string("Order")}}, &id));
    kova::DbGuard db;
    ASSERT_EQ(0, QIXDbOpen("a.qix", db.Out()));
    kova::NoteGuard editing, reading;
    ASSERT_EQ(0, QIXNoteOpen(db.Get(), id, 0, editing.Out()));
    ASSERT_EQ(0, QIXNoteOpen(db.Get(), id, 0, reading.Out()));
    ASSERT_EQ(0, QIXItemSetText(editing.Get(), "Form", "Changed", QIX_TEXT_TERMINATED));
    EXPECT_EQ("Changed", ReadText(editing.Get(), "Form"));
    EXPECT_EQ("Order", ReadText(reading.Get(), "Form"));
    EXPECT_EQ(1u, qixsim::ListDocuments("a.qix", "Order").size());

    ASSERT_EQ(0, QIXNoteUpdate(editing.Get(), 0));
    EXPECT_EQ("Order", ReadText(reading.Get(), "Form"));  // an open copy is not refreshed
    EXPECT_EQ(0u, qixsim::ListDocuments("a.qix", "Order").size());
    ASSERT_EQ(1u, qixsim::ListDocuments("a.qix", "Changed").size());
    EXPECT_EQ(2u, qixsim::ListDocuments("a.qix", "Changed")[0].originatorId.sequence);
}

TEST_F(NotesTest, DeletedNoteKeepsItsCopyButCannotBeStored) {
    ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
    kova::DbGuard db;
    ASSERT_EQ(0, QIXDbOpen("a.qix", db.Out()));
    const NOTEID id = StoreDocument(db.Get(), "Order");
    kova::NoteGuard note;
    ASSERT_EQ(0, QIXNoteOpen(db.Get(), id, 0, note.Out()));
    ASSERT_EQ(0, QIXNoteDelete(db.Get(), id, 0));
    EXPECT_EQ("Order", ReadText(note.Get(), "Form"));
    EXPECT_EQ(ERR_QIX_NOTE_DELETED, QIXNoteUpdate(note.Get(), 0));
    EXPECT_EQ(ERR_QIX_NOTE_NOT_FOUND, QIXNoteDelete(db.Get(), id, 0));
    EXPECT_TRUE(qixsim::ListNotes("a.qix").empty());
}

TEST_F(ItemsTest, ReadContractAtTheLimits) {
    ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
    kova::DbGuard db;
    kova::NoteGuard note;
    ASSERT_EQ(0, QIXDbOpen("a.qix", db.Out()));
    ASSERT_EQ(0, QIXNoteCreate(db.Get(), note.Out()));
    ASSERT_EQ(0, QIXItemSetText(note.Get(), "Text", "abcdef", QIX_TEXT_TERMINATED));
    ASSERT_EQ(0, QIXItemSetText(note.Get(), "Cut", "abcdef", 3));

    char buffer[16];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(0, QIXItemGetText(note.Get(), "Text", buffer, 1));  // limit 1: only the NUL
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ('X', buffer[1]);
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(6, QIXItemGetText(note.Get(), "Text", buffer, 7));  // exact fit
    EXPECT_STREQ("abcdef", buffer);
    EXPECT_EQ('X', buffer[7]);
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(5, QIXItemGetText(note.Get(), "Text", buffer, 6));  // one short: cut
    EXPECT_STREQ("abcde", buffer);
    EXPECT_EQ('X', buffer[6]);
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(0, QIXItemGetText(note.Get(), "Text", buffer, 0));  // no room: untouched
    EXPECT_EQ('X', buffer[0]);
    EXPECT_EQ(0, QIXItemGetText(note.Get(), "Missing", buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ("abc", ReadText(note.Get(), "Cut"));

    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(3, QIXItemGetTextListEntry(note.Get(), "Text", 0, buffer, 4));
    EXPECT_STREQ("abc", buffer);
    EXPECT_EQ(0, QIXItemGetTextListEntry(note.Get(), "Text", 1, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
}

TEST_F(ItemsTest, ListsNumbersTimesAndItemOrder) {
    ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
    kova::DbGuard db;
    kova::NoteGuard note;
    ASSERT_EQ(0, QIXDbOpen("a.qix", db.Out()));
    ASSERT_EQ(0, QIXNoteCreate(db.Get(), note.Out()));
    ASSERT_EQ(0, QIXItemAppendTextListEntry(note.Get(), "List", "a", QIX_TEXT_TERMINATED));
    ASSERT_EQ(0, QIXItemAppendTextListEntry(note.Get(), "List", "bbX", 2));
    ASSERT_EQ(0, QIXItemAppendTextListEntry(note.Get(), "List", "ccc", QIX_TEXT_TERMINATED));
    ASSERT_EQ(0, QIXItemSetText(note.Get(), "Single", "one", QIX_TEXT_TERMINATED));
    const double number = 42.5;
    const TIMEDATE when = Time(kStart + 1234);
    ASSERT_EQ(0, QIXItemSetNumber(note.Get(), "Number", &number));
    ASSERT_EQ(0, QIXItemSetTime(note.Get(), "When", &when));

    EXPECT_EQ(3, QIXItemGetTextListEntries(note.Get(), "List"));
    EXPECT_EQ(1, QIXItemGetTextListEntries(note.Get(), "Single"));
    EXPECT_EQ(0, QIXItemGetTextListEntries(note.Get(), "Missing"));
    char buffer[32];
    EXPECT_EQ(2, QIXItemGetTextListEntry(note.Get(), "List", 1, buffer, sizeof buffer));
    EXPECT_STREQ("bb", buffer);
    EXPECT_EQ(0, QIXItemGetTextListEntry(note.Get(), "List", 3, buffer, sizeof buffer));
    EXPECT_EQ("a; bb; ccc", ReadText(note.Get(), "List"));
    EXPECT_EQ(4, QIXItemGetText(note.Get(), "List", buffer, 5));
    EXPECT_STREQ("a; b", buffer);
    ASSERT_EQ(0, QIXItemAppendTextListEntry(note.Get(), "Grown", "x", QIX_TEXT_TERMINATED));
    ASSERT_EQ(0, QIXItemSetText(note.Get(), "Grown", "first", QIX_TEXT_TERMINATED));
    ASSERT_EQ(0, QIXItemAppendTextListEntry(note.Get(), "Grown", "second", QIX_TEXT_TERMINATED));
    EXPECT_EQ("first; second", ReadText(note.Get(), "Grown"));  // a text grows into a list
    EXPECT_EQ("42.5", ReadText(note.Get(), "Number"));
    EXPECT_EQ("2024-03-01 00:00:12.34", ReadText(note.Get(), "When"));

    // Setting an existing item replaces it where it stands, whatever its type was.
    ASSERT_EQ(0, QIXItemSetNumber(note.Get(), "List", &number));
    ASSERT_EQ(0, QIXNoteUpdate(note.Get(), 0));
    const auto notes = qixsim::ListNotes("a.qix");
    ASSERT_EQ(1u, notes.size());
    const qixsim::Items& items = notes[0].items;
    ASSERT_EQ(5u, items.size());
    EXPECT_EQ("List", items[0].first);
    EXPECT_EQ(42.5, std::get<double>(items[0].second));
    EXPECT_EQ("Single", items[1].first);
    EXPECT_EQ("When", items[3].first);
    EXPECT_EQ("2024-03-01 00:00:12.34", qixsim::ItemText(items[3].second));
}

}  // namespace
}  // namespace hostsimtest
