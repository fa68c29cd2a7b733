// The profile records and their publication: load-time answers, the accessors' choice of record,
// the clean-ups and ResetProfileFlags, and what snapshots and edits see: a snapshot keeps the
// configuration it took whatever is published after it, an edit changes nothing in force until
// it is published, and the log settings follow the edit on its own thread only.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "log/logline.h"
#include "profile/configuration.h"
#include "profile/publication.h"
#include "profile/records.h"
#include "tests/profile/profile_fixture.h"
#include "tests/support/testsupport.h"
#if defined(KOVA_WRAP_HEAP)
#include "tests/support/heapfaults.h"
#endif

namespace {

using kovatest::InForce;

struct LogSettings {
    int32_t level;
    int32_t console;
    int32_t database;
    bool operator==(const LogSettings& o) const {
        return level == o.level && console == o.console && database == o.database;
    }
};
std::ostream& operator<<(std::ostream& out, const LogSettings& s) {
    return out << "{" << s.level << ", " << s.console << ", " << s.database << "}";
}

// What the accessors answer for a configuration.
LogSettings SettingsOf(const kova::ProfileConfiguration& configuration) {
    return {kova::GetLogLevel(configuration), kova::isLogConsoleEnabled(configuration),
            kova::isLogDatabaseEnabled(configuration)};
}
// What this thread's log lines follow.
LogSettings LineSettings() {
    const kova::LogSettings settings = kova::CurrentLogSettings();
    return {settings.level, settings.console, settings.database};
}

// What another thread sees: the accessors on a snapshot it takes, and its lines' settings.
struct Seen {
    LogSettings snapshot;
    LogSettings lines;
    bool operator==(const Seen& o) const { return snapshot == o.snapshot && lines == o.lines; }
};
std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << "snapshot " << s.snapshot << ", lines " << s.lines;
}
Seen Both(const LogSettings& settings) {
    return {settings, settings};
}
Seen SeenOnOtherThread() {
    Seen seen{};
    std::thread other([&] {
        const kova::ConfigurationSnapshot snapshot;
        seen.snapshot = SettingsOf(*snapshot);
        seen.lines = LineSettings();
    });
    other.join();
    return seen;
}

