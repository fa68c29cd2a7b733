// The profile refresh: the change test (nothing changed, a non-latest document deleted, the latest
// edited, an empty view, all profiles deleted, a failed view lookup), the full read through the
// search (delivery order, other forms, log level in force), every failure line with its status,
// an incomplete read (used at start-up, discarded over a complete configuration, retried once a
// second), a document deleted during the read, refreshes on several threads, and a profile
// document's change in flight between its two stages.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "hostapi/qixapi.h"
#include "hostsim/host.h"
#include "log/logline.h"
#include "profile/configuration.h"
#include "profile/publication.h"
#include "profile/records.h"
#include "profile/refresh.h"
#include "tests/profile/profile_fixture.h"
#include "tests/support/testsupport.h"

namespace {

using kovatest::InForce;
using profiletest::ConsoleLines;
using profiletest::List;
using profiletest::Strings;
using profiletest::Text;

std::string Hex(NOTEID noteId) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned int>(noteId));
    return text;
}

Strings Containing(const Strings& lines, const std::string& part) {
    Strings found;
    for (const std::string& line : lines) {
        if (line.find(part) != std::string::npos)
            found.push_back(line);
    }
    return found;
}

std::string Debug(const std::string& message) {
    return "KOVA:DEBUG:" + message;
}
std::string Error(const std::string& message) {
    return "KOVA:ERROR:" + message;
}
std::string Info(const std::string& message) {
    return "KOVA:INFO:" + message;
}

std::string NotUpdated() {
    return Debug("Profile refreshed but not updated!\n");
}
std::string Latest(NOTEID noteId) {
    return Debug("Latest profile NoteID=" + Hex(noteId) + "!\n");
}
std::string TriggerAdded() {
    return Debug("Event Trigger Profile added!\n");
}
std::string Kept(const std::string& call, int status) {
    return Error("Profile re-read incomplete, the configuration in force is kept: " + call +
                 " failed, Error#: " + std::to_string(status) + "\n");
}
std::string ReadInPart(const std::string& call, int status) {
    return Error("Profile read incomplete, what was read is in force: " + call +
                 " failed, Error#: " + std::to_string(status) + "\n");
}

bool IsZero(const ORIGINATORID& id) {
    const ORIGINATORID zero{};
    return std::memcmp(&id, &zero, sizeof zero) == 0;
}

// The connector ids of the trigger chain in force, head first.
Strings ChainConnectors() {
    Strings ids;
    for (const kova::TriggerProfile* p = kova::pEventTriggerProfile(InForce()); p != nullptr;
         p = p->next) {
        ids.emplace_back(p->connectorID);
    }
    return ids;
}

class RefreshTest : public profiletest::ProfileTest {
  protected:
    void SetUp() override {
        ProfileTest::SetUp();
        // Every line of a refresh to the console, until a document says otherwise.
        kovatest::SetConfigurationLogLevel(kova::kLogDebug);
    }

    NOTEID Trigger(const std::string& connector, qixsim::Items items = {}) {
        items.insert(items.begin(), {"ConnectorId", Text(connector)});
        return Doc("EventTriggerConfiguration", items);
    }
    // Changes a stored document's items.
    void Rewrite(NOTEID noteId, const qixsim::Items& items) {
        NOTEHANDLE note = QIX_NULLHANDLE;
        ASSERT_EQ(qixsim::OpenNote(db_, noteId, &note), 0);
        ASSERT_EQ(qixsim::SetItems(note, items), 0);
        ASSERT_EQ(qixsim::StoreNote(note), 0);
        qixsim::CloseHandle(note);
    }
    void Delete(NOTEID noteId) { ASSERT_EQ(qixsim::DeleteNote(db_, noteId), 0); }

    // Runs one refresh as a notification on the write path runs it, on its own snapshot; answers
    // its console lines, stores its result in status_ and what the snapshot holds afterwards in
    // seen_ (compare it at once: the next publication may free it).
    Strings Refresh() {
        kovasupport::StdoutCapture capture;
        kova::ConfigurationSnapshot snapshot;
        status_ = kova::ReadProfile(snapshot);
        seen_ = snapshot.ok() ? &*snapshot : nullptr;
        return ConsoleLines(capture.Stop());
    }

    STATUS status_ = 0xFFFF;
    const kova::ProfileConfiguration* seen_ = nullptr;
};

