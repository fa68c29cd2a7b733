// The note store of each database: storing and deleting notes, note ids, originator ids and the
// indexes kept beside the notes (design notes by title, view entries by change order). Every
// change happens under the database's exclusive lock; nothing here calls out of the stand-in.
#include <algorithm>

#include "hostsim/clock.h"
#include "hostsim/objects.h"
#include "hostsim/store.h"

namespace qixsim::detail {
namespace {

// One clock read shared by every view a change touches, taken only when one is touched.
class ChangeTime {
  public:
    explicit ChangeTime(uint64_t known = 0, bool have = false) : value_(known), have_(have) {}
    uint64_t Get() {
        if (!have_) {
            value_ = ReadClock();
            have_ = true;
        }
        return value_;
    }

  private:
    uint64_t value_;
    bool have_;
};

// The names a design note's title gives it: the ";"-separated parts, blanks trimmed, empty
// ones dropped.
std::vector<std::string> SplitTitle(const std::string& title) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= title.size()) {
        std::size_t end = title.find(';', start);
        if (end == std::string::npos)
            end = title.size();
        std::size_t first = start;
        std::size_t last = end;
        while (first < last && (title[first] == ' ' || title[first] == '\t'))
            ++first;
        while (last > first && (title[last - 1] == ' ' || title[last - 1] == '\t'))
            --last;
        if (last > first)
            names.push_back(title.substr(first, last - first));
        start = end + 1;
    }
    return names;
}

std::set<std::string> ViewForms(const Items& items) {
    std::set<std::string> forms;
    const ItemValue* value = FindItem(items, kSelectionItem);
    if (value == nullptr)
        return forms;
    if (const auto* list = std::get_if<TextList>(value)) {
        forms.insert(list->begin(), list->end());
    } else {
        forms.insert(ItemText(*value));
    }
    return forms;
}

std::string ItemTextOf(const Items& items, const char* name) {
    const ItemValue* value = FindItem(items, name);
    return value != nullptr ? ItemText(*value) : std::string();
}

void Touch(ViewIndex& view, ChangeTime& time) {
    view.dirty.store(true, std::memory_order_relaxed);
    // A view's time moves on every change, even two within one hundredth of a second.
    view.lastModified = std::max(time.Get(), view.lastModified + 1);
}

// Builds the entries of a view from every stored document (a view note stored anew).
void RebuildView(const Database& db, ViewIndex& view) {
    view.entries.clear();
    for (const auto& [id, note] : db.notes) {
        if (note.noteClass == NOTE_CLASS_DOCUMENT && view.forms.count(note.form) != 0) {
            view.entries.emplace(note.changeSeq, id);
        }
    }
}

// Brings the design index and the view indexes from `before` (null: the note is new) to `after`
// (null: the note is deleted). Called under the database's exclusive lock.
void UpdateIndexes(Database& db, const StoredNote* before, const StoredNote* after,
                   ChangeTime& time) {
    if (after != nullptr && after->noteClass != NOTE_CLASS_DOCUMENT) {
        DesignEntry entry;
        entry.noteClass = after->noteClass;
        entry.title = ItemTextOf(*after->items, kTitleItem);
        entry.names = SplitTitle(entry.title);
        db.designs[after->id] = std::move(entry);
    } else if (before != nullptr && before->noteClass != NOTE_CLASS_DOCUMENT) {
        db.designs.erase(before->id);
    }

    if (after != nullptr && after->noteClass == NOTE_CLASS_VIEW) {
        std::unique_ptr<ViewIndex>& view = db.views[after->id];
        std::set<std::string> forms = ViewForms(*after->items);
        if (!view)
            view = std::make_unique<ViewIndex>();
        view->forms.swap(forms);
        RebuildView(db, *view);
        Touch(*view, time);
    } else if (before != nullptr && before->noteClass == NOTE_CLASS_VIEW) {
        db.views.erase(before->id);
    }

    const bool wasDocument = before != nullptr && before->noteClass == NOTE_CLASS_DOCUMENT;
    const bool isDocument = after != nullptr && after->noteClass == NOTE_CLASS_DOCUMENT;
    if (!wasDocument && !isDocument)
        return;
    for (auto& [viewId, view] : db.views) {
        const bool wasSelected = wasDocument && view->forms.count(before->form) != 0;
        const bool isSelected = isDocument && view->forms.count(after->form) != 0;
        if (wasSelected)
            view->entries.erase(before->changeSeq);
        if (isSelected)
            view->entries[after->changeSeq] = after->id;
        if (wasSelected || isSelected)
            Touch(*view, time);
    }
}

