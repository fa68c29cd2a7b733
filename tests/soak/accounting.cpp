// The soak's accounting (see accounting.h for its rules): owed and allowed connectors per
// operation from the configurations its window could have seen, then every document and naming
// line matched to one operation and connector, then the counts.
#include "tests/soak/accounting.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace soak {
namespace {

constexpr size_t kProblemsShown = 20;
constexpr int kNoDb = -1;   // a path that is no database of the workload
constexpr int kAnyDb = -2;  // an empty path: the add-in could not read it

struct Item {
    int db = kNoDb;
    int kind = -1;
    NOTEID noteId = 0;
    int connector = -1;
    bool timed = false;
    uint64_t time = 0;
    const char* what = "";
};

struct Slot {
    ConnectorMask owed = 0;
    ConnectorMask allowed = 0;
    uint8_t outcomes[kConnectorCount] = {};
};

int DbIndex(const std::string& path) {
    if (path.empty())
        return kAnyDb;
    const std::vector<Database>& dbs = Databases();
    for (size_t i = 0; i < dbs.size(); ++i) {
        if (dbs[i].path == path)
            return static_cast<int>(i);
    }
    return kNoDb;
}

int KindIndex(const std::string& text) {
    for (int k = 0; k < kKindCount; ++k) {
        if (text == kKindText[k])
            return k;
    }
    return -1;
}

uint64_t NoteKey(int db, int kind, NOTEID noteId) {
    return (uint64_t(unsigned(db)) << 40) | (uint64_t(unsigned(kind)) << 32) | noteId;
}

std::string Names(ConnectorMask mask) {
    std::string names;
    for (int c = 0; c < kConnectorCount; ++c) {
        if (mask & (1u << c))
            names += std::string(names.empty() ? "" : " ") + kConnectors[c];
    }
    return names.empty() ? "-" : names;
}

std::string Describe(const Operation& op, const Slot& slot) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "%s of note %X (%s) in %s, window %llu-%llu%s%s, owed [%s], allowed [%s]%s%s",
                  kKindText[op.kind], op.noteId, Databases()[op.db].forms[op.form].name.c_str(),
                  Databases()[op.db].path.c_str(), static_cast<unsigned long long>(op.begin),
                  static_cast<unsigned long long>(op.end), op.failed ? ", failed" : "",
                  op.excuse == Operation::kAlias         ? ", title unread"
                  : op.excuse == Operation::kUndescribed ? ", undescribed"
                                                         : "",
                  Names(slot.owed).c_str(), Names(slot.allowed).c_str(),
                  op.met.empty() ? "" : ", met ", op.met.c_str());
    return text;
}

std::string Describe(const Item& item) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s: %s of note %X in database #%d for connector #%d at %s%llu", item.what,
                  item.kind >= 0 ? kKindText[item.kind] : "?", item.noteId, item.db, item.connector,
                  item.timed ? "" : "(no time) ", static_cast<unsigned long long>(item.time));
    return text;
}

void Problem(std::vector<std::string>* problems, const std::string& text) {
    if (problems->size() < kProblemsShown)
        problems->push_back(text);
}

}  // namespace

void Tally::Add(const Tally& other) {
    documents += other.documents;
    damaged += other.damaged;
    for (int i = 0; i < 3; ++i)
        named[i] += other.named[i];
    owed += other.owed;
    excused += other.excused;
    lost += other.lost;
    duplicated += other.duplicated;
    unaccounted += other.unaccounted;
}