TEST_F(RefreshTest, UnchangedProfilesCostOneReadOfTheLastViewEntry) {
    Doc("SystemConfiguration", {{"LogLevel", Text("DEBUG")}, {"LogOutputs", List({"Console"})}});
    const NOTEID trigger =
        Trigger("t1", {{"EventTypes", List({"Create"})}, {"MonitoredDocuments", List({"a.qix"})}});
    Doc("Event", {{"EventType", Text("Create")}});

    EXPECT_EQ(
        Refresh(),
        (Strings{
            Latest(trigger), Debug("System Profile added!\n"), Debug("EventType 0 = 'Create'\n"),
            TriggerAdded(), Info("Event Trigger Profiles:\n"), Info("\tEvent Trigger Profile:\n"),
            Info("\t\tConnector ID:\tt1\n"),
            Info("\t\tEvent Types:\tCreate:1\tUpdate:0\tDelete:0\n"), Info("\t\tDatabase Paths:\n"),
            Info("\t\t\ta.qix\n"), Info("Log Outputs:\tConsole:1\tLog database log.qix:0\n")}));
    EXPECT_EQ(status_, 0);
    const kova::TriggerProfile* head = kova::pEventTriggerProfile(InForce());
    ASSERT_NE(head, nullptr);

    // One design lookup, one read of the view's last entry, one note open; no document read. The
    // same with 2 profile documents as with 42.
    const std::map<std::string, uint64_t> expected = {{"QIXDbOpen", 1},
                                                      {"TAVFindDesignNoteExt", 1},
                                                      {"TAVOpenCollection", 1},
                                                      {"TAVReadEntries", 1},
                                                      {"OSLockObject", 1},
                                                      {"OSUnlockObject", 1},
                                                      {"OSMemFree", 1},
                                                      {"QIXNoteOpen", 1},
                                                      {"QIXNoteGetInfo", 1},
                                                      {"QIXNoteClose", 1},
                                                      {"TAVGetLastModifiedTime", 1},
                                                      {"TAVCloseCollection", 1},
                                                      {"QIXDbClose", 1}};
    for (const int more : {0, 40}) {
        SCOPED_TRACE(more);
        NOTEID latest = trigger;
        for (int i = 0; i < more; ++i)
            latest = Trigger("more" + std::to_string(i));
        if (more > 0) {
            EXPECT_EQ(Refresh().front(), Latest(latest));
            head = kova::pEventTriggerProfile(InForce());
        }
        const size_t handles = qixsim::OpenHandleCount();
        qixsim::ResetCallCounts();
        EXPECT_EQ(Refresh(), (Strings{Latest(latest), NotUpdated()}));
        EXPECT_EQ(status_, 0);
        EXPECT_EQ(kova::pEventTriggerProfile(InForce()), head);
        EXPECT_EQ(qixsim::OpenHandleCount(), handles);
        std::map<std::string, uint64_t> counts;
        for (const auto& entry : qixsim::CallCounts()) {
            if (entry.second != 0 && entry.first.rfind("OSCurrent", 0) != 0 &&
                entry.first != "ConvertTIMEDATEToText") {
                counts.insert(entry);
            }
        }
        EXPECT_EQ(counts, expected);
    }
}

TEST_F(RefreshTest, DeletingANonLatestDocumentOrEditingTheLatestRereads) {
    const NOTEID a = Trigger("A");
    const NOTEID b = Trigger("B");
    Refresh();
    EXPECT_EQ(ChainConnectors(), (Strings{"B", "A"}));

    // The latest document is the same, but the view changed.
    Delete(a);
    Strings lines = Refresh();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], Latest(b));
    EXPECT_EQ(Containing(lines, "added!"), (Strings{TriggerAdded()}));
    EXPECT_EQ(ChainConnectors(), (Strings{"B"}));
    EXPECT_EQ(Refresh(), (Strings{Latest(b), NotUpdated()}));

    // The latest document edited: its sequence moves on.
    const NOTEID c = Trigger("C");
    Refresh();
    Rewrite(c, {{"ConnectorId", Text("C2")}});
    lines = Refresh();
    EXPECT_EQ(Containing(lines, "Connector ID"),
              (Strings{Info("\t\tConnector ID:\tC2\n"), Info("\t\tConnector ID:\tB\n")}));
    EXPECT_EQ(kova::profileFlags(InForce()).latestProfileOriginatorId.sequence, 2u);
    EXPECT_EQ(Refresh(), (Strings{Latest(c), NotUpdated()}));
    EXPECT_EQ(qixsim::CallCount("QIXSearch"), 4u);
}