// The configuration a snapshot taken on another thread holds.
const kova::ProfileConfiguration* SnapshotOnOtherThread() {
    const kova::ProfileConfiguration* seen = nullptr;
    std::thread other([&] {
        const kova::ConfigurationSnapshot snapshot;
        seen = &*snapshot;
    });
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

using ProfileRecordsTest = profiletest::ProfileTest;

// Runs first in its own process under ctest, so it sees the records as loaded.
TEST(ProfileRecordsLoad, AccessorsAnswerLoadTimeDefaults) {
    const kova::ConfigurationSnapshot snapshot;
    ASSERT_TRUE(snapshot.ok());
    const kova::ProfileConfiguration& loaded = *snapshot;
    EXPECT_EQ(kova::GetLogLevel(loaded), 0);
    EXPECT_EQ(kova::isLogConsoleEnabled(loaded), 1);
    EXPECT_EQ(kova::isLogDatabaseEnabled(loaded), 0);
    EXPECT_EQ(LineSettings(), (LogSettings{0, 1, 0}));
    EXPECT_STREQ(kova::getConnectorID(loaded), "");
    EXPECT_EQ(kova::getMonitoredNum(loaded), 0);
    EXPECT_EQ(kova::getMonitored(loaded), nullptr);
    EXPECT_EQ(kova::IsSystemProfileEnabled(loaded), 0);
    EXPECT_EQ(kova::IsTriggerProfileEnabled(loaded), 0);
    EXPECT_EQ(kova::IsConfigurationProfileEnabled(loaded), 0);
    EXPECT_EQ(kova::pEventTriggerProfile(loaded), nullptr);
    EXPECT_FALSE(loaded.complete);
}

TEST_F(ProfileRecordsTest, SystemProfileFlagAloneSelectsTheLogRecord) {
    kovatest::Edit([](kova::ProfileConfiguration& c) {
        kova::pSystemProfile(c)->logLevel = 3;
        kova::pSystemProfile(c)->logConsoleEnabled = 0;
        kova::pSystemProfile(c)->logDatabaseEnabled = 1;
        kova::pConfigurationProfile(c)->logLevel = 2;
        kova::profileFlags(c).configurationProfileEnabled = 1;  // never consulted by the accessors
    });
    // No system profile present: configuration level, console on, log database off.
    EXPECT_EQ(SettingsOf(InForce()), (LogSettings{2, 1, 0}));
    kovatest::Edit(
        [](kova::ProfileConfiguration& c) { kova::profileFlags(c).systemProfileEnabled = 1; });
    EXPECT_EQ(SettingsOf(InForce()), (LogSettings{3, 0, 1}));
    EXPECT_EQ(LineSettings(), (LogSettings{3, 0, 1}));
    EXPECT_EQ(SeenOnOtherThread(), Both({3, 0, 1}));
}

TEST_F(ProfileRecordsTest, TriggerAccessorsAnswerFromTheRecordLinkedLast) {
    kovatest::SetConfigurationProfile({{"config.qix"}, 0, 0, 1, "conf-connector"});
    EXPECT_STREQ(kova::getConnectorID(InForce()), "conf-connector");
    EXPECT_EQ(kova::isDeleteEnabled(InForce()), 1);
    EXPECT_EQ(kova::getMonitoredNum(InForce()), 1);

    kovatest::AddTrigger({{"a.qix"}, 1, 0, 0, "first"});
    kova::TriggerProfile* second = kovatest::AddTrigger({{"b.qix", "c.qix"}, 0, 1, 0, "second"});
    const kova::ProfileConfiguration& inForce = InForce();
    EXPECT_EQ(kova::isCreateEnabled(inForce), 0);
    EXPECT_EQ(kova::isUpdateEnabled(inForce), 1);
    EXPECT_EQ(kova::isDeleteEnabled(inForce), 0);
    EXPECT_EQ(kova::getMonitoredNum(inForce), 2);
    EXPECT_EQ(kova::getMonitored(inForce), second->monitored);
    EXPECT_EQ(kova::getConnectorID(inForce), second->connectorID);  // the record's own storage
    EXPECT_STREQ(kova::getMonitored(inForce)[1], "c.qix");

    // With the found-flag cleared the configuration profile answers again.
    kovatest::Edit(
        [](kova::ProfileConfiguration& c) { kova::profileFlags(c).triggerProfileEnabled = 0; });
    EXPECT_STREQ(kova::getConnectorID(InForce()), "conf-connector");
    EXPECT_EQ(kova::getMonitoredNum(InForce()), 1);
}

TEST_F(ProfileRecordsTest, CleanUpConfigurationProfileEmptiesOnlyTheTriggerSettings) {
    kova::ProfileEdit edit;
    ASSERT_TRUE(edit.ok());
    kova::ProfileConfiguration& building = edit.configuration();
    kova::ConfigurationProfile* profile = kova::pConfigurationProfile(building);
    profile->monitored = static_cast<char**>(std::calloc(2, sizeof(char*)));
    profile->monitored[0] = static_cast<char*>(std::malloc(8));
    std::strcpy(profile->monitored[0], "db.qix");
    profile->monitoredNum = 2;  // slot 1 stays null
    profile->createEnabled = profile->updateEnabled = profile->deleteEnabled = 1;
    profile->logLevel = 3;
    std::strcpy(profile->connectorID, "kept");

    kova::CleanUpConfigurationProfile(building);
    EXPECT_EQ(profile->monitored, nullptr);
    EXPECT_EQ(profile->monitoredNum, 0);
    EXPECT_EQ(profile->createEnabled + profile->updateEnabled + profile->deleteEnabled, 0);
    EXPECT_EQ(profile->logLevel, 3);
    EXPECT_STREQ(profile->connectorID, "kept");

    kova::CleanUpSystemProfile(building);
    EXPECT_EQ(kova::pSystemProfile(building)->logLevel, 1);
    EXPECT_EQ(kova::pSystemProfile(building)->logConsoleEnabled, 0);
    EXPECT_EQ(kova::pSystemProfile(building)->logDatabaseEnabled, 0);
}

TEST_F(ProfileRecordsTest, CleanUpEventTriggerProfileLogsEachRecordHeadFirst) {
    kovatest::SetLogSettings(3, 0, 1);
    {
        kova::ProfileEdit edit;
        kova::CleanUpEventTriggerProfile(edit.configuration());  // empty chain: nothing logged
    }
    EXPECT_TRUE(kovatest::LogEntries().empty());

    kovatest::AddTrigger({{"a.qix"}, 1, 1, 1, "one"});
    kovatest::AddTrigger({{}, 1, 1, 1, "two"});
    kovatest::AddTrigger({{"x", "y", "z"}, 1, 1, 1, "three"});
    std::vector<std::string> expected;
    {
        kova::ProfileEdit edit;
        const kova::TriggerProfile* third = kova::pEventTriggerProfile(edit.configuration());
        expected = {CleanUpLine(third, 3), CleanUpLine(third->next, 0),
                    CleanUpLine(third->next->next, 1)};
        kova::CleanUpEventTriggerProfile(edit.configuration());
        EXPECT_TRUE(edit.Publish());
    }
    EXPECT_EQ(kova::pEventTriggerProfile(InForce()), nullptr);
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
        kova::ProfileConfiguration& building = edit.configuration();
        two = kova::pEventTriggerProfile(building);
        one = two->next;
        kova::pConfigurationProfile(building)->logLevel = 2;
        kova::profileFlags(building).latestProfileOriginatorId = stamp;
        kova::profileFlags(building).profileViewModified = modified;
        kova::ResetProfileFlags(building);
        // The configuration's level answers now, and the writer's own lines follow it already.
        EXPECT_EQ(kova::GetLogLevel(building), 2);
        EXPECT_EQ(LineSettings(), (LogSettings{2, 1, 0}));
        // Other threads still see the settings published before this edit.
        EXPECT_EQ(SeenOnOtherThread(), Both({3, 0, 1}));
        EXPECT_TRUE(edit.Publish());
    }
    // The DEBUG lines of the chain's clean-up passed under the settings before the reset.
    EXPECT_EQ(kovatest::LogEntries(),
              (std::vector<std::string>{CleanUpLine(two, 1), CleanUpLine(one, 1)}));
    const kova::ProfileConfiguration& inForce = InForce();
    EXPECT_EQ(kova::pSystemProfile(inForce)->logLevel, 1);
    EXPECT_EQ(kova::pSystemProfile(inForce)->logConsoleEnabled, 0);
    EXPECT_EQ(kova::pSystemProfile(inForce)->logDatabaseEnabled, 0);
    EXPECT_EQ(kova::IsSystemProfileEnabled(inForce) + kova::IsTriggerProfileEnabled(inForce) +
                  kova::IsConfigurationProfileEnabled(inForce),
              0);
    EXPECT_EQ(kova::pEventTriggerProfile(inForce), nullptr);
    EXPECT_EQ(kova::pConfigurationProfile(inForce)->monitored, nullptr);
    EXPECT_EQ(kova::profileFlags(inForce).latestProfileOriginatorId.sequence, 7u);
    EXPECT_EQ(kova::profileFlags(inForce).profileViewModified.word[1], 22u);
    // Level and connector of the last "Configuration" read survive the reset.
    EXPECT_STREQ(kova::getConnectorID(inForce), "conf");
    EXPECT_EQ(SettingsOf(inForce), (LogSettings{2, 1, 0}));
    EXPECT_EQ(LineSettings(), (LogSettings{2, 1, 0}));
    EXPECT_EQ(SeenOnOtherThread(), Both({2, 1, 0}));
}

