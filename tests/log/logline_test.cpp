// The log line writer: threshold, the console and log-database line shapes, cutting an over-long
// message, levels without a level word, LogFormat's filtered cost and the per-thread buffer.
#include "log/logline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/testsupport.h"

namespace {

using kova::gTextBuffer;
using kova::LogFormat;
using kova::LogLine;

class LogLineTest : public ::testing::Test {
  protected:
    void SetUp() override { kovatest::ResetAll(); }
};

TIMEDATE Later(TIMEDATE time, uint32_t hundredths) {
    time.word[0] += hundredths;  // the fixed start is far from a carry
    return time;
}

TEST_F(LogLineTest, ThresholdLetsThroughLevelsUpToIt) {
    const std::vector<std::vector<std::string>> expected = {
        {},
        {"KOVA:ERROR:e\n"},
        {"KOVA:ERROR:e\n", "KOVA:INFO:i\n"},
        {"KOVA:ERROR:e\n", "KOVA:INFO:i\n", "KOVA:DEBUG:d\n"},
    };
    for (int32_t threshold = 0; threshold <= 3; ++threshold) {
        kovatest::ResetAll();
        kovatest::SetLogSettings(threshold, 0, 1);
        LogLine(kova::kLogError, "e\n");
        LogLine(kova::kLogInfo, "i\n");
        LogLine(kova::kLogDebug, "d\n");
        EXPECT_EQ(kovatest::LogEntries(), expected[static_cast<size_t>(threshold)])
            << "threshold " << threshold;
    }
}

TEST_F(LogLineTest, ConsoleLineIsTimeTextTabAndTaggedLine) {
    // No system profile: the configuration profile's level, console on, log database off.
    kovatest::SetConfigurationLogLevel(3);
    const std::string firstTime = kovatest::DefaultTimeText(kovatest::kFixedStart);
    const std::string secondTime = kovatest::DefaultTimeText(Later(kovatest::kFixedStart, 1));
    ASSERT_FALSE(firstTime.empty());
    qixsim::UseFixedClock(kovatest::kFixedStart);

    kovasupport::StdoutCapture capture;
    LogLine(kova::kLogError, "M\n");
    // Without its own line end a message leaves the next output on the same console line.
    LogLine(kova::kLogDebug, "Event is monitored!");
    LogLine(kova::kLogInfo, "next\n");
    const std::string console = capture.Stop();

    const std::string thirdTime = kovatest::DefaultTimeText(Later(kovatest::kFixedStart, 2));
    EXPECT_EQ(console, firstTime + "\tKOVA:ERROR:M\n" + secondTime +
                           "\tKOVA:DEBUG:Event is monitored!" + thirdTime + "\tKOVA:INFO:next\n");
    EXPECT_TRUE(kovatest::LogEntries().empty());
}

TEST_F(LogLineTest, LogDatabaseGetsTheLineWithoutTimeTextAndKeepsPercent) {
    kovatest::SetLogSettings(3, 0, 1);
    kovasupport::StdoutCapture capture;
    LogLine(kova::kLogInfo, "100% done, %s %d %n\n");
    EXPECT_EQ(capture.Stop(), "");
    EXPECT_EQ(kovatest::LogEntries(), std::vector<std::string>{"KOVA:INFO:100% done, %s %d %n\n"});

    kovatest::ResetAll();
    kovatest::SetLogSettings(2, 1, 1);  // both outputs, each decided on its own
    qixsim::UseFixedClock(kovatest::kFixedStart);
    kovasupport::StdoutCapture both;
    LogLine(kova::kLogError, "both\n");
    EXPECT_EQ(both.Stop(),
              kovatest::DefaultTimeText(kovatest::kFixedStart) + "\tKOVA:ERROR:both\n");
    EXPECT_EQ(kovatest::LogEntries(), std::vector<std::string>{"KOVA:ERROR:both\n"});
}

TEST_F(LogLineTest, Message1023CharactersIsCutToTheLineBuffer) {
    kovatest::SetLogSettings(3, 0, 1);
    std::string message;
    for (size_t i = 0; i < 1023; ++i)
        message.push_back(static_cast<char>('a' + i % 26));
    std::snprintf(gTextBuffer, kova::kTextBufferSize, "%s", message.c_str());
    LogLine(kova::kLogError, gTextBuffer);

    // A message ending in a line end keeps it when cut.
    const std::string withEnd = std::string(1100, 'y') + "\n";
    LogLine(kova::kLogDebug, withEnd.c_str());

    const std::vector<std::string> entries = kovatest::LogEntries();
    ASSERT_EQ(entries.size(), 2u);
    const std::string expectedCut = ("KOVA:ERROR:" + message).substr(0, kova::kLogLineSize - 1);
    EXPECT_EQ(entries[0], expectedCut);
    EXPECT_EQ(entries[0].size(), 511u);
    EXPECT_EQ(entries[1], "KOVA:DEBUG:" + std::string(499, 'y') + "\n");

    // LogFormat cuts its message to gTextBuffer.
    const std::string huge(3000, 'z');
    LogFormat(kova::kLogInfo, "%s", huge.c_str());
    EXPECT_EQ(std::strlen(gTextBuffer), kova::kTextBufferSize - 1);
    EXPECT_EQ(kovatest::LogEntries().size(), 3u);
}

TEST_F(LogLineTest, LevelsWithoutALevelWordWriteNothing) {
    kovatest::SetLogSettings(9, 1, 1);  // a threshold above every level
    qixsim::ResetCallCounts();
    kovasupport::StdoutCapture capture;
    LogLine(0, "zero\n");
    LogLine(4, "four\n");
    LogLine(-1, "minus\n");
    LogFormat(4, "four %d\n", 4);
    EXPECT_EQ(capture.Stop(), "");
    EXPECT_TRUE(kovatest::LogEntries().empty());
    EXPECT_EQ(qixsim::TotalCallCount(), 0u);

    LogLine(kova::kLogDebug, "three\n");
    EXPECT_EQ(kovatest::LogEntries(), std::vector<std::string>{"KOVA:DEBUG:three\n"});
}

TEST_F(LogLineTest, LogFormatCostsOnlyAComparisonWhenFiltered) {
    kovatest::SetLogSettings(1, 1, 1);
    std::snprintf(gTextBuffer, kova::kTextBufferSize, "%s", "sentinel");
    qixsim::ResetCallCounts();
    kovasupport::StdoutCapture capture;
    LogFormat(kova::kLogDebug, "value %d %s\n", 7, "x");
    EXPECT_FALSE(kova::LogLevelPasses(kova::kLogDebug));
    EXPECT_EQ(capture.Stop(), "");
    EXPECT_STREQ(gTextBuffer, "sentinel");
    EXPECT_EQ(qixsim::TotalCallCount(), 0u);
    EXPECT_TRUE(kovatest::LogEntries().empty());

    // When it passes, the output is what sprintf into gTextBuffer and LogLine give.
    kovatest::SetLogSettings(3, 0, 1);
    EXPECT_TRUE(kova::LogLevelPasses(kova::kLogDebug));
    LogFormat(kova::kLogError, "Error opening Note. Error# %i\n", 0x4105);
    std::snprintf(gTextBuffer, kova::kTextBufferSize, "Error opening Note. Error# %i\n", 0x4105);
    LogLine(kova::kLogError, gTextBuffer);
    // gTextBuffer itself as an argument is safe.
    LogFormat(kova::kLogInfo, "[%s]", "inner");
    LogFormat(kova::kLogInfo, "<%s>", gTextBuffer);
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{"KOVA:ERROR:Error opening Note. Error# 16645\n",
                                        "KOVA:ERROR:Error opening Note. Error# 16645\n",
                                        "KOVA:INFO:[inner]", "KOVA:INFO:<[inner]>"}));
}

TEST_F(LogLineTest, TextBufferIsOnePerThread) {
    std::snprintf(gTextBuffer, kova::kTextBufferSize, "%s", "main thread");
    const char* mainAddress = gTextBuffer;
    const char* otherAddress = nullptr;
    std::string otherInitial;
    std::thread other([&] {
        otherAddress = gTextBuffer;
        otherInitial = gTextBuffer;
        std::snprintf(gTextBuffer, kova::kTextBufferSize, "%s", "other thread");
    });
    other.join();
    EXPECT_NE(mainAddress, otherAddress);
    EXPECT_EQ(otherInitial, "");
    EXPECT_STREQ(gTextBuffer, "main thread");
}

}  // namespace