TEST_F(RefreshTest, EmptyViewIsReadOnceThenStable) {
    Doc("Event", {{"EventType", Text("Update")}});
    EXPECT_EQ(Refresh(), Strings{});  // no latest document, nothing found, nothing to dump
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(qixsim::CallCount("QIXSearch"), 1u);
    EXPECT_EQ(qixsim::CallCount("TAVGetLastModifiedTime"), 1u);
    EXPECT_TRUE(IsZero(kova::profileFlags(InForce()).latestProfileOriginatorId));
    EXPECT_NE(kova::profileFlags(InForce()).profileViewModified.word[0] |
                  kova::profileFlags(InForce()).profileViewModified.word[1],
              0u);

    EXPECT_EQ(Refresh(), (Strings{NotUpdated()}));
    EXPECT_EQ(qixsim::CallCount("QIXSearch"), 1u);
}

TEST_F(RefreshTest, DocumentsOfOtherFormsAreOpenedAndIgnored) {
    Doc("Event", {{"ConnectorId", Text("e")}});
    Doc("eventtriggerconfiguration", {{"ConnectorId", Text("lower")}});
    Doc("Configuration ", {{"ConnectorId", Text("blank")}, {"LogLevel", Text("NONE")}});
    Doc("SYSTEMCONFIGURATION", {{"LogLevel", Text("NONE")}});
    NOTEID noForm = 0;
    ASSERT_EQ(qixsim::CreateDocument("kovaevents.qix", {{"ConnectorId", Text("none")}}, &noForm),
              0);
    Trigger("real");

    const Strings lines = Refresh();
    EXPECT_EQ(Containing(lines, "added!"), (Strings{TriggerAdded()}));
    EXPECT_EQ(ChainConnectors(), (Strings{"real"}));
    EXPECT_EQ(kova::profileFlags(InForce()).configurationProfileEnabled, 0);
    EXPECT_EQ(kova::profileFlags(InForce()).systemProfileEnabled, 0);
    EXPECT_EQ(kova::pConfigurationProfile(InForce())->logLevel, kova::kLogDebug);
    // The latest profile, then each of the six documents: opened and closed.
    EXPECT_EQ(qixsim::CallCount("QIXNoteOpen"), 7u);
    EXPECT_EQ(qixsim::CallCount("QIXNoteClose"), 7u);
}

TEST_F(RefreshTest, SearchDeliveryOrderDecidesWinnersAndChainOrder) {
    Doc("Configuration", {{"ConnectorId", Text("first")},
                          {"LogLevel", Text("DEBUG")},
                          {"DatabasePaths", List({"one.qix", "two.qix"})}});
    Trigger("A");
    Doc("Configuration", {{"ConnectorId", Text("second")},
                          {"LogLevel", Text("DEBUG")},
                          {"DatabasePaths", List({"three.qix"})}});
    Trigger("B");
    Trigger("C");

    const Strings lines = Refresh();
    EXPECT_EQ(Containing(lines, "added!"),
              (Strings{Debug("Configuration Profile added!\n"), TriggerAdded(),
                       Debug("Configuration Profile added!\n"), TriggerAdded(), TriggerAdded()}));
    EXPECT_EQ(ChainConnectors(), (Strings{"C", "B", "A"}));
    EXPECT_STREQ(kova::pConfigurationProfile(InForce())->connectorID, "second");
    ASSERT_EQ(kova::pConfigurationProfile(InForce())->monitoredNum, 1);
    EXPECT_STREQ(kova::pConfigurationProfile(InForce())->monitored[0], "three.qix");
    // The dump says the newer triggers override the deprecated profile and lists them only.
    EXPECT_EQ(
        Containing(lines, "Configuration profile"),
        (Strings{Info("EventTriggerConfiguration profile overwrites Configuration profile!\n"),
                 Info("Using deprecated Configuration profile for system configuration!\n")}));
    EXPECT_EQ(Containing(lines, "Connector ID"),
              (Strings{Info("\t\tConnector ID:\tC\n"), Info("\t\tConnector ID:\tB\n"),
                       Info("\t\tConnector ID:\tA\n")}));
}

