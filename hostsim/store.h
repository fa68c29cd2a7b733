// The note store of the stand-in server: a database with its stored notes, its index of design
// notes and its view indexes, all under the database's lock, and the operations that store and
// delete notes and keep those indexes current.
#ifndef KOVA_HOSTSIM_STORE_H
#define KOVA_HOSTSIM_STORE_H

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "hostsim/host.h"
#include "hostsim/locks.h"

namespace qixsim::detail {

// A stored note. Its items are immutable and shared with the note handles that opened it.
struct StoredNote {
    NOTEID id = 0;
    uint16_t noteClass = 0;
    ORIGINATORID originatorId{};
    uint64_t changeSeq = 0;  // the database's change counter at the last store
    std::string form;        // text of the "Form" item (documents select views by it)
    std::shared_ptr<const Items> items;
};

// A design note other than a document, for the design lookups.
struct DesignEntry {
    uint16_t noteClass = 0;
    std::string title;               // "$TITLE" as stored
    std::vector<std::string> names;  // the ";"-separated names, blanks trimmed
};

// The entries of one view: the documents whose form it selects, by change order. `entries` is
// kept up to date by every store and delete; `snapshot` is rebuilt from it lazily, when a
// collection is opened after a change.
struct ViewIndex {
    std::set<std::string> forms;
    std::map<uint64_t, NOTEID> entries;  // change counter -> note id
    uint64_t lastModified = 0;           // hundredths; moves on every change of a selected doc
    // Set by a change (under the database's exclusive lock); cleared by the one opener that
    // rebuilds `snapshot` (under the shared lock plus rebuildMutex). While it is clear nobody
    // writes `snapshot`, so openers read it with the shared lock alone and share no lock.
    std::atomic<bool> dirty{true};
    std::mutex rebuildMutex;
    std::shared_ptr<const std::vector<NOTEID>> snapshot;
};

struct Database {
    std::string path;  // relative, written with '/'
    uint32_t serial = 0;
    TIMEDATE fileUnid{};                      // file part of every universal id of this database
    std::atomic<uint32_t> nextNoteSerial{1};  // note part of the next universal id

    // Everything below is guarded by `mutex`.
    mutable StripedSharedMutex mutex;
    std::unordered_map<NOTEID, StoredNote> notes;
    std::map<NOTEID, DesignEntry> designs;
    std::map<NOTEID, std::unique_ptr<ViewIndex>> views;
    NOTEID nextNoteId = 0;
    uint64_t changeCounter = 0;
};

// The items the store reads to index a note: a document's form, a design note's names and the
// forms a view selects (one per entry).
constexpr char kFormItem[] = "Form";
constexpr char kTitleItem[] = "$TITLE";
constexpr char kSelectionItem[] = "$FORMULA";

// First note id of a database and the step between ids.
constexpr NOTEID kFirstNoteId = 0x8F6;
constexpr NOTEID kNoteIdStep = 4;

// A fresh universal id in `db` (file part of the database, next note serial).
UNIVERSALID NewUniversalId(Database& db);

// The operations proper, without notification.
STATUS StoreNoteOperation(NOTEHANDLE note);  // ERR_QIX_INVALID_HANDLE once it is closed
STATUS DeleteNoteOperation(Database& db, NOTEID noteId);
STATUS DeleteNotesOperation(Database& db, const std::vector<NOTEID>& ids);
// Stores a new note of `noteClass` with `items` (set-up: no handle, no notification).
STATUS StoreNewNote(Database& db, uint16_t noteClass, Items items, NOTEID* retNoteId);

// The value of the item named `name` (a C string or a std::string) in `items` (const or not);
// null when missing.
template <typename ItemList, typename Name>
auto FindItem(ItemList& items, const Name& name) -> decltype(&items.front().second) {
    for (auto& item : items) {
        if (item.first == name)
            return &item.second;
    }
    return nullptr;
}

}  // namespace qixsim::detail

#endif  // KOVA_HOSTSIM_STORE_H
