// Heap exhaustion while a profile document is read, or while an edit copies the configuration in
// force: the k-th allocation of the add-in fails, for k = 1, 2, ... until the step completes
// without a failure. Each read must end in a consistent record (monitoredNum counts filled slots,
// the chain flag only with a record), noted as incomplete, with an ERROR line; a failed copy
// publishes nothing. The add-in's allocations are counted and failed by the shared heap hooks
// (heapfaults.h).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include <optional>

#include "hostapi/qixapi.h"
#include "profile/publication.h"
#include "profile/readers.h"
#include "profile/reread.h"
#include "tests/profile/profile_fixture.h"
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

using kovatest::InForce;
using profiletest::CaptureLog;
using profiletest::List;
using profiletest::Strings;
using profiletest::Text;

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

class AllocFailureTest : public profiletest::ProfileTest {
  protected:
    void SetUp() override {
#if !defined(KOVA_WRAP_HEAP)
        GTEST_SKIP() << "allocation faults need the linker's --wrap";
#endif
        ProfileTest::SetUp();
        kovatest::SetLogSettings(kova::kLogError, 0, 1);
    }
    void TearDown() override {
        Disarm();
        ProfileTest::TearDown();
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
        kovatest::Edit([](kova::ProfileConfiguration& c) { kova::ResetProfileFlags(c); });
        kovatest::SetLogSettings(kova::kLogError, 0, 1);  // the reset switched the outputs off
        Arm(failAt);
        kova::ProfileRead read{};
        profiletest::Logged logged = CaptureLog([&] {
            read = InEdit([&](auto& building, auto& progress) {
                heapfaults::AddinScope addin;
                kova::AddTriggerProfileV75(building, note, progress);
            });
        });
        Disarm();
        const bool failed = Failures() != 0;
        EXPECT_EQ(HasError(logged.database), failed);
        if (failed) {
            EXPECT_STREQ(read.failedCall, "memory allocation");
            EXPECT_EQ(read.failedStatus, ERR_QIX_NO_MEMORY);
        } else {
            EXPECT_EQ(read.failedCall, nullptr);
        }

        const kova::TriggerProfile* profile = kova::pEventTriggerProfile(InForce());
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

    Arm(1);
    kova::ProfileRead read{};
    profiletest::Logged logged = CaptureLog([&] {
        read = InEdit([&](auto&, kova::ProfileRead& progress) {
            heapfaults::AddinScope addin;
            EXPECT_EQ(kova::UpdateProfileV75(&progress, &match, nullptr), 0);
        });
    });
    Disarm();
    EXPECT_EQ(Failures(), 1u);
    EXPECT_STREQ(read.failedCall, "memory allocation");
    EXPECT_EQ(kova::pEventTriggerProfile(InForce()), nullptr);
    EXPECT_EQ(kova::profileFlags(InForce()).triggerProfileEnabled, 0);
    ASSERT_EQ(logged.database.size(), 1u);
    EXPECT_EQ(logged.database[0].rfind("KOVA:ERROR:", 0), 0u);

    // Without the fault the same document is added and announced.
    logged = CaptureLog([&] {
        read = InEdit([&](auto&, kova::ProfileRead& progress) {
            EXPECT_EQ(kova::UpdateProfileV75(&progress, &match, nullptr), 0);
        });
    });
    EXPECT_EQ(read.failedCall, nullptr);
    ASSERT_NE(kova::pEventTriggerProfile(InForce()), nullptr);
    EXPECT_EQ(kova::profileFlags(InForce()).triggerProfileEnabled, 1);
    EXPECT_EQ(logged.database, (Strings{"KOVA:DEBUG:Event Trigger Profile added!\n"}));
}

// An edit whose copy of the configuration in force ran out of memory publishes nothing: what is
// in force stays, and one ERROR line says why.
TEST_F(AllocFailureTest, AnEditWhoseCopyFailedPublishesNothing) {
    kovatest::SetConfigurationProfile({{"c.qix"}, 1, 0, 0, "conf"});
    kovatest::AddTrigger({{"a.qix", "b.qix"}, 1, 0, 0, "kept"});
    const kova::ProfileConfiguration* inForce = &InForce();
    const Strings outOfMemory = {"KOVA:ERROR:Out of memory copying the profile configuration.\n"};
    uint64_t failAt = 1;
    for (;; ++failAt) {
        SCOPED_TRACE(testing::Message() << "allocation " << failAt << " fails");
        std::optional<kova::ProfileEdit> edit;
        Arm(failAt);
        const profiletest::Logged logged = CaptureLog([&] {
            heapfaults::AddinScope addin;
            edit.emplace();
        });
        Disarm();
        const bool failed = Failures() != 0;
        EXPECT_EQ(edit->ok(), !failed);
        EXPECT_EQ(logged.database, failed ? outOfMemory : Strings{});
        if (!failed) {
            EXPECT_TRUE(edit->Publish());
            break;
        }
        EXPECT_FALSE(edit->Publish());
        EXPECT_EQ(&InForce(), inForce);
        ASSERT_NE(kova::pEventTriggerProfile(InForce()), nullptr);
        EXPECT_STREQ(kova::pEventTriggerProfile(InForce())->connectorID, "kept");
    }
    EXPECT_NE(&InForce(), inForce);
    EXPECT_STREQ(kova::getConnectorID(InForce()), "kept");
    // The configuration, the deprecated record's array and string, the trigger record, its array
    // and its two strings: every one of them was made to fail.
    EXPECT_EQ(failAt, 8u);
}

}  // namespace