TEST_F(RefreshTest, LinesObeyTheSettingsAsEachDocumentIsRead) {
    Trigger("A", {{"EventTypes", List({"Create"})}});
    Doc("SystemConfiguration", {{"LogLevel", Text("ERROR")}, {"LogOutputs", List({"Console"})}});
    const NOTEID b = Trigger("B", {{"EventTypes", List({"Update"})}});

    // Before the system profile: the deprecated level (DEBUG). From it on: ERROR, so its own
    // "added" line, the second trigger's lines and the dump are all filtered.
    EXPECT_EQ(Refresh(), (Strings{Latest(b), Debug("EventType 0 = 'Create'\n"), TriggerAdded()}));
    EXPECT_EQ(ChainConnectors(), (Strings{"B", "A"}));
}

TEST_F(RefreshTest, UnopenableDocumentEndsTheSearchAndADeletedOneIsSkipped) {
    const NOTEID a = Trigger("A");
    const NOTEID b = Trigger("B");
    const NOTEID c = Trigger("C");
    const std::string openB = "Error opening profile document. NoteID: " + Hex(b) + ", Error#: ";

    // At start-up what was read before the failure is in force. Call 1 opens the latest profile
    // for the change test, call 2 document A, call 3 document B.
    qixsim::FailNth("QIXNoteOpen", ERR_QIX_NO_MEMORY, 3);
    EXPECT_EQ(Refresh(),
              (Strings{Latest(c), TriggerAdded(), Error(openB + "258\n"),
                       Error("Error searching profile database: kovaevents.qix Error#: "
                             "258\n"),
                       Info("Event Trigger Profiles:\n"), Info("\tEvent Trigger Profile:\n"),
                       Info("\t\tConnector ID:\tA\n"),
                       Info("\t\tEvent Types:\tCreate:0\tUpdate:0\tDelete:0\n"),
                       Info("\t\tDatabase Paths:\n"), ReadInPart("QIXNoteOpen", 258)}));
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(qixsim::CallCount("QIXNoteOpen"), 3u);  // C is not read
    EXPECT_EQ(ChainConnectors(), (Strings{"A"}));

    // Nothing changed since: the next try waits a second of the server's clock.
    EXPECT_EQ(Refresh(), (Strings{Latest(c), NotUpdated()}));
    kovatest::AdvanceClock(100);
    EXPECT_EQ(Containing(Refresh(), "added!").size(), 3u);
    EXPECT_EQ(ChainConnectors(), (Strings{"C", "B", "A"}));

    // A document deleted between the search's selection and its open is skipped, whichever of
    // the two statuses the server answers: the read is complete without it.
    for (const STATUS deleted : {ERR_QIX_NOTE_NOT_FOUND, ERR_QIX_NOTE_DELETED}) {
        SCOPED_TRACE(deleted);
        const std::string connector = deleted == ERR_QIX_NOTE_DELETED ? "A3" : "A2";
        Rewrite(a, {{"ConnectorId", Text(connector)}});
        qixsim::FailNth("QIXNoteOpen", deleted, 3);
        const Strings lines = Refresh();
        EXPECT_EQ(Containing(lines, "ERROR"), Strings{});
        EXPECT_EQ(Containing(lines, "skipped"),
                  (Strings{Debug("Profile document deleted during the read, skipped. NoteID: " +
                                 Hex(b) + "\n")}));
        EXPECT_EQ(ChainConnectors(), (Strings{"C", connector}));
    }

    // Over a complete configuration an incomplete read is discarded: no dump, one ERROR line.
    Rewrite(c, {{"ConnectorId", Text("C2")}});
    qixsim::FailNth("QIXNoteOpen", ERR_QIX_NO_MEMORY, 3);
    const Strings lines = Refresh();
    EXPECT_EQ(Containing(lines, "INFO"), Strings{});
    EXPECT_EQ(Containing(lines, "ERROR"),
              (Strings{Error(openB + "258\n"),
                       Error("Error searching profile database: kovaevents.qix Error#: 258\n"),
                       Kept("QIXNoteOpen", 258)}));
    EXPECT_EQ(ChainConnectors(), (Strings{"C", "A3"}));
}