Tally Reconcile(const ProfilesPtr& start, const std::vector<Edit>& edits,
                const std::vector<Operation>& operations, const std::vector<Document>& documents,
                const std::vector<NamedEvent>& lines, std::vector<std::string>* problems) {
    Tally tally;
    std::vector<const Profiles*> versions{start.get()};
    for (const Edit& edit : edits)
        versions.push_back(edit.after.get());

    // What each operation was owed and allowed.
    std::vector<Slot> slots(operations.size());
    std::unordered_map<uint64_t, std::vector<size_t>> byNote;
    std::vector<std::vector<size_t>> createsByDb(Databases().size());
    for (size_t i = 0; i < operations.size(); ++i) {
        const Operation& op = operations[i];
        byNote[NoteKey(op.db, op.kind, op.noteId)].push_back(i);
        if (op.kind == kCreate)
            createsByDb[op.db].push_back(i);
        if (op.failed)
            continue;
        size_t first = 0;
        size_t last = 0;
        for (const Edit& edit : edits) {
            first += edit.end < op.begin ? 1 : 0;
            last += edit.begin < op.end ? 1 : 0;
        }
        const Database& db = Databases()[op.db];
        const Form& form = db.forms[op.form];
        ConnectorMask owed = 0xFF;
        ConnectorMask allowed = 0;
        for (size_t v = first; v <= last; ++v) {
            const ConnectorMask wanted =
                Wanted(*versions[v], db.path, form.name, form.title, op.kind);
            allowed |= wanted;
            if (op.excuse == Operation::kUndescribed)
                owed = 0;
            else if (op.excuse == Operation::kAlias)
                owed &= Wanted(*versions[v], db.path, form.name, "", op.kind);
            else
                owed &= wanted;
        }
        slots[i].owed = owed;
        slots[i].allowed = allowed;
        tally.excused += op.excuse != Operation::kNone ? 1 : 0;
        for (int c = 0; c < kConnectorCount; ++c)
            tally.owed += (owed >> c) & 1;
    }

    // What the add-in produced.
    std::vector<Item> items;
    for (const Document& document : documents) {
        if (!document.complete) {
            ++tally.damaged;
            continue;
        }
        ++tally.documents;
        items.push_back({DbIndex(document.dbPath), KindIndex(document.eventType), document.noteId,
                         ConnectorIndex(document.connector), true, document.time, "document"});
    }
    static const char* const kLineNames[] = {"not-written line", "not-captured line",
                                             "damaged line"};
    for (const NamedEvent& line : lines) {
        ++tally.named[line.kind];
        items.push_back({DbIndex(line.dbPath), KindIndex(line.eventType), line.noteId,
                         ConnectorIndex(line.connector), line.timed, line.time,
                         kLineNames[line.kind]});
    }
    if (tally.damaged != tally.named[NamedEvent::kDamaged]) {
        const uint64_t a = tally.damaged;
        const uint64_t b = tally.named[NamedEvent::kDamaged];
        tally.unaccounted += a > b ? a - b : b - a;
        Problem(problems, std::to_string(a) + " documents without some items, but " +
                              std::to_string(b) + " lines naming them");
    }

    // Each item to one operation: timed items by their time, then the others.
    auto match = [&](const Item& item) -> long {
        if (item.kind < 0 || item.connector < 0 || item.db == kNoDb)
            return -1;
        const ConnectorMask bit = ConnectorMask(1u << item.connector);
        long best = -1;
        int bestRank = 5;
        const size_t dbCount = Databases().size();
        for (size_t db = 0; db < dbCount; ++db) {
            if (item.db != kAnyDb && static_cast<size_t>(item.db) != db)
                continue;
            const std::vector<size_t>* candidates = nullptr;
            if (item.noteId == 0 && item.kind == kCreate) {
                candidates = &createsByDb[db];
            } else {
                auto found = byNote.find(NoteKey(static_cast<int>(db), item.kind, item.noteId));
                if (found == byNote.end())
                    continue;
                candidates = &found->second;
            }
            for (size_t i : *candidates) {
                const Operation& op = operations[i];
                if (op.kind != item.kind ||
                    (item.timed && (item.time < op.begin || item.time > op.end)))
                    continue;
                const Slot& slot = slots[i];
                const bool none = slot.outcomes[item.connector] == 0;
                const int rank = (slot.owed & bit) && none      ? 0
                                 : (slot.allowed & bit) && none ? 1
                                 : (slot.allowed & bit)         ? 2
                                                                : 3;
                if (rank < bestRank) {
                    bestRank = rank;
                    best = static_cast<long>(i);
                }
            }
        }
        return best;
    };
    for (bool timed : {true, false}) {
        for (const Item& item : items) {
            if (item.timed != timed)
                continue;
            const long i = match(item);
            if (i < 0) {
                ++tally.unaccounted;
                Problem(problems, "unaccounted " + Describe(item) + ": no such operation");
                continue;
            }
            ++slots[static_cast<size_t>(i)].outcomes[item.connector];
        }
    }

    for (size_t i = 0; i < operations.size(); ++i) {
        const Slot& slot = slots[i];
        for (int c = 0; c < kConnectorCount; ++c) {
            const unsigned n = slot.outcomes[c];
            const ConnectorMask bit = ConnectorMask(1u << c);
            const char* fault = nullptr;
            if ((slot.owed & bit) && n == 0) {
                ++tally.lost;
                fault = "lost";
            } else if ((slot.allowed & bit) && n > 1) {
                tally.duplicated += n - 1;
                fault = "duplicated";
            } else if (!(slot.allowed & bit) && n > 0) {
                tally.unaccounted += n;
                fault = "unaccounted";
            }
            if (fault != nullptr) {
                Problem(problems, std::string(fault) + " for " + kConnectors[c] + ": " +
                                      Describe(operations[i], slot) + ", outcomes " +
                                      std::to_string(n));
            }
        }
    }
    return tally;
}

}  // namespace soak
