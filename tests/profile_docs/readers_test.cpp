// The three profile document readers: value mappings (exact, case-sensitive, untrimmed), missing
// items, values cut at their read limits, normalised path entries, refills and the trigger chain,
// and which log level filters the lines written while a document is read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "profile/readers.h"
#include "tests/profile_docs/docs_fixture.h"

namespace {

using docstest::CaptureLog;
using docstest::List;
using docstest::Locked;
using docstest::Text;
using Strings = std::vector<std::string>;

class ReadersTest : public docstest::DocsTest {
  protected:
    void SetUp() override {
        DocsTest::SetUp();
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

    static Strings Monitored(char** monitored, int32_t count) {
        Strings entries;
        for (int32_t i = 0; i < count; ++i)
            entries.emplace_back(monitored[i]);
        return entries;
    }
};

TEST_F(ReadersTest, EventTypesSetOnlyExactWordsAndLogEachEntry) {
    NOTEHANDLE mixed = Trigger(
        {{"EventTypes", List({"Update", "update", " Create", "Create ", "Remove", "Update"})}});
    docstest::Logged logged =
        CaptureLog([&] { Locked([&] { kova::AddTriggerProfileV75(mixed); }); });
    ASSERT_NE(kova::pEventTriggerProfile(), nullptr);
    EXPECT_EQ(kova::pEventTriggerProfile()->createEnabled, 0);
    EXPECT_EQ(kova::pEventTriggerProfile()->updateEnabled, 1);
    EXPECT_EQ(kova::pEventTriggerProfile()->deleteEnabled, 0);
    EXPECT_EQ(
        logged.database,
        (Strings{"KOVA:DEBUG:EventType 0 = 'Update'\n", "KOVA:DEBUG:EventType 1 = 'update'\n",
                 "KOVA:DEBUG:EventType 2 = ' Create'\n", "KOVA:DEBUG:EventType 3 = 'Create '\n",
                 "KOVA:DEBUG:EventType 4 = 'Remove'\n", "KOVA:DEBUG:EventType 5 = 'Update'\n"}));
    EXPECT_TRUE(logged.console.empty());

    NOTEHANDLE both = Configuration({{"EventTypes", List({"Delete", "Create"})}});
    Locked([&] { kova::UpdateConfigurationProfile(both); });
    EXPECT_EQ(kova::pConfigurationProfile()->createEnabled, 1);
    EXPECT_EQ(kova::pConfigurationProfile()->updateEnabled, 0);
    EXPECT_EQ(kova::pConfigurationProfile()->deleteEnabled, 1);

    // No "EventTypes" item: nothing wanted, nothing logged.
    NOTEHANDLE none = Trigger({{"ConnectorId", Text("c")}});
    logged = CaptureLog([&] { Locked([&] { kova::AddTriggerProfileV75(none); }); });
    EXPECT_EQ(kova::pEventTriggerProfile()->createEnabled, 0);
    EXPECT_EQ(kova::pEventTriggerProfile()->updateEnabled, 0);
    EXPECT_EQ(kova::pEventTriggerProfile()->deleteEnabled, 0);
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
        kova::pConfigurationProfile()->logLevel = 7;
        NOTEHANDLE configuration = Configuration(items);
        Locked([&] { kova::UpdateConfigurationProfile(configuration); });
        EXPECT_EQ(kova::pConfigurationProfile()->logLevel, c.level);

        kova::pSystemProfile()->logLevel = 7;
        NOTEHANDLE system = System(items);
        Locked([&] { kova::UpdateSystemProfile(system); });
        EXPECT_EQ(kova::pSystemProfile()->logLevel, c.level);
    }
}

TEST_F(ReadersTest, LogOutputsSwitchOnOnlyExactEntriesAndRefillInPlace) {
    NOTEHANDLE both = System(
        {{"LogLevel", Text("INFO")}, {"LogOutputs", List({"Console", "log.qix", "Console"})}});
    Locked([&] { kova::UpdateSystemProfile(both); });
    EXPECT_EQ(kova::pSystemProfile()->logLevel, 2);
    EXPECT_EQ(kova::pSystemProfile()->logConsoleEnabled, 1);
    EXPECT_EQ(kova::pSystemProfile()->logDatabaseEnabled, 1);

    // Near misses switch nothing on, and the earlier document's outputs are gone.
    NOTEHANDLE nearMisses = System(
        {{"LogOutputs", List({"console", "Log.qix", " Console", "log.qix ", "LOG.QIX", "log"})}});
    Locked([&] { kova::UpdateSystemProfile(nearMisses); });
    EXPECT_EQ(kova::pSystemProfile()->logLevel, 1);
    EXPECT_EQ(kova::pSystemProfile()->logConsoleEnabled, 0);
    EXPECT_EQ(kova::pSystemProfile()->logDatabaseEnabled, 0);

    NOTEHANDLE databaseOnly = System({{"LogOutputs", List({"log.qix"})}});
    Locked([&] { kova::UpdateSystemProfile(databaseOnly); });
    EXPECT_EQ(kova::pSystemProfile()->logConsoleEnabled, 0);
    EXPECT_EQ(kova::pSystemProfile()->logDatabaseEnabled, 1);

    NOTEHANDLE noOutputs = System({{"LogLevel", Text("DEBUG")}});
    Locked([&] { kova::UpdateSystemProfile(noOutputs); });
    EXPECT_EQ(kova::pSystemProfile()->logLevel, 3);
    EXPECT_EQ(kova::pSystemProfile()->logConsoleEnabled, 0);
    EXPECT_EQ(kova::pSystemProfile()->logDatabaseEnabled, 0);
    // The system reader writes no line of its own, and leaves originatorId alone.
    const ORIGINATORID zero{};
    EXPECT_EQ(std::memcmp(&kova::pSystemProfile()->originatorId, &zero, sizeof zero), 0);
}

TEST_F(ReadersTest, ConnectorIdIsReadWholeUpTo255Characters) {
    const std::string id255(255, 'k');
    const std::string id300 = std::string(255, 'c') + std::string(45, 'X');

    NOTEHANDLE whole = Trigger({{"ConnectorId", Text(id255)}});
    NOTEHANDLE cut = Trigger({{"ConnectorId", Text(id300)}});
    NOTEHANDLE missing = Trigger({{"EventTypes", List({"Create"})}});
    Locked([&] { kova::AddTriggerProfileV75(whole); });
    EXPECT_EQ(std::string(kova::pEventTriggerProfile()->connectorID), id255);
    Locked([&] { kova::AddTriggerProfileV75(cut); });
    EXPECT_EQ(std::string(kova::pEventTriggerProfile()->connectorID), id300.substr(0, 255));
    Locked([&] { kova::AddTriggerProfileV75(missing); });
    EXPECT_EQ(std::string(kova::pEventTriggerProfile()->connectorID), "");
    EXPECT_EQ(kova::pEventTriggerProfile()->createEnabled, 1);  // still a working trigger

    // The deprecated record keeps its connector id across clean-ups; a document without one
    // still empties it.
    NOTEHANDLE named = Configuration({{"ConnectorId", Text("old connector")}});
    NOTEHANDLE unnamed = Configuration({{"LogLevel", Text("INFO")}});
    Locked([&] { kova::UpdateConfigurationProfile(named); });
    EXPECT_STREQ(kova::pConfigurationProfile()->connectorID, "old connector");
    Locked([&] { kova::UpdateConfigurationProfile(unnamed); });
    EXPECT_STREQ(kova::pConfigurationProfile()->connectorID, "");
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
    docstest::Logged logged =
        CaptureLog([&] { Locked([&] { kova::AddTriggerProfileV75(note); }); });
    ASSERT_NE(kova::pEventTriggerProfile(), nullptr);
    const kova::TriggerProfile& profile = *kova::pEventTriggerProfile();
    EXPECT_EQ(Monitored(profile.monitored, profile.monitoredNum),
              (Strings{"apps/Sales/Orders.qix:Purchase Order", "a//b.qix",
                       " Lead Blank.qix:Form:With:Colons ", "plain.qix", "",
                       "dir/" + std::string(125, 'p'), "Dir/" + std::string(125, 'q'),
                       std::string(120, 'r') + "/x.qix:Fo"}));
    EXPECT_TRUE(logged.database.empty());  // path entries are not logged

    // "DatabasePaths" of the deprecated form: the same storage, the colon kept as read.
    NOTEHANDLE configuration = Configuration({{"DatabasePaths", List({"sub\\db.qix:notaform"})}});
    Locked([&] { kova::UpdateConfigurationProfile(configuration); });
    EXPECT_EQ(Monitored(kova::pConfigurationProfile()->monitored,
                        kova::pConfigurationProfile()->monitoredNum),
              (Strings{"sub/db.qix:notaform"}));

    // An empty list and a missing item: no entries, no array.
    NOTEHANDLE emptyList = Trigger({{"MonitoredDocuments", List({})}});
    Locked([&] { kova::AddTriggerProfileV75(emptyList); });
    EXPECT_EQ(kova::pEventTriggerProfile()->monitoredNum, 0);
    EXPECT_EQ(kova::pEventTriggerProfile()->monitored, nullptr);
    NOTEHANDLE noPaths = Configuration({{"ConnectorId", Text("c")}});
    Locked([&] { kova::UpdateConfigurationProfile(noPaths); });
    EXPECT_EQ(kova::pConfigurationProfile()->monitoredNum, 0);
    EXPECT_EQ(kova::pConfigurationProfile()->monitored, nullptr);
}

TEST_F(ReadersTest, TriggerDocumentsChainNewestFirstWithTheirOriginatorIds) {
    NOTEHANDLE notes[3];
    const char* ids[] = {"A", "B", "C"};
    for (int i = 0; i < 3; ++i) {
        notes[i] = Trigger({{"ConnectorId", Text(ids[i])},
                            {"MonitoredDocuments", List({std::string(ids[i]) + ".qix"})}});
    }
    for (NOTEHANDLE note : notes)
        Locked([&] { kova::AddTriggerProfileV75(note); });

    const kova::TriggerProfile* profile = kova::pEventTriggerProfile();
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
    Locked([&] { kova::UpdateConfigurationProfile(configuration); });
    const ORIGINATORID zero{};
    EXPECT_EQ(std::memcmp(&kova::pConfigurationProfile()->originatorId, &zero, sizeof zero), 0);
}

TEST_F(ReadersTest, LaterConfigurationDocumentReplacesTheEarlierCompletely) {
    NOTEHANDLE first = Configuration({{"ConnectorId", Text("first")},
                                      {"EventTypes", List({"Create", "Update"})},
                                      {"LogLevel", Text("DEBUG")},
                                      {"DatabasePaths", List({"a.qix", "b.qix", "c.qix"})}});
    NOTEHANDLE second =
        Configuration({{"EventTypes", List({"Delete"})}, {"DatabasePaths", List({"z\\y.qix"})}});
    Locked([&] { kova::UpdateConfigurationProfile(first); });
    EXPECT_EQ(kova::pConfigurationProfile()->monitoredNum, 3);
    EXPECT_EQ(kova::pConfigurationProfile()->logLevel, 3);
    Locked([&] { kova::UpdateConfigurationProfile(second); });

    const kova::ConfigurationProfile& profile = *kova::pConfigurationProfile();
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
    docstest::Logged logged =
        CaptureLog([&] { Locked([&] { kova::UpdateConfigurationProfile(silencing); }); });
    EXPECT_EQ(logged.console, (Strings{"KOVA:DEBUG:EventType 0 = 'Create'\n"}));
    EXPECT_TRUE(logged.database.empty());
    EXPECT_EQ(Locked([] { return kova::GetLogLevel(); }), 0);

    NOTEHANDLE loud =
        Configuration({{"EventTypes", List({"Update"})}, {"LogLevel", Text("DEBUG")}});
    logged = CaptureLog([&] { Locked([&] { kova::UpdateConfigurationProfile(loud); }); });
    EXPECT_TRUE(logged.console.empty());
    EXPECT_EQ(Locked([] { return kova::GetLogLevel(); }), 3);

    // A system profile read earlier in the refresh overrides the deprecated level.
    kovatest::SetLogSettings(kova::kLogError, 1, 1);
    NOTEHANDLE configuration = Configuration({{"EventTypes", List({"Delete"})}});
    logged = CaptureLog([&] { Locked([&] { kova::UpdateConfigurationProfile(configuration); }); });
    EXPECT_TRUE(logged.console.empty());
    EXPECT_TRUE(logged.database.empty());

    kovatest::SetLogSettings(kova::kLogDebug, 1, 0);
    NOTEHANDLE trigger = Trigger({{"EventTypes", List({"Delete"})}});
    logged = CaptureLog([&] { Locked([&] { kova::AddTriggerProfileV75(trigger); }); });
    EXPECT_EQ(logged.console, (Strings{"KOVA:DEBUG:EventType 0 = 'Delete'\n"}));
    EXPECT_TRUE(logged.database.empty());
}

}  // namespace