TEST_F(RefreshTest, UnclosableDocumentEndsTheSearchAfterItWasApplied) {
    Trigger("A");
    const NOTEID b = Trigger("B");
    const NOTEID c = Trigger("C");
    // Close 1 is the change test's latest profile, close 2 document A, close 3 document B.
    qixsim::FailNth("QIXNoteClose", ERR_QIX_INVALID_HANDLE, 3);

    const Strings lines = Refresh();
    EXPECT_EQ(status_, 0);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(
        Strings(lines.begin(), lines.begin() + 5),
        (Strings{Latest(c), TriggerAdded(), TriggerAdded(),
                 Error("Error closing profile document. NoteID: " + Hex(b) + ", Error#: 16644\n"),
                 Error("Error searching profile database: kovaevents.qix Error#: 260\n")}));
    EXPECT_EQ(Containing(lines, "Connector ID"),
              (Strings{Info("\t\tConnector ID:\tB\n"), Info("\t\tConnector ID:\tA\n")}));
    EXPECT_EQ(lines.back(), ReadInPart("QIXNoteClose", 16644));
    EXPECT_EQ(qixsim::CallCount("QIXNoteOpen"), 3u);
    EXPECT_EQ(ChainConnectors(), (Strings{"B", "A"}));

    // A change since the failed read is read at once. The close of the change test's own note is
    // not examined: a failure there reads everything.
    Rewrite(c, {{"ConnectorId", Text("C2")}});
    qixsim::FailNth("QIXNoteClose", ERR_QIX_INVALID_HANDLE, 1);
    EXPECT_TRUE(Containing(Refresh(), "ERROR").empty());
    EXPECT_EQ(ChainConnectors(), (Strings{"C2", "B", "A"}));
}

TEST_F(RefreshTest, FormulaFailureKeepsTheRecordsAndIsRetriedASecondLater) {
    const NOTEID a = Trigger("A");
    Refresh();
    EXPECT_EQ(seen_, &InForce());  // the notification reads on with what it has just published
    const kova::TriggerProfile* head = kova::pEventTriggerProfile(InForce());

    Rewrite(a, {{"ConnectorId", Text("A2")}});
    qixsim::HoldClock(true);  // every reading of the clock is the failure's time
    qixsim::FailNext("QIXFormulaCompile", ERR_QIX_FORMULA);
    EXPECT_EQ(Refresh(), (Strings{Latest(a), Error("Error compiling search formula. Error#: 267\n"),
                                  Kept("QIXFormulaCompile", 267)}));
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(kova::pEventTriggerProfile(InForce()), head);
    EXPECT_EQ(ChainConnectors(), (Strings{"A"}));

    // Not again within the second, up to its last hundredth; then the edit is read.
    EXPECT_EQ(Refresh(), (Strings{Latest(a), NotUpdated()}));
    kovatest::AdvanceClock(99);
    EXPECT_EQ(Refresh(), (Strings{Latest(a), NotUpdated()}));
    EXPECT_EQ(qixsim::CallCount("QIXFormulaCompile"), 2u);
    kovatest::AdvanceClock(1);
    EXPECT_EQ(Containing(Refresh(), "added!"), (Strings{TriggerAdded()}));
    EXPECT_EQ(ChainConnectors(), (Strings{"A2"}));
    EXPECT_EQ(qixsim::CallCount("QIXSearch"), 2u);
    EXPECT_EQ(Refresh(), (Strings{Latest(a), NotUpdated()}));
}

TEST_F(RefreshTest, SearchFailureAtStartUpIsUsedAndLaterIsDiscarded) {
    const NOTEID a = Trigger("A");
    const size_t handles = qixsim::OpenHandleCount();
    qixsim::FailNext("QIXSearch", ERR_QIX_NO_MEMORY);
    const std::string searchFailed =
        Error("Error searching profile database: kovaevents.qix Error#: 258\n");
    EXPECT_EQ(Refresh(), (Strings{Latest(a), searchFailed, ReadInPart("QIXSearch", 258)}));
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(kova::pEventTriggerProfile(InForce()), nullptr);  // reset, then nothing read
    EXPECT_EQ(qixsim::OpenHandleCount(), handles);              // formula freed, database closed

    kovatest::AdvanceClock(100);
    Refresh();
    EXPECT_EQ(ChainConnectors(), (Strings{"A"}));
    Rewrite(a, {{"ConnectorId", Text("A2")}});
    qixsim::FailNext("QIXSearch", ERR_QIX_NO_MEMORY);
    const Strings lines = Refresh();
    EXPECT_EQ(Containing(lines, "ERROR"), (Strings{searchFailed, Kept("QIXSearch", 258)}));
    EXPECT_EQ(Containing(lines, "INFO"), Strings{});
    EXPECT_EQ(ChainConnectors(), (Strings{"A"}));
    EXPECT_EQ(qixsim::OpenHandleCount(), handles);
}

