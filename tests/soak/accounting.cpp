// The soak's accounting (see accounting.h for its rules): owed and allowed connectors per
// operation from the configurations its window could have seen, then every document and naming
// line matched to one operation and connector, then the counts.
#include "tests/soak/accounting.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <unordered_map>

namespace soak {
namespace {

constexpr size_t kProblemsShown = 20;
constexpr int kNoDb = -1;   // a path that is no database of the workload
constexpr int kAnyDb = -2;  // an empty path: the add-in could not read it

struct Item {
    enum Source : uint8_t { kDocument, kNotWritten, kNotCaptured, kDamaged } source = kDocument;
    int db = kNoDb;
    int kind = -1;
    NOTEID noteId = 0;
    int connector = -1;
    bool timed = false;
    uint64_t time = 0;
};

struct Slot {
    ConnectorMask owed = 0;
    ConnectorMask allowed = 0;
    // A failed operation: the connectors it wanted, each allowed at most one "not captured" line
    // (the before stage cannot know the operation will fail), nothing else.
    ConnectorMask lineOnly = 0;
    uint8_t outcomes[kConnectorCount] = {};
    std::vector<uint32_t> matched;  // the items, for the report of a mismatch

    // The connectors for which `op` may have produced `item`: a document for what it was allowed;
    // a line only when it met what writes that line (a failed allocation before the Event
    // document, a server fault in its after stage).
    ConnectorMask Accepts(const Item& item, const Operation& op) const {
        switch (item.source) {
            case Item::kDocument:
                return allowed;
            case Item::kNotCaptured:
                return op.metAllocation ? ConnectorMask(allowed | lineOnly) : 0;
            default:
                return op.metAfterFault ? allowed : 0;
        }
    }
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
    static const char* const kSources[] = {"document", "not-written line", "not-captured line",
                                           "damaged line"};
    char text[200];
    std::snprintf(
        text, sizeof text, "%s: %s of note %X in database #%d for connector #%d at %s%llu",
        kSources[item.source], item.kind >= 0 ? kKindText[item.kind] : "?", item.noteId, item.db,
        item.connector, item.timed ? "" : "(no time) ", static_cast<unsigned long long>(item.time));
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
                const std::vector<NamedEvent>& lines, bool explain,
                std::vector<std::string>* problems) {
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
        if (op.failed) {
            slots[i].lineOnly = allowed;
            continue;
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
        items.push_back({Item::kDocument, DbIndex(document.dbPath), KindIndex(document.eventType),
                         document.noteId, ConnectorIndex(document.connector), true, document.time});
    }
    for (const NamedEvent& line : lines) {
        ++tally.named[line.kind];
        const Item::Source source = line.kind == NamedEvent::kNotCaptured ? Item::kNotCaptured
                                    : line.kind == NamedEvent::kDamaged   ? Item::kDamaged
                                                                          : Item::kNotWritten;
        items.push_back({source, DbIndex(line.dbPath), KindIndex(line.eventType), line.noteId,
                         ConnectorIndex(line.connector), line.timed, line.time});
    }
    if (tally.damaged != tally.named[NamedEvent::kDamaged]) {
        const uint64_t a = tally.damaged;
        const uint64_t b = tally.named[NamedEvent::kDamaged];
        tally.unaccounted += a > b ? a - b : b - a;
        Problem(problems, std::to_string(a) + " documents without some items, but " +
                              std::to_string(b) + " lines naming them");
    }

    // The operations that could have produced each item: on the note it names (any note of its
    // database for a create's line written before the note had an id; any database for a line
    // without one), of its event type, whose window holds its time, and that accept it.
    std::vector<std::vector<uint32_t>> candidates(items.size());
    for (size_t n = 0; n < items.size(); ++n) {
        const Item& item = items[n];
        if (item.kind < 0 || item.connector < 0 || item.db == kNoDb)
            continue;
        for (size_t db = 0; db < Databases().size(); ++db) {
            if (item.db != kAnyDb && static_cast<size_t>(item.db) != db)
                continue;
            const std::vector<size_t>* ops = nullptr;
            if (item.noteId == 0 && item.kind == kCreate) {
                ops = &createsByDb[db];
            } else {
                auto found = byNote.find(NoteKey(static_cast<int>(db), item.kind, item.noteId));
                if (found == byNote.end())
                    continue;
                ops = &found->second;
            }
            for (size_t i : *ops) {
                const Operation& op = operations[i];
                if (item.timed && (item.time < op.begin || item.time > op.end))
                    continue;
                if (slots[i].Accepts(item, op) & (1u << item.connector))
                    candidates[n].push_back(static_cast<uint32_t>(i));
            }
        }
    }

    // An item with one candidate is that operation's. The others are matched together so that
    // as many owed outcomes as possible are met, then as many others (a maximum matching, found
    // by augmenting paths): any such pairing is as good as the items can tell.
    std::vector<long> assigned(items.size(), -1);
    std::vector<size_t> open;
    for (size_t n = 0; n < items.size(); ++n) {
        if (candidates[n].size() == 1) {
            assigned[n] = candidates[n][0];
            ++slots[candidates[n][0]].outcomes[items[n].connector];
        } else if (!candidates[n].empty()) {
            open.push_back(n);
        }
    }
    std::unordered_map<size_t, size_t> holder;  // slot (operation * connectors + connector)
    std::unordered_map<size_t, bool> seen;
    std::function<bool(size_t, bool)> place = [&](size_t n, bool owedOnly) -> bool {
        for (uint32_t i : candidates[n]) {
            const int c = items[n].connector;
            if (slots[i].outcomes[c] != 0 || (owedOnly && !(slots[i].owed & (1u << c))))
                continue;
            const size_t key = size_t{i} * kConnectorCount + static_cast<size_t>(c);
            if (seen[key])
                continue;
            seen[key] = true;
            auto held = holder.find(key);
            if (held == holder.end() || place(held->second, owedOnly)) {
                holder[key] = n;
                return true;
            }
        }
        return false;
    };
    std::vector<bool> placed(items.size(), false);
    for (bool owedOnly : {true, false}) {
        for (size_t n : open) {
            if (placed[n])
                continue;
            seen.clear();
            placed[n] = place(n, owedOnly);
        }
    }
    for (const auto& [key, n] : holder)
        assigned[n] = static_cast<long>(key / kConnectorCount);
    for (size_t n : open) {
        if (assigned[n] < 0)
            assigned[n] = candidates[n][0];  // more items than places: a duplicate
        ++slots[static_cast<size_t>(assigned[n])].outcomes[items[n].connector];
    }
    for (size_t n = 0; n < items.size(); ++n) {
        if (assigned[n] < 0) {
            ++tally.unaccounted;
            Problem(problems, "unaccounted " + Describe(items[n]) + ": no operation to own it");
        } else {
            slots[static_cast<size_t>(assigned[n])].matched.push_back(static_cast<uint32_t>(n));
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
            } else if (n > 1) {
                tally.duplicated += n - 1;
                fault = "duplicated";
            }
            if (fault != nullptr) {
                std::string text = std::string(fault) + " for " + kConnectors[c] + ": " +
                                   Describe(operations[i], slot) + ", outcomes " +
                                   std::to_string(n);
                for (uint32_t m : slot.matched) {
                    if (items[m].connector == c)
                        text += "; " + Describe(items[m]);
                }
                if (explain) {
                    for (size_t j = 0; j < operations.size(); ++j) {
                        const Operation& other = operations[j];
                        if (j != i && other.db == operations[i].db &&
                            other.kind == operations[i].kind && other.end >= operations[i].begin &&
                            other.begin <= operations[i].end)
                            text += "\n    overlapping: " + Describe(other, slots[j]) +
                                    " outcomes " + std::to_string(slots[j].outcomes[c]);
                    }
                    for (const Item& item : items) {
                        if (!item.timed)
                            text += "\n    untimed " + Describe(item);
                    }
                    for (size_t e = 0; e < edits.size(); ++e)
                        text += "\n    edit " + std::to_string(edits[e].begin) + "-" +
                                std::to_string(edits[e].end);
                }
                Problem(problems, text);
            }
        }
    }
    return tally;
}

}  // namespace soak