// Stores `items` as note `id` (0: a new note). Called under the database's exclusive lock.
STATUS StoreLocked(Database& db, NOTEID id, uint16_t noteClass, const ORIGINATORID& newOid,
                   std::shared_ptr<const Items> items, StoredNote* result) {
    const StoredNote* before = nullptr;
    StoredNote next;
    if (id != 0) {
        auto it = db.notes.find(id);
        if (it == db.notes.end())
            return ERR_QIX_NOTE_DELETED;
        before = &it->second;
        next.id = id;
        next.originatorId = before->originatorId;
    } else {
        next.id = db.nextNoteId;
        next.originatorId = newOid;
        next.originatorId.sequence = 0;
    }
    next.noteClass = noteClass;
    next.form = ItemTextOf(*items, kFormItem);
    next.items = std::move(items);
    const uint64_t now = ReadClock();
    next.originatorId.sequence += 1;
    next.originatorId.sequenceTime = ToTimedate(now);
    next.changeSeq = db.changeCounter + 1;

    ChangeTime time(now, true);
    UpdateIndexes(db, before, &next, time);
    db.changeCounter = next.changeSeq;
    if (id == 0)
        db.nextNoteId += kNoteIdStep;
    *result = next;
    db.notes[next.id] = std::move(next);
    return 0;
}

}  // namespace

UNIVERSALID NewUniversalId(Database& db) {
    UNIVERSALID unid;
    unid.file = db.fileUnid;
    unid.note.word[0] = db.nextNoteSerial.fetch_add(1, std::memory_order_relaxed);
    unid.note.word[1] = 0x80250000u | (db.serial & 0xFFFFu);
    return unid;
}

STATUS StoreNoteOperation(NOTEHANDLE handle) {
    STATUS status = ERR_QIX_INVALID_HANDLE;
    WithObject<NoteObject>(handle, [&](NoteObject& note) {
        Database& db = *note.db;
        std::shared_ptr<const Items> items =
            note.own ? std::make_shared<const Items>(*note.own) : note.shared;
        StoredNote stored;
        {
            WriteLock lock(db.mutex);
            status = StoreLocked(db, note.id, note.noteClass, note.originatorId, items, &stored);
        }
        if (status != 0)
            return;
        note.id = stored.id;
        note.originatorId = stored.originatorId;
        note.shared = std::move(items);
        note.own.reset();
    });
    return status;
}

STATUS StoreNewNote(Database& db, uint16_t noteClass, Items items, NOTEID* retNoteId) {
    ORIGINATORID oid{};
    const UNIVERSALID unid = NewUniversalId(db);
    oid.file = unid.file;
    oid.note = unid.note;
    auto shared = std::make_shared<const Items>(std::move(items));
    StoredNote stored;
    WriteLock lock(db.mutex);
    const STATUS status = StoreLocked(db, 0, noteClass, oid, std::move(shared), &stored);
    if (status == 0 && retNoteId != nullptr)
        *retNoteId = stored.id;
    return status;
}

STATUS DeleteNoteOperation(Database& db, NOTEID noteId) {
    return DeleteNotesOperation(db, std::vector<NOTEID>{noteId});
}

STATUS DeleteNotesOperation(Database& db, const std::vector<NOTEID>& ids) {
    std::vector<StoredNote> removed;  // destroyed after the lock is released
    removed.reserve(ids.size());
    WriteLock lock(db.mutex);
    for (NOTEID id : ids) {
        if (db.notes.find(id) == db.notes.end())
            return ERR_QIX_NOTE_NOT_FOUND;
    }
    ChangeTime time;
    for (NOTEID id : ids) {
        auto it = db.notes.find(id);
        if (it == db.notes.end())
            continue;  // listed twice
        UpdateIndexes(db, &it->second, nullptr, time);
        removed.push_back(std::move(it->second));
        db.notes.erase(it);
    }
    lock.unlock();
    return 0;
}

}  // namespace qixsim::detail