TEST_F(ProfileRecordsTest, AnEditChangesNothingInForceUntilItIsPublished) {
    std::optional<kova::ConfigurationSnapshot> before;
    before.emplace();
    const kova::ProfileConfiguration* old = &**before;
    {
        kova::ProfileEdit edit;
        ASSERT_TRUE(edit.ok());
        kova::ProfileConfiguration& building = edit.configuration();
        EXPECT_NE(&building, old);  // a copy, built aside
        kova::pSystemProfile(building)->logLevel = 3;
        kova::pSystemProfile(building)->logConsoleEnabled = 0;
        kova::pSystemProfile(building)->logDatabaseEnabled = 1;
        kova::profileFlags(building).systemProfileEnabled = 1;
        EXPECT_EQ(LineSettings(), (LogSettings{3, 0, 1}));  // live on the editor
        EXPECT_EQ(SeenOnOtherThread(), Both({0, 1, 0}));    // not yet published
        EXPECT_EQ(SnapshotOnOtherThread(), old);            // the one in force
        {
            const kova::ConfigurationSnapshot reader;  // the editor's own: the one in force too
            EXPECT_EQ(&*reader, old);
            EXPECT_EQ(kova::IsSystemProfileEnabled(*reader), 0);
        }
        // No second edit while one is being built: another thread's try finds the lock busy.
        std::thread other([] {
            const kova::ProfileEditLock second(kova::EditWait::kTry);
            EXPECT_TRUE(second.busy());
            EXPECT_FALSE(second.held());
            const kova::ProfileEdit nested(second);
            EXPECT_FALSE(nested.ok());
        });
        other.join();
        EXPECT_EQ(&InForce(), old);
        EXPECT_TRUE(edit.Publish());
        EXPECT_FALSE(edit.Publish());  // the edit holds nothing afterwards
    }
    // A new snapshot sees the published configuration; the one taken before keeps the old one.
    EXPECT_NE(&InForce(), old);
    EXPECT_EQ(SnapshotOnOtherThread(), &InForce());
    EXPECT_EQ(&**before, old);
    EXPECT_EQ(kova::IsSystemProfileEnabled(**before), 0);
    EXPECT_EQ(SettingsOf(InForce()), (LogSettings{3, 0, 1}));
    EXPECT_EQ(SeenOnOtherThread(), Both({3, 0, 1}));
    EXPECT_EQ(LineSettings(), (LogSettings{3, 0, 1}));
    before->Renew();
    EXPECT_EQ(&**before, &InForce());
    before.reset();

    // An edit discarded, or let go without Publish(), leaves the configuration in force as it
    // was, and this thread's lines back on the published settings.
    const kova::ProfileConfiguration* inForce = &InForce();
    {
        kova::ProfileEdit edit;
        kova::pSystemProfile(edit.configuration())->logLevel = 1;
        EXPECT_EQ(LineSettings(), (LogSettings{1, 0, 1}));
        edit.Discard();
        EXPECT_EQ(LineSettings(), (LogSettings{3, 0, 1}));
        EXPECT_FALSE(edit.Publish());
        EXPECT_EQ(&InForce(), inForce);
    }
    {
        kova::ProfileEdit edit;
        kova::pSystemProfile(edit.configuration())->logLevel = 2;
        kova::AddEventTriggerProfile(edit.configuration(),
                                     kovatest::NewTriggerProfile({{"a.qix"}, 1, 0, 0, "dropped"}));
        kova::profileFlags(edit.configuration()).triggerProfileEnabled = 1;
    }
    EXPECT_EQ(&InForce(), inForce);
    EXPECT_EQ(kova::GetLogLevel(InForce()), 3);
    EXPECT_EQ(kova::pEventTriggerProfile(InForce()), nullptr);
    EXPECT_EQ(LineSettings(), (LogSettings{3, 0, 1}));

    // Nothing is published while the add-in is unloaded.
    kova::UnloadConfigurations();
    const kova::ProfileConfiguration* unloaded = &InForce();
    EXPECT_EQ(SettingsOf(*unloaded), (LogSettings{0, 1, 0}));
    {
        kova::ProfileEdit edit;
        kova::profileFlags(edit.configuration()).systemProfileEnabled = 1;
        EXPECT_FALSE(edit.Publish());
    }
    EXPECT_EQ(&InForce(), unloaded);
    EXPECT_EQ(LineSettings(), (LogSettings{0, 1, 0}));
}

