// Reads a scenario file into a plan: the YAML syntax (yaml-cpp), the keys each part may have and
// the value of each key, stopping at the first thing wrong with its line. Cross-references (note
// names, databases, step order) are checked afterwards by scenario_check.cpp.
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "tools/kovahost/scenario_reader.h"

namespace kovahost {
namespace {

int LineOf(const YAML::Node& node) {
    return node.Mark().line + 1;
}

[[noreturn]] void Fail(const YAML::Node& node, const std::string& message) {
    throw ScenarioError{"", LineOf(node), message};
}

std::string Join(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The values of a map whose keys were checked: each one known, none given twice.
class Fields {
  public:
    Fields(const YAML::Node& node, const std::vector<std::string>& known, const std::string& what)
        : node_(node), what_(what) {
        if (!node.IsMap()) {
            Fail(node, what + " must be a map with the keys " + Join(known));
        }
        for (const auto& entry : node) {
            if (!entry.first.IsScalar())
                Fail(entry.first, "a key of " + what + " must be a name");
            const std::string key = entry.first.Scalar();
            if (std::find(known.begin(), known.end(), key) == known.end()) {
                Fail(entry.first,
                     "unknown key '" + key + "' in " + what + " (known keys: " + Join(known) + ")");
            }
            if (!values_.emplace(key, entry.second).second) {
                Fail(entry.first, "key '" + key + "' is given twice in " + what);
            }
        }
    }

    const YAML::Node* Find(const std::string& key) const {
        auto it = values_.find(key);
        return it == values_.end() ? nullptr : &it->second;
    }
    const YAML::Node& Require(const std::string& key) const {
        const YAML::Node* value = Find(key);
        if (value == nullptr)
            Fail(node_, what_ + " needs the key '" + key + "'");
        return *value;
    }

  private:
    YAML::Node node_;
    std::string what_;
    std::map<std::string, YAML::Node> values_;
};

std::string Text(const YAML::Node& node, const std::string& what) {
    if (!node.IsScalar())
        Fail(node, what + " must be a text");
    return node.Scalar();
}

// A whole number written in decimal or as 0x and hexadecimal digits, within [min, max].
uint32_t Whole(const YAML::Node& node, const std::string& what, uint32_t min, uint32_t max) {
    const std::string range =
        " must be a whole number from " + std::to_string(min) + " to " + std::to_string(max);
    if (!node.IsScalar())
        Fail(node, what + range);
    const std::string& text = node.Scalar();
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.size() > 10 ||
        digits.find_first_not_of(allowed) != std::string::npos) {
        Fail(node, what + range + ", not '" + text + "'");
    }
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (value < min || value > max)
        Fail(node, what + range + ", not " + text);
    return static_cast<uint32_t>(value);
}

bool Flag(const YAML::Node& node, const std::string& what) {
    if (node.IsScalar() && node.Scalar() == "true")
        return true;
    if (node.IsScalar() && node.Scalar() == "false")
        return false;
    Fail(node, what + " must be true or false");
}

// A database path as scenarios write it: relative to the data directory, with '/'.
std::string DbPath(const YAML::Node& node, const std::string& what) {
    const std::string path = Text(node, what);
    if (path.empty())
        Fail(node, what + " must not be empty");
    if (path.find('\\') != std::string::npos) {
        Fail(node, what +
                       " must be written with '/' (the server reports paths with its own "
                       "separator), not '" +
                       path + "'");
    }
    if (path.front() == '/') {
        Fail(node, what + " must be relative to the data directory, not '" + path + "'");
    }
    return path;
}

// A plain (unquoted) scalar that reads as a decimal number: sign, digits, fraction, exponent.
bool LooksLikeNumber(const std::string& text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    size_t digits = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        ++digits;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+'))
            ++i;
        size_t exponent = 0;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            ++exponent;
        }
        if (exponent == 0)
            return false;
    }
    return i == text.size() && std::isfinite(std::strtod(text.c_str(), nullptr));
}

