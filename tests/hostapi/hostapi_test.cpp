// The server API helpers: the handle guards (closed once on every path, handed on by a move, a
// close's status answered), the memory lock, and the bounded reads of item texts, text-list
// entries and time texts (cut to the smaller of buffer and limit, terminated whatever the server
// returned).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "base/names.h"
#include "hostapi/handles.h"
#include "hostapi/itemtext.h"
#include "tests/support/testsupport.h"

namespace {

TEST(HostApi, GuardsCloseOnceAndReadsAreCutToBufferAndLimit) {
    kovatest::ResetAll();
    ASSERT_EQ(qixsim::CreateDatabase("orders.qix"), 0);
    const size_t open = qixsim::OpenHandleCount();
    {
        kova::DbGuard db;
        EXPECT_FALSE(db);
        EXPECT_EQ(db.Close(), 0);  // nothing to close
        ASSERT_EQ(QIXDbOpen("orders.qix", db.Out()), 0);
        EXPECT_TRUE(db);
        kova::DbGuard moved(std::move(db));
        EXPECT_FALSE(db);
        EXPECT_EQ(qixsim::OpenHandleCount(), open + 1);
        kova::DbGuard other;
        ASSERT_EQ(QIXDbOpen("orders.qix", other.Out()), 0);
        other = std::move(moved);  // closes what `other` held first
        EXPECT_EQ(qixsim::OpenHandleCount(), open + 1);
    }
    EXPECT_EQ(qixsim::OpenHandleCount(), open);
    EXPECT_EQ(qixsim::CallCount("QIXDbClose"), 2u);

    // Released: the guard closes nothing. A refused close answers its status.
    DBHANDLE kept = QIX_NULLHANDLE;
    {
        kova::DbGuard db;
        ASSERT_EQ(QIXDbOpen("orders.qix", db.Out()), 0);
        kept = db.Release();
    }
    EXPECT_EQ(qixsim::OpenHandleCount(), open + 1);
    kova::DbGuard refused(kept);
    qixsim::FailNext("QIXDbClose", ERR_QIX_INVALID_HANDLE);
    EXPECT_EQ(refused.Close(), ERR_QIX_INVALID_HANDLE);
    EXPECT_FALSE(refused);  // given up: the server keeps it
    EXPECT_EQ(qixsim::CloseHandle(kept), 0);

    // The memory lock unlocks what it locked, and only that.
    MEMHANDLE block = QIX_NULLHANDLE;
    ASSERT_EQ(OSMemAlloc(0, 16, &block), 0);
    kova::MemGuard memory(block);
    qixsim::ResetCallCounts();
    {
        const kova::MemLock lock(memory.Get());
        EXPECT_NE(lock.Get(), nullptr);
    }
    qixsim::FailNext("OSLockObject", 1);
    {
        const kova::MemLock lock(memory.Get());
        EXPECT_EQ(lock.Get(), nullptr);
    }
    EXPECT_EQ(qixsim::CallCount("OSLockObject"), 2u);
    EXPECT_EQ(qixsim::CallCount("OSUnlockObject"), 1u);

    const std::string title(200, 'T');
    NOTEID id = 0;
    ASSERT_EQ(qixsim::CreateDocument("orders.qix",
                                     {{"Title", title},
                                      {"Form", std::string("Order")},
                                      {"Tags", qixsim::TextList{"a", std::string(40, 'b')}}},
                                     &id),
              0);
    DBHANDLE db = QIX_NULLHANDLE;
    NOTEHANDLE note = QIX_NULLHANDLE;
    ASSERT_EQ(qixsim::OpenDatabase("orders.qix", &db), 0);
    ASSERT_EQ(qixsim::OpenNote(db, id, &note), 0);

    char storage[64];
    std::memset(storage, '#', sizeof storage);
    // The buffer is smaller than the limit: at most its size, nothing written past it.
    EXPECT_EQ(kova::ReadItemText(note, "Title", storage, 8, kova::kFormReadLimit), 7u);
    EXPECT_EQ(std::string(storage), title.substr(0, 7));
    EXPECT_EQ(storage[8], '#');
    // The limit is smaller than the buffer: the limit.
    EXPECT_EQ(kova::ReadItemText(note, "Title", storage, 4), 3u);
    EXPECT_EQ(std::string(storage), title.substr(0, 3));
    char form[kova::kFormReadLimit];
    EXPECT_EQ(kova::ReadItemText(note, kova::kFormItem, form, kova::kFormReadLimit), 5u);
    EXPECT_STREQ(form, "Order");
    EXPECT_EQ(kova::ReadItemText(note, "Missing", form, kova::kFormReadLimit), 0u);
    EXPECT_STREQ(form, "");
    // A failed read writes nothing: the buffer is terminated at the length returned.
    std::strcpy(form, "stale");
    qixsim::FailNext("QIXItemGetText", ERR_QIX_NO_MEMORY);
    EXPECT_EQ(kova::ReadItemText(note, kova::kFormItem, form, kova::kFormReadLimit), 0u);
    EXPECT_STREQ(form, "");
    EXPECT_EQ(kova::ReadItemText(note, kova::kFormItem, nullptr, 8, kova::kFormReadLimit), 0u);

    EXPECT_EQ(kova::ReadItemListEntry(note, "Tags", 0, storage, 4), 1u);
    EXPECT_STREQ(storage, "a");
    std::memset(storage, '#', sizeof storage);
    EXPECT_EQ(kova::ReadItemListEntry(note, "Tags", 1, storage, 10, 130), 9u);
    EXPECT_EQ(std::string(storage), std::string(9, 'b'));
    EXPECT_EQ(storage[10], '#');
    EXPECT_EQ(kova::ReadItemListEntry(note, "Tags", 2, storage, 10, 130), 0u);
    EXPECT_STREQ(storage, "");
    std::strcpy(storage, "stale");
    qixsim::FailNext("QIXItemGetTextListEntry", ERR_QIX_NO_MEMORY);
    EXPECT_EQ(kova::ReadItemListEntry(note, "Tags", 0, storage, 10, 130), 0u);
    EXPECT_STREQ(storage, "");
    qixsim::CloseHandle(note);
    qixsim::CloseHandle(db);

    // The server's time text, cut to the buffer; the empty text when it cannot convert.
    qixsim::UseFixedClock(kovatest::kFixedStart);
    const TIMEDATE now = kova::CurrentTime();
    EXPECT_EQ(std::memcmp(&now, &kovatest::kFixedStart, sizeof now), 0);
    char text[kova::kTimeTextLimit];
    kova::TimeText(now, text, sizeof text);
    EXPECT_EQ(std::string(text), kovatest::DefaultTimeText(now));
    char cut[5];
    kova::TimeText(now, cut, sizeof cut);
    EXPECT_EQ(std::string(cut), kovatest::DefaultTimeText(now).substr(0, 4));
    qixsim::FailNext("ConvertTIMEDATEToText", ERR_QIX_BAD_ARGUMENT);
    kova::TimeText(now, text, sizeof text);
    EXPECT_STREQ(text, "");
    kovatest::ResetAll();
}

}  // namespace
