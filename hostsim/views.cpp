// Design lookups, views and search in the stand-in server: forms by alias and design notes by
// title, view collections read from immutable entry snapshots, the "@All" formula and the search
// that calls back once per selected note with no lock held.
#include <algorithm>
#include <cstring>

#include "hostsim/callgate.h"
#include "hostsim/clock.h"
#include "hostsim/objects.h"
#include "hostsim/store.h"

namespace qixsim::detail {
namespace {

constexpr char kAllFormula[] = "@All";
// The most entries one read returns: their note ids must fit a 16-bit buffer length.
constexpr uint64_t kMaxEntriesPerRead = 65535 / sizeof(NOTEID);

bool IsAllFormula(const char* formula, uint16_t length) {
    if (formula == nullptr || length != std::strlen(kAllFormula))
        return false;
    for (uint16_t i = 0; i < length; ++i) {
        const char a = formula[i];
        const char b = kAllFormula[i];
        const char lowerA = (a >= 'A' && a <= 'Z') ? static_cast<char>(a - 'A' + 'a') : a;
        const char lowerB = (b >= 'A' && b <= 'Z') ? static_cast<char>(b - 'A' + 'a') : b;
        if (lowerA != lowerB)
            return false;
    }
    return true;
}

// The current entries of a view, rebuilt when a change made them stale. Under the database's
// shared lock.
void TakeSnapshot(ViewIndex& view, CollectionObject* collection) {
    if (view.dirty.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(view.rebuildMutex);
        if (view.dirty.load(std::memory_order_relaxed)) {
            auto entries = std::make_shared<std::vector<NOTEID>>();
            entries->reserve(view.entries.size());
            for (const auto& entry : view.entries)
                entries->push_back(entry.second);
            view.snapshot = std::move(entries);
            view.dirty.store(false, std::memory_order_release);
        }
    }
    // A copy of its own (a few bytes per entry), not a share of the view's: sharing would make
    // every open and close on every thread write the one reference count of the snapshot.
    collection->entries = std::make_shared<const std::vector<NOTEID>>(*view.snapshot);
    collection->lastModified = view.lastModified;
}

// Finds a design note of `noteClass` for which `matches(entry)` holds, lowest note id first.
template <typename Match>
STATUS FindDesign(DBHANDLE dbHandle, const char* name, uint16_t noteClass, NOTEID* retNoteId,
                  Match&& matches) {
    std::shared_ptr<DbObject> db = Lookup<DbObject>(dbHandle);
    if (!db)
        return ERR_QIX_INVALID_HANDLE;
    if (name == nullptr || retNoteId == nullptr)
        return ERR_QIX_BAD_ARGUMENT;
    ReadLock lock(db->db->mutex);
    for (const auto& [id, entry] : db->db->designs) {
        if (entry.noteClass == noteClass && matches(entry)) {
            *retNoteId = id;
            return 0;
        }
    }
    return ERR_QIX_DESIGN_NOT_FOUND;
}

}  // namespace
}  // namespace qixsim::detail

using namespace qixsim::detail;

// ---- Server API: formulas and search ---------------------------------------------------------

STATUS QIXFormulaCompile(const char* formulaName, uint16_t formulaNameLength, const char* formula,
                         uint16_t formulaLength, FORMULAHANDLE* retFormula,
                         uint16_t* retFormulaLength, STATUS* retCompileError,
                         uint16_t* retErrorLine, uint16_t* retErrorColumn, uint16_t* retErrorOffset,
                         uint16_t* retErrorLength) {
    (void)formulaName;
    (void)formulaNameLength;
    return GuardedCall(Op::QIXFormulaCompile, [&]() -> STATUS {
        if (retFormula == nullptr || formula == nullptr)
            return ERR_QIX_BAD_ARGUMENT;
        const bool compiles = IsAllFormula(formula, formulaLength);
        if (retCompileError != nullptr)
            *retCompileError = compiles ? 0 : ERR_QIX_FORMULA;
        if (retErrorLine != nullptr)
            *retErrorLine = compiles ? 0 : 1;
        if (retErrorColumn != nullptr)
            *retErrorColumn = compiles ? 0 : 1;
        if (retErrorOffset != nullptr)
            *retErrorOffset = 0;
        if (retErrorLength != nullptr)
            *retErrorLength = compiles ? 0 : formulaLength;
        if (!compiles)
            return ERR_QIX_FORMULA;
        const STATUS status = NewMemoryHandle(formulaLength, true, formula, retFormula);
        if (status == 0 && retFormulaLength != nullptr)
            *retFormulaLength = formulaLength;
        return status;
    });
}