// An item value: a text, a list of texts, a number (a plain scalar that reads as one) or a time
// (tagged !time).
qixsim::ItemValue ItemValueOf(const YAML::Node& node, const std::string& item) {
    const std::string what = "item '" + item + "'";
    if (node.IsNull())
        Fail(node, what + " has no value (write '' for an empty text)");
    if (node.IsMap())
        Fail(node, what + " must be a text, a list of texts or a number, not a map");
    if (node.IsSequence()) {
        qixsim::TextList list;
        for (const YAML::Node& entry : node) {
            if (!entry.IsScalar())
                Fail(entry, "each entry of " + what + " must be a text");
            list.push_back(entry.Scalar());
        }
        return list;
    }
    const std::string& tag = node.Tag();
    if (tag == "!time") {
        TIMEDATE time{};
        if (!qixsim::ParseTime(node.Scalar(), &time)) {
            Fail(node,
                 what + ": a !time must read 'YYYY-MM-DD HH:MM:SS', not '" + node.Scalar() + "'");
        }
        return time;
    }
    if (tag != "?" && tag != "!")
        Fail(node, what + " has the unknown tag " + tag + " (known: !time)");
    if (tag == "?" && LooksLikeNumber(node.Scalar()))
        return std::strtod(node.Scalar().c_str(), nullptr);
    return node.Scalar();
}

// The items of a map in their written order. With `name` given, the key "as" is the note's name
// instead of an item. With `lines` given, it takes where each item was written.
qixsim::Items ItemsOf(const YAML::Node& node, const std::string& what, std::string* name,
                      std::vector<ItemLines>* lines = nullptr) {
    if (!node.IsMap())
        Fail(node, what + " must be a map of item names to values");
    qixsim::Items items;
    std::set<std::string> seen;
    for (const auto& entry : node) {
        if (!entry.first.IsScalar() || entry.first.Scalar().empty()) {
            Fail(entry.first, "an item name in " + what + " must be a non-empty text");
        }
        const std::string key = entry.first.Scalar();
        if (!seen.insert(key).second)
            Fail(entry.first, "item '" + key + "' is given twice in " + what);
        if (name != nullptr && key == "as") {
            *name = Text(entry.second, "'as' (the name of the note)");
            if (name->empty())
                Fail(entry.second, "'as' must not be empty");
            continue;
        }
        items.emplace_back(key, ItemValueOf(entry.second, key));
        if (lines != nullptr) {
            ItemLines where{LineOf(entry.first), {}};
            if (entry.second.IsSequence()) {
                for (const YAML::Node& listEntry : entry.second)
                    where.entries.push_back(LineOf(listEntry));
            }
            lines->push_back(std::move(where));
        }
    }
    return items;
}

std::vector<std::string> TextsOf(const YAML::Node& node, const std::string& what) {
    if (!node.IsSequence())
        Fail(node, what + " must be a list");
    std::vector<std::string> texts;
    for (const YAML::Node& entry : node)
        texts.push_back(Text(entry, "each entry of " + what));
    return texts;
}

// ---- Server and databases -----------------------------------------------------------------

void ReadServer(const YAML::Node& node, Scenario& plan) {
    if (node.IsNull())
        return;
    Fields fields(node, {"clock", "separator"}, "'server'");
    if (const YAML::Node* clock = fields.Find("clock")) {
        plan.clockText = Text(*clock, "'clock'");
        if (!qixsim::ParseTime(plan.clockText, &plan.clock)) {
            Fail(*clock,
                 "'clock' must read 'YYYY-MM-DD HH:MM:SS' (UTC), not '" + plan.clockText + "'");
        }
        plan.fixedClock = true;
    }
    if (const YAML::Node* separator = fields.Find("separator")) {
        const std::string text = Text(*separator, "'separator'");
        if (text != "/" && text != "\\")
            Fail(*separator, "'separator' must be '/' or '\\'");
        plan.separator = text[0];
    }
}