// A notification's snapshot keeps the configuration it took while an edit publishes the next one:
// the publication never waits for it, and whoever lets the old configuration go last frees it.
TEST_F(ProfileRecordsTest, ASnapshotOutlivesAPublicationWithoutBlockingIt) {
    kovatest::AddTrigger({{"a.qix"}, 1, 0, 0, "old"});
    std::atomic<bool> published{false};
    std::optional<kova::ConfigurationSnapshot> reader;
    reader.emplace();
    const kova::ProfileConfiguration* held = &**reader;
    std::thread editor([&] {
        kovatest::AddTrigger({{"b.qix"}, 1, 0, 0, "new"});
        published = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!published && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool publishedWhileHeld = published.load();
    EXPECT_TRUE(publishedWhileHeld);
    if (!publishedWhileHeld)
        reader.reset();  // let a publication that waits for it end
    editor.join();
    ASSERT_TRUE(publishedWhileHeld);
    EXPECT_NE(SnapshotOnOtherThread(), held);
    EXPECT_STREQ(kova::pEventTriggerProfile(InForce())->connectorID, "new");
    EXPECT_EQ(&**reader, held);
    EXPECT_STREQ(kova::pEventTriggerProfile(**reader)->connectorID, "old");
    EXPECT_STREQ(kova::pEventTriggerProfile(**reader)->monitored[0], "a.qix");
#if defined(KOVA_WRAP_HEAP)
    // The snapshot was the last holder: letting it go frees the old configuration (at least
    // the configuration itself, its record, the record's array and its string).
    heapfaults::ResetCounts();
    {
        heapfaults::AddinScope addin;
        reader.reset();
    }
    EXPECT_GE(heapfaults::Get().frees, 4u);

    // Many publications while other threads keep taking and reading snapshots: every replaced
    // configuration is freed by its last holder, so the blocks live at the end are those the
    // configuration in force had at the start.
    kovatest::Edit([](kova::ProfileConfiguration& c) { kova::pSystemProfile(c)->logLevel = 2; });
    heapfaults::ResetCounts();
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&stop] {
            const heapfaults::AddinScope addin;
            while (!stop) {
                const kova::ConfigurationSnapshot snapshot;
                EXPECT_STREQ(kova::pEventTriggerProfile(*snapshot)->connectorID, "new");
            }
        });
    }
    {
        const heapfaults::AddinScope addin;
        for (int32_t i = 0; i < 300; ++i) {
            kovatest::Edit(
                [i](kova::ProfileConfiguration& c) { kova::pSystemProfile(c)->logLevel = i % 3; });
        }
    }
    stop = true;
    for (std::thread& thread : readers)
        thread.join();
    EXPECT_GT(heapfaults::Get().frees, 300u);
    EXPECT_EQ(heapfaults::Get().live, 0);
#endif
}

}  // namespace
