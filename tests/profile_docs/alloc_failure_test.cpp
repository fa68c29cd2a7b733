// Heap exhaustion while a profile document is read: the k-th allocation of the add-in fails, for
// k = 1, 2, ... until a read completes without a failure. Each run must end in a consistent record
// (monitoredNum counts filled slots, the chain flag only with a record) and an ERROR line.
// The add-in's allocations are counted and failed by the shared heap hooks (heapfaults.h).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "hostapi/qixapi.h"
#include "profile/readers.h"
#include "profile/refresh.h"
#include "tests/profile_docs/docs_fixture.h"
#include "tests/support/heapfaults.h"

namespace {

// Allocation `failAt` of the add-in (counted from here) fails; 0 = none.
void Arm(uint64_t failAt) {
    heapfaults::Arm(failAt);
}
void Disarm() {
    heapfaults::Disarm();
}
uint64_t Failures() {
    return heapfaults::Get().failures;
}

}  // namespace

namespace {

using docstest::CaptureLog;
using docstest::List;
using docstest::Locked;
using docstest::Text;
using Strings = std::vector<std::string>;

const Strings kEntries = {"one.qix", "dir\\two.qix", "three.qix:Form"};
const Strings kStored = {"one.qix", "dir/two.qix", "three.qix:Form"};

bool IsSubsequence(const Strings& part, const Strings& whole) {
    size_t at = 0;
    for (const std::string& entry : part) {
        while (at < whole.size() && whole[at] != entry)
            ++at;
        if (at == whole.size())
            return false;
        ++at;
    }
    return true;
}

Strings Stored(char** monitored, int32_t count) {
    Strings entries;
    for (int32_t i = 0; i < count; ++i) {
        entries.emplace_back(monitored[i] != nullptr ? monitored[i] : "(null)");
    }
    return entries;
}

bool HasError(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (line.rfind("KOVA:ERROR:", 0) == 0)
            return true;
    }
    return false;
}

class AllocFailureTest : public docstest::DocsTest {
  protected:
    void SetUp() override {
#if !defined(KOVA_WRAP_HEAP)
        GTEST_SKIP() << "allocation faults need the linker's --wrap";
#endif
        DocsTest::SetUp();
        kovatest::SetLogSettings(kova::kLogError, 0, 1);
    }
    void TearDown() override {
        Disarm();
        DocsTest::TearDown();
    }
};

TEST_F(AllocFailureTest, TriggerReaderSkipsWhatItCannotStore) {
    NOTEHANDLE note = OpenDoc({{"Form", Text("EventTriggerConfiguration")},
                               {"ConnectorId", Text("conn")},
                               {"EventTypes", List({"Update"})},
                               {"MonitoredDocuments", List(kEntries)}});
    size_t failAt = 1;
    for (;; ++failAt) {
        SCOPED_TRACE(testing::Message() << "allocation " << failAt << " fails");
        Locked([] { kova::ResetProfileFlags(); });
        kovatest::SetLogSettings(kova::kLogError, 0, 1);  // the reset switched the outputs off
        Arm(failAt);
        docstest::Logged logged = CaptureLog([&] {
            Locked([&] {
                heapfaults::AddinScope addin;
                kova::AddTriggerProfileV75(note);
            });
        });
        Disarm();
        const bool failed = Failures() != 0;
        EXPECT_EQ(HasError(logged.database), failed);

        const kova::TriggerProfile* profile = kova::pEventTriggerProfile();
        if (profile == nullptr) {
            EXPECT_TRUE(failed);  // only the record itself may be missing
            continue;
        }
        EXPECT_EQ(profile->next, nullptr);
        EXPECT_STREQ(profile->connectorID, "conn");
        EXPECT_EQ(profile->updateEnabled, 1);
        ASSERT_GE(profile->monitoredNum, 0);
        ASSERT_TRUE(profile->monitoredNum == 0 || profile->monitored != nullptr);
        const Strings stored = Stored(profile->monitored, profile->monitoredNum);
        EXPECT_TRUE(IsSubsequence(stored, kStored)) << testing::PrintToString(stored);
        if (!failed) {
            EXPECT_EQ(stored, kStored);
            break;
        }
        EXPECT_LT(stored.size(), kStored.size());
    }
    // The record, the array and one string per entry: every one of them was made to fail.
    EXPECT_EQ(failAt, 2 + kEntries.size() + 1);
}

// Through the search callback: a trigger record that could not be made must not switch the
// trigger chain on (the accessors would read a missing head).
TEST_F(AllocFailureTest, UnallocatedTriggerRecordLeavesTheChainOff) {
    kovatest::SetLogSettings(kova::kLogDebug, 0, 1);
    NOTEID noteId = 0;
    OpenDoc({{"Form", Text("EventTriggerConfiguration")}, {"ConnectorId", Text("conn")}}, &noteId);
    SEARCH_MATCH match{};
    match.noteId = noteId;
    DBHANDLE db = db_;

    Arm(1);
    docstest::Logged logged = CaptureLog([&] {
        Locked([&] {
            heapfaults::AddinScope addin;
            EXPECT_EQ(kova::UpdateProfileV75(&db, &match, nullptr), 0);
        });
    });
    Disarm();
    EXPECT_EQ(Failures(), 1u);
    EXPECT_EQ(kova::pEventTriggerProfile(), nullptr);
    EXPECT_EQ(kova::profileFlags().triggerProfileEnabled, 0);
    ASSERT_EQ(logged.database.size(), 1u);
    EXPECT_EQ(logged.database[0].rfind("KOVA:ERROR:", 0), 0u);

    // Without the fault the same document is added and announced.
    logged = CaptureLog(
        [&] { Locked([&] { EXPECT_EQ(kova::UpdateProfileV75(&db, &match, nullptr), 0); }); });
    ASSERT_NE(kova::pEventTriggerProfile(), nullptr);
    EXPECT_EQ(kova::profileFlags().triggerProfileEnabled, 1);
    EXPECT_EQ(logged.database, (Strings{"KOVA:DEBUG:Event Trigger Profile added!\n"}));
}

}  // namespace
