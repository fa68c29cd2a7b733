// Handles and faults of the stand-in server: reuse, kinds, exhaustion and Reset; failing calls by
// count, by position, sticky, on one note and on one thread, their failure values, the call
// counters, and the host's own calls in a HostCalls scope.
#include <thread>

#include "tests/hostsim/hostsim_fixture.h"

namespace hostsimtest {
namespace {

using HandlesTest = HostsimTest;
using FaultsTest = HostsimTest;

TEST_F(HandlesTest, ReuseKindsAndReset) {
    ASSERT_EQ(0u, qixsim::OpenHandleCount());
    DBHANDLE db = QIX_NULLHANDLE;
    ASSERT_EQ(0, QIXDbOpen("log.qix", &db));
    EXPECT_NE(QIX_NULLHANDLE, db);
    NOTEHANDLE note = QIX_NULLHANDLE;
    ASSERT_EQ(0, QIXNoteCreate(db, &note));
    EXPECT_NE(db, note);
    EXPECT_EQ(2u, qixsim::OpenHandleCount());

    // Wrong kind: refused, and the handle stays usable.
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXNoteClose(db));
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXDbClose(note));
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, OSMemFree(note));
    EXPECT_EQ(nullptr, OSLockObject(db));
    EXPECT_EQ(0, QIXItemGetTextListEntries(db, "Form"));
    char path[QIX_MAXPATH];
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXDbPathGet(note, path, nullptr));
    ASSERT_EQ(0, QIXDbPathGet(db, path, nullptr));
    EXPECT_STREQ("log.qix", path);

    // A freed number is issued again, to whichever kind asks next.
    ASSERT_EQ(0, QIXNoteClose(note));
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXNoteClose(note));
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXItemSetText(note, "A", "b", 1));
    MEMHANDLE block = QIX_NULLHANDLE;
    ASSERT_EQ(0, OSMemAlloc(0, 4, &block));
    EXPECT_EQ(note, block);
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXNoteClose(block));
    EXPECT_EQ(0, qixsim::CloseHandle(block));  // the host closes any kind
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, qixsim::CloseHandle(block));
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXDbClose(QIX_NULLHANDLE));
    EXPECT_EQ(1u, qixsim::OpenHandleCount());

    // Last freed, first reissued.
    MEMHANDLE first = QIX_NULLHANDLE, second = QIX_NULLHANDLE, again = QIX_NULLHANDLE;
    ASSERT_EQ(0, OSMemAlloc(0, 4, &first));
    ASSERT_EQ(0, OSMemAlloc(0, 4, &second));
    ASSERT_EQ(0, OSMemFree(first));
    ASSERT_EQ(0, OSMemFree(second));
    ASSERT_EQ(0, OSMemAlloc(0, 4, &again));
    EXPECT_EQ(second, again);
    ASSERT_EQ(0, OSMemFree(again));

    qixsim::Reset();
    EXPECT_EQ(0u, qixsim::OpenHandleCount());
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXDbPathGet(db, path, nullptr));
}

TEST_F(HandlesTest, ExhaustionAnswersNoHandles) {
    std::vector<MEMHANDLE> blocks;
    STATUS status = 0;
    while (status == 0 && blocks.size() <= 70000) {
        MEMHANDLE block = QIX_NULLHANDLE;
        status = OSMemAlloc(0, 1, &block);
        if (status == 0)
            blocks.push_back(block);
    }
    EXPECT_EQ(ERR_QIX_NO_HANDLES, status);
    EXPECT_EQ(65535u, blocks.size());
    EXPECT_EQ(65535u, qixsim::OpenHandleCount());
    DBHANDLE db = QIX_NULLHANDLE;
    EXPECT_EQ(ERR_QIX_NO_HANDLES, QIXDbOpen("log.qix", &db));
    EXPECT_EQ(ERR_QIX_NO_HANDLES, qixsim::DeleteNotes(blocks[0], {1}));
    ASSERT_EQ(0, OSMemFree(blocks[100]));
    ASSERT_EQ(0, QIXDbOpen("log.qix", &db));
    EXPECT_EQ(blocks[100], db);
    blocks[100] = db;
    for (QIXHANDLE handle : blocks)
        EXPECT_EQ(0, qixsim::CloseHandle(handle));
    EXPECT_EQ(0u, qixsim::OpenHandleCount());
}

