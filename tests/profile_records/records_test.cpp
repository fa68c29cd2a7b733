// The profile records: load-time answers, the accessors' choice of record, the clean-ups and
// ResetProfileFlags, and the write lock's publication of the log settings to other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "profile/configuration.h"
#include "profile/records.h"
#include "tests/support/testsupport.h"

namespace {

struct LogSettings {
    int32_t level;
    int32_t console;
    int32_t database;
    bool operator==(const LogSettings& o) const {
        return level == o.level && console == o.console && database == o.database;
    }
};

LogSettings CurrentLogSettings() {
    return {kova::GetLogLevel(), kova::isLogConsoleEnabled(), kova::isLogDatabaseEnabled()};
}

LogSettings LogSettingsOnOtherThread() {
    LogSettings seen{};
    std::thread other([&] { seen = CurrentLogSettings(); });
    other.join();
    return seen;
}

std::string CleanUpLine(const kova::TriggerProfile* record, int monitoredNum) {
    char line[128];
    std::snprintf(line, sizeof line,
                  "KOVA:DEBUG:pEventTriggerProfile=%" PRIuPTR ", MonitoredNum=%i\n",
                  reinterpret_cast<uintptr_t>(record), monitoredNum);
    return line;
}

class ProfileRecordsTest : public ::testing::Test {
  protected:
    void SetUp() override { kovatest::ResetAll(); }
    void TearDown() override { kovatest::ResetAll(); }
};

// Runs first in its own process under ctest, so it sees the records as loaded.
TEST(ProfileRecordsLoad, AccessorsAnswerLoadTimeDefaults) {
    EXPECT_EQ(kova::GetLogLevel(), 0);
    EXPECT_EQ(kova::isLogConsoleEnabled(), 1);
    EXPECT_EQ(kova::isLogDatabaseEnabled(), 0);
    EXPECT_STREQ(kova::getConnectorID(), "");
    EXPECT_EQ(kova::getMonitoredNum(), 0);
    EXPECT_EQ(kova::getMonitored(), nullptr);
    EXPECT_EQ(kova::IsSystemProfileEnabled(), 0);
    EXPECT_EQ(kova::IsTriggerProfileEnabled(), 0);
    EXPECT_EQ(kova::IsConfigurationProfileEnabled(), 0);
    EXPECT_EQ(kova::pEventTriggerProfile(), nullptr);
    EXPECT_FALSE(kova::ConfigurationInView().complete);
}

TEST_F(ProfileRecordsTest, SystemProfileFlagAloneSelectsTheLogRecord) {
    {
        kova::ProfileEdit edit;
        kova::pSystemProfile()->logLevel = 3;
        kova::pSystemProfile()->logConsoleEnabled = 0;
        kova::pSystemProfile()->logDatabaseEnabled = 1;
        kova::pConfigurationProfile()->logLevel = 2;
        kova::profileFlags().configurationProfileEnabled = 1;  // never consulted by the accessors
    }
    // No system profile present: configuration level, console on, log database off.
    EXPECT_TRUE((CurrentLogSettings() == LogSettings{2, 1, 0}));
    {
        kova::ProfileEdit edit;
        kova::profileFlags().systemProfileEnabled = 1;
    }
    EXPECT_TRUE((CurrentLogSettings() == LogSettings{3, 0, 1}));
    EXPECT_TRUE((LogSettingsOnOtherThread() == LogSettings{3, 0, 1}));
}

TEST_F(ProfileRecordsTest, TriggerAccessorsAnswerFromTheRecordLinkedLast) {
    kovatest::SetConfigurationProfile({{"config.qix"}, 0, 0, 1, "conf-connector"});
    EXPECT_STREQ(kova::getConnectorID(), "conf-connector");
    EXPECT_EQ(kova::isDeleteEnabled(), 1);
    EXPECT_EQ(kova::getMonitoredNum(), 1);

    kovatest::AddTrigger({{"a.qix"}, 1, 0, 0, "first"});
    kova::TriggerProfile* second = kovatest::AddTrigger({{"b.qix", "c.qix"}, 0, 1, 0, "second"});
    EXPECT_EQ(kova::isCreateEnabled(), 0);
    EXPECT_EQ(kova::isUpdateEnabled(), 1);
    EXPECT_EQ(kova::isDeleteEnabled(), 0);
    EXPECT_EQ(kova::getMonitoredNum(), 2);
    EXPECT_EQ(kova::getMonitored(), second->monitored);
    EXPECT_EQ(kova::getConnectorID(), second->connectorID);  // the record's own storage
    EXPECT_STREQ(kova::getMonitored()[1], "c.qix");

    // With the found-flag cleared the configuration profile answers again.
    {
        kova::ProfileEdit edit;
        kova::profileFlags().triggerProfileEnabled = 0;
    }
    EXPECT_STREQ(kova::getConnectorID(), "conf-connector");
    EXPECT_EQ(kova::getMonitoredNum(), 1);
}

TEST_F(ProfileRecordsTest, CleanUpConfigurationProfileEmptiesOnlyTheTriggerSettings) {
    kova::ProfileEdit edit;
    kova::ConfigurationProfile* profile = kova::pConfigurationProfile();
    profile->monitored = static_cast<char**>(std::calloc(2, sizeof(char*)));
    profile->monitored[0] = static_cast<char*>(std::malloc(8));
    std::strcpy(profile->monitored[0], "db.qix");
    profile->monitoredNum = 2;  // slot 1 stays null
    profile->createEnabled = profile->updateEnabled = profile->deleteEnabled = 1;
    profile->logLevel = 3;
    std::strcpy(profile->connectorID, "kept");

    kova::CleanUpConfigurationProfile();
    EXPECT_EQ(profile->monitored, nullptr);
    EXPECT_EQ(profile->monitoredNum, 0);
    EXPECT_EQ(profile->createEnabled + profile->updateEnabled + profile->deleteEnabled, 0);
    EXPECT_EQ(profile->logLevel, 3);
    EXPECT_STREQ(profile->connectorID, "kept");

    kova::CleanUpSystemProfile();
    EXPECT_EQ(kova::pSystemProfile()->logLevel, 1);
    EXPECT_EQ(kova::pSystemProfile()->logConsoleEnabled, 0);
    EXPECT_EQ(kova::pSystemProfile()->logDatabaseEnabled, 0);
}

TEST_F(ProfileRecordsTest, CleanUpEventTriggerProfileLogsEachRecordHeadFirst) {
    kovatest::SetLogSettings(3, 0, 1);
    {
        kova::ProfileEdit edit;
        kova::CleanUpEventTriggerProfile();  // empty chain: nothing logged
    }
    EXPECT_TRUE(kovatest::LogEntries().empty());

    kovatest::AddTrigger({{"a.qix"}, 1, 1, 1, "one"});
    kovatest::AddTrigger({{}, 1, 1, 1, "two"});
    kovatest::AddTrigger({{"x", "y", "z"}, 1, 1, 1, "three"});
    std::vector<std::string> expected;
    {
        kova::ProfileEdit edit;
        const kova::TriggerProfile* third = kova::pEventTriggerProfile();
        expected = {CleanUpLine(third, 3), CleanUpLine(third->next, 0),
                    CleanUpLine(third->next->next, 1)};
        kova::CleanUpEventTriggerProfile();
    }
    EXPECT_EQ(kova::pEventTriggerProfile(), nullptr);
    EXPECT_EQ(kovatest::LogEntries(), expected);
}

TEST_F(ProfileRecordsTest, ResetProfileFlagsEmptiesRecordsUnderThePreviousLogSettings) {
    kovatest::SetLogSettings(3, 0, 1);
    kovatest::SetConfigurationProfile({{"c.qix"}, 1, 1, 1, "conf"});
    kovatest::AddTrigger({{"a.qix"}, 1, 0, 0, "one"});
    kovatest::AddTrigger({{"b.qix"}, 0, 1, 0, "two"});
    ORIGINATORID stamp{};
    stamp.sequence = 7;
    TIMEDATE modified{{11, 22}};
    const kova::TriggerProfile* one = nullptr;
    const kova::TriggerProfile* two = nullptr;
    {
        kova::ProfileEdit edit;
        two = kova::pEventTriggerProfile();
        one = two->next;
        kova::pConfigurationProfile()->logLevel = 2;
        kova::profileFlags().latestProfileOriginatorId = stamp;
        kova::profileFlags().profileViewModified = modified;
        kova::ResetProfileFlags();
        // The configuration's level answers now, on the writer's own thread already.
        EXPECT_EQ(kova::GetLogLevel(), 2);
        // Other threads still see the settings published before this edit.
        EXPECT_TRUE((LogSettingsOnOtherThread() == LogSettings{3, 0, 1}));
    }
    // The DEBUG lines of the chain's clean-up passed under the settings before the reset.
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{CleanUpLine(two, 1), CleanUpLine(one, 1)}));
    EXPECT_EQ(kova::pSystemProfile()->logLevel, 1);
    EXPECT_EQ(kova::pSystemProfile()->logConsoleEnabled, 0);
    EXPECT_EQ(kova::pSystemProfile()->logDatabaseEnabled, 0);
    EXPECT_EQ(kova::IsSystemProfileEnabled() + kova::IsTriggerProfileEnabled() +
                  kova::IsConfigurationProfileEnabled(),
              0);
    EXPECT_EQ(kova::pEventTriggerProfile(), nullptr);
    EXPECT_EQ(kova::pConfigurationProfile()->monitored, nullptr);
    EXPECT_EQ(kova::profileFlags().latestProfileOriginatorId.sequence, 7u);
    EXPECT_EQ(kova::profileFlags().profileViewModified.word[1], 22u);
    // Level and connector of the last "Configuration" read survive the reset.
    EXPECT_STREQ(kova::getConnectorID(), "conf");
    EXPECT_TRUE((CurrentLogSettings() == LogSettings{2, 1, 0}));
    EXPECT_TRUE((LogSettingsOnOtherThread() == LogSettings{2, 1, 0}));
}

