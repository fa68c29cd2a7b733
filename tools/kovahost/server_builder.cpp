// Builds the stand-in server of a scenario through the host side of the stand-in (hostsim/host.h)
// and describes it for the heading of a run.
#include "tools/kovahost/server_builder.h"

#include "tools/kovahost/records.h"

namespace kovahost {
namespace {

std::string Failure(const std::string& db, const std::string& call, STATUS status) {
    return "setting up " + db + ": " + call + " answered status " + std::to_string(status);
}

}  // namespace

bool BuildServer(const Scenario& plan, BuiltServer* built, std::string* error) {
    qixsim::Reset();
    if (plan.fixedClock) {
        qixsim::UseFixedClock(plan.clock);
    } else {
        qixsim::UseSystemClock();
    }
    qixsim::SetSeparator(plan.separator);
    built->names.clear();
    built->documentIds.assign(plan.databases.size(), {});
    for (size_t i = 0; i < plan.databases.size(); ++i) {
        const DatabasePlan& db = plan.databases[i];
        if (!IsSystemDatabase(db.path)) {
            const STATUS status = db.eventTemplate ? qixsim::CreateEventDatabase(db.path)
                                                   : qixsim::CreateDatabase(db.path);
            if (status != 0) {
                *error = Failure(
                    db.path, db.eventTemplate ? "CreateEventDatabase" : "CreateDatabase", status);
                return false;
            }
        }
        for (const std::string& title : db.forms) {
            const STATUS status = qixsim::CreateForm(db.path, title);
            if (status != 0) {
                *error = Failure(db.path, "CreateForm", status);
                return false;
            }
        }
        for (const DocumentPlan& doc : db.documents) {
            NOTEID id = 0;
            const STATUS status = qixsim::CreateDocument(db.path, doc.items, &id);
            if (status != 0) {
                *error = Failure(db.path, "CreateDocument", status);
                return false;
            }
            built->documentIds[i].push_back(id);
            if (!doc.name.empty())
                built->names[doc.name] = NoteRef{db.path, id};
        }
    }
    return true;
}

std::vector<ServerLine> DescribeServer(const Scenario& plan, const BuiltServer& built) {
    std::vector<ServerLine> lines;
    std::string server = "server: ";
    server +=
        plan.fixedClock ? "clock fixed at " + plan.clockText + " UTC" : std::string("system clock");
    server += std::string(", paths reported with '") + plan.separator + "'";
    lines.push_back(
        {server,
         Json{{"server", Json{{"clock", plan.fixedClock ? Json(plan.clockText) : Json("system")},
                              {"separator", std::string(1, plan.separator)}}}}});
    for (size_t i = 0; i < plan.databases.size(); ++i) {
        const DatabasePlan& db = plan.databases[i];
        std::string line = "  " + db.path;
        Json json{{"database", db.path}};
        if (IsSystemDatabase(db.path)) {
            line += " (a system database of the server)";
            json["system"] = true;
        }
        if (db.eventTemplate) {
            line += " (from the event database template)";
            json["template"] = "kovaevents";
        }
        for (size_t f = 0; f < db.forms.size(); ++f) {
            line += (f == 0 ? ", forms: \"" : ", \"") + db.forms[f] + "\"";
        }
        json["forms"] = db.forms;
        lines.push_back({line, json});
        for (size_t d = 0; d < db.documents.size(); ++d) {
            const DocumentPlan& doc = db.documents[d];
            const std::string id = NoteIdText(built.documentIds[i][d]);
            std::string note = "    note " + id;
            Json noteJson{{"db", db.path}, {"note", id}};
            if (!doc.name.empty()) {
                note += " " + doc.name;
                noteJson["name"] = doc.name;
            }
            noteJson["items"] = JsonObject(doc.items);
            lines.push_back({note + ": " + ItemsText(doc.items), noteJson});
        }
    }
    return lines;
}

}  // namespace kovahost