DatabasePlan ReadDatabase(const YAML::Node& node) {
    Fields fields(node, {"path", "template", "forms", "documents"}, "a database");
    DatabasePlan db;
    db.line = LineOf(node);
    db.path = DbPath(fields.Require("path"), "'path'");
    db.eventTemplate = db.path == "kovaevents.qix";
    if (const YAML::Node* templ = fields.Find("template")) {
        const std::string name = Text(*templ, "'template'");
        if (name != "kovaevents" && name != "none") {
            Fail(*templ, "'template' must be kovaevents or none, not '" + name + "'");
        }
        db.eventTemplate = name == "kovaevents";
    }
    if (const YAML::Node* forms = fields.Find("forms"))
        db.forms = TextsOf(*forms, "'forms'");
    if (const YAML::Node* documents = fields.Find("documents")) {
        if (!documents->IsSequence())
            Fail(*documents, "'documents' must be a list");
        for (const YAML::Node& doc : *documents) {
            DocumentPlan plan;
            plan.line = LineOf(doc);
            plan.items = ItemsOf(doc, "a document", &plan.name, &plan.lines);
            db.documents.push_back(std::move(plan));
        }
    }
    return db;
}

// ---- Steps --------------------------------------------------------------------------------

STATUS HostStatus(const Fields& fields) {
    const YAML::Node* status = fields.Find("status");
    return status == nullptr ? 0 : static_cast<STATUS>(Whole(*status, "'status'", 0, 0xFFFF));
}

bool Extended(const Fields& fields) {
    const YAML::Node* extended = fields.Find("extended");
    return extended != nullptr && Flag(*extended, "'extended'");
}

qixsim::Items Items(const Fields& fields) {
    const YAML::Node* items = fields.Find("items");
    return items == nullptr ? qixsim::Items{} : ItemsOf(*items, "'items'", nullptr);
}

void ReadNothing(const YAML::Node& node, Step& step) {
    if (!node.IsNull() && !(node.IsMap() && node.size() == 0)) {
        Fail(node, std::string("'") + StepKindName(step.kind) + "' takes no arguments");
    }
}

void ReadCreate(const YAML::Node& node, Step& step) {
    Fields fields(node, {"db", "as", "items", "extended", "status"}, "a 'create' step");
    step.db = DbPath(fields.Require("db"), "'db'");
    if (const YAML::Node* as = fields.Find("as")) {
        step.note = Text(*as, "'as' (the name of the note)");
        if (step.note.empty())
            Fail(*as, "'as' must not be empty");
    }
    step.items = Items(fields);
    step.extended = Extended(fields);
    step.status = HostStatus(fields);
}

void ReadUpdate(const YAML::Node& node, Step& step) {
    Fields fields(node, {"note", "items", "extended", "status"}, "an 'update' step");
    step.note = Text(fields.Require("note"), "'note'");
    step.items = Items(fields);
    step.extended = Extended(fields);
    step.status = HostStatus(fields);
}

void ReadDelete(const YAML::Node& node, Step& step) {
    Fields fields(node, {"note", "status"}, "a 'delete' step");
    step.note = Text(fields.Require("note"), "'note'");
    step.status = HostStatus(fields);
}

void ReadDeleteMany(const YAML::Node& node, Step& step) {
    Fields fields(node, {"db", "notes", "status"}, "a 'delete-many' step");
    if (const YAML::Node* db = fields.Find("db"))
        step.db = DbPath(*db, "'db'");
    const YAML::Node& notes = fields.Require("notes");
    step.notes = TextsOf(notes, "'notes'");
    if (step.notes.empty())
        Fail(notes, "'notes' must name at least one note");
    step.status = HostStatus(fields);
}

void ReadFail(const YAML::Node& node, Step& step) {
    Fields fields(node, {"call", "status", "count", "nth", "note"}, "a 'fail' step");
    step.call = Text(fields.Require("call"), "'call'");
    step.status = static_cast<STATUS>(Whole(fields.Require("status"), "'status'", 1, 0xFFFF));
    const YAML::Node* count = fields.Find("count");
    const YAML::Node* nth = fields.Find("nth");
    const YAML::Node* note = fields.Find("note");
    if (count != nullptr && nth != nullptr)
        Fail(*nth, "give 'count' or 'nth', not both");
    if (note != nullptr && nth != nullptr)
        Fail(*nth, "'nth' does not go with 'note' (give 'count' or nothing)");
    if (count != nullptr && count->IsScalar() && count->Scalar() == "always") {
        step.count = kEveryCall;
    } else if (count != nullptr) {
        step.count = Whole(*count, "'count' (or always)", 1, 1000000);
    }
    if (nth != nullptr)
        step.nth = Whole(*nth, "'nth'", 1, 1000000);
    if (note != nullptr)
        step.note = Text(*note, "'note'");
}

