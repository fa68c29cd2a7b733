// The profile rules of kovahost --lint (see lint.h). Each check reads one profile document, or
// the set of them, as the add-in reads it (exact, case-sensitive, untrimmed values; entries split
// at their first colon; form names split at ";" with leading blanks skipped) and reports at most
// one finding per value, the most specific one.
#include "tools/kovahost/lint.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "base/names.h"

namespace kovahost {
namespace {

// Rule names, in the order docs/event-database.md lists them.
constexpr char kEventType[] = "event-type";
constexpr char kBlank[] = "blank";
constexpr char kConnectorId[] = "connector-id";
constexpr char kDeadTrigger[] = "dead-trigger";
constexpr char kUnknownDatabase[] = "unknown-database";
constexpr char kUnknownForm[] = "unknown-form";
constexpr char kPathSpelling[] = "path-spelling";
constexpr char kListInText[] = "list-in-text";
constexpr char kLogLevel[] = "log-level";
constexpr char kLogOutputsRule[] = "log-outputs";
constexpr char kDuplicateProfile[] = "duplicate-profile";
constexpr char kOverridden[] = "overridden-configuration";
constexpr char kNearMiss[] = "near-miss";
constexpr char kOwnDatabase[] = "own-database";
constexpr char kEventDatabaseRule[] = "event-database";
constexpr char kNoLog[] = "no-log";
constexpr char kProfileForm[] = "profile-form";

// The names the add-in reads, from its own list of them.
using kova::kConfigurationForm;
using kova::kSystemForm;
using kova::kTriggerForm;
constexpr const char* kEventDb = kova::kEventDatabase;

const std::vector<std::string> kEventTypes{kova::kEventTypeCreateText, kova::kEventTypeUpdateText,
                                           kova::kEventTypeDeleteText};
const std::vector<std::string> kLogLevels{"NONE", "ERROR", "INFO", "DEBUG"};
const std::vector<std::string> kLogOutputs{"Console", "log.qix"};
const std::vector<std::string> kProfileForms{kTriggerForm, kSystemForm, kConfigurationForm};
// The forms of the event database template.
const std::vector<std::string> kTemplateForms{kConfigurationForm, kSystemForm, kTriggerForm,
                                              kova::kEventForm};

// The items each profile form reads.
const std::map<std::string, std::vector<std::string>> kFormItems{
    {kTriggerForm,
     {kova::kFormItem, kova::kItemConnectorId, kova::kItemEventTypes,
      kova::kItemMonitoredDocuments}},
    {kSystemForm, {kova::kFormItem, kova::kItemLogLevel, kova::kItemLogOutputs}},
    {kConfigurationForm,
     {kova::kFormItem, kova::kItemConnectorId, kova::kItemEventTypes, kova::kItemDatabasePaths,
      kova::kItemLogLevel}},
};
const std::vector<std::string> kAllItems{kova::kFormItem,          kova::kItemConnectorId,
                                         kova::kItemEventTypes,    kova::kItemMonitoredDocuments,
                                         kova::kItemDatabasePaths, kova::kItemLogLevel,
                                         kova::kItemLogOutputs};

// "'text'": a value quoted exactly; a tab or line end shows escaped.
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "'";
}

std::string Lower(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Lower case without blanks, '_' and '-': what two spellings of one name share.
std::string Folded(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ' && c != '_' && c != '-' && c != '\t')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// Edits (insert, delete, replace, swap of neighbours) from a to b.
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// The known name that `text` most likely meant: equal but for case and blanks, or a few edits
// away (one for short names); empty when none is that close.
std::string NearMiss(const std::string& text, const std::vector<std::string>& known) {
    const std::string folded = Folded(text);
    if (folded.empty())
        return "";
    std::string best;
    size_t bestDistance = 3;
    for (const std::string& name : known) {
        const std::string other = Folded(name);
        const size_t limit = other.size() >= 6 ? 2 : 1;
        const size_t distance = Distance(folded, other);
        if (distance <= limit && distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
    }
    return best;
}

std::string DidYouMean(const std::string& guess) {
    return guess.empty() ? "" : " (did you mean " + Quoted(guess) + "?)";
}

std::string Trimmed(const std::string& text);

// " (blanks count; did you mean 'Update'?)" for a keyword value that is not recognised.
std::string KeywordHint(const std::string& value, const std::vector<std::string>& known) {
    std::vector<std::string> hints;
    if (value != Trimmed(value))
        hints.push_back("blanks count");
    const std::string guess = NearMiss(value, known);
    if (!guess.empty())
        hints.push_back("did you mean " + Quoted(guess) + "?");
    std::string text;
    for (const std::string& hint : hints)
        text += (text.empty() ? " (" : "; ") + hint;
    return text.empty() ? text : text + ")";
}

std::string Join(const std::vector<std::string>& names, const std::string& last) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            text += i + 1 == names.size() ? " " + last + " " : ", ";
        text += names[i];
    }
    return text;
}

std::string CommaList(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string Article(const std::string& form) {
    return form.front() == 'E' ? "an " : "a ";
}

// One item of a document as the add-in reads it.
struct Item {
    bool present = false;
    int line = 0;                      // of the item, else of the document
    std::vector<std::string> entries;  // as a text list (a text reads as one entry)
    std::vector<int> entryLines;
    std::string text;  // as a text (a list reads joined with "; ")
};

Item ItemOf(const DocumentPlan& doc, const std::string& name) {
    Item item;
    item.line = doc.line;
    for (size_t i = 0; i < doc.items.size(); ++i) {
        if (doc.items[i].first != name)
            continue;
        const qixsim::ItemValue& value = doc.items[i].second;
        const ItemLines& where = doc.lines[i];
        item.present = true;
        item.line = where.line;
        item.text = qixsim::ItemText(value);
        if (const auto* list = std::get_if<qixsim::TextList>(&value)) {
            item.entries = *list;
            item.entryLines = where.entries;
        } else {
            item.entries.push_back(item.text);
            item.entryLines.push_back(where.line);
        }
    }
    return item;
}

// The names of a form title as the filter splits it: at ";", empty names skipped, leading blanks
// skipped (a trailing blank stays part of the name).
std::vector<std::string> TitleNames(const std::string& title) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= title.size()) {
        size_t end = title.find(';', start);
        if (end == std::string::npos)
            end = title.size();
        std::string name = title.substr(start, end - start);
        name.erase(0, name.find_first_not_of(' ') == std::string::npos
                          ? name.size()
                          : name.find_first_not_of(' '));
        if (!name.empty())
            names.push_back(name);
        start = end + 1;
    }
    return names;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string BlankPlace(const std::string& text) {
    const bool front = !text.empty() && text.front() == ' ';
    const bool back = !text.empty() && text.back() == ' ';
    return front && back ? "blanks at both ends"
           : front       ? "a blank at its start"
                         : "a blank at its end";
}

class Linter {
  public:
    explicit Linter(const Scenario& plan) : plan_(plan) {
        for (const DatabasePlan& db : plan.databases) {
            std::vector<std::string> forms;
            for (const std::string& title : db.forms) {
                for (const std::string& name : TitleNames(title))
                    forms.push_back(name);
            }
            if (db.eventTemplate) {
                for (const std::string& form : kTemplateForms)
                    forms.push_back(form);
            }
            forms_[db.path] = forms;
            titles_[db.path] = db.forms;
            if (!IsSystemDatabase(db.path) && db.path != kEventDb)
                userDatabases_.push_back(db.path);
        }
    }

    std::vector<Finding> Run(size_t* profileDocuments) {
        const DatabasePlan* eventDb = nullptr;
        for (const DatabasePlan& db : plan_.databases) {
            if (db.path == kEventDb)
                eventDb = &db;
        }
        CheckProfilesElsewhere();
        if (eventDb == nullptr) {
            CheckNoEventDatabase();
            return Sorted();
        }
        std::vector<const DocumentPlan*> triggers;
        std::vector<const DocumentPlan*> systems;
        std::vector<const DocumentPlan*> configurations;
        for (const DocumentPlan& doc : eventDb->documents) {
            const std::string form = FormOf(doc);
            if (form == kTriggerForm) {
                triggers.push_back(&doc);
            } else if (form == kSystemForm) {
                systems.push_back(&doc);
            } else if (form == kConfigurationForm) {
                configurations.push_back(&doc);
            }
        }
        *profileDocuments = triggers.size() + systems.size() + configurations.size();
        if (systems.empty() && configurations.empty()) {
            Add(eventDb->line, kNoLog,
                std::string(kEventDb) + " holds no " + kSystemForm + " and no " +
                    kConfigurationForm +
                    " document: the log level is NONE and the add-in writes no log line at all, "
                    "errors included (add a " +
                    kSystemForm + " document)");
        }
        for (const DocumentPlan* doc : triggers)
            CheckTrigger(*doc);
        for (const DocumentPlan* doc : systems)
            CheckSystem(*doc);
        for (const DocumentPlan* doc : configurations)
            CheckConfiguration(*doc, triggers.empty());
        CheckDuplicates(systems, kSystemForm);
        CheckDuplicates(configurations, kConfigurationForm);
        if (!triggers.empty()) {
            for (const DocumentPlan* doc : configurations)
                CheckOverridden(*doc, *triggers.front());
        }
        return Sorted();
    }

  private:
    std::vector<Finding> Sorted() {
        std::stable_sort(findings_.begin(), findings_.end(),
                         [](const Finding& a, const Finding& b) { return a.line < b.line; });
        return findings_;
    }

    // The add-in reads its profiles from the database of that name at the top of the data
    // directory. Without it the start fails ("KOVA Inbound profile read error!") and nothing is
    // ever captured; a database of that name in a folder is an ordinary database to it.
    void CheckNoEventDatabase() {
        const std::string consequence =
            ": the add-in finds no profile, reports \"KOVA Inbound profile read error!\" at its "
            "start and captures nothing";
        for (const DatabasePlan& db : plan_.databases) {
            const size_t slash = db.path.rfind('/');
            if (slash != std::string::npos &&
                db.path.compare(slash + 1, std::string::npos, kEventDb) == 0) {
                Add(db.line, kEventDatabaseRule,
                    "the database " + Quoted(db.path) + " is not the add-in's own: it reads " +
                        Quoted(kEventDb) + " at the top of the data directory only" + consequence);
                return;
            }
        }
        Add(plan_.databases.empty() ? 1 : plan_.databases.front().line, kEventDatabaseRule,
            "no database " + Quoted(kEventDb) + " is defined" + consequence);
    }

    // Profile documents stored in any database but the add-in's own are never read.
    void CheckProfilesElsewhere() {
        for (const DatabasePlan& db : plan_.databases) {
            if (db.path == kEventDb)
                continue;
            for (const DocumentPlan& doc : db.documents) {
                const Item form = ItemOf(doc, "Form");
                if (form.present && Contains(kProfileForms, form.text)) {
                    Add(form.line, kEventDatabaseRule,
                        Article(form.text) + form.text + " document in " + Quoted(db.path) +
                            " is never read: the add-in reads profile documents from " +
                            Quoted(kEventDb) + " only");
                }
            }
        }
    }
    void Add(int line, const char* rule, const std::string& text) {
        findings_.push_back(Finding{plan_.file, line, rule, text});
    }

    // The profile form of a document, "" for any other; a near miss of a profile form name is
    // reported here.
    std::string FormOf(const DocumentPlan& doc) {
        const Item form = ItemOf(doc, "Form");
        if (!form.present)
            return "";
        if (Contains(kProfileForms, form.text))
            return form.text;
        std::vector<std::string> meant;
        const std::string guess = NearMiss(form.text, kProfileForms);
        if (!guess.empty())
            meant.push_back(Quoted(guess));
        // A shortened name ("EventTriggerConfig", "TriggerConfiguration"); the Event form of
        // the database's own documents is no shortened profile form.
        const std::string folded = Folded(form.text);
        if (meant.empty() && folded.size() >= 4 && form.text != kova::kEventForm) {
            for (const std::string& profile : kProfileForms) {
                const std::string whole = Folded(profile);
                const bool prefix = whole.compare(0, folded.size(), folded) == 0;
                const bool suffix =
                    whole.size() > folded.size() &&
                    whole.compare(whole.size() - folded.size(), folded.size(), folded) == 0;
                if (prefix || suffix)
                    meant.push_back(Quoted(profile));
            }
        }
        if (!meant.empty()) {
            Add(form.line, kProfileForm,
                "Form " + Quoted(form.text) +
                    " is no profile form, so the add-in ignores this document (did you mean " +
                    Join(meant, "or") + "?)");
        }
        return "";
    }

    // Items this form does not read that are, or nearly are, items some profile form reads.
    void CheckItemNames(const DocumentPlan& doc, const std::string& form) {
        const std::vector<std::string>& own = kFormItems.at(form);
        for (size_t i = 0; i < doc.items.size(); ++i) {
            const std::string& name = doc.items[i].first;
            if (Contains(own, name))
                continue;
            const std::string text =
                "item " + Quoted(name) + " is not read in " + Article(form) + form + " document";
            const std::string guess = NearMiss(name, own);
            if (!guess.empty()) {
                Add(doc.lines[i].line, kNearMiss, text + DidYouMean(guess));
                continue;
            }
            std::vector<std::string> readers;
            for (const auto& entry : kFormItems) {
                if (Contains(entry.second, name))
                    readers.push_back(entry.first);
            }
            if (!readers.empty()) {
                Add(doc.lines[i].line, kNearMiss,
                    text + " (only " + Join(readers, "and") + " documents read it)");
                continue;
            }
            const std::string other = NearMiss(name, kAllItems);
            if (!other.empty())
                Add(doc.lines[i].line, kNearMiss, text + DidYouMean(other));
        }
    }

    void CheckConnectorId(const DocumentPlan& doc) {
        const Item id = ItemOf(doc, "ConnectorId");
        if (!id.present) {
            Add(doc.line, kConnectorId,
                "ConnectorId is missing: the Event documents for this trigger carry an empty "
                "connector id");
        } else if (id.text.empty()) {
            Add(id.line, kConnectorId,
                "ConnectorId is empty: the Event documents for this trigger carry an empty "
                "connector id");
        } else if (Trimmed(id.text).empty()) {
            Add(id.line, kConnectorId,
                "ConnectorId " + Quoted(id.text) +
                    " holds only blanks: the Event documents for this trigger carry it as written");
        } else if (id.text != Trimmed(id.text)) {
            Add(id.line, kBlank,
                "ConnectorId " + Quoted(id.text) + " has " + BlankPlace(id.text) +
                    ", which counts: the Event documents for this trigger carry it as written");
        }
    }

    // A value that names several values in one text ("Create, Update"): the parts when each
    // of them is one of `known`, else empty.
    static std::vector<std::string> ListParts(const std::string& text,
                                              const std::vector<std::string>& known) {
        if (text.find_first_of(",;") == std::string::npos)
            return {};
        std::vector<std::string> parts;
        size_t start = 0;
        for (;;) {
            const size_t end = text.find_first_of(",;", start);
            const std::string part =
                Trimmed(text.substr(start, end == std::string::npos ? end : end - start));
            if (!part.empty()) {
                if (!Contains(known, part))
                    return {};
                parts.push_back(part);
            }
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        return parts.size() > 1 ? parts : std::vector<std::string>{};
    }

    // Each entry of a keyword list ("EventTypes", "LogOutputs"): a keyword, several keywords in
    // one text (`listNamesParts`: the warning lists them), or a value the add-in ignores, which is
    // reported under `rule` as not being `expected`. Answers whether one entry is a keyword.
    bool CheckKeywordEntries(const Item& item, const std::string& name,
                             const std::vector<std::string>& keywords, const char* rule,
                             const std::string& expected, bool listNamesParts) {
        bool any = false;
        for (size_t i = 0; i < item.entries.size(); ++i) {
            const std::string& entry = item.entries[i];
            if (Contains(keywords, entry)) {
                any = true;
                continue;
            }
            const std::vector<std::string> parts = ListParts(entry, keywords);
            if (!parts.empty()) {
                Add(item.entryLines[i], kListInText,
                    name + " entry " + Quoted(entry) +
                        " holds several values in one text: it is ignored; write one entry each" +
                        (listNamesParts ? " ([" + CommaList(parts) + "])" : ""));
                continue;
            }
            Add(item.entryLines[i], rule,
                name + " entry " + Quoted(entry) + " is not " + expected + ": it is ignored" +
                    KeywordHint(entry, keywords));
        }
        return any;
    }

    // Each entry of "EventTypes"; answers whether one of them is recognised.
    bool CheckEventTypes(const DocumentPlan& doc) {
        return CheckKeywordEntries(ItemOf(doc, "EventTypes"), "EventTypes", kEventTypes, kEventType,
                                   "Create, Update or Delete", true);
    }

    // A database path as an entry names it (backslashes already slashes). Answers the defined
    // database it names, or "" after reporting why it names none. `entry` is the whole entry as
    // written, `item` its item name.
    std::string CheckPath(const std::string& path, const std::string& entry,
                          const std::string& item, int line) {
        const std::string what = item + " entry " + Quoted(entry);
        if (path == kEventDb) {
            Add(line, kOwnDatabase,
                what +
                    " names the add-in's own database: every Event document the connector "
                    "deletes would become a new Event document (a feedback loop)");
            return "";
        }
        if (IsSystemDatabase(path)) {
            Add(line, kOwnDatabase,
                what + " names " + Quoted(path) +
                    ", a system database of the server, whose changes are never monitored");
            return "";
        }
        if (forms_.count(path) != 0)
            return path;
        if (Trimmed(path).empty()) {
            Add(line, kUnknownDatabase, what + " has an empty path: it names no database");
            return "";
        }
        if (path != Trimmed(path) && forms_.count(Trimmed(path)) != 0) {
            Add(line, kBlank,
                what + ": the path " + Quoted(path) + " has " + BlankPlace(path) +
                    ", which counts: it names no database");
            return "";
        }
        if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
            path[1] == ':' && path[2] == '/') {
            Add(line, kPathSpelling,
                what +
                    " starts with a drive letter: name the database relative to the data "
                    "directory" +
                    Suggestion(path.substr(3)));
            return "";
        }
        std::string why;
        if (path.rfind("./", 0) == 0) {
            why = " starts with './'";
        } else if (path.front() == '/') {
            why = " starts with '/'";
        } else if (path.find("//") != std::string::npos) {
            why = " has a doubled separator";
        }
        if (!why.empty()) {
            Add(line, kPathSpelling,
                what + why +
                    ": the server names databases relative to its data directory, "
                    "with single separators" +
                    Suggestion(path));
            return "";
        }
        for (const std::string& db : userDatabases_) {
            if (Lower(db) == Lower(path)) {
                Add(line, kPathSpelling,
                    what + ": the path " + Quoted(path) +
                        " differs in letter case from the database " + Quoted(db) +
                        "; the comparison is case-sensitive");
                return "";
            }
        }
        const std::vector<std::string> parts = ListParts(path, userDatabases_);
        if (!parts.empty()) {
            Add(line, kListInText,
                what +
                    " holds several paths in one text: it names no database; write one entry "
                    "each");
            return "";
        }
        const std::string guess = NearMiss(path, userDatabases_);
        Add(line, kUnknownDatabase,
            what + " names no database of this scenario" +
                (guess.empty() ? " (databases: " + Join(userDatabases_, "and") + ")"
                               : DidYouMean(guess)));
        return "";
    }

    // "; the server names it 'shop/items.qix'" when a cleaned-up path names a defined database.
    std::string Suggestion(const std::string& path) const {
        std::string clean = path;
        while (clean.rfind("./", 0) == 0)
            clean.erase(0, 2);
        for (size_t at; (at = clean.find("//")) != std::string::npos;)
            clean.erase(at, 1);
        for (const std::string& db : userDatabases_) {
            const std::string tail = "/" + db;
            const bool suffix = clean.size() > tail.size() &&
                                clean.compare(clean.size() - tail.size(), tail.size(), tail) == 0;
            if (clean == db || suffix || ("/" + clean) == tail)
                return " (the server names it " + Quoted(db) + ")";
        }
        return "";
    }

    void CheckFormPart(const std::string& db, const std::string& form, const std::string& entry,
                       int line) {
        const std::string what = "MonitoredDocuments entry " + Quoted(entry);
        if (form.empty()) {
            Add(line, kUnknownForm, what + " ends in a colon: its empty form part never matches");
            return;
        }
        const std::vector<std::string>& names = forms_.at(db);
        const std::string wanted = form.substr(std::min(form.find_first_not_of(' '), form.size()));
        if (Contains(names, wanted))
            return;
        for (const std::string& name : names) {
            if (Trimmed(name) != Trimmed(wanted))
                continue;
            if (wanted == Trimmed(wanted)) {  // the blank is the form title's
                Add(line, kBlank,
                    what + ": the form title " + Quoted(TitleOf(db, name)) + " of " + db +
                        " names the form " + Quoted(name) + ", with " + BlankPlace(name) +
                        ", which counts: the form part " + Quoted(form) +
                        " does not match it; remove the blank from the title");
            } else {
                Add(line, kBlank,
                    what + ": the form part " + Quoted(form) + " has " + BlankPlace(form) +
                        ", which counts: it matches no form name of " + db);
            }
            return;
        }
        // The whole title, blanks around its names aside: the names are what the entry wants.
        const auto trimmedNames = [](const std::string& text) {
            std::vector<std::string> parts = TitleNames(text);
            for (std::string& part : parts)
                part = Trimmed(part);
            return parts;
        };
        for (const std::string& title : titles_.at(db)) {
            const std::vector<std::string> titleNames = TitleNames(title);
            if (titleNames.size() > 1 && trimmedNames(wanted) == trimmedNames(title)) {
                std::vector<std::string> quoted;
                for (const std::string& name : titleNames)
                    quoted.push_back(Quoted(name));
                Add(line, kUnknownForm,
                    what + ": the form part " + Quoted(form) + " is the whole form title of " + db +
                        ": a form part is one of its names, " + Join(quoted, "or") +
                        " (one entry each)");
                return;
            }
        }
        for (const std::string& name : names) {
            if (Lower(name) == Lower(wanted)) {
                Add(line, kUnknownForm,
                    what + ": the form part " + Quoted(form) +
                        " differs in letter case from the form name " + Quoted(name) +
                        "; the comparison is case-sensitive");
                return;
            }
        }
        std::string known;
        for (const std::string& title : titles_.at(db))
            known += (known.empty() ? "" : ", ") + Quoted(title);
        const std::string guess = NearMiss(wanted, names);
        Add(line, kUnknownForm,
            what + ": the form part " + Quoted(form) + " is no form name or alias of " + db +
                (known.empty()   ? " (it defines no form)"
                 : guess.empty() ? " (forms: " + known + ")"
                                 : DidYouMean(guess)));
    }

    // The title as written that names `name`, for a form of `db`.
    std::string TitleOf(const std::string& db, const std::string& name) const {
        for (const std::string& title : titles_.at(db)) {
            if (Contains(TitleNames(title), name))
                return title;
        }
        return name;
    }

    void CheckTrigger(const DocumentPlan& doc) {
        CheckItemNames(doc, kTriggerForm);
        CheckConnectorId(doc);
        const bool anyType = CheckEventTypes(doc);
        const Item monitored = ItemOf(doc, "MonitoredDocuments");
        for (size_t i = 0; i < monitored.entries.size(); ++i) {
            std::string entry = monitored.entries[i];
            std::string normal = entry;
            std::replace(normal.begin(), normal.end(), '\\', '/');
            const size_t colon = normal.find(':');
            const int line = monitored.entryLines[i];
            if (colon == 1 && std::isalpha(static_cast<unsigned char>(normal[0])) &&
                normal.size() > 2 && normal[2] == '/') {
                Add(line, kPathSpelling,
                    "MonitoredDocuments entry " + Quoted(entry) +
                        " starts with a drive letter: the entry is split at its first colon "
                        "into the path " +
                        Quoted(normal.substr(0, 1)) + " and the form part " +
                        Quoted(entry.substr(2)) +
                        "; name the database relative to the data directory" +
                        Suggestion(normal.substr(3)));
                continue;
            }
            const std::string path = normal.substr(0, colon);
            const std::string db = CheckPath(path, entry, "MonitoredDocuments", line);
            if (!db.empty() && colon != std::string::npos)
                CheckFormPart(db, normal.substr(colon + 1), entry, line);
        }
        const std::string who =
            "the trigger for connector " + Quoted(ItemOf(doc, "ConnectorId").text);
        if (monitored.entries.empty()) {
            Add(monitored.line, kDeadTrigger,
                who + " can never act: MonitoredDocuments has no entry");
        } else if (!anyType) {
            Add(ItemOf(doc, "EventTypes").line, kDeadTrigger,
                who + " can never act: EventTypes has none of Create, Update or Delete");
        }
    }

    void CheckLogLevel(const DocumentPlan& doc) {
        const Item level = ItemOf(doc, "LogLevel");
        if (!level.present || Contains(kLogLevels, level.text))
            return;
        Add(level.line, kLogLevel,
            "LogLevel " + Quoted(level.text) +
                " is not NONE, ERROR, INFO or DEBUG: the log level becomes ERROR" +
                KeywordHint(level.text, kLogLevels));
    }

    void CheckSystem(const DocumentPlan& doc) {
        CheckItemNames(doc, kSystemForm);
        CheckLogLevel(doc);
        const Item outputs = ItemOf(doc, "LogOutputs");
        const bool any = CheckKeywordEntries(outputs, "LogOutputs", kLogOutputs, kLogOutputsRule,
                                             "Console or log.qix", false);
        if (!any && ItemOf(doc, "LogLevel").text != "NONE") {
            Add(outputs.line, kLogOutputsRule,
                std::string(outputs.present ? "LogOutputs has no entry Console or log.qix"
                                            : "LogOutputs is missing") +
                    ": every log output is off and the add-in writes no log line at all");
        }
    }

    void CheckConfiguration(const DocumentPlan& doc, bool inForce) {
        CheckItemNames(doc, kConfigurationForm);
        CheckConnectorId(doc);
        CheckLogLevel(doc);
        const bool anyType = CheckEventTypes(doc);
        const Item paths = ItemOf(doc, "DatabasePaths");
        for (size_t i = 0; i < paths.entries.size(); ++i) {
            std::string normal = paths.entries[i];
            std::replace(normal.begin(), normal.end(), '\\', '/');
            CheckPath(normal, paths.entries[i], "DatabasePaths", paths.entryLines[i]);
        }
        if (!inForce)
            return;
        const std::string who =
            "the Configuration trigger for connector " + Quoted(ItemOf(doc, "ConnectorId").text);
        if (paths.entries.empty()) {
            Add(paths.line, kDeadTrigger, who + " can never act: DatabasePaths has no entry");
        } else if (!anyType) {
            Add(ItemOf(doc, "EventTypes").line, kDeadTrigger,
                who + " can never act: EventTypes has none of Create, Update or Delete");
        }
    }

    void CheckDuplicates(const std::vector<const DocumentPlan*>& docs, const std::string& form) {
        for (size_t i = 1; i < docs.size(); ++i) {
            Add(docs[i]->line, kDuplicateProfile,
                "another " + form + " document (the first is at line " +
                    std::to_string(docs.front()->line) +
                    "): only one is in force, and the server's search order decides which");
        }
    }

    void CheckOverridden(const DocumentPlan& doc, const DocumentPlan& trigger) {
        const Item paths = ItemOf(doc, "DatabasePaths");
        std::string lost;
        for (const std::string& path : paths.entries)
            lost += (lost.empty() ? "" : ", ") + Quoted(path);
        Add(doc.line, kOverridden,
            "this Configuration document is overridden by the EventTriggerConfiguration "
            "documents (the first is at line " +
                std::to_string(trigger.line) + "): " +
                (lost.empty() ? std::string("its trigger settings are ignored")
                              : "it no longer monitors " + lost + " for connector " +
                                    Quoted(ItemOf(doc, "ConnectorId").text)));
    }

    const Scenario& plan_;
    std::map<std::string, std::vector<std::string>> forms_;   // database -> form names
    std::map<std::string, std::vector<std::string>> titles_;  // database -> titles as written
    std::vector<std::string> userDatabases_;
    std::vector<Finding> findings_;
};

}  // namespace

std::vector<Finding> LintScenario(const Scenario& plan, size_t* profileDocuments) {
    size_t count = 0;
    std::vector<Finding> findings = Linter(plan).Run(&count);
    if (profileDocuments != nullptr)
        *profileDocuments = count;
    return findings;
}

std::string FindingText(const Finding& finding) {
    return finding.file + ":" + std::to_string(finding.line) + ": warning: " + finding.text + " [" +
           finding.rule + "]";
}

Json FindingJson(const Finding& finding) {
    return Json{{"file", finding.file},
                {"line", finding.line},
                {"rule", finding.rule},
                {"warning", finding.text}};
}

const std::vector<std::string>& LintRules() {
    static const std::vector<std::string> rules{
        kEventType,       kBlank,          kConnectorId,       kDeadTrigger,
        kUnknownDatabase, kUnknownForm,    kPathSpelling,      kListInText,
        kLogLevel,        kLogOutputsRule, kDuplicateProfile,  kOverridden,
        kNearMiss,        kOwnDatabase,    kEventDatabaseRule, kNoLog,
        kProfileForm};
    return rules;
}

}  // namespace kovahost