STATUS QIXSearch(DBHANDLE db, FORMULAHANDLE formula, const char* viewTitle, uint16_t searchFlags,
                 uint16_t noteClassMask, const TIMEDATE* since, QIXSEARCHPROC callback,
                 void* parameter, TIMEDATE* retUntil) {
    (void)viewTitle;
    (void)searchFlags;
    return GuardedCall(Op::QIXSearch, [&]() -> STATUS {
        std::shared_ptr<DbObject> object = Lookup<DbObject>(db);
        std::shared_ptr<MemObject> compiled = Lookup<MemObject>(formula);
        if (!object || !compiled || !compiled->formula)
            return ERR_QIX_INVALID_HANDLE;
        if (callback == nullptr)
            return ERR_QIX_BAD_ARGUMENT;
        Database& database = *object->db;
        const uint64_t after = since != nullptr ? FromTimedate(*since) : 0;
        const uint64_t until = retUntil != nullptr ? ReadClock() : 0;

        // The selection is fixed before the first callback, which may change the database. It is
        // taken a few hash buckets at a time, the database's lock released in between, so that a
        // search over a large database holds off its updates no longer than a note look-up does,
        // as a server's search does not stop the database's writers. A note stored meanwhile may
        // or may not be selected; when the table is rehashed meanwhile the selection starts over.
        constexpr std::size_t kBucketsPerHold = 256;
        std::vector<NOTEID> ids;
        std::size_t bucketsSeen = 0;
        for (std::size_t bucket = 0;;) {
            ReadLock lock(database.mutex);
            const std::size_t buckets = database.notes.bucket_count();
            if (buckets != bucketsSeen) {
                ids.clear();
                bucket = 0;
                bucketsSeen = buckets;
            }
            const std::size_t end = std::min(bucket + kBucketsPerHold, buckets);
            for (; bucket < end; ++bucket) {
                for (auto it = database.notes.begin(bucket); it != database.notes.end(bucket);
                     ++it) {
                    const StoredNote& note = it->second;
                    if ((note.noteClass & noteClassMask) != 0 &&
                        (since == nullptr ||
                         FromTimedate(note.originatorId.sequenceTime) > after)) {
                        ids.push_back(it->first);
                    }
                }
            }
            if (bucket >= buckets)
                break;
        }
        std::sort(ids.begin(), ids.end());
        for (NOTEID id : ids) {
            SEARCH_MATCH match{};
            {
                ReadLock lock(database.mutex);
                auto it = database.notes.find(id);
                if (it == database.notes.end())
                    continue;  // deleted by an earlier callback
                match.originatorId = it->second.originatorId;
                match.noteId = id;
                match.noteClass = it->second.noteClass;
                match.matchFlags = 1;
            }
            const STATUS status = callback(parameter, &match, nullptr);
            if (status != 0)
                return status;
        }
        if (retUntil != nullptr)
            *retUntil = ToTimedate(until);
        return 0;
    });
}

// ---- Server API: design notes and views ------------------------------------------------------

STATUS TAVFindDesignNote(DBHANDLE db, const char* name, uint16_t noteClass, NOTEID* retNoteId) {
    return GuardedCall(Op::TAVFindDesignNote, [&] {
        return FindDesign(db, name, noteClass, retNoteId, [&](const DesignEntry& entry) {
            return std::find(entry.names.begin(), entry.names.end(), name) != entry.names.end();
        });
    });
}

STATUS TAVFindDesignNoteExt(DBHANDLE db, const char* name, uint16_t noteClass, const char* pattern,
                            NOTEID* retNoteId, uint32_t options) {
    (void)pattern;
    return GuardedCall(Op::TAVFindDesignNoteExt, [&]() -> STATUS {
        if (options != 0)
            return ERR_QIX_BAD_ARGUMENT;
        return FindDesign(db, name, noteClass, retNoteId,
                          [&](const DesignEntry& entry) { return entry.title == name; });
    });
}

STATUS TAVOpenCollection(DBHANDLE viewDb, DBHANDLE dataDb, NOTEID viewNoteId, uint16_t openFlags,
                         IDHANDLE unreadList, HCOLLECTION* retCollection, NOTEHANDLE* retViewNote,
                         UNIVERSALID* retViewUnid, IDHANDLE* retCollapsedList,
                         IDHANDLE* retSelectedList) {
    (void)openFlags;
    (void)unreadList;
    return GuardedCall(Op::TAVOpenCollection, [&]() -> STATUS {
        std::shared_ptr<DbObject> views = Lookup<DbObject>(viewDb);
        std::shared_ptr<DbObject> data = Lookup<DbObject>(dataDb);
        if (!views || !data)
            return ERR_QIX_INVALID_HANDLE;
        // Views select documents of their own database only.
        if (retCollection == nullptr || views->db != data->db)
            return ERR_QIX_BAD_ARGUMENT;
        Database& database = *views->db;
        auto collection = std::make_shared<CollectionObject>();
        collection->db = views->db;
        collection->viewId = viewNoteId;
        UNIVERSALID viewUnid{};
        {
            ReadLock lock(database.mutex);
            auto view = database.views.find(viewNoteId);
            auto note = database.notes.find(viewNoteId);
            if (view == database.views.end() || note == database.notes.end()) {
                return ERR_QIX_NOTE_NOT_FOUND;
            }
            TakeSnapshot(*view->second, collection.get());
            viewUnid.file = note->second.originatorId.file;
            viewUnid.note = note->second.originatorId.note;
        }

        // Every handle handed out is closed again unless the whole call succeeds.
        NOTEHANDLE viewNote = QIX_NULLHANDLE;
        IDHANDLE collapsed = QIX_NULLHANDLE;
        IDHANDLE selected = QIX_NULLHANDLE;
        HCOLLECTION handle = QIX_NULLHANDLE;
        STATUS status = 0;
        if (retViewNote != nullptr)
            status = OpenNoteHandle(viewDb, viewNoteId, &viewNote);
        ScopedHandle viewNoteCloser(viewNote);
        if (status == 0 && retCollapsedList != nullptr) {
            status = AddHandle(std::make_shared<IdTableObject>(), &collapsed);
        }
        ScopedHandle collapsedCloser(collapsed);
        if (status == 0 && retSelectedList != nullptr) {
            status = AddHandle(std::make_shared<IdTableObject>(), &selected);
        }
        ScopedHandle selectedCloser(selected);
        if (status == 0)
            status = AddHandle(std::move(collection), &handle);
        if (status != 0)
            return status;
        viewNoteCloser.Release();
        collapsedCloser.Release();
        selectedCloser.Release();
        *retCollection = handle;
        if (retViewNote != nullptr)
            *retViewNote = viewNote;
        if (retViewUnid != nullptr)
            *retViewUnid = viewUnid;
        if (retCollapsedList != nullptr)
            *retCollapsedList = collapsed;
        if (retSelectedList != nullptr)
            *retSelectedList = selected;
        return 0;
    });
}