void ReadPrint(const YAML::Node& node, Step& step) {
    const char* const usage = "'print' takes events, log, notes or {notes: DATABASE}";
    if (node.IsScalar()) {
        const std::string& what = node.Scalar();
        if (what == "events") {
            step.print = PrintWhat::kEvents;
        } else if (what == "log") {
            step.print = PrintWhat::kLog;
        } else if (what == "notes") {
            step.print = PrintWhat::kNotes;
        } else {
            Fail(node, std::string(usage) + ", not '" + what + "'");
        }
        return;
    }
    if (!node.IsMap())
        Fail(node, usage);
    Fields fields(node, {"notes"}, "a 'print' step");
    step.print = PrintWhat::kNotes;
    step.db = DbPath(fields.Require("notes"), "'notes'");
}

void ReadExpect(const YAML::Node& node, Step& step) {
    Fields fields(node, {"events", "connector", "type", "db", "form"}, "an 'expect' step");
    step.events = Whole(fields.Require("events"), "'events'", 0, 100000000);
    if (const YAML::Node* connector = fields.Find("connector")) {
        step.connector = Text(*connector, "'connector'");
    }
    if (const YAML::Node* type = fields.Find("type")) {
        step.type = Text(*type, "'type'");
        if (step.type != "Create" && step.type != "Update" && step.type != "Delete") {
            Fail(*type, "'type' must be Create, Update or Delete, not '" + step.type + "'");
        }
    }
    if (const YAML::Node* db = fields.Find("db"))
        step.db = DbPath(*db, "'db'");
    if (const YAML::Node* form = fields.Find("form"))
        step.form = Text(*form, "'form'");
}

void ReadLoad(const YAML::Node& node, Step& step) {
    Fields fields(node, {"db", "operations", "threads", "items", "console"}, "a 'load' step");
    step.db = DbPath(fields.Require("db"), "'db'");
    step.operations = Whole(fields.Require("operations"), "'operations'", 1, 10000000);
    if (const YAML::Node* threads = fields.Find("threads")) {
        step.threads = Whole(*threads, "'threads'", 1, 64);
    }
    step.items = Items(fields);
    if (const YAML::Node* console = fields.Find("console"))
        step.console = Flag(*console, "'console'");
}

using StepReader = void (*)(const YAML::Node&, Step&);

struct StepRow {
    StepKind kind;
    StepReader read;
};

// Every step kind and its reader; the names come from StepKindName.
constexpr StepRow kStepRows[] = {
    {StepKind::kStart, ReadNothing},
    {StepKind::kCreate, ReadCreate},
    {StepKind::kUpdate, ReadUpdate},
    {StepKind::kDelete, ReadDelete},
    {StepKind::kDeleteMany, ReadDeleteMany},
    {StepKind::kFail, ReadFail},
    {StepKind::kPrint, ReadPrint},
    {StepKind::kExpect, ReadExpect},
    {StepKind::kLoad, ReadLoad},
    {StepKind::kStop, ReadNothing},
};

