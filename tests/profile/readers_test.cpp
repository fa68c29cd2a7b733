// The three profile document readers: value mappings (exact, case-sensitive, untrimmed), missing
// items, values cut at their read limits, normalised path entries, refills and the trigger chain,
// and which log level filters the lines written while a document is read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "profile/readers.h"
#include "tests/profile/profile_fixture.h"

namespace {

using kovatest::InForce;
using profiletest::CaptureLog;
using profiletest::List;
using profiletest::Strings;
using profiletest::Text;

class ReadersTest : public profiletest::ProfileTest {
  protected:
    void SetUp() override {
        ProfileTest::SetUp();
        kovatest::SetLogSettings(kova::kLogDebug, 0, 1);  // every line, to log.qix only
    }

    NOTEHANDLE Trigger(qixsim::Items items, NOTEID* noteId = nullptr) {
        items.insert(items.begin(), {"Form", Text("EventTriggerConfiguration")});
        return OpenDoc(items, noteId);
    }
    NOTEHANDLE Configuration(qixsim::Items items) {
        items.insert(items.begin(), {"Form", Text("Configuration")});
        return OpenDoc(items);
    }
    NOTEHANDLE System(qixsim::Items items) {
        items.insert(items.begin(), {"Form", Text("SystemConfiguration")});
        return OpenDoc(items);
    }

    // Each reads one open document as a re-read does, and publishes what it read.
    kova::ProfileRead ReadTrigger(NOTEHANDLE note) {
        return InEdit([&](auto& c, auto& read) { kova::AddTriggerProfileV75(c, note, read); });
    }
    void ReadConfiguration(NOTEHANDLE note) {
        InEdit([&](auto& c, auto& read) { kova::UpdateConfigurationProfile(c, note, read); });
    }
    void ReadSystem(NOTEHANDLE note) {
        InEdit([&](auto& c, auto&) { kova::UpdateSystemProfile(c, note); });
    }
    // The records in force.
    static const kova::TriggerProfile* Head() { return kova::pEventTriggerProfile(InForce()); }
    static const kova::ConfigurationProfile& ConfigurationRecord() {
        return *kova::pConfigurationProfile(InForce());
    }
    static const kova::SystemProfile& SystemRecord() { return *kova::pSystemProfile(InForce()); }