STATUS TAVCloseCollection(HCOLLECTION collection) {
    const CallSubject subject{QIX_NULLHANDLE, 0, collection};
    return GuardedCall(
        Op::TAVCloseCollection, [&] { return CloseHandleOfKind(collection, Kind::Collection); },
        &subject);
}

STATUS TAVReadEntries(HCOLLECTION collection, COLLECTIONPOSITION* position, uint16_t skipNavigator,
                      uint32_t skipCount, uint16_t returnNavigator, uint32_t returnCount,
                      uint32_t returnMask, MEMHANDLE* retBuffer, uint16_t* retBufferLength,
                      uint32_t* retNumberSkipped, uint32_t* retNumberReturned,
                      uint16_t* retSignalFlags) {
    return GuardedCall(Op::TAVReadEntries, [&]() -> STATUS {
        std::shared_ptr<CollectionObject> object = Lookup<CollectionObject>(collection);
        if (!object)
            return ERR_QIX_INVALID_HANDLE;
        const bool toLast = skipNavigator == NAVIGATE_LAST;
        if (position == nullptr || retBuffer == nullptr ||
            (skipCount > 0 && skipNavigator != NAVIGATE_NEXT && !toLast) ||
            (returnCount > 0 &&
             (returnNavigator != NAVIGATE_NEXT || (returnMask & READ_MASK_NOTEID) == 0))) {
            return ERR_QIX_BAD_ARGUMENT;
        }
        const std::vector<NOTEID>& entries = *object->entries;
        const uint64_t total = entries.size();
        // Positions are 1-based indexes; 0 is before the first entry.
        const uint64_t current = std::min<uint64_t>(position->tumbler[0], total);
        // NAVIGATE_LAST lands on the last entry by its index: no walk over the entries before.
        const uint64_t target = toLast && skipCount > 0 ? total : current + skipCount;
        const uint64_t landed = std::min(target, total);
        const uint64_t first = landed == 0 ? 1 : landed;  // returning starts at the landed entry
        const uint64_t available = target <= total && first <= total ? total - first + 1 : 0;
        const uint64_t count = std::min<uint64_t>({returnCount, available, kMaxEntriesPerRead});

        MEMHANDLE buffer = QIX_NULLHANDLE;
        if (count > 0) {
            const STATUS status = NewMemoryHandle(static_cast<uint32_t>(count * sizeof(NOTEID)),
                                                  false, &entries[first - 1], &buffer);
            if (status != 0)
                return status;
        }
        const uint64_t last = count > 0 ? first + count - 1 : landed;
        position->level = 0;
        position->tumbler[0] = static_cast<uint32_t>(last);
        *retBuffer = buffer;
        if (retBufferLength != nullptr) {
            *retBufferLength = static_cast<uint16_t>(count * sizeof(NOTEID));
        }
        if (retNumberSkipped != nullptr) {
            *retNumberSkipped = static_cast<uint32_t>(landed - current);
        }
        if (retNumberReturned != nullptr)
            *retNumberReturned = static_cast<uint32_t>(count);
        if (retSignalFlags != nullptr)
            *retSignalFlags = last < total ? SIGNAL_MORE_ENTRIES : 0;
        return 0;
    });
}

STATUS TAVGetLastModifiedTime(HCOLLECTION collection, TIMEDATE* retTime) {
    return GuardedCall(Op::TAVGetLastModifiedTime, [&]() -> STATUS {
        std::shared_ptr<CollectionObject> object = Lookup<CollectionObject>(collection);
        if (!object)
            return ERR_QIX_INVALID_HANDLE;
        if (retTime == nullptr)
            return ERR_QIX_BAD_ARGUMENT;
        *retTime = ToTimedate(object->lastModified);
        return 0;
    });
}