TEST_F(FaultsTest, NextAndNthFailWithoutChangingAnything) {
    qixsim::FailNext("QIXDbOpen", 0x0111, 2);
    DBHANDLE db = QIX_NULLHANDLE;
    EXPECT_EQ(0x0111, QIXDbOpen("log.qix", &db));
    EXPECT_EQ(0x0111, QIXDbOpen("log.qix", &db));
    EXPECT_EQ(QIX_NULLHANDLE, db);
    ASSERT_EQ(0, QIXDbOpen("log.qix", &db));
    EXPECT_EQ(3u, qixsim::CallCount("QIXDbOpen"));
    EXPECT_EQ((std::vector<std::string>{"QIXDbOpen", "QIXDbOpen"}), qixsim::FaultsInjected());

    // A failing store stores nothing; a failing read answers 0 length and leaves the buffer.
    NOTEHANDLE note = QIX_NULLHANDLE;
    ASSERT_EQ(0, QIXNoteCreate(db, &note));
    ASSERT_EQ(0, QIXItemSetText(note, "Form", "Order", QIX_TEXT_TERMINATED));
    qixsim::FailNext("QIXNoteUpdate", ERR_QIX_NO_MEMORY);
    EXPECT_EQ(ERR_QIX_NO_MEMORY, QIXNoteUpdate(note, 0));
    EXPECT_TRUE(qixsim::ListNotes("log.qix").empty());
    qixsim::FailNth("QIXItemGetText", ERR_QIX_NO_MEMORY, 2);
    EXPECT_EQ("Order", ReadText(note, "Form"));
    char buffer[8] = "intact";
    EXPECT_EQ(0, QIXItemGetText(note, "Form", buffer, sizeof buffer));
    EXPECT_STREQ("intact", buffer);
    EXPECT_EQ("Order", ReadText(note, "Form"));

    // Failure values of calls that answer no status.
    MEMHANDLE block = QIX_NULLHANDLE;
    IDHANDLE table = QIX_NULLHANDLE;
    ASSERT_EQ(0, OSMemAlloc(0, 4, &block));
    ASSERT_EQ(0, IDCreateTable(4, &table));
    ASSERT_EQ(0, IDInsert(table, 7, nullptr));
    qixsim::FailNext("OSLockObject", 1);
    qixsim::FailNext("IDEntries", 1);
    qixsim::FailNext("IDScan", 1);
    qixsim::FailNext("QIXItemGetTextListEntries", 1);
    NOTEID id = 0;
    EXPECT_EQ(nullptr, OSLockObject(block));
    EXPECT_EQ(0u, IDEntries(table));
    EXPECT_FALSE(IDScan(table, 1, &id));
    EXPECT_EQ(0, QIXItemGetTextListEntries(note, "Form"));
    EXPECT_NE(nullptr, OSLockObject(block));
    EXPECT_EQ(1u, IDEntries(table));

    // Every call from now on, until cleared.
    qixsim::FailNext("QIXNoteCreate", 0x0222, UINT32_MAX);
    NOTEHANDLE other = QIX_NULLHANDLE;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(0x0222, QIXNoteCreate(db, &other));
    qixsim::ClearFaults();
    EXPECT_TRUE(qixsim::FaultsInjected().empty());
    ASSERT_EQ(0, QIXNoteCreate(db, &other));
    EXPECT_EQ(5u, qixsim::OpenHandleCount());  // db, two notes, block, table
}

