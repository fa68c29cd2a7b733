// Suspended handlers: while a host measures the server's own cost, note operations are performed
// (or fail as forced) without calling any registered handler, and the registrations apply again
// once resumed or after a Reset. And the registrations each thread keeps a copy of: more than the
// copy holds, and a registration made by a handler, which applies from the next stage on.
#include "tests/hostsim/hostsim_fixture.h"

#include <vector>

namespace hostsimtest {
namespace {

int gCalls = 0;

STATUS CountingHandler(EMRECORD* record) {
    ++gCalls;
    return record->stage == EM_STAGE_BEFORE ? EM_CONTINUE_STATUS : record->status;
}

TEST_F(HostsimTest, SuspendedHandlersAreSkippedWhileOperationsStillHappen) {
    gCalls = 0;
    ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
    kova::DbGuard db;
    ASSERT_EQ(0, QIXDbOpen("a.qix", db.Out()));
    uint16_t recursion = 0;
    ASSERT_EQ(0, EMCreateRecursionID(&recursion));
    for (uint16_t id :
         {EM_QIXNOTEUPDATE, EM_QIXNOTEUPDATEXTENDED, EM_QIXNOTEDELETE, EM_QIXDBDELETENOTES}) {
        uint32_t registration = 0;
        ASSERT_EQ(0, EMRegister(id, EM_REG_BEFORE | EM_REG_AFTER, CountingHandler, recursion,
                                &registration));
    }

    EXPECT_FALSE(qixsim::SuspendHandlers(true));  // answers the previous setting
    const NOTEID first = StoreDocument(db.Get(), "Order");
    const NOTEID second = StoreDocument(db.Get(), "Order");
    ASSERT_NE(0u, first);
    ASSERT_NE(0u, second);
    EXPECT_EQ(ERR_QIX_NOTE_DELETED, qixsim::DeleteNote(db.Get(), first, ERR_QIX_NOTE_DELETED));
    EXPECT_EQ(2u, qixsim::ListNotes("a.qix").size());  // the forced failure changed nothing
    EXPECT_EQ(0, qixsim::DeleteNotes(db.Get(), {first}));
    EXPECT_EQ(0, gCalls);
    EXPECT_EQ(4u, qixsim::RegistrationCount());  // the registrations stay

    EXPECT_TRUE(qixsim::SuspendHandlers(false));
    EXPECT_EQ(0, QIXNoteDelete(db.Get(), second, 0));
    EXPECT_EQ(2, gCalls);
    EXPECT_TRUE(qixsim::ListNotes("a.qix").empty());

    // Reset resumes the handlers (and drops the registrations).
    qixsim::SuspendHandlers(true);
    qixsim::Reset();
    EXPECT_FALSE(qixsim::SuspendHandlers(false));
}

int gLateCalls = 0;

STATUS LateHandler(EMRECORD* record) {
    ++gLateCalls;
    return record->stage == EM_STAGE_BEFORE ? EM_CONTINUE_STATUS : record->status;
}

// Registers LateHandler for the after stage while it handles a before stage.
STATUS RegisteringHandler(EMRECORD* record) {
    if (record->stage == EM_STAGE_BEFORE && gLateCalls == 0) {
        uint32_t registration = 0;
        EXPECT_EQ(0, EMRegister(EM_QIXNOTEUPDATE, EM_REG_BEFORE | EM_REG_AFTER, LateHandler, 0,
                                &registration));
    }
    return CountingHandler(record);
}

TEST_F(HostsimTest, EveryRegistrationIsCalledHoweverManyAndChangesApplyFromTheNextStage) {
    gCalls = 0;
    gLateCalls = 0;
    ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
    kova::DbGuard db;
    ASSERT_EQ(0, QIXDbOpen("a.qix", db.Out()));
    uint16_t recursion = 0;
    ASSERT_EQ(0, EMCreateRecursionID(&recursion));
    std::vector<uint32_t> registrations(40);
    for (uint32_t& registration : registrations) {
        ASSERT_EQ(0, EMRegister(EM_QIXNOTEUPDATE, EM_REG_BEFORE | EM_REG_AFTER, CountingHandler,
                                recursion, &registration));
    }
    ASSERT_NE(0u, StoreDocument(db.Get(), "Order"));
    EXPECT_EQ(80, gCalls);  // 40 registrations, two stages
    ASSERT_EQ(0, EMDeregister(registrations.back()));
    ASSERT_NE(0u, StoreDocument(db.Get(), "Order"));
    EXPECT_EQ(80 + 78, gCalls);

    // A registration made while a before stage runs is called in the after stage, not in the
    // before stage that is under way.
    qixsim::Reset();
    qixsim::UseFixedClock(Time(kStart));
    gCalls = 0;
    ASSERT_EQ(0, qixsim::CreateDatabase("b.qix"));
    kova::DbGuard other;
    ASSERT_EQ(0, QIXDbOpen("b.qix", other.Out()));
    uint32_t registration = 0;
    ASSERT_EQ(0, EMRegister(EM_QIXNOTEUPDATE, EM_REG_BEFORE | EM_REG_AFTER, RegisteringHandler, 0,
                            &registration));
    ASSERT_NE(0u, StoreDocument(other.Get(), "Order"));
    EXPECT_EQ(2, gCalls);
    EXPECT_EQ(1, gLateCalls);
}

}  // namespace
}  // namespace hostsimtest
