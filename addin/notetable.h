// The pending-note tables: heap copies of before-stage contexts, parked until the after stage of
// the same operation takes them out again. hSaveNoteTable is keyed by note handle,
// hDeleteNoteTable by note id and database handle. Each table has its own mutex, held only while
// the chain is changed or walked, never across a server API call. Each is a singly linked chain
// from its head, newest first, with a key index beside it (addin/keyindex.h).
#ifndef KOVA_ADDIN_NOTETABLE_H
#define KOVA_ADDIN_NOTETABLE_H

#include <memory>

#include "addin/keyindex.h"
#include "capture/context.h"

namespace kova {

// Changed only through the functions below, which keep the index in step with the chain.
extern NoteTable hSaveNoteTable;
extern NoteTable hDeleteNoteTable;

// Parks a heap copy of `context` at the head of `table` (one of the two above) and moves the
// context's connector ids into it. Always 0. When the entry cannot be allocated an ERROR line is
// logged and nothing is parked (the context keeps its ids, which the caller releases); when the
// table's lock cannot be taken an ERROR line is logged and nothing is parked (the ids go with
// the entry).
// An entry parked for a profile document holds its change in flight (profile/refresh.h) from
// the moment it is linked until it is released, on every path.
enum class ParkedFor { kEvent, kProfileChange };
STATUS AddNoteEntryV75(NoteTable& table, EventContext& context,
                       ParkedFor parkedFor = ParkedFor::kEvent) noexcept;
// The newest entry with the key, unlinked and handed to the caller, or null.
NoteEntry* RemoveSaveNoteEntry(NOTEHANDLE noteHandle) noexcept;
NoteEntry* RemoveDeleteNoteEntry(NOTEID noteId, DBHANDLE dbHandle) noexcept;
// Releases every entry of the table with its connector ids; the table is empty afterwards. Runs
// at unload and waits for no lock: a table another thread is changing at that moment is left as
// it is (an ERROR line says so).
void FreeNoteTable(NoteTable& table) noexcept;
// Releases one entry that a remove handed out, with its connector ids (null is allowed). Only
// entries made by AddNoteEntryV75 may be passed.
void FreeNoteEntry(NoteEntry* entry) noexcept;

// The owner of an entry a remove handed out.
struct NoteEntryDeleter {
    void operator()(NoteEntry* entry) const noexcept { FreeNoteEntry(entry); }
};
using OwnedNoteEntry = std::unique_ptr<NoteEntry, NoteEntryDeleter>;

}  // namespace kova

#endif  // KOVA_ADDIN_NOTETABLE_H