// Opens of one note fail: only that note id in that database, through any handle of it, and
// only server API opens; "hub.qix" has the same note ids as "log.qix".
TEST_F(FaultsTest, NoteOpenFailsForOneNoteOnly) {
    NOTEID x = 0, y = 0, hubX = 0;
    ASSERT_EQ(0, qixsim::CreateDocument("log.qix", {{"Form", std::string("A")}}, &x));
    ASSERT_EQ(0, qixsim::CreateDocument("log.qix", {{"Form", std::string("A")}}, &y));
    ASSERT_EQ(0, qixsim::CreateDocument("hub.qix", {{"Form", std::string("A")}}, &hubX));
    ASSERT_EQ(x, hubX);
    kova::DbGuard log, log2, hub;
    ASSERT_EQ(0, QIXDbOpen("log.qix", log.Out()));
    ASSERT_EQ(0, QIXDbOpen("/qix/data/log.qix", log2.Out()));
    ASSERT_EQ(0, QIXDbOpen("hub.qix", hub.Out()));
    const auto open = [](DBHANDLE db, NOTEID id) {
        kova::NoteGuard note;
        return QIXNoteOpen(db, id, 0, note.Out());
    };
    qixsim::FailNoteOpen("log.qix", x, 0x0555, 2);
    kova::NoteGuard hostSide;
    ASSERT_EQ(0, qixsim::OpenNote(log.Get(), x, hostSide.Out()));  // not the server API
    EXPECT_EQ(0, open(log.Get(), y));
    EXPECT_EQ(0, open(hub.Get(), x));
    EXPECT_EQ(0x0555, open(log.Get(), x));
    EXPECT_EQ(0x0555, open(log2.Get(), x));  // another handle of the same database
    EXPECT_EQ(0, open(log.Get(), x));        // used up
    EXPECT_EQ((std::vector<std::string>{"QIXNoteOpen", "QIXNoteOpen"}), qixsim::FaultsInjected());
    EXPECT_EQ(5u, qixsim::CallCount("QIXNoteOpen"));

    // From then on, with the path as the data directory and backslashes name it; until cleared.
    qixsim::FailNoteOpen("\\qix\\data\\log.qix", y, 0x0666, UINT32_MAX);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(0x0666, open(log.Get(), y));
    EXPECT_EQ(0, open(log.Get(), x));
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, open(QIX_NULLHANDLE, y));
    qixsim::ClearFaults();
    EXPECT_EQ(0, open(log.Get(), y));
}

