// The scenario reader: what a valid scenario becomes in the plan (values, types, defaults, lines),
// and the file and line it reports for bad values and broken cross-references. The bad inputs
// under bad/ run through kovahost itself; the cases here are the finer ones.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/kovahost/scenario_reader.h"

namespace kovahost {
namespace {

Scenario Read(const std::string& text) {
    Scenario plan;
    ScenarioError error;
    EXPECT_TRUE(ReadScenarioText(text, "t.yaml", &plan, &error)) << error.Text();
    return plan;
}

ScenarioError Error(const std::string& text) {
    Scenario plan;
    ScenarioError error;
    EXPECT_FALSE(ReadScenarioText(text, "t.yaml", &plan, &error)) << text;
    return error;
}

const qixsim::ItemValue* Find(const qixsim::Items& items, const std::string& name) {
    for (const auto& item : items) {
        if (item.first == name)
            return &item.second;
    }
    return nullptr;
}

TEST(ScenarioReader, ServerDatabasesAndDocumentItemsKeepTheirTypesAndOrder) {
    const Scenario plan = Read(R"(
server: {clock: '2026-01-05 09:30:00', separator: '\'}
databases:
  - path: kovaevents.qix
  - path: kovaevents-copy.qix
    template: kovaevents
  - path: shop/items.qix
    forms: ['Item; Article', Order]
    documents:
      - {Form: Item, Price: 25, Code: '25', Ratio: -0.5e1, Tags: [a, '1'], Due: !time '2026-06-01 00:00:00', Empty: '', as: lamp}
      - {Form: Item, Version: 1.2.3, Answer: yes}
)");
    EXPECT_TRUE(plan.fixedClock);
    EXPECT_EQ(plan.clockText, "2026-01-05 09:30:00");
    EXPECT_EQ(qixsim::TimeText(plan.clock), "2026-01-05 09:30:00.00");
    EXPECT_EQ(plan.separator, '\\');
    ASSERT_EQ(plan.databases.size(), 3u);
    EXPECT_TRUE(plan.databases[0].eventTemplate);  // the default for kovaevents.qix only
    EXPECT_TRUE(plan.databases[1].eventTemplate);
    EXPECT_FALSE(plan.databases[2].eventTemplate);
    EXPECT_EQ(plan.databases[2].forms, (std::vector<std::string>{"Item; Article", "Order"}));
    EXPECT_EQ(plan.databases[2].line, 7);

    ASSERT_EQ(plan.databases[2].documents.size(), 2u);
    const DocumentPlan& lamp = plan.databases[2].documents[0];
    EXPECT_EQ(lamp.name, "lamp");
    EXPECT_EQ(lamp.line, 10);
    std::vector<std::string> names;
    for (const auto& item : lamp.items)
        names.push_back(item.first);
    EXPECT_EQ(names, (std::vector<std::string>{"Form", "Price", "Code", "Ratio", "Tags", "Due",
                                               "Empty"}));  // "as" is not an item
    EXPECT_EQ(std::get<double>(*Find(lamp.items, "Price")), 25.0);
    EXPECT_EQ(std::get<std::string>(*Find(lamp.items, "Code")), "25");  // quoted: a text
    EXPECT_EQ(std::get<double>(*Find(lamp.items, "Ratio")), -5.0);
    EXPECT_EQ(std::get<qixsim::TextList>(*Find(lamp.items, "Tags")), (qixsim::TextList{"a", "1"}));
    EXPECT_EQ(qixsim::TimeText(std::get<TIMEDATE>(*Find(lamp.items, "Due"))),
              "2026-06-01 00:00:00.00");
    EXPECT_EQ(std::get<std::string>(*Find(lamp.items, "Empty")), "");
    const DocumentPlan& other = plan.databases[2].documents[1];
    EXPECT_TRUE(other.name.empty());
    EXPECT_EQ(std::get<std::string>(*Find(other.items, "Version")), "1.2.3");  // not a number
    EXPECT_EQ(std::get<std::string>(*Find(other.items, "Answer")), "yes");
}

TEST(ScenarioReader, EveryStepKindWithItsArgumentsAndDefaults) {
    const Scenario plan = Read(R"(
databases:
  - path: kovaevents.qix
  - path: a.qix
    documents:
      - {Form: Item, as: one}
steps:
  - start
  - create: {db: a.qix, as: two, items: {Form: Item, Title: T}, extended: true, status: 0x0225}
  - update: {note: one, items: {Title: U}}
  - delete: {note: two, status: 549}
  - delete-many: {notes: [one, two]}
  - fail: {call: QIXNoteCreate, status: 1}
  - fail: {call: QIXDbOpen, status: 65535, nth: 3}
  - print: events
  - print: log
  - print: notes
  - print: {notes: a.qix}
  - expect: {events: 2, connector: shop, type: Delete, db: a.qix, form: Item}
  - load: {db: a.qix, operations: 10}
  - load: {db: a.qix, operations: 10, threads: 4, items: {Form: Other}, console: true}
  - fail: {call: QIXNoteOpen, status: 1, note: one, count: always}
  - stop:
  - expect: {events: 0}
)");
    ASSERT_EQ(plan.steps.size(), 17u);
    EXPECT_FALSE(plan.fixedClock);  // no server: the system clock
    EXPECT_EQ(plan.separator, '/');
    const std::vector<Step>& s = plan.steps;
    EXPECT_EQ(s[0].kind, StepKind::kStart);
    EXPECT_EQ(s[0].line, 8);
    EXPECT_EQ(s[1].kind, StepKind::kCreate);
    EXPECT_EQ(s[1].db, "a.qix");
    EXPECT_EQ(s[1].note, "two");
    EXPECT_EQ(s[1].items.size(), 2u);
    EXPECT_TRUE(s[1].extended);
    EXPECT_EQ(s[1].status, 549);
    EXPECT_FALSE(s[2].extended);
    EXPECT_EQ(s[2].status, 0);
    EXPECT_EQ(s[3].status, 549);
    EXPECT_EQ(s[4].kind, StepKind::kDeleteMany);
    EXPECT_EQ(s[4].db, "");  // taken from the notes when run
    EXPECT_EQ(s[4].notes, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(s[5].call, "QIXNoteCreate");
    EXPECT_EQ(s[5].count, 1u);
    EXPECT_EQ(s[5].nth, 0u);
    EXPECT_EQ(s[6].status, 65535);
    EXPECT_EQ(s[6].nth, 3u);
    EXPECT_EQ(s[7].print, PrintWhat::kEvents);
    EXPECT_EQ(s[8].print, PrintWhat::kLog);
    EXPECT_EQ(s[9].print, PrintWhat::kNotes);
    EXPECT_EQ(s[9].db, "");
    EXPECT_EQ(s[10].print, PrintWhat::kNotes);
    EXPECT_EQ(s[10].db, "a.qix");
    EXPECT_EQ(s[11].events, 2u);
    EXPECT_EQ(s[11].connector, "shop");
    EXPECT_EQ(s[11].type, "Delete");
    EXPECT_EQ(s[11].db, "a.qix");
    EXPECT_EQ(s[11].form, "Item");
    EXPECT_EQ(s[12].threads, 1u);
    EXPECT_TRUE(s[12].items.empty());
    EXPECT_FALSE(s[12].console);
    EXPECT_EQ(s[13].threads, 4u);
    EXPECT_TRUE(s[13].console);
    EXPECT_EQ(s[14].note, "one");
    EXPECT_EQ(s[14].count, kEveryCall);
    EXPECT_EQ(s[15].kind, StepKind::kStop);
    EXPECT_EQ(s[16].kind, StepKind::kExpect);
}

TEST(ScenarioReader, BadValuesAreReportedAtTheirLine) {
    struct Case {
        const char* text;
        int line;
        const char* message;
    };
    const Case cases[] = {
        {"steps:\n  - fail: {call: IDScan, status: 1, count: 2, nth: 1}\n", 2,
         "give 'count' or 'nth', not both"},
        {"steps:\n  - fail: {call: IDScan, status: 0}\n", 2,
         "'status' must be a whole number from 1 to 65535, not 0"},
        {"steps:\n  - fail: {call: IDScan, status: 5x}\n", 2, "not '5x'"},
        {"steps:\n  - fail: {call: IDScan, status: 1, count: often}\n", 2,
         "'count' (or always) must be a whole number from 1 to 1000000, not 'often'"},
        {"databases: [{path: a.qix, documents: [{as: n}]}]\nsteps:\n"
         "  - fail: {call: QIXNoteOpen, status: 1, note: n, nth: 2}\n",
         3, "'nth' does not go with 'note'"},
        {"databases: [{path: a.qix, documents: [{as: n}]}]\nsteps:\n"
         "  - fail: {call: QIXNoteClose, status: 1, note: n}\n",
         3, "'note' goes with call QIXNoteOpen only, not with 'QIXNoteClose'"},
        {"steps:\n  - fail: {call: QIXNoteOpen, status: 1, note: n}\n", 2,
         "note 'n' is not defined"},
        {"databases: [{path: a.qix}]\nsteps:\n  - load: {db: a.qix, operations: 5, threads: 0}\n",
         3, "'threads' must be a whole number from 1 to 64"},
        {"databases: [{path: a.qix, documents: [{as: n}]}]\nsteps:\n"
         "  - update: {note: n, extended: yes}\n",
         3, "'extended' must be true or false"},
        {"steps:\n  - print: everything\n", 2, "not 'everything'"},
        {"steps:\n  - expect: {events: 1, type: delete}\n", 2,
         "'type' must be Create, Update or Delete, not 'delete'"},
        {"steps:\n  - expect: {type: Delete}\n", 2, "needs the key 'events'"},
        {"databases:\n  - {path: a.qix, template: blank}\n", 2,
         "'template' must be kovaevents or none"},
        {"databases:\n  - path: a.qix\n    documents:\n      - {Form: {x: 1}}\n", 4,
         "item 'Form' must be a text, a list of texts or a number, not a map"},
        {"databases:\n  - path: a.qix\n    documents:\n      - {Due: !date 2026}\n", 4,
         "unknown tag !date"},
        {"databases:\n  - path: a.qix\n    documents:\n      - {Due: !time 2026}\n", 4,
         "a !time must read"},
        {"server:\n  separator: '|'\n", 2, "'separator' must be '/' or '\\'"},
        {"databases:\n  - path: a.qix\n    documents: [{as: n}]\nsteps:\n"
         "  - delete-many: {notes: []}\n",
         5, "'notes' must name at least one note"},
        {"databases:\n  - path: /abs.qix\n", 2, "must be relative to the data directory"},
        {"databases:\n  - path: a.qix\n  - path: b.qix\n  - path: a.qix\n", 4,
         "database 'a.qix' is listed twice (first at line 2)"},
        {"databases:\n  - {path: log.qix, template: kovaevents}\n", 2,
         "is a system database of the server"},
        {"databases:\n  - path: a.qix\n    documents: [{as: n}]\nsteps:\n"
         "  - delete-many: {notes: [n, n]}\n",
         5, "note 'n' is listed twice"},
        {"steps:\n  - start: now\n", 2, "'start' takes no arguments"},
        {"- start\n", 1, "a scenario must be a map"},
        {"databases:\n  - path: \"sales\\archive\\c.qix\"\n", 2,
         "unknown escape character: c (in double quotes a backslash starts an escape: write a "
         "text with backslashes in single quotes)"},
    };
    for (const Case& c : cases) {
        const ScenarioError error = Error(c.text);
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_NE(error.message.find(c.message), std::string::npos)
            << c.text << "\n  got: " << error.message;
        EXPECT_EQ(error.file, "t.yaml");
    }
}

TEST(ScenarioReader, NamesAreDefinedInStepOrderAndSystemDatabasesAlwaysExist) {
    // A name defined by a create step may be used after it, also when the note will be gone.
    const Scenario plan = Read(R"(
steps:
  - create: {db: log.qix, as: memo, items: {Form: Memo}}
  - delete: {note: memo}
  - delete: {note: memo}
  - print: {notes: hub.qix}
)");
    EXPECT_EQ(plan.steps.size(), 4u);
    const ScenarioError error = Error(R"(
databases:
  - path: a.qix
steps:
  - expect: {events: 0, db: b.qix}
)");
    EXPECT_EQ(error.line, 5);
    EXPECT_EQ(error.message,
              "database 'b.qix' does not exist (databases: a.qix, hub.qix, log.qix)");
    EXPECT_EQ(error.Text(), "t.yaml:5: " + error.message);
}

TEST(ScenarioReader, FileThatCannotBeReadNamesTheFile) {
    Scenario plan;
    ScenarioError error;
    EXPECT_FALSE(ReadScenarioFile("/no/such/dir/s.yaml", &plan, &error));
    EXPECT_EQ(error.Text(),
              "kovahost: /no/such/dir/s.yaml: cannot open the scenario file: No such file or "
              "directory");
    EXPECT_FALSE(ReadScenarioFile(KOVAHOST_TEST_DIR, &plan, &error));  // a directory
    EXPECT_EQ(error.line, 0);
    EXPECT_EQ(error.message, "cannot open the scenario file: Is a directory");
    EXPECT_TRUE(IsServerOperation("QIXNoteCreate"));
    EXPECT_TRUE(IsServerOperation("TAVGetLastModifiedTime"));
    EXPECT_FALSE(IsServerOperation("qixnotecreate"));
    // The installed scenarios.md lists every operation a `fail` step may name.
    std::ifstream docs(std::string(KOVAHOST_TEST_DIR) + "/../../docs/scenarios.md");
    std::ostringstream page;
    page << docs.rdbuf();
    for (const std::string& operation : ServerOperations())
        EXPECT_NE(page.str().find("`" + operation + "`"), std::string::npos) << operation;
}

}  // namespace
}  // namespace kovahost
