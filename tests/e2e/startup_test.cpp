// Start-up of the loaded add-in: the lifecycle lines in order, the registrations the server holds
// afterwards, and the result of MainEntryPoint, for a clean start and for each failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/addin_host.h"

namespace e2e {
namespace {

const std::string kSep = "-------------------------------------------------";
const char* const kRowNames[] = {
    "EM_QIXNOTEUPDATE", "EM_QIXNOTEUPDATE", "EM_QIXNOTEUPDATEXTENDED", "EM_QIXNOTEUPDATEXTENDED",
    "EM_QIXNOTEDELETE", "EM_QIXNOTEDELETE", "EM_QIXDBDELETENOTES",     "EM_QIXDBDELETENOTES"};

std::vector<std::string> Head() {
    return {"Event Listener initialization starting.", kSep, "Calling EMCreateRecursionID"};
}

void AddRows(std::vector<std::string>& lines, int rows) {
    for (int i = 0; i < rows; ++i) {
        lines.push_back(kSep);
        lines.push_back(std::string("Calling EMRegister with ") + kRowNames[i]);
        lines.push_back(kSep);
    }
}

struct StartResult {
    STATUS status;
    std::vector<std::string> lines;
};

StartResult Start() {
    ConsoleCapture console;
    STATUS status = LoadAddin().mainEntryPoint();
    return {status, Lines(console.Stop())};
}

TEST(Startup, RegistersAllEightRowsInTableOrderThenReadsProfiles) {
    FreshServer();
    StartResult start = Start();
    std::vector<std::string> expected = Head();
    expected.push_back("EMCreateRecursionID Returned Success");
    AddRows(expected, 8);
    expected.push_back("Processing Profile Database.");
    expected.push_back("Event Listener initialization complete.");
    EXPECT_EQ(start.lines, expected);
    EXPECT_EQ(start.status, 0);
    EXPECT_EQ(qixsim::RegistrationCount(), 8u);
    EXPECT_EQ(qixsim::CallCount("EMRegister"), 8u);

    // A second call changes nothing and says so.
    StartResult again = Start();
    EXPECT_EQ(again.lines, std::vector<std::string>{"Already registered, Exiting MainEntryPoint"});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(qixsim::RegistrationCount(), 8u);
}

TEST(Startup, RecursionIdFailureRegistersNothingButStillReadsProfiles) {
    FreshServer();
    qixsim::FailNext("EMCreateRecursionID", 0x4222);
    StartResult start = Start();
    std::vector<std::string> expected = Head();
    expected.push_back("EMCreateRecursionID Failed");
    expected.push_back("Processing Profile Database.");
    expected.push_back("Event Listener initialization complete.");
    EXPECT_EQ(start.lines, expected);
    EXPECT_EQ(start.status, 0);
    EXPECT_EQ(qixsim::RegistrationCount(), 0u);
    EXPECT_EQ(qixsim::CallCount("QIXDbOpen"), 1u);  // the profile read still ran

    StartResult again = Start();
    EXPECT_EQ(again.lines, std::vector<std::string>{"Already registered, Exiting MainEntryPoint"});
}

TEST(Startup, RegisterFailureOnRowThreeStopsTheWalk) {
    FreshServer();
    qixsim::FailNth("EMRegister", 0x0333, 4);
    StartResult start = Start();
    std::vector<std::string> expected = Head();
    expected.push_back("EMCreateRecursionID Returned Success");
    AddRows(expected, 3);
    expected.push_back(kSep);
    expected.push_back("Calling EMRegister with EM_QIXNOTEUPDATEXTENDED");
    expected.push_back("EMRegister Failed");
    expected.push_back("Processing Profile Database.");
    expected.push_back("Event Listener initialization complete.");
    EXPECT_EQ(start.lines, expected);
    EXPECT_EQ(start.status, 0);
    EXPECT_EQ(qixsim::RegistrationCount(), 3u);
    EXPECT_EQ(qixsim::CallCount("EMRegister"), 4u);
}

TEST(Startup, ProfileReadFailureIsReportedAndReturnedMasked) {
    qixsim::Reset();  // no "kovaevents.qix" at all
    StartResult start = Start();
    ASSERT_GE(start.lines.size(), 3u);
    const std::vector<std::string> tail(start.lines.end() - 3, start.lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Processing Profile Database.",
                                              "KOVA Inbound profile read error!",
                                              "Event Listener initialization complete."}));
    EXPECT_EQ(start.status, ERR_QIX_DB_NOT_FOUND & 0x3fff);
    EXPECT_EQ(qixsim::RegistrationCount(), 8u);  // the hooks stay registered
}

}  // namespace
}  // namespace e2e
