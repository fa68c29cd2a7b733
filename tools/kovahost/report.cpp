// The print and expect steps' views of the stand-in server (see report.h).
#include "tools/kovahost/report.h"

#include <map>
#include <tuple>

#include "tools/kovahost/records.h"

namespace kovahost {
namespace {

const char kEventDb[] = "kovaevents.qix";

std::vector<qixsim::NoteInfo> EventDocuments() {
    return qixsim::ListDocuments(kEventDb, "Event");
}

bool Matches(const Step& step, const qixsim::NoteInfo& event) {
    return (step.connector.empty() || ItemOf(event, "ConnectorId") == step.connector) &&
           (step.type.empty() || ItemOf(event, "EventType") == step.type) &&
           (step.db.empty() || ItemOf(event, "DBPath") == step.db) &&
           (step.form.empty() || ItemOf(event, "FormName") == step.form);
}

Json Filters(const Step& step) {
    Json filters{{"events", step.events}};
    if (!step.connector.empty())
        filters["connector"] = step.connector;
    if (!step.type.empty())
        filters["type"] = step.type;
    if (!step.db.empty())
        filters["db"] = step.db;
    if (!step.form.empty())
        filters["form"] = step.form;
    return filters;
}

}  // namespace

void PrintEvents(const Output& out) {
    const std::vector<qixsim::NoteInfo> events = EventDocuments();
    for (const qixsim::NoteInfo& event : events)
        out.Object(JsonObject(event.items));
    out.Result(Count(events.size(), "Event document", "Event documents"));
}

void PrintLog(const Output& out) {
    const std::vector<std::string> entries = qixsim::LogEntries();
    for (const std::string& entry : entries) {
        std::string text = entry;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        out.Record("log.qix: " + text, Json{{"log", entry}});
    }
    out.Result(Count(entries.size(), "log entry", "log entries"));
}

void PrintNotes(const Output& out, const std::string& db, const NoteNames& names) {
    std::map<std::pair<std::string, NOTEID>, std::string> named;
    for (const auto& entry : names)
        named[{entry.second.db, entry.second.id}] = entry.first;
    const std::vector<std::string> databases =
        db.empty() ? qixsim::ListDatabases() : std::vector<std::string>{db};
    size_t count = 0;
    for (const std::string& path : databases) {
        for (const qixsim::NoteInfo& note : qixsim::ListNotes(path)) {
            if (note.noteClass != NOTE_CLASS_DOCUMENT)
                continue;
            if (path == kEventDb && ItemOf(note, "Form") == "Event")
                continue;
            ++count;
            auto name = named.find({path, note.noteId});
            std::string text = path + " note " + NoteIdText(note.noteId);
            Json json{{"db", path}, {"note", NoteIdText(note.noteId)}};
            if (name != named.end()) {
                text += " " + name->second;
                json["name"] = name->second;
            }
            json["items"] = JsonObject(note.items);
            out.Record(text + ": " + ItemsText(note.items), json);
        }
    }
    out.Result(Count(count, "document", "documents"));
}

std::string DescribeExpectation(const Step& step) {
    std::string text = Count(step.events, "Event document", "Event documents");
    std::string filters;
    auto add = [&filters](const char* what, const std::string& value) {
        if (!value.empty())
            filters += (filters.empty() ? " with " : ", ") + (what + (" " + Shown(value)));
    };
    add("connector", step.connector);
    add("type", step.type);
    add("database", step.db);
    add("form", step.form);
    return text + (filters.empty() ? " in all" : filters);
}

bool CheckExpectation(const Output& out, const Step& step) {
    const std::vector<qixsim::NoteInfo> events = EventDocuments();
    size_t found = 0;
    for (const qixsim::NoteInfo& event : events)
        found += Matches(step, event) ? 1 : 0;
    const bool ok = found == step.events;
    Json record{{"expect", Filters(step)}, {"found", found}, {"ok", ok}};
    if (ok) {
        out.Record("-> ok: found " + std::to_string(found), record);
        return true;
    }
    // Group the whole table so that the difference shows.
    using Key = std::tuple<std::string, std::string, std::string, std::string>;
    std::map<Key, size_t> groups;
    for (const qixsim::NoteInfo& event : events) {
        ++groups[Key{ItemOf(event, "EventType"), ItemOf(event, "DBPath"), ItemOf(event, "FormName"),
                     ItemOf(event, "ConnectorId")}];
    }
    Json table = Json::array();
    std::vector<std::string> lines;
    for (const auto& group : groups) {
        const qixsim::Items items{{"EventType", std::get<0>(group.first)},
                                  {"DBPath", std::get<1>(group.first)},
                                  {"FormName", std::get<2>(group.first)},
                                  {"ConnectorId", std::get<3>(group.first)}};
        lines.push_back("   " + std::to_string(group.second) + " x " + ItemsText(items));
        Json members{{"count", group.second}};
        for (const auto& item : items)
            members[item.first] = JsonValue(item.second);
        table.push_back(members);
    }
    record["table"] = table;
    out.Record("-> FAILED: expected " + std::to_string(step.events) + ", found " +
                   std::to_string(found) + "; the event table holds " +
                   Count(events.size(), "Event document", "Event documents") +
                   (events.empty() ? "" : ":"),
               record);
    for (const std::string& line : lines)
        out.Text(line);
    return false;
}

}  // namespace kovahost