TEST_F(ProfileRecordsTest, AnEditIsItsThreadsViewUntilItIsPublished) {
    const kova::ProfileConfiguration* before = &kova::ConfigurationInView();
    {
        kova::ProfileEdit edit;
        EXPECT_EQ(&kova::ConfigurationInView(), &edit.configuration());
        kova::pSystemProfile()->logLevel = 3;
        kova::pSystemProfile()->logConsoleEnabled = 0;
        kova::pSystemProfile()->logDatabaseEnabled = 1;
        kova::profileFlags().systemProfileEnabled = 1;
        EXPECT_TRUE((CurrentLogSettings() == LogSettings{3, 0, 1}));        // live on the editor
        EXPECT_TRUE((LogSettingsOnOtherThread() == LogSettings{0, 1, 0}));  // not yet published
        const kova::ProfileConfiguration* seen = nullptr;
        std::thread other([&] { seen = &kova::ConfigurationInView(); });
        other.join();
        EXPECT_EQ(seen, before);
        {
            kova::ProfileEdit nested;       // a no-op, not a deadlock
            kova::ConfigurationPin reader;  // holds the edit on the editor's thread
            EXPECT_FALSE(nested.ok());
            EXPECT_EQ(&*reader, &edit.configuration());
        }
        EXPECT_EQ(&kova::ConfigurationInView(), &edit.configuration());
        EXPECT_TRUE((LogSettingsOnOtherThread() == LogSettings{0, 1, 0}));
    }
    EXPECT_NE(&kova::ConfigurationInView(), before);
    EXPECT_TRUE((LogSettingsOnOtherThread() == LogSettings{3, 0, 1}));
    EXPECT_TRUE((CurrentLogSettings() == LogSettings{3, 0, 1}));

    // A discarded edit leaves the configuration in force as it was.
    const kova::ProfileConfiguration* inForce = &kova::ConfigurationInView();
    {
        kova::ProfileEdit edit;
        kova::pSystemProfile()->logLevel = 1;
        edit.Discard();
        EXPECT_EQ(&kova::ConfigurationInView(), inForce);
    }
    EXPECT_EQ(&kova::ConfigurationInView(), inForce);
    EXPECT_EQ(kova::GetLogLevel(), 3);
}

// A notification's pin keeps the configuration it read while an edit publishes the next one: the
// edit never waits to build or publish, only to free what it replaced.
TEST_F(ProfileRecordsTest, APinOutlivesAPublicationWithoutBlockingIt) {
    kovatest::AddTrigger({{"a.qix"}, 1, 0, 0, "old"});
    std::atomic<bool> freed{false};
    std::thread editor;
    {
        kova::ConfigurationPin reader;
        const kova::ProfileConfiguration* pinned = &*reader;
        editor = std::thread([&] {
            kovatest::AddTrigger({{"b.qix"}, 1, 0, 0, "new"});
            freed = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        const kova::ProfileConfiguration* seen = pinned;
        while (seen == pinned && std::chrono::steady_clock::now() < deadline) {
            std::thread other([&] { seen = &kova::ConfigurationInView(); });
            other.join();
        }
        EXPECT_NE(seen, pinned);  // published while the pin is held
        EXPECT_STREQ(reader->pEventTriggerProfile->connectorID, "old");
        EXPECT_FALSE(freed.load());  // the old one is not freed under the pin
    }
    editor.join();
    EXPECT_TRUE(freed.load());
    EXPECT_STREQ(kova::pEventTriggerProfile()->connectorID, "new");
}

}  // namespace