TEST_F(FaultsTest, NthCallStickyAndCounters) {
    DBHANDLE db = QIX_NULLHANDLE;
    ASSERT_EQ(0, qixsim::OpenDatabase("log.qix", &db));  // the host's calls are not counted
    EXPECT_EQ(0u, qixsim::TotalCallCount());

    TIMEDATE now{};
    qixsim::FailNthCall(2, 0x0333);
    OSCurrentTIMEDATE(&now);  // counted, but a call that cannot fail is not numbered
    NOTEHANDLE note = QIX_NULLHANDLE;
    ASSERT_EQ(0, QIXNoteCreate(db, &note));
    EXPECT_EQ(0x0333, QIXItemSetText(note, "A", "b", 1));
    EXPECT_EQ(0, QIXItemSetText(note, "A", "b", 1));
    EXPECT_EQ((std::vector<std::string>{"QIXItemSetText"}), qixsim::FaultsInjected());
    EXPECT_EQ(4u, qixsim::TotalCallCount());
    EXPECT_EQ((std::map<std::string, uint64_t>{
                  {"OSCurrentTIMEDATE", 1}, {"QIXNoteCreate", 1}, {"QIXItemSetText", 2}}),
              qixsim::CallCounts());

    qixsim::ClearFaults();
    qixsim::FailNthCall(1, 0x0444, true);
    NOTEID id = 0;
    EXPECT_EQ(0x0444, QIXNoteGetInfo(note, NOTE_INFO_ID, &id));
    EXPECT_EQ(0x0444, QIXNoteGetInfo(note, NOTE_INFO_ID, &id));  // sticky: it keeps failing
    EXPECT_EQ(1, QIXItemGetTextListEntries(note, "A"));          // other operations do not
    EXPECT_EQ((std::vector<std::string>{"QIXNoteGetInfo", "QIXNoteGetInfo"}),
              qixsim::FaultsInjected());

    // In a HostCalls scope this thread's calls are the host's: not counted, not failed, the fixed
    // clock read but not moved on, no log entry kept. Another thread's calls are as ever.
    const uint64_t counted = qixsim::TotalCallCount();
    TIMEDATE first{};
    TIMEDATE second{};
    {
        const qixsim::HostCalls host;
        const qixsim::HostCalls nested;
        EXPECT_EQ(0, QIXNoteGetInfo(note, NOTE_INFO_ID, &id));
        OSCurrentTIMEDATE(&first);
        OSCurrentTIMEDATE(&second);
        EXPECT_EQ(0, LogEventTextNoConsole("%s", QIX_NULLHANDLE, 0, "not kept"));
        std::thread([&] { EXPECT_EQ(0x0444, QIXNoteGetInfo(note, NOTE_INFO_ID, &id)); }).join();
    }
    EXPECT_EQ(Hundredths(first), Hundredths(second));
    EXPECT_TRUE(qixsim::LogEntries().empty());
    EXPECT_EQ(counted + 1, qixsim::TotalCallCount());
    EXPECT_EQ(0x0444, QIXNoteGetInfo(note, NOTE_INFO_ID, &id));  // the scope is closed
    OSCurrentTIMEDATE(&second);  // the read the scope's reads did not use up
    EXPECT_EQ(Hundredths(first), Hundredths(second));
    EXPECT_EQ(4u, qixsim::FaultsInjected().size());

    qixsim::ResetCallCounts();
    EXPECT_EQ(0u, qixsim::TotalCallCount());
    EXPECT_EQ(0u, qixsim::CallCount("QIXItemSetText"));
    EXPECT_EQ(0u, qixsim::CallCount("NoSuchOperation"));
    EXPECT_TRUE(qixsim::CallCounts().empty());
}

// A handler's note open, for the stage a thread's fault reports.
DBHANDLE gOpenDb = QIX_NULLHANDLE;
NOTEID gOpenId = 0;
STATUS OpenInHandler(EMRECORD* record) {
    if (record->stage == EM_STAGE_BEFORE) {
        kova::NoteGuard note;
        QIXNoteOpen(gOpenDb, gOpenId, 0, note.Out());
    }
    return EM_CONTINUE_STATUS;
}