TEST_F(RefreshTest, MissingEventDatabaseChangesNothing) {
    qixsim::CloseHandle(db_);
    db_ = QIX_NULLHANDLE;
    kovatest::ResetAll();  // a server without "kovaevents.qix"
    kovatest::SetConfigurationLogLevel(kova::kLogDebug);
    kovatest::AddTrigger({{"x.qix"}, 1, 1, 1, "kept"});
    kovatest::Edit([](kova::ProfileConfiguration& c) {
        kova::profileFlags(c).latestProfileOriginatorId.sequence = 5;
        kova::profileFlags(c).profileViewModified.word[0] = 77;
    });
    const kova::ProfileConfiguration* inForce = &InForce();
    const kova::TriggerProfile* head = kova::pEventTriggerProfile(*inForce);
    const kova::ProfileFlags before = kova::profileFlags(*inForce);

    EXPECT_EQ(Refresh(),
              (Strings{Error("Error opening profile database: kovaevents.qix Error#: 16645\n")}));
    EXPECT_EQ(status_, ERR_QIX_DB_NOT_FOUND & 0x3fff);
    EXPECT_EQ(std::memcmp(&kova::profileFlags(InForce()), &before, sizeof before), 0);
    EXPECT_EQ(kova::pEventTriggerProfile(InForce()), head);
    EXPECT_EQ(ChainConnectors(), (Strings{"kept"}));
    EXPECT_EQ(&InForce(), inForce);  // nothing published
}

TEST_F(RefreshTest, DatabaseCloseFailureIsReturnedMasked) {
    const NOTEID a = Trigger("A");
    qixsim::FailNext("QIXDbClose", ERR_QIX_INVALID_HANDLE);
    Strings lines = Refresh();
    EXPECT_EQ(status_, ERR_QIX_INVALID_HANDLE & 0x3fff);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              Error("Error closing profile database: kovaevents.qix Error#: 16644\n"));
    EXPECT_EQ(ChainConnectors(), (Strings{"A"}));  // read before the close

    qixsim::FailNext("QIXDbClose", ERR_QIX_INVALID_HANDLE);
    lines = Refresh();
    EXPECT_EQ(status_, ERR_QIX_INVALID_HANDLE & 0x3fff);
    EXPECT_EQ(lines, (Strings{Latest(a), NotUpdated(),
                              Error("Error closing profile database: kovaevents.qix Error#: "
                                    "16644\n")}));
}

TEST_F(RefreshTest, AllProfilesDeletedFallBackToTheKeptDeprecatedSettings) {
    const NOTEID configuration = Doc("Configuration", {{"ConnectorId", Text("cfg")},
                                                       {"LogLevel", Text("INFO")},
                                                       {"EventTypes", List({"Update"})},
                                                       {"DatabasePaths", List({"c.qix"})}});
    const NOTEID system = Doc("SystemConfiguration",
                              {{"LogLevel", Text("DEBUG")}, {"LogOutputs", List({"Console"})}});
    const NOTEID trigger = Trigger("t", {{"MonitoredDocuments", List({"m.qix", "n.qix"})}});
    Refresh();
    ASSERT_EQ(kova::profileFlags(InForce()).triggerProfileEnabled, 1);

    Delete(configuration);
    Delete(system);
    Delete(trigger);
    // Under the old settings (DEBUG): the trigger record is logged as it is freed; from the reset
    // on, the deprecated level INFO is in force and nothing is found to dump.
    const Strings lines = Refresh();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(Debug("pEventTriggerProfile="), 0), 0u);
    EXPECT_NE(lines[0].find(", MonitoredNum=2\n"), std::string::npos);

    EXPECT_EQ(kova::profileFlags(InForce()).triggerProfileEnabled, 0);
    EXPECT_EQ(kova::profileFlags(InForce()).configurationProfileEnabled, 0);
    EXPECT_EQ(kova::profileFlags(InForce()).systemProfileEnabled, 0);
    EXPECT_EQ(kova::pEventTriggerProfile(InForce()), nullptr);
    EXPECT_EQ(kova::pConfigurationProfile(InForce())->monitoredNum, 0);
    EXPECT_EQ(kova::pConfigurationProfile(InForce())->updateEnabled, 0);
    EXPECT_STREQ(kova::pConfigurationProfile(InForce())->connectorID, "cfg");
    EXPECT_EQ(kova::GetLogLevel(InForce()), kova::kLogInfo);
    EXPECT_TRUE(IsZero(kova::profileFlags(InForce()).latestProfileOriginatorId));

    // The empty view is stable: no further full read (and the DEBUG line is below INFO).
    EXPECT_EQ(Refresh(), Strings{});
    EXPECT_EQ(qixsim::CallCount("QIXSearch"), 2u);
}

