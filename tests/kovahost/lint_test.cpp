// kovahost --lint: one table of profile mistakes, each row a few documents in kovaevents.qix of
// the same small server and the exact warnings they must give (none for the clean row). Every
// rule has a row, and every rule is written down in docs/event-database.md.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/kovahost/lint.h"
#include "tools/kovahost/scenario_reader.h"

namespace kovahost {
namespace {

// Lines 1-7; the documents of a row start at line 8.
const char kServer[] =
    "databases:\n"
    "  - path: shop/items.qix\n"
    "    forms: ['Item; Article', 'Customer ; Client']\n"
    "  - path: orders.qix\n"
    "    forms: [Order]\n"
    "  - path: kovaevents.qix\n"
    "    documents:\n";

// The trigger every row may use as its first document: correct in every part.
const char kGood[] =
    "      - {Form: EventTriggerConfiguration, ConnectorId: shop, EventTypes: [Create], "
    "MonitoredDocuments: [orders.qix]}\n";

// A log source, for the rows that have none of their own; it goes last, after the lines a row
// checks.
const char kLogs[] =
    "      - {Form: SystemConfiguration, LogLevel: ERROR, LogOutputs: [Console]}\n";

std::string Trigger(const std::string& rest) {
    return "      - {Form: EventTriggerConfiguration, " + rest + "}\n";
}

std::string Monitoring(const std::string& entry) {
    return Trigger("ConnectorId: shop, EventTypes: [Create], MonitoredDocuments: ['" + entry +
                   "']");
}

struct Row {
    const char* rule;  // the rule the row is about ("" for the clean row)
    std::string documents;
    std::vector<std::string> warnings;  // after "t.yaml:"
    std::string server = kServer;       // the lines before `documents`
};

std::vector<Row> Rows() {
    return {
        {"",
         std::string(kGood) +
             "      - {Form: SystemConfiguration, LogLevel: DEBUG, LogOutputs: [Console, "
             "log.qix]}\n" +
             Trigger("ConnectorId: audit, EventTypes: [Delete, Update], MonitoredDocuments: "
                     "['shop\\items.qix', 'shop/items.qix: Article', 'orders.qix:Order']") +
             "      - {Form: Event, EventType: Create}\n",
         {}},
        {"event-type",
         Trigger("ConnectorId: shop, EventTypes: [Create, update, Deletes, ' Update', Uptade, "
                 "Upd], "
                 "MonitoredDocuments: [orders.qix]") +
             kLogs,
         {"8: warning: EventTypes entry 'update' is not Create, Update or Delete: it is ignored "
          "(did you mean 'Update'?) [event-type]",
          "8: warning: EventTypes entry 'Deletes' is not Create, Update or Delete: it is ignored "
          "(did you mean 'Delete'?) [event-type]",
          "8: warning: EventTypes entry ' Update' is not Create, Update or Delete: it is ignored "
          "(blanks count; did you mean 'Update'?) [event-type]",
          // Two edits from a name of six letters still get the hint; three do not.
          "8: warning: EventTypes entry 'Uptade' is not Create, Update or Delete: it is ignored "
          "(did you mean 'Update'?) [event-type]",
          "8: warning: EventTypes entry 'Upd' is not Create, Update or Delete: it is ignored "
          "[event-type]"}},
        {"list-in-text",
         Trigger("ConnectorId: shop, EventTypes: 'Create, Update', MonitoredDocuments: "
                 "['orders.qix, shop/items.qix']") +
             "      - {Form: SystemConfiguration, LogLevel: INFO, LogOutputs: 'Console, "
             "log.qix'}\n",
         {"8: warning: EventTypes entry 'Create, Update' holds several values in one text: it is "
          "ignored; write one entry each ([Create, Update]) [list-in-text]",
          "8: warning: MonitoredDocuments entry 'orders.qix, shop/items.qix' holds several paths "
          "in one text: it names no database; write one entry each [list-in-text]",
          "8: warning: the trigger for connector 'shop' can never act: EventTypes has none of "
          "Create, Update or Delete [dead-trigger]",
          "9: warning: LogOutputs entry 'Console, log.qix' holds several values in one text: it "
          "is ignored; write one entry each [list-in-text]",
          "9: warning: LogOutputs has no entry Console or log.qix: every log output is off and "
          "the add-in writes no log line at all [log-outputs]"}},
        {"blank",
         Trigger("ConnectorId: 'shop ', EventTypes: [Create], MonitoredDocuments: "
                 "['shop/items.qix:Item ', 'orders.qix :Order', 'shop/items.qix:Customer']") +
             kLogs,
         {"8: warning: ConnectorId 'shop ' has a blank at its end, which counts: the Event "
          "documents for this trigger carry it as written [blank]",
          "8: warning: MonitoredDocuments entry 'shop/items.qix:Item ': the form part 'Item ' has "
          "a blank at its end, which counts: it matches no form name of shop/items.qix [blank]",
          "8: warning: MonitoredDocuments entry 'orders.qix :Order': the path 'orders.qix ' has a "
          "blank at its end, which counts: it names no database [blank]",
          "8: warning: MonitoredDocuments entry 'shop/items.qix:Customer': the form title "
          "'Customer ; Client' of shop/items.qix names the form 'Customer ', with a blank at its "
          "end, which counts: the form part 'Customer' does not match it; remove the blank from "
          "the title [blank]"}},
        {"connector-id",
         Trigger("ConnectorId: '', EventTypes: [Create], MonitoredDocuments: [orders.qix]") +
             Trigger("EventTypes: [Create], MonitoredDocuments: [orders.qix]") + kLogs,
         {"8: warning: ConnectorId is empty: the Event documents for this trigger carry an empty "
          "connector id [connector-id]",
          "9: warning: ConnectorId is missing: the Event documents for this trigger carry an "
          "empty connector id [connector-id]"}},
        {"dead-trigger",
         Trigger("ConnectorId: none, EventTypes: [Create], MonitoredDocuments: []") +
             Trigger("ConnectorId: typeless, MonitoredDocuments: [orders.qix]") +
             "      - {Form: Configuration, ConnectorId: legacy, EventTypes: [Create]}\n",
         {"8: warning: the trigger for connector 'none' can never act: MonitoredDocuments has no "
          "entry [dead-trigger]",
          "9: warning: the trigger for connector 'typeless' can never act: EventTypes has none of "
          "Create, Update or Delete [dead-trigger]",
          "10: warning: this Configuration document is overridden by the "
          "EventTriggerConfiguration documents (the first is at line 8): its trigger settings are "
          "ignored [overridden-configuration]"}},
        {"unknown-database",
         Monitoring("shop/itmes.qix") + Monitoring("archive.qix") + Monitoring(":Order") + kLogs,
         {"8: warning: MonitoredDocuments entry 'shop/itmes.qix' names no database of this "
          "scenario (did you mean 'shop/items.qix'?) [unknown-database]",
          "9: warning: MonitoredDocuments entry 'archive.qix' names no database of this scenario "
          "(databases: shop/items.qix and orders.qix) [unknown-database]",
          "10: warning: MonitoredDocuments entry ':Order' has an empty path: it names no database "
          "[unknown-database]"}},
        {"unknown-form",
         Monitoring("shop/items.qix:Itme") + Monitoring("orders.qix:Invoice") +
             Monitoring("shop/items.qix:") + Monitoring("shop/items.qix:article") +
             Monitoring("shop/items.qix:Item; Article") +
             Monitoring("shop/items.qix:Customer; Client") + kLogs,
         {"8: warning: MonitoredDocuments entry 'shop/items.qix:Itme': the form part 'Itme' is no "
          "form name or alias of shop/items.qix (did you mean 'Item'?) [unknown-form]",
          "9: warning: MonitoredDocuments entry 'orders.qix:Invoice': the form part 'Invoice' is "
          "no form name or alias of orders.qix (forms: 'Order') [unknown-form]",
          "10: warning: MonitoredDocuments entry 'shop/items.qix:' ends in a colon: its empty form "
          "part never matches [unknown-form]",
          "11: warning: MonitoredDocuments entry 'shop/items.qix:article': the form part "
          "'article' differs in letter case from the form name 'Article'; the comparison is "
          "case-sensitive [unknown-form]",
          "12: warning: MonitoredDocuments entry 'shop/items.qix:Item; Article': the form part "
          "'Item; Article' is the whole form title of shop/items.qix: a form part is one of its "
          "names, 'Item' or 'Article' (one entry each) [unknown-form]",
          "13: warning: MonitoredDocuments entry 'shop/items.qix:Customer; Client': the form part "
          "'Customer; Client' is the whole form title of shop/items.qix: a form part is one of its "
          "names, 'Customer ' or 'Client' (one entry each) [unknown-form]"}},
        {"path-spelling",
         Monitoring("./orders.qix") + Monitoring("/srv/data/orders.qix") +
             Monitoring("shop\\\\items.qix") + Monitoring("C:\\data\\orders.qix") +
             Monitoring("Shop/Items.qix") +
             "      - {Form: Configuration, ConnectorId: legacy, EventTypes: [Create], "
             "DatabasePaths: ['D:\\orders.qix']}\n",
         {"8: warning: MonitoredDocuments entry './orders.qix' starts with './': the server names "
          "databases relative to its data directory, with single separators (the server names "
          "it 'orders.qix') [path-spelling]",
          "9: warning: MonitoredDocuments entry '/srv/data/orders.qix' starts with '/': the "
          "server names databases relative to its data directory, with single separators (the "
          "server names it 'orders.qix') [path-spelling]",
          "10: warning: MonitoredDocuments entry 'shop\\\\items.qix' has a doubled separator: the "
          "server names databases relative to its data directory, with single separators (the "
          "server names it 'shop/items.qix') [path-spelling]",
          "11: warning: MonitoredDocuments entry 'C:\\data\\orders.qix' starts with a drive "
          "letter: the entry is split at its first colon into the path 'C' and the form part "
          "'\\data\\orders.qix'; name the database relative to the data directory (the server "
          "names it 'orders.qix') [path-spelling]",
          "12: warning: MonitoredDocuments entry 'Shop/Items.qix': the path 'Shop/Items.qix' "
          "differs in letter case from the database 'shop/items.qix'; the comparison is "
          "case-sensitive [path-spelling]",
          "13: warning: DatabasePaths entry 'D:\\orders.qix' starts with a drive letter: name the "
          "database relative to the data directory (the server names it 'orders.qix') "
          "[path-spelling]",
          "13: warning: this Configuration document is overridden by the "
          "EventTriggerConfiguration documents (the first is at line 8): it no longer monitors "
          "'D:\\orders.qix' for connector 'legacy' [overridden-configuration]"}},
        {"log-level",
         "      - {Form: SystemConfiguration, LogLevel: debug, LogOutputs: [Console]}\n"
         "      - {Form: Configuration, ConnectorId: legacy, EventTypes: [Create], DatabasePaths: "
         "[orders.qix], LogLevel: ' DEBUG'}\n",
         {"8: warning: LogLevel 'debug' is not NONE, ERROR, INFO or DEBUG: the log level becomes "
          "ERROR (did you mean 'DEBUG'?) [log-level]",
          "9: warning: LogLevel ' DEBUG' is not NONE, ERROR, INFO or DEBUG: the log level becomes "
          "ERROR (blanks count; did you mean 'DEBUG'?) [log-level]"}},
        {"log-outputs",
         "      - {Form: SystemConfiguration, LogLevel: INFO, LogOutputs: [console]}\n"
         "      - {Form: SystemConfiguration, LogLevel: ERROR}\n"
         "      - {Form: SystemConfiguration, LogLevel: NONE}\n",
         {"8: warning: LogOutputs entry 'console' is not Console or log.qix: it is ignored (did "
          "you mean 'Console'?) [log-outputs]",
          "8: warning: LogOutputs has no entry Console or log.qix: every log output is off and "
          "the add-in writes no log line at all [log-outputs]",
          "9: warning: LogOutputs is missing: every log output is off and the add-in writes no "
          "log line at all [log-outputs]",
          "9: warning: another SystemConfiguration document (the first is at line 8): only one "
          "is in force, and the server's search order decides which [duplicate-profile]",
          "10: warning: another SystemConfiguration document (the first is at line 8): only one "
          "is in force, and the server's search order decides which [duplicate-profile]"}},
        {"duplicate-profile",
         "      - {Form: Configuration, ConnectorId: a, EventTypes: [Create], DatabasePaths: "
         "[orders.qix], LogLevel: INFO}\n"
         "      - {Form: Configuration, ConnectorId: b, EventTypes: [Create], DatabasePaths: "
         "[orders.qix], LogLevel: INFO}\n",
         {"9: warning: another Configuration document (the first is at line 8): only one is in "
          "force, and the server's search order decides which [duplicate-profile]"}},
        {"overridden-configuration",
         "      - Form: Configuration\n"
         "        ConnectorId: legacy\n"
         "        EventTypes: [Create, Update]\n"
         "        DatabasePaths: [orders.qix, shop/items.qix]\n"
         "        LogLevel: INFO\n" +
             std::string(kGood),
         {"8: warning: this Configuration document is overridden by the "
          "EventTriggerConfiguration documents (the first is at line 13): it no longer monitors "
          "'orders.qix', 'shop/items.qix' for connector 'legacy' [overridden-configuration]"}},
        {"near-miss",
         Trigger("ConnectorID: shop, EventTypes: [Create], MonitoredDocuments: [orders.qix], "
                 "DatabasePaths: [orders.qix], LogLevel: INFO") +
             "      - Form: EventTriggerConfiguration\n"
             "        ConnectorId: shop\n"
             "        EventTypes: [Create]\n"
             "        MonitoredDocument:\n"
             "          - orders.qix\n" +
             kLogs,
         {"8: warning: item 'ConnectorID' is not read in an EventTriggerConfiguration document "
          "(did you mean 'ConnectorId'?) [near-miss]",
          "8: warning: item 'DatabasePaths' is not read in an EventTriggerConfiguration document "
          "(only Configuration documents read it) [near-miss]",
          "8: warning: item 'LogLevel' is not read in an EventTriggerConfiguration document "
          "(only Configuration and SystemConfiguration documents read it) [near-miss]",
          "8: warning: ConnectorId is missing: the Event documents for this trigger carry an "
          "empty connector id [connector-id]",
          "9: warning: the trigger for connector 'shop' can never act: MonitoredDocuments has "
          "no entry [dead-trigger]",
          "12: warning: item 'MonitoredDocument' is not read in an EventTriggerConfiguration "
          "document (did you mean 'MonitoredDocuments'?) [near-miss]"}},
        {"own-database",
         Trigger("ConnectorId: shop, EventTypes: [Delete], MonitoredDocuments: [kovaevents.qix, "
                 "orders.qix]") +
             Monitoring("log.qix") +
             "      - Form: EventTriggerConfiguration\n"
             "        ConnectorId: hub\n"
             "        EventTypes: [Update]\n"
             "        MonitoredDocuments:\n"
             "          - orders.qix\n"
             "          - 'hub.qix:Memo'\n" +
             kLogs,
         {"8: warning: MonitoredDocuments entry 'kovaevents.qix' names the add-in's own "
          "database: every Event document the connector deletes would become a new Event "
          "document (a feedback loop) [own-database]",
          "9: warning: MonitoredDocuments entry 'log.qix' names 'log.qix', a system database of "
          "the server, whose changes are never monitored [own-database]",
          "15: warning: MonitoredDocuments entry 'hub.qix:Memo' names 'hub.qix', a system "
          "database of the server, whose changes are never monitored [own-database]"}},
        {"profile-form",
         "      - {Form: Systemconfiguration, LogLevel: INFO, LogOutputs: [Console]}\n"
         "      - {Form: EventTriggerConfig, ConnectorId: shop}\n"
         "      - {Form: TriggerConfiguration, ConnectorId: shop}\n"
         "      - {Form: Config, ConnectorId: shop}\n"
         "      - {Form: Event, EventType: Create}\n" +
             std::string(kGood) + kLogs,
         {"8: warning: Form 'Systemconfiguration' is no profile form, so the add-in ignores this "
          "document (did you mean 'SystemConfiguration'?) [profile-form]",
          "9: warning: Form 'EventTriggerConfig' is no profile form, so the add-in ignores this "
          "document (did you mean 'EventTriggerConfiguration'?) [profile-form]",
          "10: warning: Form 'TriggerConfiguration' is no profile form, so the add-in ignores "
          "this document (did you mean 'EventTriggerConfiguration'?) [profile-form]",
          "11: warning: Form 'Config' is no profile form, so the add-in ignores this document "
          "(did you mean 'Configuration'?) [profile-form]"}},
        {"no-log",
         kGood,
         {"6: warning: kovaevents.qix holds no SystemConfiguration and no Configuration "
          "document: the log level is NONE and the add-in writes no log line at all, errors "
          "included (add a SystemConfiguration document) [no-log]"}},
        {"event-database",
         kLogs,
         {"6: warning: an EventTriggerConfiguration document in 'orders.qix' is never read: the "
          "add-in reads profile documents from 'kovaevents.qix' only [event-database]",
          "7: warning: the database 'config/kovaevents.qix' is not the add-in's own: it reads "
          "'kovaevents.qix' at the top of the data directory only: the add-in finds no profile, "
          "reports \"KOVA Inbound profile read error!\" at its start and captures nothing "
          "[event-database]",
          "9: warning: a SystemConfiguration document in 'config/kovaevents.qix' is never read: "
          "the add-in reads profile documents from 'kovaevents.qix' only [event-database]"},
         "databases:\n"
         "  - path: shop/items.qix\n"
         "    forms: ['Item; Article']\n"
         "  - path: orders.qix\n"
         "    documents:\n" +
             std::string(kGood) +
             "  - path: config/kovaevents.qix\n"
             "    documents:\n"},
        {"event-database",
         "",
         {"2: warning: no database 'kovaevents.qix' is defined: the add-in finds no profile, "
          "reports \"KOVA Inbound profile read error!\" at its start and captures nothing "
          "[event-database]"},
         "databases:\n  - path: orders.qix\n"},
    };
}

TEST(Lint, EachProfileMistakeGivesItsWarningsAtTheirLines) {
    std::set<std::string> covered;
    for (const Row& row : Rows()) {
        Scenario plan;
        ScenarioError error;
        const std::string text = row.server + row.documents;
        ASSERT_TRUE(ReadScenarioText(text, "t.yaml", &plan, &error)) << error.Text() << "\n"
                                                                     << text;
        std::vector<std::string> found;
        for (const Finding& finding : LintScenario(plan))
            found.push_back(FindingText(finding));
        std::vector<std::string> wanted;
        for (const std::string& warning : row.warnings)
            wanted.push_back("t.yaml:" + warning);
        EXPECT_EQ(found, wanted) << "row " << row.rule << ":\n" << text;
        covered.insert(row.rule);
    }
    // Every rule has its row, and docs/event-database.md writes each one down.
    std::ifstream docs(std::string(KOVAHOST_TEST_DIR) + "/../../docs/event-database.md");
    std::ostringstream page;
    page << docs.rdbuf();
    for (const std::string& rule : LintRules()) {
        EXPECT_EQ(covered.count(rule), 1u) << "no row for rule " << rule;
        EXPECT_NE(page.str().find("**`" + rule + "`**"), std::string::npos)
            << "docs/event-database.md does not describe rule " << rule;
    }
}

}  // namespace
}  // namespace kovahost
