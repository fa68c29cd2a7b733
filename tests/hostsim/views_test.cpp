// Design lookups, views, the "@All" formula and search in the stand-in server: forms by alias,
// views by title, view order and walks, reads to the last entry, modification times, search order
// and its ending.
#include <cstring>

#include "tests/hostsim/hostsim_fixture.h"

namespace hostsimtest {
namespace {

class ViewsTest : public HostsimTest {
  protected:
    void SetUp() override {
        HostsimTest::SetUp();
        ASSERT_EQ(0, qixsim::CreateEventDatabase());
        ASSERT_EQ(0, QIXDbOpen("kovaevents.qix", db_.Out()));
        ASSERT_EQ(0, TAVFindDesignNoteExt(db_.Get(), "(All Configurations)", NOTE_CLASS_VIEW,
                                          "-G40n^", &view_, 0));
    }

    // Walks the profile view one entry at a time, as the add-in does; answers the ids read.
    std::vector<NOTEID> Walk(TIMEDATE* modified = nullptr) {
        std::vector<NOTEID> ids;
        kova::CollectionGuard collection;
        EXPECT_EQ(0, TAVOpenCollection(db_.Get(), db_.Get(), view_, 0, QIX_NULLHANDLE,
                                       collection.Out(), nullptr, nullptr, nullptr, nullptr));
        COLLECTIONPOSITION position{};
        uint16_t signal = SIGNAL_MORE_ENTRIES;
        while ((signal & SIGNAL_MORE_ENTRIES) != 0) {
            kova::MemGuard buffer;
            uint32_t returned = 0;
            EXPECT_EQ(0, TAVReadEntries(collection.Get(), &position, NAVIGATE_NEXT, 1,
                                        NAVIGATE_NEXT, 1, READ_MASK_NOTEID, buffer.Out(), nullptr,
                                        nullptr, &returned, &signal));
            if (!buffer) {
                EXPECT_EQ(0u, returned);
                break;
            }
            EXPECT_EQ(1u, returned);
            EXPECT_EQ(ids.size() + 1, position.tumbler[0]);
            kova::MemLock lock(buffer.Get());
            NOTEID id = 0;
            std::memcpy(&id, lock.Get(), sizeof id);
            ids.push_back(id);
        }
        if (modified != nullptr) {
            EXPECT_EQ(0, TAVGetLastModifiedTime(collection.Get(), modified));
        }
        return ids;
    }

    NOTEID Document(const char* form) {
        NOTEID id = 0;
        EXPECT_EQ(0, qixsim::CreateDocument("kovaevents.qix", {{"Form", std::string(form)}}, &id));
        return id;
    }