// A failed view lookup counts as a change: the documents are read in full, and the zeroed stamps
// make the next successful refresh read them once more.
TEST_F(RefreshTest, FailedViewLookupReadsTheProfilesAnyway) {
    struct Fault {
        const char* operation;
        const char* line;
    };
    const Fault faults[] = {
        {"TAVFindDesignNoteExt", "Error TAVFindView. Error# 259\n"},
        {"TAVOpenCollection", "Error TAVOpenCollection. Error# 259\n"},
        {"TAVReadEntries", "Error TAVReadEntries. Error# 259\n"},
        {"QIXNoteOpen", "Error opening Note. Error# 259\n"},
    };
    const NOTEID a = Trigger("A");
    Refresh();
    const size_t handles = qixsim::OpenHandleCount();
    uint64_t searches = qixsim::CallCount("QIXSearch");
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.operation);
        qixsim::FailNext(fault.operation, ERR_QIX_NO_HANDLES);
        Strings lines = Refresh();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], Error(fault.line));
        EXPECT_EQ(Containing(lines, "added!"), (Strings{TriggerAdded()}));
        EXPECT_EQ(qixsim::CallCount("QIXSearch"), ++searches);
        EXPECT_TRUE(IsZero(kova::profileFlags(InForce()).latestProfileOriginatorId));
        EXPECT_EQ(qixsim::OpenHandleCount(), handles);

        lines = Refresh();
        EXPECT_EQ(qixsim::CallCount("QIXSearch"), ++searches);
        EXPECT_EQ(Refresh(), (Strings{Latest(a), NotUpdated()}));
        EXPECT_EQ(qixsim::CallCount("QIXSearch"), searches);
    }
}

TEST_F(RefreshTest, EventDatabaseWithoutTheViewStillConfiguresTheAddIn) {
    qixsim::CloseHandle(db_);
    db_ = QIX_NULLHANDLE;
    kovatest::ResetAll();
    kovatest::SetConfigurationLogLevel(kova::kLogDebug);
    ASSERT_EQ(qixsim::CreateDatabase("kovaevents.qix"), 0);
    ASSERT_EQ(qixsim::CreateDocument("kovaevents.qix", {{"Form", Text("EventTriggerConfiguration")},
                                                        {"ConnectorId", Text("A")}}),
              0);

    // Without a change test every refresh would read in full: at most once a second.
    const uint64_t expectedSearches[] = {1, 1, 2};
    for (int round = 0; round < 3; ++round) {
        if (round == 2)
            kovatest::AdvanceClock(100);
        const Strings lines = Refresh();
        EXPECT_EQ(status_, 0);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].rfind(Error("Error TAVFindView. Error# "), 0), 0u);
        EXPECT_EQ(ChainConnectors(), (Strings{"A"}));
        EXPECT_EQ(qixsim::CallCount("QIXSearch"), expectedSearches[round]);
    }
}

// Refreshes on several threads that all see the same change: only the first to hold the edit lock
// reads the documents. A write-path one that finds the lock busy goes on; the others wait for it
// and then find the stamps already current.
TEST_F(RefreshTest, RefreshesOnSeveralThreadsReadEachChangeOnce) {
    const NOTEID a = Trigger("A");
    kovasupport::StdoutCapture capture;
    for (uint64_t round = 1; round <= 20; ++round) {
        Rewrite(a, {{"ConnectorId", Text("A" + std::to_string(round))}});
        std::thread threads[3];
        threads[0] = std::thread([] {
            kova::ConfigurationSnapshot snapshot;
            EXPECT_EQ(kova::ReadProfile(snapshot), 0);
        });
        for (std::thread& thread : threads) {
            if (!thread.joinable())
                thread = std::thread([] { EXPECT_EQ(kova::ReadProfile(), 0); });
        }
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(qixsim::CallCount("QIXSearch"), round);
    }
    capture.Stop();
    EXPECT_EQ(ChainConnectors(), (Strings{"A20"}));
}

