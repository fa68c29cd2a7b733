// The soak's model (see model.h): the server's databases and forms, the profile documents, and
// the connectors a configuration wants for a change.
#include "tests/soak/model.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>

namespace soak {

const char* const kKindText[kKindCount] = {"Create", "Update", "Delete"};
const char* const kConnectors[kConnectorCount] = {"c1", "c2", "c3", "c4", "c5", "legacy"};

namespace {

constexpr int kLegacy = kConnectorCount - 1;

// Calls `visit` with each ";"-separated name of a form's title as written (blanks kept, empty
// names too).
template <typename Visit>
void ForEachTitleName(const std::string& title, Visit&& visit) {
    size_t at = 0;
    while (at <= title.size()) {
        size_t end = title.find(';', at);
        if (end == std::string::npos)
            end = title.size();
        visit(title.substr(at, end - at));
        at = end + 1;
    }
}

// The entries an administrator might write for one database: its path, with backslashes, in
// other letter case, each name of each form's title as its form part (a leading blank too), an
// empty form part and a form the database does not have.
std::vector<std::string> EntryVariants(const Database& db) {
    std::string backslashed = db.path;
    for (char& c : backslashed)
        c = c == '/' ? '\\' : c;
    std::vector<std::string> variants = {db.path, backslashed, db.path + ":", db.path + ":Invoice"};
    if (db.path == "sales/orders.qix")
        variants.push_back("SALES/orders.qix");
    for (const Form& form : db.forms) {
        ForEachTitleName(form.title, [&](const std::string& name) {
            if (name.find_first_not_of(' ') != std::string::npos)
                variants.push_back(db.path + ":" + name);
        });
    }
    return variants;
}

const std::vector<std::string>& Variants(uint8_t db) {
    static const std::vector<std::vector<std::string>> all = [] {
        std::vector<std::vector<std::string>> variants;
        for (const Database& database : Databases())
            variants.push_back(EntryVariants(database));
        return variants;
    }();
    return all[db];
}

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
    bool named = false;
    ForEachTitleName(title, [&](const std::string& token) {
        named = named || (!token.empty() && SkipBlanks(token) == wanted);
    });
    return named;
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

std::string RandomEntry(Rng& rng, uint8_t db) {
    const std::vector<std::string>& variants = Variants(db);
    return variants[rng() % variants.size()];
}

std::vector<std::string> RandomEntries(Rng& rng, int databases) {
    std::vector<std::string> entries;
    const int count = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < count; ++i)
        entries.push_back(RandomEntry(rng, MonitoredOrder()[rng() % unsigned(databases)]));
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
    static std::vector<Database> databases = [] {
        std::vector<Database> all = {
            {"sales/orders.qix",
             {{"Order", "Order; Purchase Order"}, {"Invoice", "Invoice"}, {"Memo", "Memo; Note"}}},
            {"hr/staff.qix", {{"Person", "Person; Employee"}, {"Memo", "Memo"}}},
            {"plain/misc.qix", {{"Memo", "Memo"}}},
            {"sales/orders", {{"Order", "Order"}}},
        };
        for (int zone = 1; zone <= kZoneCount; ++zone) {
            char path[32];
            std::snprintf(path, sizeof path, "zone/d%02d.qix", zone);
            all.push_back({path, {{"Item", "Item; ;Article;; Goods"}, {"Memo", "Memo"}}});
        }
        return all;
    }();
    return databases;
}

const std::vector<uint8_t>& MonitoredOrder() {
    // The two busy fixed databases first, the two others after all but two zones.
    static const std::vector<uint8_t> order = [] {
        std::vector<uint8_t> all = {0, 1};
        for (int zone = 0; zone < kZoneCount - 2; ++zone)
            all.push_back(static_cast<uint8_t>(4 + zone));
        all.push_back(3);
        all.push_back(2);
        all.push_back(static_cast<uint8_t>(4 + kZoneCount - 2));
        all.push_back(static_cast<uint8_t>(4 + kZoneCount - 1));
        return all;
    }();
    return order;
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

qixsim::Items SystemItems(const std::string& logLevel) {
    return {{"Form", std::string("SystemConfiguration")},
            {"LogLevel", logLevel},
            {"LogOutputs", qixsim::TextList{"Console"}}};
}

ProfileDocument RandomTrigger(Rng& rng, int databases) {
    ProfileDocument document;
    document.connector = kConnectors[rng() % (kConnectorCount - 1)];
    RandomTypes(rng, &document);
    document.entries = RandomEntries(rng, databases);
    return document;
}

void ChangeTrigger(Rng& rng, int databases, ProfileDocument* document) {
    switch (rng() % 3) {
        case 0:
            RandomTypes(rng, document);
            break;
        case 1:
            document->entries = RandomEntries(rng, databases);
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

Profiles RandomConfiguration(Rng& rng, const ProfileDocument& legacy) {
    // Half the time a size beside 8, 16 or 32 distinct paths, where a table of the monitored
    // paths sized in powers of two would grow.
    static const int kNearGrowth[] = {7, 8, 9, 15, 16, 17, 31, 32, 33};
    Profiles profiles;
    profiles.legacy = legacy;
    profiles.databases = rng() % 2 == 0 ? kNearGrowth[rng() % 9] : 1 + int(rng() % kMaxMonitored);
    static const char* const kLevels[] = {"ERROR", "INFO", "DEBUG"};
    profiles.logLevel = kLevels[rng() % 3];
    const int triggers = 1 + static_cast<int>(rng() % 64);
    for (int i = 0; i < triggers; ++i)
        profiles.triggers.push_back(RandomTrigger(rng, profiles.databases));
    // Every database of the configuration named once more, by a random trigger.
    for (int d = 0; d < profiles.databases; ++d) {
        ProfileDocument& trigger = profiles.triggers[rng() % profiles.triggers.size()];
        trigger.entries.push_back(RandomEntry(rng, MonitoredOrder()[unsigned(d)]));
    }
    return profiles;
}

size_t MonitoredPaths(const Profiles& profiles) {
    std::set<std::string> paths;
    for (const ProfileDocument& trigger : profiles.triggers) {
        for (const std::string& entry : trigger.entries)
            paths.insert(Normalized(entry.substr(0, entry.find(':'))));
    }
    return paths.size();
}

}  // namespace soak
