// The extension manager of the stand-in server: stages and their arguments, statuses, vetoes,
// forced failures, recursion suppression and deregistration.
#include "tests/hostsim/hostsim_fixture.h"

namespace hostsimtest {
namespace {

Recorder gRecorder;
STATUS gBeforeAnswer = EM_CONTINUE_STATUS;  // what HandlerA answers in the before stage
DBHANDLE gDb = QIX_NULLHANDLE;              // where NestingHandler stores its own note

Call Describe(EMRECORD* record, const char* tag) {
    return Call{record->notificationId, record->stage, record->status, ReadArguments(record), tag};
}

STATUS HandlerA(EMRECORD* record) {
    Call call = Describe(record, "A");
    if (record->notificationId == EM_QIXDBDELETENOTES && record->stage == EM_STAGE_BEFORE) {
        // The ID table is readable while the handler runs.
        call.tag += ":" + std::to_string(IDEntries(static_cast<IDHANDLE>(call.arguments[1])));
    }
    gRecorder.Add(call);
    return record->stage == EM_STAGE_BEFORE ? gBeforeAnswer : record->status;
}

STATUS HandlerB(EMRECORD* record) {
    gRecorder.Add(Describe(record, "B"));
    return record->stage == EM_STAGE_BEFORE ? EM_CONTINUE_STATUS : record->status;
}

// Stores a note of its own while it handles the before stage, as the add-in writes events.
STATUS NestingHandler(EMRECORD* record) {
    gRecorder.Add(Describe(record, "nest"));
    if (record->stage == EM_STAGE_BEFORE) {
        EXPECT_NE(0u, StoreDocument(gDb, "Event"));
    }
    return record->stage == EM_STAGE_BEFORE ? EM_CONTINUE_STATUS : record->status;
}

class NotifyTest : public HostsimTest {
  protected:
    void SetUp() override {
        HostsimTest::SetUp();
        gRecorder.Clear();
        gBeforeAnswer = EM_CONTINUE_STATUS;
        ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
        ASSERT_EQ(0, QIXDbOpen("a.qix", db_.Out()));
        gDb = db_.Get();
        ASSERT_EQ(0, EMCreateRecursionID(&recursion_));
    }

    uint32_t Register(uint16_t id, uint16_t stages, EMHANDLER handler, uint16_t recursion = 0) {
        uint32_t registration = 0;
        EXPECT_EQ(0, EMRegister(id, stages, handler, recursion == 0 ? recursion_ : recursion,
                                &registration));
        return registration;
    }

    std::vector<std::string> Tags() {
        std::vector<std::string> tags;
        for (const Call& c : gRecorder.Calls()) {
            tags.push_back(c.tag + "/" + std::to_string(c.notificationId) + "/" +
                           std::to_string(c.stage) + "/" + std::to_string(c.status));
        }
        return tags;
    }