// A re-read in progress (here: the edit lock held) never holds up a notification on another
// thread, which keeps the configuration in force; start-up and a profile document's own after
// stage wait for it and then read.
TEST_F(RefreshTest, AWritePathRefreshNeverWaitsForAReread) {
    const NOTEID a = Trigger("A");
    Refresh();
    Rewrite(a, {{"ConnectorId", Text("A2")}});
    kovatest::SetConfigurationLogLevel(0);
    std::atomic<bool> writerDone{false};
    std::atomic<bool> profileChangeDone{false};
    std::thread writer, profileChange;
    {
        kova::ProfileEditLock reread(kova::EditWait::kBlock);
        ASSERT_TRUE(reread.held());
        writer = std::thread([&] {
            kova::ConfigurationSnapshot snapshot;
            EXPECT_EQ(kova::ReadProfile(snapshot), 0);
            EXPECT_STREQ(kova::getConnectorID(*snapshot), "A");  // goes on with the one in force
            writerDone = true;
        });
        profileChange = std::thread([&] {
            EXPECT_EQ(kova::ReadProfile(), 0);
            profileChangeDone = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!writerDone && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(writerDone.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(profileChangeDone.load());
        EXPECT_EQ(qixsim::CallCount("QIXSearch"), 1u);
        EXPECT_EQ(ChainConnectors(), (Strings{"A"}));
    }
    writer.join();
    profileChange.join();
    EXPECT_EQ(qixsim::CallCount("QIXSearch"), 2u);
    EXPECT_EQ(ChainConnectors(), (Strings{"A2"}));
}

// A profile document's change parked between its two stages: write-path refreshes leave its
// re-read to the after stage, for a second of the server's clock from the first of them that met
// it (parking it reads no clock). The after stage reads at once, and so does a write-path refresh
// once nothing is in flight.
TEST_F(RefreshTest, AParkedProfileChangeIsLeftToItsAfterStageForASecond) {
    const NOTEID a = Trigger("A");
    Refresh();
    Rewrite(a, {{"ConnectorId", Text("A2")}});
    const uint64_t clockReads = qixsim::CallCount("OSCurrentTIMEDATE");
    kova::BeginProfileChange();
    EXPECT_EQ(qixsim::CallCount("OSCurrentTIMEDATE"), clockReads);
    kovatest::AdvanceClock(500);  // the window opens at the first meeting, not at the parking
    EXPECT_EQ(Refresh(), (Strings{Latest(a), NotUpdated()}));
    kovatest::AdvanceClock(50);  // the fixed clock also moves on by one at each read of it
    EXPECT_EQ(Refresh(), (Strings{Latest(a), NotUpdated()}));
    EXPECT_EQ(ChainConnectors(), (Strings{"A"}));
    kovatest::AdvanceClock(50);
    EXPECT_EQ(Containing(Refresh(), "added!"), (Strings{TriggerAdded()}));
    EXPECT_EQ(ChainConnectors(), (Strings{"A2"}));
    kova::EndProfileChange();

    // A new change opens a new window; its after stage reads it within the window.
    Rewrite(a, {{"ConnectorId", Text("A3")}});
    kova::BeginProfileChange();
    EXPECT_EQ(Refresh(), (Strings{Latest(a), NotUpdated()}));
    kovasupport::StdoutCapture capture;
    EXPECT_EQ(kova::ReadProfile(), 0);
    EXPECT_EQ(Containing(ConsoleLines(capture.Stop()), "added!"), (Strings{TriggerAdded()}));
    EXPECT_EQ(ChainConnectors(), (Strings{"A3"}));
    kova::EndProfileChange();
    EXPECT_EQ(qixsim::CallCount("QIXSearch"), 3u);

    Rewrite(a, {{"ConnectorId", Text("A4")}});
    EXPECT_EQ(Containing(Refresh(), "added!"), (Strings{TriggerAdded()}));
    EXPECT_EQ(ChainConnectors(), (Strings{"A4"}));
}

}  // namespace
