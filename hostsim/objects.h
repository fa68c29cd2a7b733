// The objects behind each kind of handle of the stand-in server (database, note, memory block,
// ID table, collection), and the calls that open a handle of each kind; those are defined beside
// the server API calls of their kind.
#ifndef KOVA_HOSTSIM_OBJECTS_H
#define KOVA_HOSTSIM_OBJECTS_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "hostsim/handles.h"
#include "hostsim/store.h"

namespace qixsim::detail {

// Databases are never destroyed (see ServerState), so handles point to them without owning.
struct DbObject {
    static constexpr Kind kKind = Kind::Db;
    Database* db = nullptr;
};

// An open note: a working copy. Reads share the stored items; the first write copies them.
// Every field is used only under the handle's slot lock (WithObject), so that a note handle needs
// no lock of its own.
struct NoteObject {
    static constexpr Kind kKind = Kind::Note;
    Database* db = nullptr;
    DBHANDLE dbHandle = QIX_NULLHANDLE;  // the handle it was opened through
    NOTEID id = 0;
    uint16_t noteClass = NOTE_CLASS_DOCUMENT;
    ORIGINATORID originatorId{};
    std::shared_ptr<const Items> shared;
    std::unique_ptr<Items> own;

    const Items& Read() const { return own ? *own : *shared; }
    Items& Write() {
        if (!own)
            own = std::make_unique<Items>(*shared);
        return *own;
    }
};

struct MemObject {
    static constexpr Kind kKind = Kind::Memory;
    std::mutex mutex;  // guards locks
    std::unique_ptr<unsigned char[]> data;
    uint32_t size = 0;
    uint32_t locks = 0;
    bool formula = false;  // a compiled formula
};

struct IdTableObject {
    static constexpr Kind kKind = Kind::IdTable;
    std::mutex mutex;  // guards every field below
    std::set<NOTEID> ids;
    bool scanning = false;
    // The last id delivered by IDScan. Ids are only ever added to a table, which keeps the
    // iterator valid, so the next id is one step on rather than a search.
    std::set<NOTEID>::const_iterator cursor;
};

// An open view: the entries and modification time the view had when it was opened.
struct CollectionObject {
    static constexpr Kind kKind = Kind::Collection;
    Database* db = nullptr;
    NOTEID viewId = 0;
    std::shared_ptr<const std::vector<NOTEID>> entries;
    uint64_t lastModified = 0;
};

// Runs `use(object)` on the object of a live handle of T's kind (a memory block or an ID table)
// under the object's own mutex; answers `missing` when there is no such handle.
template <typename T, typename Result, typename Use>
Result WithLocked(QIXHANDLE handle, Result missing, Use&& use) {
    std::shared_ptr<T> object = Lookup<T>(handle);
    if (!object)
        return missing;
    std::lock_guard<std::mutex> lock(object->mutex);
    return use(*object);
}

STATUS OpenDatabaseHandle(const std::string& path, DBHANDLE* retDb);     // server.cpp
STATUS OpenNoteHandle(DBHANDLE db, NOTEID noteId, NOTEHANDLE* retNote);  // notes.cpp
STATUS NewNoteHandle(DBHANDLE db, NOTEHANDLE* retNote);                  // notes.cpp
// A new memory block of `size` bytes (zero-filled, or a copy of `contents`) under a new handle
// (memory.cpp).
STATUS NewMemoryHandle(uint32_t size, bool formula, const void* contents, MEMHANDLE* retHandle);

}  // namespace qixsim::detail

#endif  // KOVA_HOSTSIM_OBJECTS_H