    kova::DbGuard db_;
    NOTEID view_ = 0;
};

TEST_F(ViewsTest, DesignLookupByAliasAndByTitle) {
    NOTEID form = 0;
    ASSERT_EQ(0, qixsim::CreateForm("kovaevents.qix", "Order; Purchase Order ;PO", &form));
    NOTEID found = 0;
    for (const char* name : {"Order", "Purchase Order", "PO"}) {
        found = 0;
        EXPECT_EQ(0, TAVFindDesignNote(db_.Get(), name, NOTE_CLASS_FORM, &found)) << name;
        EXPECT_EQ(form, found) << name;
    }
    for (const char* name : {"order", "Purchase", "Order; Purchase Order ;PO", ""}) {
        EXPECT_EQ(ERR_QIX_DESIGN_NOT_FOUND,
                  TAVFindDesignNote(db_.Get(), name, NOTE_CLASS_FORM, &found))
            << name;
    }
    EXPECT_EQ(0, TAVFindDesignNoteExt(db_.Get(), "Order; Purchase Order ;PO", NOTE_CLASS_FORM,
                                      "-G40n^", &found, 0));
    EXPECT_EQ(form, found);
    EXPECT_EQ(ERR_QIX_DESIGN_NOT_FOUND,
              TAVFindDesignNoteExt(db_.Get(), "Order", NOTE_CLASS_FORM, nullptr, &found, 0));
    EXPECT_EQ(ERR_QIX_DESIGN_NOT_FOUND, TAVFindDesignNoteExt(db_.Get(), "(All Configurations)",
                                                             NOTE_CLASS_FORM, nullptr, &found, 0));
    EXPECT_EQ(ERR_QIX_BAD_ARGUMENT, TAVFindDesignNoteExt(db_.Get(), "(All Configurations)",
                                                         NOTE_CLASS_VIEW, nullptr, &found, 1));
    EXPECT_EQ(0, TAVFindDesignNote(db_.Get(), "Event", NOTE_CLASS_FORM, &found));
}

TEST_F(ViewsTest, EntriesAreSelectedDocumentsOldestChangeFirst) {
    EXPECT_TRUE(Walk().empty());  // an empty view: no buffer, no error, no signal
    const NOTEID a = Document("Configuration");
    Document("Event");
    const NOTEID b = Document("SystemConfiguration");
    const NOTEID c = Document("EventTriggerConfiguration");
    Document("configuration");
    EXPECT_EQ((std::vector<NOTEID>{a, b, c}), Walk());

    kova::NoteGuard note;
    ASSERT_EQ(0, QIXNoteOpen(db_.Get(), a, 0, note.Out()));
    ASSERT_EQ(0, QIXNoteUpdate(note.Get(), 0));
    EXPECT_EQ((std::vector<NOTEID>{b, c, a}), Walk());  // the latest change is last

    ASSERT_EQ(0, QIXItemSetText(note.Get(), "Form", "Event", QIX_TEXT_TERMINATED));
    ASSERT_EQ(0, QIXNoteUpdate(note.Get(), 0));
    EXPECT_EQ((std::vector<NOTEID>{b, c}), Walk());  // no longer selected
    ASSERT_EQ(0, QIXNoteDelete(db_.Get(), b, 0));
    EXPECT_EQ((std::vector<NOTEID>{c}), Walk());
}

TEST_F(ViewsTest, ReadEntriesPositionsCountsAndSignals) {
    kova::CollectionGuard empty, one, collection;
    ASSERT_EQ(0, TAVOpenCollection(db_.Get(), db_.Get(), view_, 0, QIX_NULLHANDLE, empty.Out(),
                                   nullptr, nullptr, nullptr, nullptr));
    const NOTEID a = Document("Configuration");
    ASSERT_EQ(0, TAVOpenCollection(db_.Get(), db_.Get(), view_, 0, QIX_NULLHANDLE, one.Out(),
                                   nullptr, nullptr, nullptr, nullptr));
    const NOTEID b = Document("Configuration");
    const NOTEID c = Document("Configuration");
    ASSERT_EQ(0, TAVOpenCollection(db_.Get(), db_.Get(), view_, 0, QIX_NULLHANDLE, collection.Out(),
                                   nullptr, nullptr, nullptr, nullptr));
    const NOTEID d = Document("Configuration");  // after the open: not in this collection

    COLLECTIONPOSITION position{};
    kova::MemGuard buffer;
    uint16_t length = 0;
    uint32_t skipped = 9, returned = 9;
    uint16_t signal = 0;
    ASSERT_EQ(
        0, TAVReadEntries(collection.Get(), &position, NAVIGATE_NEXT, 0, NAVIGATE_NEXT, 10,
                          READ_MASK_NOTEID, buffer.Out(), &length, &skipped, &returned, &signal));
    EXPECT_EQ(0u, skipped);
    EXPECT_EQ(3u, returned);
    EXPECT_EQ(3 * sizeof(NOTEID), length);
    EXPECT_EQ(3u, position.tumbler[0]);
    EXPECT_EQ(0, signal);
    {
        kova::MemLock lock(buffer.Get());
        NOTEID ids[3];
        std::memcpy(ids, lock.Get(), sizeof ids);
        EXPECT_EQ(a, ids[0]);
        EXPECT_EQ(b, ids[1]);
        EXPECT_EQ(c, ids[2]);
    }
    buffer.Close();

    position.tumbler[0] = 1;
    ASSERT_EQ(
        0, TAVReadEntries(collection.Get(), &position, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 1,
                          READ_MASK_NOTEID, buffer.Out(), &length, &skipped, &returned, &signal));
    EXPECT_EQ(1u, skipped);
    EXPECT_EQ(1u, returned);
    EXPECT_EQ(2u, position.tumbler[0]);
    EXPECT_EQ(SIGNAL_MORE_ENTRIES, signal);
    buffer.Close();

    position.tumbler[0] = 3;  // on the last entry: a next read returns nothing
    ASSERT_EQ(
        0, TAVReadEntries(collection.Get(), &position, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 1,
                          READ_MASK_NOTEID, buffer.Out(), &length, &skipped, &returned, &signal));
    EXPECT_FALSE(buffer);
    EXPECT_EQ(0u, returned);
    EXPECT_EQ(0, signal);
    EXPECT_EQ((std::vector<NOTEID>{a, b, c, d}), Walk());

    // NAVIGATE_LAST lands on the last entry from any position; returning then starts there.
    struct LastCase {
        HCOLLECTION collection;
        uint32_t from;       // position before the read
        uint32_t skipCount;  // not a number of steps: 0 stays, any other goes to the last
        NOTEID returnedId;   // 0: nothing returned
        uint32_t skipped;
        uint32_t at;  // position after the read
        uint16_t signal;
    };
    const LastCase cases[] = {
        {empty.Get(), 0, 1, 0, 0, 0, 0},                         // an empty view: no buffer
        {one.Get(), 0, 1, a, 1, 1, 0},                           // the only entry
        {collection.Get(), 0, 1, c, 3, 3, 0},                    // as the add-in reads it
        {collection.Get(), 1, 7, c, 2, 3, 0},                    // any count but 0: the last
        {collection.Get(), 3, 1, c, 0, 3, 0},                    // already on the last entry
        {collection.Get(), 2, 0, b, 0, 2, SIGNAL_MORE_ENTRIES},  // 0 stays put
    };
    for (const LastCase& row : cases) {
        const std::string name = "from " + std::to_string(row.from) + " skip " +
                                 std::to_string(row.skipCount) + " in " +
                                 std::to_string(row.collection);
        position = COLLECTIONPOSITION{};
        position.tumbler[0] = row.from;
        skipped = returned = 9;
        ASSERT_EQ(0, TAVReadEntries(row.collection, &position, NAVIGATE_LAST, row.skipCount,
                                    NAVIGATE_NEXT, 1, READ_MASK_NOTEID, buffer.Out(), nullptr,
                                    &skipped, &returned, &signal))
            << name;
        EXPECT_EQ(row.skipped, skipped) << name;
        EXPECT_EQ(row.at, position.tumbler[0]) << name;
        EXPECT_EQ(row.signal, signal) << name;
        EXPECT_EQ(row.returnedId != 0 ? 1u : 0u, returned) << name;
        ASSERT_EQ(row.returnedId != 0, static_cast<bool>(buffer)) << name;
        if (buffer) {
            kova::MemLock lock(buffer.Get());
            NOTEID id = 0;
            std::memcpy(&id, lock.Get(), sizeof id);
            EXPECT_EQ(row.returnedId, id) << name;
        }
        buffer.Close();
    }
    EXPECT_EQ(ERR_QIX_BAD_ARGUMENT,
              TAVReadEntries(collection.Get(), &position, NAVIGATE_NEXT, 0, NAVIGATE_LAST, 1,
                             READ_MASK_NOTEID, buffer.Out(), nullptr, nullptr, nullptr, nullptr));
}

TEST_F(ViewsTest, LastModifiedTimeMovesWithSelectedDocumentsOnly) {
    TIMEDATE empty{}, created{}, unrelated{}, changed{}, deleted{};
    Walk(&empty);
    EXPECT_NE(0u, Hundredths(empty));
    const NOTEID a = Document("Configuration");
    const NOTEID b = Document("SystemConfiguration");
    Walk(&created);
    EXPECT_GT(Hundredths(created), Hundredths(empty));
    Document("Event");
    Walk(&unrelated);
    EXPECT_EQ(Hundredths(created), Hundredths(unrelated));

    kova::NoteGuard note;
    ASSERT_EQ(0, QIXNoteOpen(db_.Get(), a, 0, note.Out()));
    ASSERT_EQ(0, QIXNoteUpdate(note.Get(), 0));
    Walk(&changed);
    EXPECT_GT(Hundredths(changed), Hundredths(created));
    // Deleting an entry other than the last leaves the last entry alone but moves the time.
    ASSERT_EQ(0, QIXNoteDelete(db_.Get(), b, 0));
    EXPECT_EQ((std::vector<NOTEID>{a}), Walk(&deleted));
    EXPECT_GT(Hundredths(deleted), Hundredths(changed));

    // On the system clock two changes within one hundredth of a second still move the time.
    qixsim::UseSystemClock();
    TIMEDATE previous = deleted;
    for (int i = 0; i < 5; ++i) {
        TIMEDATE now{};
        Document("Configuration");
        Walk(&now);
        EXPECT_GT(Hundredths(now), Hundredths(previous));
        previous = now;
    }
}

TEST_F(ViewsTest, OpenCollectionOptionalOutputsAndFailures) {
    HCOLLECTION collection = QIX_NULLHANDLE;
    NOTEHANDLE viewNote = QIX_NULLHANDLE;
    UNIVERSALID unid{};
    IDHANDLE collapsed = QIX_NULLHANDLE, selected = QIX_NULLHANDLE;
    const size_t before = qixsim::OpenHandleCount();
    ASSERT_EQ(0, TAVOpenCollection(db_.Get(), db_.Get(), view_, 0, QIX_NULLHANDLE, &collection,
                                   &viewNote, &unid, &collapsed, &selected));
    EXPECT_EQ(before + 4, qixsim::OpenHandleCount());
    EXPECT_EQ("(All Configurations)", ReadText(viewNote, "$TITLE"));
    const ORIGINATORID viewOid = Originator(viewNote);
    EXPECT_EQ(0, std::memcmp(&unid, &viewOid, sizeof unid));
    EXPECT_EQ(0u, IDEntries(collapsed));
    EXPECT_EQ(0, TAVCloseCollection(collection));
    EXPECT_EQ(0, QIXNoteClose(viewNote));
    EXPECT_EQ(0, IDDestroyTable(collapsed));
    EXPECT_EQ(0, IDDestroyTable(selected));
    EXPECT_EQ(before, qixsim::OpenHandleCount());

    NOTEID form = 0;
    ASSERT_EQ(0, TAVFindDesignNote(db_.Get(), "Event", NOTE_CLASS_FORM, &form));
    EXPECT_EQ(ERR_QIX_NOTE_NOT_FOUND,
              TAVOpenCollection(db_.Get(), db_.Get(), form, 0, QIX_NULLHANDLE, &collection, nullptr,
                                nullptr, nullptr, nullptr));
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE,
              TAVOpenCollection(db_.Get(), QIX_NULLHANDLE, view_, 0, QIX_NULLHANDLE, &collection,
                                nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(before, qixsim::OpenHandleCount());
}

TEST_F(ViewsTest, FormulaCompilesOnlyAll) {
    FORMULAHANDLE formula = QIX_NULLHANDLE;
    uint16_t length = 0;
    STATUS compileError = 1;
    ASSERT_EQ(0, QIXFormulaCompile(nullptr, 0, "@All", 4, &formula, &length, &compileError, nullptr,
                                   nullptr, nullptr, nullptr));
    EXPECT_NE(QIX_NULLHANDLE, formula);
    EXPECT_EQ(0, compileError);
    EXPECT_EQ(0, OSMemFree(formula));
    kova::FormulaGuard lower;
    EXPECT_EQ(0, QIXFormulaCompile(nullptr, 0, "@all", 4, lower.Out(), nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr));
    for (const char* text : {"@Alll", "SELECT @All", "@Al"}) {
        FORMULAHANDLE bad = QIX_NULLHANDLE;
        EXPECT_EQ(
            ERR_QIX_FORMULA,
            QIXFormulaCompile(nullptr, 0, text, static_cast<uint16_t>(std::strlen(text)), &bad,
                              nullptr, &compileError, nullptr, nullptr, nullptr, nullptr))
            << text;
        EXPECT_EQ(QIX_NULLHANDLE, bad);
        EXPECT_EQ(ERR_QIX_FORMULA, compileError);
    }
    // The given length counts, not the terminator.
    EXPECT_EQ(ERR_QIX_FORMULA, QIXFormulaCompile(nullptr, 0, "@All", 3, &formula, nullptr, nullptr,
                                                 nullptr, nullptr, nullptr, nullptr));
}

struct SearchLog {
    std::vector<SEARCH_MATCH> matches;
    STATUS stopAt = 0;  // status answered for the second match
    DBHANDLE db = 0;
    NOTEID deleteOnFirst = 0;  // note deleted while the first match is handled
};

STATUS SearchCallback(void* parameter, const SEARCH_MATCH* match, const void*) {
    auto* log = static_cast<SearchLog*>(parameter);
    log->matches.push_back(*match);
    if (log->matches.size() == 1 && log->deleteOnFirst != 0) {
        QIXNoteDelete(log->db, log->deleteOnFirst, 0);
    }
    return log->matches.size() == 2 ? log->stopAt : 0;
}

TEST_F(ViewsTest, SearchOrderClassMaskAndEnding) {
    const NOTEID a = Document("Configuration");
    const NOTEID b = Document("Event");
    const NOTEID c = Document("SystemConfiguration");
    kova::FormulaGuard formula;
    ASSERT_EQ(0, QIXFormulaCompile(nullptr, 0, "@All", 4, formula.Out(), nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr));

    SearchLog all;
    ASSERT_EQ(0, QIXSearch(db_.Get(), formula.Get(), "(All Configurations)", 0, NOTE_CLASS_DOCUMENT,
                           nullptr, SearchCallback, &all, nullptr));
    ASSERT_EQ(3u, all.matches.size());
    EXPECT_EQ(a, all.matches[0].noteId);
    EXPECT_EQ(b, all.matches[1].noteId);
    EXPECT_EQ(c, all.matches[2].noteId);
    EXPECT_EQ(NOTE_CLASS_DOCUMENT, all.matches[0].noteClass);
    EXPECT_EQ(1u, all.matches[2].originatorId.sequence);

    SearchLog design;
    ASSERT_EQ(0,
              QIXSearch(db_.Get(), formula.Get(), nullptr, 0, NOTE_CLASS_FORM | NOTE_CLASS_DOCUMENT,
                        nullptr, SearchCallback, &design, nullptr));
    EXPECT_EQ(7u, design.matches.size());  // four forms and three documents, not the view
    for (size_t i = 1; i < design.matches.size(); ++i) {
        EXPECT_LT(design.matches[i - 1].noteId, design.matches[i].noteId);
    }

    SearchLog stopped;
    stopped.stopAt = 0x4321;
    EXPECT_EQ(0x4321, QIXSearch(db_.Get(), formula.Get(), nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr,
                                SearchCallback, &stopped, nullptr));
    EXPECT_EQ(2u, stopped.matches.size());

    SearchLog deleting;
    deleting.db = db_.Get();
    deleting.deleteOnFirst = b;
    ASSERT_EQ(0, QIXSearch(db_.Get(), formula.Get(), nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr,
                           SearchCallback, &deleting, nullptr));
    ASSERT_EQ(2u, deleting.matches.size());
    EXPECT_EQ(c, deleting.matches[1].noteId);  // the deleted note is skipped

    kova::MemGuard plain;
    ASSERT_EQ(0, OSMemAlloc(0, 8, plain.Out()));
    SearchLog none;
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXSearch(db_.Get(), plain.Get(), nullptr, 0, 1, nullptr,
                                                SearchCallback, &none, nullptr));
    EXPECT_TRUE(none.matches.empty());
}

}  // namespace
}  // namespace hostsimtest
