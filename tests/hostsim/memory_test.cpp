// ID tables, memory blocks, the clock with its time texts, and the log database of the stand-in
// server.
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "tests/hostsim/hostsim_fixture.h"

namespace hostsimtest {
namespace {

using IdTableTest = HostsimTest;
using MemoryTest = HostsimTest;
using TimeTest = HostsimTest;
using LogTest = HostsimTest;

std::vector<NOTEID> Scan(IDHANDLE table) {
    std::vector<NOTEID> ids;
    NOTEID id = 0;
    for (QIXBOOL first = 1; IDScan(table, first, &id); first = 0)
        ids.push_back(id);
    return ids;
}

TEST_F(IdTableTest, SortedSetWithRestartableScan) {
    IDHANDLE table = QIX_NULLHANDLE;
    ASSERT_EQ(0, IDCreateTable(sizeof(NOTEID), &table));
    NOTEID id = 0;
    EXPECT_FALSE(IDScan(table, 0, &id));  // no scan started
    EXPECT_TRUE(Scan(table).empty());
    QIXBOOL inserted = 0;
    for (NOTEID value : {30u, 10u, 20u}) {
        ASSERT_EQ(0, IDInsert(table, value, &inserted));
        EXPECT_TRUE(inserted);
    }
    ASSERT_EQ(0, IDInsert(table, 10, &inserted));
    EXPECT_FALSE(inserted);
    EXPECT_EQ(3u, IDEntries(table));
    EXPECT_EQ((std::vector<NOTEID>{10, 20, 30}), Scan(table));
    EXPECT_FALSE(IDScan(table, 0, &id));  // stays at the end
    ASSERT_TRUE(IDScan(table, 1, &id));   // first restarts
    EXPECT_EQ(10u, id);
    ASSERT_EQ(0, IDInsert(table, 15, nullptr));
    ASSERT_TRUE(IDScan(table, 0, &id));  // a scan goes on from the last id delivered
    EXPECT_EQ(15u, id);

    ASSERT_EQ(0, IDDestroyTable(table));
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, IDInsert(table, 1, nullptr));
    EXPECT_EQ(0u, IDEntries(table));
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, IDDestroyTable(table));
}

TEST_F(MemoryTest, LockNestingAndFree) {
    MEMHANDLE block = QIX_NULLHANDLE;
    ASSERT_EQ(0, OSMemAlloc(0, 16, &block));
    auto* bytes = static_cast<unsigned char*>(OSLockObject(block));
    ASSERT_NE(nullptr, bytes);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(0, bytes[i]);  // zero-filled
    std::memcpy(bytes, "stand-in", 9);
    EXPECT_EQ(bytes, OSLockObject(block));  // nested lock, same block
    EXPECT_TRUE(OSUnlockObject(block));
    EXPECT_TRUE(OSUnlockObject(block));
    EXPECT_FALSE(OSUnlockObject(block));  // not locked any more
    EXPECT_STREQ("stand-in", static_cast<const char*>(OSLockObject(block)));
    ASSERT_EQ(0, OSMemFree(block));
    EXPECT_EQ(nullptr, OSLockObject(block));
    EXPECT_EQ(ERR_QIX_INVALID_HANDLE, OSMemFree(block));
    EXPECT_EQ(ERR_QIX_BAD_ARGUMENT, OSMemAlloc(0, 4, nullptr));
}

TEST_F(TimeTest, TextParseAndConversionLimits) {
    TIMEDATE leap{};
    ASSERT_TRUE(qixsim::ParseTime("2024-02-29 23:59:59", &leap));
    EXPECT_EQ("2024-02-29 23:59:59.00", qixsim::TimeText(leap));
    EXPECT_EQ("1970-01-01 00:00:00.00", qixsim::TimeText(Time(0)));
    EXPECT_EQ("2024-03-01 00:00:00.00", qixsim::TimeText(Time(kStart)));
    TIMEDATE unused{};
    for (const char* bad :
         {"2023-02-29 00:00:00", "2024-13-01 00:00:00", "2024-1-01 00:00:00", "2024-01-01 24:00:00",
          "2024-01-01 00:00:00 ", "1969-12-31 23:59:59", "2024-01-01T00:00:00", ""}) {
        EXPECT_FALSE(qixsim::ParseTime(bad, &unused)) << bad;
    }

    const TIMEDATE when = Time(kStart + 4567);  // 00:00:45.67
    char text[80];
    uint16_t length = 0;
    ASSERT_EQ(0, ConvertTIMEDATEToText(nullptr, nullptr, &when, text, sizeof text, &length));
    EXPECT_STREQ("2024-03-01 00:00:45.67", text);
    EXPECT_EQ(22, length);
    std::memset(text, 'X', sizeof text);
    ASSERT_EQ(0, ConvertTIMEDATEToText(nullptr, nullptr, &when, text, 11, &length));
    EXPECT_STREQ("2024-03-01", text);
    EXPECT_EQ(10, length);
    EXPECT_EQ('X', text[11]);
    const int format = 0;
    EXPECT_EQ(ERR_QIX_BAD_ARGUMENT,
              ConvertTIMEDATEToText(&format, nullptr, &when, text, sizeof text, &length));
}

TEST_F(TimeTest, FixedClockAdvancesPerReadAndSystemClockIsNow) {
    TIMEDATE first{}, second{};
    OSCurrentTIMEDATE(&first);
    OSCurrentTIMEDATE(&second);
    EXPECT_EQ(kStart, Hundredths(first));
    EXPECT_EQ(kStart + 1, Hundredths(second));
    // Internal reads advance it too: a store stamps its sequence time from the same clock.
    ASSERT_EQ(0, qixsim::CreateDatabase("a.qix"));
    ASSERT_EQ(0, qixsim::CreateDocument("a.qix", {{"Form", std::string("Order")}}));
    EXPECT_EQ(kStart + 2, Hundredths(qixsim::ListNotes("a.qix")[0].originatorId.sequenceTime));
    OSCurrentTIMEDATE(&second);
    EXPECT_EQ(kStart + 3, Hundredths(second));

    qixsim::UseSystemClock();
    TIMEDATE now{};
    OSCurrentTIMEDATE(&now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    const int64_t expected = ms / 10;
    EXPECT_LE(std::llabs(static_cast<int64_t>(Hundredths(now)) - expected), 200);
}

TEST_F(LogTest, EntriesAreFormattedAppendedAndNeverPrinted) {
    testing::internal::CaptureStdout();
    ASSERT_EQ(0, LogEventTextNoConsole("%s:%s:%d", 0, 0, "KOVA", "ERROR", 7));
    ASSERT_EQ(0, LogEventTextNoConsole("%s", 0, 0, "100% done"));
    const std::string longText(2000, 'x');
    ASSERT_EQ(0, LogEventTextNoConsole("%s", 0, 0, longText.c_str()));
    EXPECT_EQ(ERR_QIX_BAD_ARGUMENT, LogEventTextNoConsole("%s", 1, 0, "module set"));
    EXPECT_EQ(ERR_QIX_BAD_ARGUMENT, LogEventTextNoConsole("%s", 0, 5, "error set"));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ((std::vector<std::string>{"KOVA:ERROR:7", "100% done", longText}),
              qixsim::LogEntries());
    qixsim::Reset();
    EXPECT_TRUE(qixsim::LogEntries().empty());
}

}  // namespace
}  // namespace hostsimtest