TEST_F(FaultsTest, ThreadFaultFailsOnlyItsThreadAndSaysWhere) {
    NOTEID x = 0;
    ASSERT_EQ(0, qixsim::CreateDocument("log.qix", {{"Form", std::string("A")}}, &x));
    kova::DbGuard db;
    ASSERT_EQ(0, QIXDbOpen("log.qix", db.Out()));
    const auto open = [&](NOTEHANDLE* note) { return QIXNoteOpen(db.Get(), x, 0, note); };

    // The second open-or-close of this thread; other calls and other threads do not count.
    qixsim::FailNthCallOnThread(2, 0x0777, {"QIXNoteOpen", "QIXNoteClose"});
    std::thread([&] {
        for (int i = 0; i < 3; ++i) {
            kova::NoteGuard note;
            EXPECT_EQ(0, open(note.Out()));
        }
    }).join();
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, QIXItemSetText(QIX_NULLHANDLE, "A", "b", 1));
    NOTEHANDLE note = QIX_NULLHANDLE;
    ASSERT_EQ(0, open(&note));
    EXPECT_EQ(0x0777, QIXNoteClose(note));  // refused: the handle stays open
    EXPECT_EQ(0, QIXNoteClose(note));       // it fired once
    EXPECT_TRUE(qixsim::FaultsInjected().empty());
    qixsim::ThreadFault fired;
    ASSERT_TRUE(qixsim::TakeThreadFault(&fired));
    EXPECT_EQ("QIXNoteClose", fired.operation);
    EXPECT_EQ(-1, fired.stage);
    EXPECT_EQ(note, fired.closing);
    EXPECT_FALSE(qixsim::TakeThreadFault(&fired));

    // A note open in a handler's before stage: the stage and the note are reported.
    gOpenDb = db.Get();
    gOpenId = x;
    uint16_t recursion = 0;
    uint32_t registration = 0;
    ASSERT_EQ(0, EMCreateRecursionID(&recursion));
    ASSERT_EQ(0,
              EMRegister(EM_QIXNOTEUPDATE, EM_REG_BEFORE, OpenInHandler, recursion, &registration));
    kova::NoteGuard stored;
    ASSERT_EQ(0, qixsim::OpenNote(db.Get(), x, stored.Out()));
    qixsim::FailNthCallOnThread(1, 0x0777, {"QIXNoteOpen"});
    ASSERT_EQ(0, qixsim::StoreNote(stored.Get()));
    ASSERT_TRUE(qixsim::TakeThreadFault(&fired));
    EXPECT_EQ(EM_STAGE_BEFORE, fired.stage);
    EXPECT_EQ("log.qix", fired.dbPath);
    EXPECT_EQ(x, fired.noteId);
    EXPECT_EQ(QIX_NULLHANDLE, fired.closing);

    // Disarmed before it fired: nothing fails, nothing is reported.
    qixsim::FailNthCallOnThread(1, 0x0777, {"QIXNoteOpen"});
    EXPECT_FALSE(qixsim::TakeThreadFault(&fired));
    ASSERT_EQ(0, qixsim::StoreNote(stored.Get()));
}

// Runs a create-store-read sequence with its N-th server API call failing, for N = 1, 2, ...
// until a run completes without a fault: every run must end in success or a clean error, with
// no handle left open (but the one whose close failed) and no half-stored note.
TEST_F(FaultsTest, FaultLoopEndsCleanlyAtEveryCall) {
    bool completed = false;
    for (uint64_t n = 1; n < 50 && !completed; ++n) {
        qixsim::Reset();
        ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
        qixsim::FailNthCall(n, ERR_QIX_NO_MEMORY);
        STATUS status = 0;
        {
            kova::DbGuard db;
            kova::NoteGuard note;
            status = QIXDbOpen("a.qix", db.Out());
            if (status == 0)
                status = QIXNoteCreate(db.Get(), note.Out());
            if (status == 0)
                status = QIXItemSetText(note.Get(), "Form", "Order", 5);
            if (status == 0)
                status = QIXNoteUpdate(note.Get(), 0);
            if (status == 0 && ReadText(note.Get(), "Form") != "Order")
                status = 1;
        }
        const std::vector<std::string> faults = qixsim::FaultsInjected();
        const bool fired = !faults.empty();
        const bool closeFailed =
            fired && (faults[0] == "QIXNoteClose" || faults[0] == "QIXDbClose");
        EXPECT_EQ(closeFailed ? 1u : 0u, qixsim::OpenHandleCount()) << n;
        const size_t stored = qixsim::ListNotes("a.qix").size();
        if (status == 0 && !fired) {
            completed = true;
            EXPECT_EQ(1u, stored);
        } else {
            EXPECT_TRUE(fired) << n;
            // Only a fault after the store (the 4th call) leaves a stored note behind.
            EXPECT_EQ(n > 4 ? 1u : 0u, stored) << n;
        }
    }
    EXPECT_TRUE(completed);
}

}  // namespace
}  // namespace hostsimtest
