// The stand-in server under concurrent callers: several threads storing, reading and deleting
// notes while handlers that call the server API themselves are registered, and the interleaving
// where a handler runs on one thread while another thread's operation must still notify it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <set>
#include <thread>

#include "tests/hostsim/hostsim_fixture.h"

namespace hostsimtest {
namespace {

using ConcurrencyTest = HostsimTest;

std::atomic<int> gBefore{0};
std::atomic<int> gAfter{0};
std::atomic<int> gHandlerErrors{0};

// Does what the add-in does: describes the note before the operation, writes an Event document
// into "kovaevents.qix" after a successful update.
STATUS WorkingHandler(EMRECORD* record) {
    const std::vector<unsigned int> arguments = ReadArguments(record);
    if (record->stage == EM_STAGE_BEFORE) {
        gBefore.fetch_add(1);
        if (record->notificationId == EM_QIXNOTEUPDATE) {
            char form[64];
            QIXItemGetText(static_cast<NOTEHANDLE>(arguments[0]), "Form", form, sizeof form);
            if (std::string(form).empty())
                gHandlerErrors.fetch_add(1);
        } else if (record->notificationId == EM_QIXNOTEDELETE) {
            kova::NoteGuard note;  // the note still exists before a delete
            if (QIXNoteOpen(static_cast<DBHANDLE>(arguments[0]), arguments[1], 0, note.Out()) !=
                0) {
                gHandlerErrors.fetch_add(1);
            }
        }
        return EM_CONTINUE_STATUS;
    }
    gAfter.fetch_add(1);
    if (record->notificationId == EM_QIXNOTEUPDATE && record->status == 0) {
        kova::DbGuard events;
        if (QIXDbOpen("kovaevents.qix", events.Out()) != 0 ||
            StoreDocument(events.Get(), "Event") == 0) {
            gHandlerErrors.fetch_add(1);
        }
    }
    return record->status;
}

TEST_F(ConcurrencyTest, ThreadsStoreReadAndDeleteWithHandlersRegistered) {
    gBefore = 0;
    gAfter = 0;
    gHandlerErrors = 0;
    qixsim::UseSystemClock();
    ASSERT_EQ(0, qixsim::CreateEventDatabase());
    ASSERT_EQ(0, qixsim::CreateDatabase("data/orders.qix"));
    uint16_t recursion = 0;
    ASSERT_EQ(0, EMCreateRecursionID(&recursion));
    for (uint16_t id : {EM_QIXNOTEUPDATE, EM_QIXNOTEDELETE, EM_QIXDBDELETENOTES}) {
        uint32_t registration = 0;
        ASSERT_EQ(0, EMRegister(id, EM_REG_BEFORE | EM_REG_AFTER, WorkingHandler, recursion,
                                &registration));
    }

    constexpr int kThreads = 4;
    constexpr int kNotes = 150;
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::vector<NOTEID>> kept(kThreads);
    auto worker = [&](int t) {
        kova::DbGuard db;
        if (QIXDbOpen(t % 2 == 0 ? "data/orders.qix" : "data\\orders.qix", db.Out()) != 0) {
            failures.fetch_add(1);
            return;
        }
        std::vector<NOTEID> pending;
        for (int i = 0; i < kNotes; ++i) {
            const std::string value = std::to_string(t) + ":" + std::to_string(i);
            NOTEID id = 0;
            {
                kova::NoteGuard note;
                if (QIXNoteCreate(db.Get(), note.Out()) != 0 ||
                    QIXItemSetText(note.Get(), "Form", "Order", QIX_TEXT_TERMINATED) != 0 ||
                    QIXItemSetText(note.Get(), "Value", value.c_str(), QIX_TEXT_TERMINATED) != 0 ||
                    QIXNoteUpdate(note.Get(), 0) != 0 ||
                    QIXNoteGetInfo(note.Get(), NOTE_INFO_ID, &id) != 0) {
                    failures.fetch_add(1);
                    continue;
                }
            }
            kova::NoteGuard reread;
            if (QIXNoteOpen(db.Get(), id, 0, reread.Out()) != 0 ||
                ReadText(reread.Get(), "Value") != value) {
                failures.fetch_add(1);
            }
            reread.Close();
            if (i % 3 == 0) {
                if (QIXNoteDelete(db.Get(), id, 0) != 0)
                    failures.fetch_add(1);
            } else if (i % 3 == 1) {
                pending.push_back(id);
            } else {
                kept[t].push_back(id);
            }
            if (pending.size() == 2) {
                kova::IdTableGuard table;
                if (IDCreateTable(sizeof(NOTEID), table.Out()) != 0 ||
                    IDInsert(table.Get(), pending[0], nullptr) != 0 ||
                    IDInsert(table.Get(), pending[1], nullptr) != 0 ||
                    QIXDbDeleteNotes(db.Get(), table.Get(), 0) != 0) {
                    failures.fetch_add(1);
                }
                pending.clear();
            }
        }
        for (NOTEID id : pending)
            kept[t].push_back(id);
    };
    // A reader walks the profile view and searches the event database meanwhile.
    std::atomic<int> walks{0};
    auto reader = [&] {
        while (!stop.load()) {
            kova::DbGuard db;
            kova::CollectionGuard collection;
            NOTEID view = 0;
            if (QIXDbOpen("kovaevents.qix", db.Out()) != 0 ||
                TAVFindDesignNoteExt(db.Get(), "(All Configurations)", NOTE_CLASS_VIEW, nullptr,
                                     &view, 0) != 0 ||
                TAVOpenCollection(db.Get(), db.Get(), view, 0, QIX_NULLHANDLE, collection.Out(),
                                  nullptr, nullptr, nullptr, nullptr) != 0) {
                failures.fetch_add(1);
                return;
            }
            COLLECTIONPOSITION position{};
            kova::MemGuard buffer;
            if (TAVReadEntries(collection.Get(), &position, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 1,
                               READ_MASK_NOTEID, buffer.Out(), nullptr, nullptr, nullptr,
                               nullptr) != 0) {
                failures.fetch_add(1);
            }
            walks.fetch_add(1);
        }
    };

    std::thread readerThread(reader);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(worker, t);
    for (auto& thread : threads)
        thread.join();
    stop.store(true);
    readerThread.join();

    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(0, gHandlerErrors.load());
    EXPECT_GT(walks.load(), 0);
    // Per thread: kNotes updates, kNotes / 3 deletes, kNotes / 6 bulk deletes; one Event per
    // update and no notification for the handlers' own stores.
    const int operations = kThreads * (kNotes + kNotes / 3 + kNotes / 6);
    EXPECT_EQ(operations, gBefore.load());
    EXPECT_EQ(operations, gAfter.load());
    EXPECT_EQ(static_cast<size_t>(kThreads * kNotes),
              qixsim::ListDocuments("kovaevents.qix", "Event").size());

    std::set<NOTEID> expected;
    for (const auto& ids : kept)
        expected.insert(ids.begin(), ids.end());
    EXPECT_EQ(static_cast<size_t>(kThreads * kNotes / 3), expected.size());
    std::set<NOTEID> stored;
    for (const auto& note : qixsim::ListNotes("data/orders.qix"))
        stored.insert(note.noteId);
    EXPECT_EQ(expected, stored);
    EXPECT_EQ(0u, qixsim::OpenHandleCount());
}

// One handler call blocks on thread 1 while thread 2 stores a note: the recursion id of the
// running handler must not keep thread 2's notification from reaching it.
std::mutex gGateMutex;
std::condition_variable gGate;
bool gFirstInside = false;
bool gSecondDone = false;
std::atomic<int> gCalls{0};

STATUS BlockingHandler(EMRECORD* record) {
    if (record->stage != EM_STAGE_BEFORE)
        return record->status;
    if (gCalls.fetch_add(1) == 0) {
        std::unique_lock<std::mutex> lock(gGateMutex);
        gFirstInside = true;
        gGate.notify_all();
        gGate.wait_for(lock, std::chrono::seconds(10), [] { return gSecondDone; });
    }
    return EM_CONTINUE_STATUS;
}

TEST_F(ConcurrencyTest, RunningHandlerDoesNotSuppressOtherThreads) {
    gFirstInside = false;
    gSecondDone = false;
    gCalls = 0;
    ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
    uint16_t recursion = 0;
    uint32_t registration = 0;
    ASSERT_EQ(0, EMCreateRecursionID(&recursion));
    ASSERT_EQ(
        0, EMRegister(EM_QIXNOTEUPDATE, EM_REG_BEFORE, BlockingHandler, recursion, &registration));
    kova::DbGuard db;
    ASSERT_EQ(0, QIXDbOpen("a.qix", db.Out()));

    NOTEID first = 0;
    std::thread one([&] { first = StoreDocument(db.Get(), "Order"); });
    {
        std::unique_lock<std::mutex> lock(gGateMutex);
        ASSERT_TRUE(gGate.wait_for(lock, std::chrono::seconds(10), [] { return gFirstInside; }));
    }
    const NOTEID second = StoreDocument(db.Get(), "Order");
    EXPECT_EQ(2, gCalls.load());  // the handler ran for thread 2 while thread 1 was inside it
    {
        std::lock_guard<std::mutex> lock(gGateMutex);
        gSecondDone = true;
    }
    gGate.notify_all();
    one.join();
    EXPECT_NE(0u, first);
    EXPECT_NE(0u, second);
    EXPECT_EQ(2u, qixsim::ListNotes("a.qix").size());
}

}  // namespace
}  // namespace hostsimtest