    kova::DbGuard db_;
    uint16_t recursion_ = 0;
};

TEST_F(NotifyTest, StagesArgumentsAndRegistrationOrder) {
    for (uint16_t id :
         {EM_QIXNOTEUPDATE, EM_QIXNOTEUPDATEXTENDED, EM_QIXNOTEDELETE, EM_QIXDBDELETENOTES}) {
        Register(id, EM_REG_BEFORE | EM_REG_AFTER, HandlerA);
    }
    Register(EM_QIXNOTEUPDATE, EM_REG_BEFORE, HandlerB);
    kova::NoteGuard note;
    ASSERT_EQ(0, QIXNoteCreate(db_.Get(), note.Out()));
    ASSERT_EQ(0, QIXNoteUpdate(note.Get(), 3));
    auto calls = gRecorder.Calls();
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ((std::vector<unsigned int>{note.Get(), 3}), calls[0].arguments);
    EXPECT_EQ((std::vector<std::string>{"A/47/0/0", "B/47/0/0", "A/47/1/0"}), Tags());

    gRecorder.Clear();
    ASSERT_EQ(0, QIXNoteUpdateExtended(note.Get(), 0x10));
    EXPECT_EQ((std::vector<std::string>{"A/102/0/0", "A/102/1/0"}), Tags());
    EXPECT_EQ(0x10u, gRecorder.Calls()[0].arguments[1]);

    NOTEID id = 0;
    ASSERT_EQ(0, QIXNoteGetInfo(note.Get(), NOTE_INFO_ID, &id));
    gRecorder.Clear();
    ASSERT_EQ(0, QIXNoteDelete(db_.Get(), id, 0));
    EXPECT_EQ(ERR_QIX_NOTE_NOT_FOUND, QIXNoteDelete(db_.Get(), id, 0));
    calls = gRecorder.Calls();
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ((std::vector<unsigned int>{db_.Get(), id, 0}), calls[0].arguments);
    EXPECT_EQ(ERR_QIX_NOTE_NOT_FOUND, calls[3].status);

    const NOTEID x = StoreDocument(db_.Get(), "Order");
    const NOTEID y = StoreDocument(db_.Get(), "Order");
    kova::IdTableGuard table;
    ASSERT_EQ(0, IDCreateTable(sizeof(NOTEID), table.Out()));
    ASSERT_EQ(0, IDInsert(table.Get(), x, nullptr));
    ASSERT_EQ(0, IDInsert(table.Get(), y, nullptr));
    gRecorder.Clear();
    ASSERT_EQ(0, QIXDbDeleteNotes(db_.Get(), table.Get(), 0));
    calls = gRecorder.Calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("A:2", calls[0].tag);
    EXPECT_EQ((std::vector<unsigned int>{db_.Get(), table.Get(), 0}), calls[0].arguments);
    EXPECT_TRUE(qixsim::ListNotes("a.qix").empty());

    // An invalid handle fails before any handler is called.
    gRecorder.Clear();
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXNoteUpdate(QIX_NULLHANDLE, 0));
    EXPECT_TRUE(gRecorder.Calls().empty());
}

TEST_F(NotifyTest, BulkDeleteWithAMissingIdDeletesNothing) {
    Register(EM_QIXDBDELETENOTES, EM_REG_AFTER, HandlerA);
    const NOTEID x = StoreDocument(db_.Get(), "Order");
    kova::IdTableGuard table;
    ASSERT_EQ(0, IDCreateTable(sizeof(NOTEID), table.Out()));
    ASSERT_EQ(0, IDInsert(table.Get(), x, nullptr));
    ASSERT_EQ(0, IDInsert(table.Get(), x + 1000, nullptr));
    EXPECT_EQ(ERR_QIX_NOTE_NOT_FOUND, QIXDbDeleteNotes(db_.Get(), table.Get(), 0));
    EXPECT_EQ(1u, qixsim::ListNotes("a.qix").size());
    EXPECT_EQ((std::vector<std::string>{"A/24/1/" + std::to_string(ERR_QIX_NOTE_NOT_FOUND)}),
              Tags());
}

TEST_F(NotifyTest, VetoAndForcedStatusLeaveTheDatabaseAlone) {
    Register(EM_QIXNOTEUPDATE, EM_REG_BEFORE | EM_REG_AFTER, HandlerA);
    Register(EM_QIXNOTEUPDATE, EM_REG_BEFORE, HandlerB);
    Register(EM_QIXNOTEDELETE, EM_REG_BEFORE | EM_REG_AFTER, HandlerA);
    Register(EM_QIXDBDELETENOTES, EM_REG_BEFORE | EM_REG_AFTER, HandlerA);

    gBeforeAnswer = 0;  // 0 lets the operation go on like the continue status
    const NOTEID stored = StoreDocument(db_.Get(), "Order");
    EXPECT_NE(0u, stored);

    gBeforeAnswer = 0x0222;  // a veto: not performed, the later before handlers skipped
    gRecorder.Clear();
    kova::NoteGuard note;
    ASSERT_EQ(0, QIXNoteCreate(db_.Get(), note.Out()));
    EXPECT_EQ(0x0222, QIXNoteUpdate(note.Get(), 0));
    NOTEID id = 1;
    ASSERT_EQ(0, QIXNoteGetInfo(note.Get(), NOTE_INFO_ID, &id));
    EXPECT_EQ(0u, id);
    EXPECT_EQ((std::vector<std::string>{"A/47/0/0", "A/47/1/546"}), Tags());
    EXPECT_EQ(1u, qixsim::ListNotes("a.qix").size());

    gBeforeAnswer = EM_CONTINUE_STATUS;
    gRecorder.Clear();
    EXPECT_EQ(0x0333, qixsim::StoreNote(note.Get(), false, 0x0333));
    EXPECT_EQ((std::vector<std::string>{"A/47/0/0", "B/47/0/0", "A/47/1/819"}), Tags());
    EXPECT_EQ(1u, qixsim::ListNotes("a.qix").size());
    gRecorder.Clear();
    EXPECT_EQ(0x0334, qixsim::DeleteNote(db_.Get(), stored, 0x0334));
    EXPECT_EQ(0x0335, qixsim::DeleteNotes(db_.Get(), {stored}, 0x0335));
    EXPECT_EQ(1u, qixsim::ListNotes("a.qix").size());
    EXPECT_EQ((std::vector<std::string>{"A/8/0/0", "A/8/1/820", "A:1/24/0/0", "A/24/1/821"}),
              Tags());

    // The host's own operations are not counted; the same operations without a forced status
    // succeed and notify like the server API.
    const uint64_t calls = qixsim::TotalCallCount();
    gRecorder.Clear();
    EXPECT_EQ(0, qixsim::StoreNote(note.Get(), true));
    EXPECT_EQ(0, qixsim::DeleteNotes(db_.Get(), {stored}));
    EXPECT_EQ(calls + 1, qixsim::TotalCallCount());  // the IDEntries call of HandlerA
    EXPECT_EQ((std::vector<std::string>{"A:1/24/0/0", "A/24/1/0"}), Tags());
    EXPECT_EQ(1u, qixsim::ListNotes("a.qix").size());
}

TEST_F(NotifyTest, RecursionIdSuppressesOnlyItsOwnRegistrations) {
    uint16_t other = 0;
    ASSERT_EQ(0, EMCreateRecursionID(&other));
    EXPECT_NE(recursion_, other);
    Register(EM_QIXNOTEUPDATE, EM_REG_BEFORE | EM_REG_AFTER, NestingHandler);
    Register(EM_QIXNOTEUPDATE, EM_REG_BEFORE | EM_REG_AFTER, HandlerB, other);

    kova::NoteGuard note;
    ASSERT_EQ(0, QIXNoteCreate(db_.Get(), note.Out()));
    ASSERT_EQ(0, QIXNoteUpdate(note.Get(), 0));
    // The nested store raises nothing for the nesting handler's own registration, but the other
    // registration sees it, inside the outer before stage.
    EXPECT_EQ((std::vector<std::string>{"nest/47/0/0", "B/47/0/0", "B/47/1/0", "B/47/0/0",
                                        "nest/47/1/0", "B/47/1/0"}),
              Tags());
    EXPECT_EQ(2u, qixsim::ListNotes("a.qix").size());
}

TEST_F(NotifyTest, RegisterAndDeregister) {
    uint32_t registration = 0;
    EXPECT_EQ(ERR_QIX_BAD_ARGUMENT, EMRegister(EM_QIXNOTEUPDATE, 0, HandlerA, 1, &registration));
    EXPECT_EQ(ERR_QIX_BAD_ARGUMENT, EMRegister(EM_QIXNOTEUPDATE, 4, HandlerA, 1, &registration));
    EXPECT_EQ(ERR_QIX_BAD_ARGUMENT, EMRegister(EM_QIXNOTEUPDATE, 1, nullptr, 1, &registration));
    EXPECT_EQ(0u, qixsim::RegistrationCount());

    const uint32_t first = Register(EM_QIXNOTEUPDATE, EM_REG_BEFORE, HandlerA);
    const uint32_t second = Register(EM_QIXNOTEUPDATE, EM_REG_AFTER, HandlerB);
    EXPECT_NE(0u, first);
    EXPECT_NE(first, second);
    EXPECT_EQ(2u, qixsim::RegistrationCount());
    EXPECT_EQ(0, EMDeregister(first));
    EXPECT_EQ(ERR_QIX_BAD_REGISTRATION, EMDeregister(first));
    EXPECT_EQ(ERR_QIX_BAD_REGISTRATION, EMDeregister(0));
    EXPECT_EQ(1u, qixsim::RegistrationCount());

    StoreDocument(db_.Get(), "Order");
    EXPECT_EQ((std::vector<std::string>{"B/47/1/0"}), Tags());
    qixsim::Reset();
    EXPECT_EQ(0u, qixsim::RegistrationCount());
    uint16_t id = 0;
    ASSERT_EQ(0, EMCreateRecursionID(&id));
    EXPECT_EQ(1, id);  // a fresh server numbers from 1 again
}

}  // namespace
}  // namespace hostsimtest