    static Strings Monitored(char* const* monitored, int32_t count) {
        Strings entries;
        for (int32_t i = 0; i < count; ++i)
            entries.emplace_back(monitored[i]);
        return entries;
    }
};

TEST_F(ReadersTest, EventTypesSetOnlyExactWordsAndLogEachEntry) {
    NOTEHANDLE mixed = Trigger(
        {{"EventTypes", List({"Update", "update", " Create", "Create ", "Remove", "Update"})}});
    profiletest::Logged logged = CaptureLog([&] { ReadTrigger(mixed); });
    ASSERT_NE(Head(), nullptr);
    EXPECT_EQ(Head()->createEnabled, 0);
    EXPECT_EQ(Head()->updateEnabled, 1);
    EXPECT_EQ(Head()->deleteEnabled, 0);
    EXPECT_EQ(
        logged.database,
        (Strings{"KOVA:DEBUG:EventType 0 = 'Update'\n", "KOVA:DEBUG:EventType 1 = 'update'\n",
                 "KOVA:DEBUG:EventType 2 = ' Create'\n", "KOVA:DEBUG:EventType 3 = 'Create '\n",
                 "KOVA:DEBUG:EventType 4 = 'Remove'\n", "KOVA:DEBUG:EventType 5 = 'Update'\n"}));
    EXPECT_TRUE(logged.console.empty());

    NOTEHANDLE both = Configuration({{"EventTypes", List({"Delete", "Create"})}});
    ReadConfiguration(both);
    EXPECT_EQ(ConfigurationRecord().createEnabled, 1);
    EXPECT_EQ(ConfigurationRecord().updateEnabled, 0);
    EXPECT_EQ(ConfigurationRecord().deleteEnabled, 1);

    // No "EventTypes" item: nothing wanted, nothing logged.
    NOTEHANDLE none = Trigger({{"ConnectorId", Text("c")}});
    logged = CaptureLog([&] { ReadTrigger(none); });
    EXPECT_EQ(Head()->createEnabled, 0);
    EXPECT_EQ(Head()->updateEnabled, 0);
    EXPECT_EQ(Head()->deleteEnabled, 0);
    EXPECT_TRUE(logged.database.empty());
}

TEST_F(ReadersTest, LogLevelWordsMapExactlyAnythingElseIsError) {
    struct Case {
        const char* text;  // null: no "LogLevel" item
        int32_t level;
    };
    const std::string tooLong = "DEBUG" + std::string(300, ' ');
    const Case cases[] = {
        {"NONE", 0},   {"ERROR", 1},  {"INFO", 2},         {"DEBUG", 3}, {"debug", 1},
        {"Debug", 1},  {" DEBUG", 1}, {"DEBUG ", 1},       {"", 1},      {nullptr, 1},
        {"DEBUGX", 1}, {"NONE\t", 1}, {tooLong.c_str(), 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text == nullptr ? "(missing)" : "'" + std::string(c.text) + "'");
        qixsim::Items items;
        if (c.text != nullptr)
            items.push_back({"LogLevel", Text(c.text)});

        // The deprecated record keeps its level across clean-ups, so a stale value would show.
        NOTEHANDLE configuration = Configuration(items);
        InEdit([&](auto& building, auto& read) {
            kova::pConfigurationProfile(building)->logLevel = 7;
            kova::UpdateConfigurationProfile(building, configuration, read);
        });
        EXPECT_EQ(ConfigurationRecord().logLevel, c.level);

        NOTEHANDLE system = System(items);
        InEdit([&](auto& building, auto&) {
            kova::pSystemProfile(building)->logLevel = 7;
            kova::UpdateSystemProfile(building, system);
        });
        EXPECT_EQ(SystemRecord().logLevel, c.level);
    }
}

TEST_F(ReadersTest, LogOutputsSwitchOnOnlyExactEntriesAndRefillInPlace) {
    NOTEHANDLE both = System(
        {{"LogLevel", Text("INFO")}, {"LogOutputs", List({"Console", "log.qix", "Console"})}});
    ReadSystem(both);
    EXPECT_EQ(SystemRecord().logLevel, 2);
    EXPECT_EQ(SystemRecord().logConsoleEnabled, 1);
    EXPECT_EQ(SystemRecord().logDatabaseEnabled, 1);

    // Near misses switch nothing on, and the earlier document's outputs are gone.
    NOTEHANDLE nearMisses = System(
        {{"LogOutputs", List({"console", "Log.qix", " Console", "log.qix ", "LOG.QIX", "log"})}});
    ReadSystem(nearMisses);
    EXPECT_EQ(SystemRecord().logLevel, 1);
    EXPECT_EQ(SystemRecord().logConsoleEnabled, 0);
    EXPECT_EQ(SystemRecord().logDatabaseEnabled, 0);

    NOTEHANDLE databaseOnly = System({{"LogOutputs", List({"log.qix"})}});
    ReadSystem(databaseOnly);
    EXPECT_EQ(SystemRecord().logConsoleEnabled, 0);
    EXPECT_EQ(SystemRecord().logDatabaseEnabled, 1);

    NOTEHANDLE noOutputs = System({{"LogLevel", Text("DEBUG")}});
    ReadSystem(noOutputs);
    EXPECT_EQ(SystemRecord().logLevel, 3);
    EXPECT_EQ(SystemRecord().logConsoleEnabled, 0);
    EXPECT_EQ(SystemRecord().logDatabaseEnabled, 0);
    // The system reader writes no line of its own, and leaves originatorId alone.
    const ORIGINATORID zero{};
    EXPECT_EQ(std::memcmp(&SystemRecord().originatorId, &zero, sizeof zero), 0);
}

TEST_F(ReadersTest, ConnectorIdIsReadWholeUpTo255Characters) {
    const std::string id255(255, 'k');
    const std::string id300 = std::string(255, 'c') + std::string(45, 'X');

    NOTEHANDLE whole = Trigger({{"ConnectorId", Text(id255)}});
    NOTEHANDLE cut = Trigger({{"ConnectorId", Text(id300)}});
    NOTEHANDLE missing = Trigger({{"EventTypes", List({"Create"})}});
    ReadTrigger(whole);
    EXPECT_EQ(std::string(Head()->connectorID), id255);
    ReadTrigger(cut);
    EXPECT_EQ(std::string(Head()->connectorID), id300.substr(0, 255));
    ReadTrigger(missing);
    EXPECT_EQ(std::string(Head()->connectorID), "");
    EXPECT_EQ(Head()->createEnabled, 1);  // still a working trigger

    // The deprecated record keeps its connector id across clean-ups; a document without one
    // still empties it.
    NOTEHANDLE named = Configuration({{"ConnectorId", Text("old connector")}});
    NOTEHANDLE unnamed = Configuration({{"LogLevel", Text("INFO")}});
    ReadConfiguration(named);
    EXPECT_STREQ(ConfigurationRecord().connectorID, "old connector");
    ReadConfiguration(unnamed);
    EXPECT_STREQ(ConfigurationRecord().connectorID, "");
}

TEST_F(ReadersTest, PathEntriesAreStoredNormalisedAndCutAt129Characters) {
    const std::string long129 = "dir\\" + std::string(125, 'p');
    const std::string long130 = "Dir\\" + std::string(126, 'q');
    const std::string long200 = std::string(120, 'r') + "\\x.qix:Form" + std::string(69, 's');
    ASSERT_EQ(long129.size(), 129u);
    ASSERT_EQ(long130.size(), 130u);

    NOTEHANDLE note =
        Trigger({{"MonitoredDocuments", List({"apps\\Sales\\Orders.qix:Purchase Order",
                                              "a\\\\b.qix", " Lead Blank.qix:Form:With:Colons ",
                                              "plain.qix", "", long129, long130, long200})}});
    kova::ProfileRead read{};
    profiletest::Logged logged = CaptureLog([&] { read = ReadTrigger(note); });
    EXPECT_EQ(read.failedCall, nullptr);  // entries cut to their limit leave the read complete
    ASSERT_NE(Head(), nullptr);
    const kova::TriggerProfile& profile = *Head();
    EXPECT_EQ(Monitored(profile.monitored, profile.monitoredNum),
              (Strings{"apps/Sales/Orders.qix:Purchase Order", "a//b.qix",
                       " Lead Blank.qix:Form:With:Colons ", "plain.qix", "",
                       "dir/" + std::string(125, 'p'), "Dir/" + std::string(125, 'q'),
                       std::string(120, 'r') + "/x.qix:Fo"}));
    EXPECT_TRUE(logged.database.empty());  // path entries are not logged

    // "DatabasePaths" of the deprecated form: the same storage, the colon kept as read.
    NOTEHANDLE configuration = Configuration({{"DatabasePaths", List({"sub\\db.qix:notaform"})}});
    ReadConfiguration(configuration);
    EXPECT_EQ(Monitored(ConfigurationRecord().monitored, ConfigurationRecord().monitoredNum),
              (Strings{"sub/db.qix:notaform"}));

    // An empty list and a missing item: no entries, no array.
    NOTEHANDLE emptyList = Trigger({{"MonitoredDocuments", List({})}});
    ReadTrigger(emptyList);
    EXPECT_EQ(Head()->monitoredNum, 0);
    EXPECT_EQ(Head()->monitored, nullptr);
    NOTEHANDLE noPaths = Configuration({{"ConnectorId", Text("c")}});
    ReadConfiguration(noPaths);
    EXPECT_EQ(ConfigurationRecord().monitoredNum, 0);
    EXPECT_EQ(ConfigurationRecord().monitored, nullptr);
}

TEST_F(ReadersTest, TriggerDocumentsChainNewestFirstWithTheirOriginatorIds) {
    NOTEHANDLE notes[3];
    const char* ids[] = {"A", "B", "C"};
    for (int i = 0; i < 3; ++i) {
        notes[i] = Trigger({{"ConnectorId", Text(ids[i])},
                            {"MonitoredDocuments", List({std::string(ids[i]) + ".qix"})}});
    }
    for (NOTEHANDLE note : notes)
        ReadTrigger(note);

    const kova::TriggerProfile* profile = Head();
    for (int i = 2; i >= 0; --i, profile = profile->next) {
        ASSERT_NE(profile, nullptr);
        EXPECT_STREQ(profile->connectorID, ids[i]);
        EXPECT_EQ(Monitored(profile->monitored, profile->monitoredNum),
                  (Strings{std::string(ids[i]) + ".qix"}));
        ORIGINATORID expected{};
        ASSERT_EQ(QIXNoteGetInfo(notes[i], NOTE_INFO_ORIGINATOR, &expected), 0);
        EXPECT_EQ(std::memcmp(&profile->originatorId, &expected, sizeof expected), 0);
    }
    EXPECT_EQ(profile, nullptr);

    // The deprecated reader does not write its record's originator id.
    NOTEHANDLE configuration = Configuration({{"ConnectorId", Text("x")}});
    ReadConfiguration(configuration);
    const ORIGINATORID zero{};
    EXPECT_EQ(std::memcmp(&ConfigurationRecord().originatorId, &zero, sizeof zero), 0);
}

TEST_F(ReadersTest, LaterConfigurationDocumentReplacesTheEarlierCompletely) {
    NOTEHANDLE first = Configuration({{"ConnectorId", Text("first")},
                                      {"EventTypes", List({"Create", "Update"})},
                                      {"LogLevel", Text("DEBUG")},
                                      {"DatabasePaths", List({"a.qix", "b.qix", "c.qix"})}});
    NOTEHANDLE second =
        Configuration({{"EventTypes", List({"Delete"})}, {"DatabasePaths", List({"z\\y.qix"})}});
    ReadConfiguration(first);
    EXPECT_EQ(ConfigurationRecord().monitoredNum, 3);
    EXPECT_EQ(ConfigurationRecord().logLevel, 3);
    ReadConfiguration(second);

    const kova::ConfigurationProfile& profile = ConfigurationRecord();
    EXPECT_STREQ(profile.connectorID, "");
    EXPECT_EQ(profile.createEnabled, 0);
    EXPECT_EQ(profile.updateEnabled, 0);
    EXPECT_EQ(profile.deleteEnabled, 1);
    EXPECT_EQ(profile.logLevel, 1);
    EXPECT_EQ(Monitored(profile.monitored, profile.monitoredNum), (Strings{"z/y.qix"}));
}

TEST_F(ReadersTest, LinesWhileReadingFollowTheLevelInForceBeforeTheDocument) {
    // No system profile: the deprecated record's level from before this document filters its
    // own event-type lines, and its "LogLevel" applies only afterwards.
    kovatest::SetConfigurationLogLevel(kova::kLogDebug);
    NOTEHANDLE silencing =
        Configuration({{"EventTypes", List({"Create"})}, {"LogLevel", Text("NONE")}});
    profiletest::Logged logged = CaptureLog([&] { ReadConfiguration(silencing); });
    EXPECT_EQ(logged.console, (Strings{"KOVA:DEBUG:EventType 0 = 'Create'\n"}));
    EXPECT_TRUE(logged.database.empty());
    EXPECT_EQ(kova::GetLogLevel(InForce()), 0);

    NOTEHANDLE loud =
        Configuration({{"EventTypes", List({"Update"})}, {"LogLevel", Text("DEBUG")}});
    logged = CaptureLog([&] { ReadConfiguration(loud); });
    EXPECT_TRUE(logged.console.empty());
    EXPECT_EQ(kova::GetLogLevel(InForce()), 3);

    // A system profile read earlier in the refresh overrides the deprecated level.
    kovatest::SetLogSettings(kova::kLogError, 1, 1);
    NOTEHANDLE configuration = Configuration({{"EventTypes", List({"Delete"})}});
    logged = CaptureLog([&] { ReadConfiguration(configuration); });
    EXPECT_TRUE(logged.console.empty());
    EXPECT_TRUE(logged.database.empty());

    kovatest::SetLogSettings(kova::kLogDebug, 1, 0);
    NOTEHANDLE trigger = Trigger({{"EventTypes", List({"Delete"})}});
    logged = CaptureLog([&] { ReadTrigger(trigger); });
    EXPECT_EQ(logged.console, (Strings{"KOVA:DEBUG:EventType 0 = 'Delete'\n"}));
    EXPECT_TRUE(logged.database.empty());
}

}  // namespace