Step ReadStep(const YAML::Node& node) {
    YAML::Node name;
    YAML::Node arguments;
    if (node.IsScalar()) {
        name = node;
    } else if (node.IsMap() && node.size() == 1) {
        name = node.begin()->first;
        arguments = node.begin()->second;
    } else if (node.IsMap()) {
        std::vector<std::string> keys;
        for (const auto& entry : node) {
            keys.push_back(entry.first.IsScalar() ? entry.first.Scalar() : std::string("?"));
        }
        Fail(node, "a step has one step name, this one has " + std::to_string(keys.size()) + " (" +
                       Join(keys) +
                       "): indent the arguments under the step name, or write them in braces "
                       "('- delete: {note: lamp}')");
    } else {
        Fail(node,
             "a step is a step name ('- start') or one step name with its arguments "
             "('- delete: {note: lamp}')");
    }
    std::vector<std::string> names;
    for (const StepRow& row : kStepRows) {
        names.emplace_back(StepKindName(row.kind));
        if (name.IsScalar() && name.Scalar() == StepKindName(row.kind)) {
            Step step;
            step.kind = row.kind;
            step.line = LineOf(name);
            if (row.read != ReadNothing && (!arguments || arguments.IsNull())) {
                Fail(name, "'" + name.Scalar() + "' needs arguments: write '- " + name.Scalar() +
                               ": {...}' (see docs/scenarios.md)");
            }
            row.read(arguments, step);
            return step;
        }
    }
    Fail(name, "unknown step '" + (name.IsScalar() ? name.Scalar() : std::string("?")) +
                   "' (steps: " + Join(names) + ")");
}

Scenario ReadPlan(const YAML::Node& root) {
    if (root.IsNull())
        throw ScenarioError{"", 0, "the scenario is empty"};
    Fields top(root, {"server", "databases", "steps"}, "a scenario");
    Scenario plan;
    if (const YAML::Node* server = top.Find("server"))
        ReadServer(*server, plan);
    if (const YAML::Node* databases = top.Find("databases")) {
        if (!databases->IsNull()) {
            if (!databases->IsSequence())
                Fail(*databases, "'databases' must be a list");
            for (const YAML::Node& db : *databases)
                plan.databases.push_back(ReadDatabase(db));
        }
    }
    if (const YAML::Node* steps = top.Find("steps")) {
        if (!steps->IsNull()) {
            if (!steps->IsSequence())
                Fail(*steps, "'steps' must be a list");
            for (const YAML::Node& step : *steps)
                plan.steps.push_back(ReadStep(step));
        }
    }
    return plan;
}

}  // namespace

std::string ScenarioError::Text() const {
    if (unopened)
        return "kovahost: " + file + ": " + message;
    if (line > 0)
        return file + ":" + std::to_string(line) + ": " + message;
    return file + ": " + message;
}

bool ReadScenarioText(const std::string& text, const std::string& file, Scenario* plan,
                      ScenarioError* error) {
    try {
        YAML::Node root;
        try {
            root = YAML::Load(text);
        } catch (const YAML::ParserException& e) {
            // A Windows path in double quotes ("sales\archive") is the usual cause.
            const bool escape = e.msg.rfind(YAML::ErrorMsg::INVALID_ESCAPE, 0) == 0;
            throw ScenarioError{"", e.mark.line + 1,
                                "malformed YAML: " + e.msg +
                                    (escape ? " (in double quotes a backslash starts an escape: "
                                              "write a text with backslashes in single quotes)"
                                            : "")};
        }
        Scenario read = ReadPlan(root);
        read.file = file;
        CheckScenario(read);
        *plan = std::move(read);
        return true;
    } catch (ScenarioError& e) {
        e.file = file;
        *error = std::move(e);
    } catch (const YAML::Exception& e) {
        *error = ScenarioError{file, e.mark.line + 1, "unreadable YAML: " + e.msg};
    }
    return false;
}

bool ReadScenarioFile(const std::string& path, Scenario* plan, ScenarioError* error) {
    const auto unopened = [&](int code) {
        *error = ScenarioError{
            path, 0, std::string("cannot open the scenario file: ") + std::strerror(code)};
        error->unopened = true;
        return false;
    };
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        return unopened(EISDIR);
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
    if (in == nullptr)
        return unopened(errno != 0 ? errno : ENOENT);
    std::string text;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in.get())) > 0;)
        text.append(chunk, n);
    if (std::ferror(in.get()) != 0)
        return unopened(EIO);
    return ReadScenarioText(text, path, plan, error);
}

}  // namespace kovahost
