// The soak's model (see model.h): the server's databases and forms, the profile documents, and
// the connectors a configuration wants for a change.
#include "tests/soak/model.h"

#include <cstdlib>
#include <iostream>

namespace soak {

const char* const kKindText[kKindCount] = {"Create", "Update", "Delete"};
const char* const kConnectors[kConnectorCount] = {"c1", "c2", "c3", "c4", "c5", "legacy"};

namespace {

constexpr int kLegacy = kConnectorCount - 1;

// Monitored entries an administrator might write: by path, with a backslash, by form or alias,
// one naming a database without its suffix, a path in other case, an empty form part, a
// database nobody writes to.
const char* const kEntries[] = {
    "sales/orders.qix",
    "sales\\orders.qix",
    "sales/orders.qix:Purchase Order",
    "sales/orders.qix:Invoice",
    "sales/orders.qix: Note",
    "sales/orders:Order",
    "hr/staff.qix",
    "hr/staff.qix:Employee",
    "hr\\staff.qix:Memo",
    "SALES/orders.qix",
    "hr/staff.qix:",
    "archive/old.qix",
};
constexpr int kEntryCount = sizeof kEntries / sizeof kEntries[0];

[[noreturn]] void Fail(const std::string& what) {
    std::cerr << "soak: set-up: " << what << "\n";
    std::exit(2);
}

std::string Normalized(std::string path) {
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

std::string SkipBlanks(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

// Whether `name` is one of the ";"-separated names of a form's title (leading blanks ignored).
bool TitleNames(const std::string& title, const std::string& name) {
    const std::string wanted = SkipBlanks(name);
    size_t at = 0;
    while (at <= title.size()) {
        size_t end = title.find(';', at);
        if (end == std::string::npos)
            end = title.size();
        const std::string token = title.substr(at, end - at);
        if (!token.empty() && SkipBlanks(token) == wanted)
            return true;
        at = end + 1;
    }
    return false;
}

bool EntryMatches(const std::string& rawEntry, const std::string& dbPath, const std::string& title,
                  bool aliases) {
    const std::string entry = Normalized(rawEntry);
    const size_t colon = entry.find(':');
    if (colon == std::string::npos)
        return entry == dbPath;
    if (!aliases)
        return false;
    const std::string formPart = entry.substr(colon + 1);
    return entry.compare(0, colon, dbPath) == 0 && colon == dbPath.size() && !formPart.empty() &&
           TitleNames(title, formPart);
}

qixsim::TextList Types(const ProfileDocument& document) {
    qixsim::TextList types;
    for (int k = 0; k < kKindCount; ++k) {
        if (document.wants[k])
            types.push_back(kKindText[k]);
    }
    return types;
}

void RandomTypes(Rng& rng, ProfileDocument* document) {
    do {
        for (bool& wanted : document->wants)
            wanted = rng() % 3 != 0;
    } while (rng() % 8 != 0 && !document->wants[0] && !document->wants[1] && !document->wants[2]);
}

std::vector<std::string> RandomEntries(Rng& rng) {
    std::vector<std::string> entries;
    const int count = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < count; ++i)
        entries.push_back(kEntries[rng() % kEntryCount]);
    return entries;
}

}  // namespace

int ConnectorIndex(const std::string& id) {
    for (int c = 0; c < kConnectorCount; ++c) {
        if (id == kConnectors[c])
            return c;
    }
    return -1;
}

std::vector<Database>& Databases() {
    static std::vector<Database> databases = {
        {"sales/orders.qix",
         {{"Order", "Order; Purchase Order"}, {"Invoice", "Invoice"}, {"Memo", "Memo; Note"}}},
        {"hr/staff.qix", {{"Person", "Person; Employee"}, {"Memo", "Memo"}}},
        {"plain/misc.qix", {{"Memo", "Memo"}}},
        {"sales/orders", {{"Order", "Order"}}},
    };
    return databases;
}

void BuildServer(const TIMEDATE& start) {
    qixsim::Reset();
    qixsim::UseFixedClock(start);
    if (qixsim::CreateEventDatabase("kovaevents.qix") != 0)
        Fail("CreateEventDatabase");
    for (Database& db : Databases()) {
        if (qixsim::CreateDatabase(db.path) != 0)
            Fail("CreateDatabase " + db.path);
        for (Form& form : db.forms) {
            if (qixsim::CreateForm(db.path, form.title, &form.noteId) != 0)
                Fail("CreateForm " + form.title);
        }
    }
}

ConnectorMask Wanted(const Profiles& profiles, const std::string& dbPath, const std::string& form,
                     const std::string& title, EventKind kind) {
    if (form.empty())
        return 0;
    ConnectorMask mask = 0;
    if (!profiles.triggers.empty()) {
        for (const ProfileDocument& trigger : profiles.triggers) {
            if (!trigger.wants[kind])
                continue;
            for (const std::string& entry : trigger.entries) {
                if (EntryMatches(entry, dbPath, title, true)) {
                    mask |= ConnectorMask(1u << ConnectorIndex(trigger.connector));
                    break;
                }
            }
        }
        return mask;
    }
    if (!profiles.legacy.wants[kind])
        return 0;
    for (const std::string& entry : profiles.legacy.entries) {
        if (EntryMatches(entry, dbPath, title, false))
            return ConnectorMask(1u << kLegacy);
    }
    return 0;
}

qixsim::Items TriggerItems(const ProfileDocument& document) {
    return {{"Form", std::string("EventTriggerConfiguration")},
            {"ConnectorId", document.connector},
            {"EventTypes", Types(document)},
            {"MonitoredDocuments", qixsim::TextList(document.entries)}};
}

qixsim::Items LegacyItems(const ProfileDocument& document) {
    return {{"Form", std::string("Configuration")},
            {"ConnectorId", document.connector},
            {"EventTypes", Types(document)},
            {"LogLevel", std::string("ERROR")},
            {"DatabasePaths", qixsim::TextList(document.entries)}};
}

qixsim::Items SystemItems() {
    return {{"Form", std::string("SystemConfiguration")},
            {"LogLevel", std::string("ERROR")},
            {"LogOutputs", qixsim::TextList{"Console"}}};
}

ProfileDocument RandomTrigger(Rng& rng) {
    ProfileDocument document;
    document.connector = kConnectors[rng() % (kConnectorCount - 1)];
    RandomTypes(rng, &document);
    document.entries = RandomEntries(rng);
    return document;
}

void ChangeTrigger(Rng& rng, ProfileDocument* document) {
    switch (rng() % 3) {
        case 0:
            RandomTypes(rng, document);
            break;
        case 1:
            document->entries = RandomEntries(rng);
            break;
        default:
            document->connector = kConnectors[rng() % (kConnectorCount - 1)];
            break;
    }
}

ProfileDocument RandomLegacy(Rng& rng) {
    ProfileDocument document;
    document.connector = kConnectors[kLegacy];
    RandomTypes(rng, &document);
    const char* const paths[] = {"hr/staff.qix", "sales/orders.qix", "sales\\orders",
                                 "sales/orders.qix:Order"};
    document.entries = {paths[rng() % 4], paths[rng() % 4]};
    return document;
}

}  // namespace soak
