// The pending-note tables: parking a before-stage context, finding it again in the after stage,
// and releasing entries. The chains are changed only under their table's mutex; log lines are
// formatted under it (the entry may be gone once it is released) and written after it.
#include "addin/notetable.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "log/logline.h"

namespace kova {

NoteTable hSaveNoteTable = nullptr;
NoteTable hDeleteNoteTable = nullptr;

namespace {

std::mutex gSaveTableLock;
std::mutex gDeleteTableLock;
std::mutex gOtherTableLock;  // tables other than the two process-wide ones (tests)

std::mutex& LockOf(const NoteTable& table) noexcept {
    if (&table == &hSaveNoteTable) return gSaveTableLock;
    if (&table == &hDeleteNoteTable) return gDeleteTableLock;
    return gOtherTableLock;
}

// Formats an entry line into gTextBuffer when DEBUG lines pass; answers whether it did.
bool FormatEntryLine(const char* prefix, const NoteEntry* entry) noexcept {
    if (!LogLevelPasses(LOG_DEBUG)) return false;
    std::snprintf(gTextBuffer, kTextBufferSize, "%s: Note ID: %X, Database Path: %s, Form Name: %s\n",
                  prefix, entry->noteId, entry->dbPath, entry->formName);
    return true;
}

// Unlinks the first entry `matches` accepts, walking from the head.
template <typename Match>
NoteEntry* Unlink(NoteTable& table, Match matches) noexcept {
    NoteEntry* previous = nullptr;
    for (NoteEntry* entry = table; entry != nullptr; previous = entry, entry = entry->next) {
        if (!matches(*entry)) continue;
        if (previous == nullptr) {
            table = entry->next;
        } else {
            previous->next = entry->next;
        }
        entry->next = nullptr;
        return entry;
    }
    return nullptr;
}

template <typename Match>
NoteEntry* RemoveEntry(NoteTable& table, const char* prefix, Match matches) noexcept {
    NoteEntry* entry;
    bool formatted = false;
    {
        std::lock_guard<std::mutex> lock(LockOf(table));
        entry = Unlink(table, matches);
        if (entry != nullptr) formatted = FormatEntryLine(prefix, entry);
    }
    if (entry == nullptr) {
        if (LogLevelPasses(LOG_DEBUG)) {
            std::snprintf(gTextBuffer, kTextBufferSize, "%s: NULL\n", prefix);
            LogLine(LOG_DEBUG, gTextBuffer);
        }
        return nullptr;
    }
    if (formatted) LogLine(LOG_DEBUG, gTextBuffer);
    return entry;
}

void CopyText(char* dest, size_t size, const char* source) noexcept {
    std::snprintf(dest, size, "%s", source);
}

}  // namespace

STATUS AddNoteEntryV75(NoteTable& table, EventContext& context) noexcept {
    auto* entry = new (std::nothrow) NoteEntry();
    if (entry == nullptr) {
        LogLine(LOG_ERROR, "AddSaveNoteEntry: out of memory, note not parked\n");
        return 0;
    }
    entry->noteHandle = context.noteHandle;
    entry->noteId = context.noteId;
    entry->originatorId = context.originatorId;
    entry->dbHandle = context.dbHandle;
    entry->eventType = context.eventType;
    CopyText(entry->formName, sizeof entry->formName, context.formName);
    CopyText(entry->dbPath, sizeof entry->dbPath, context.dbPath);
    if (context.connectorIds != nullptr) {
        KOVAListCopy(&entry->connectorIds, context.connectorIds);
        KOVAListCleanUp(context.connectorIds);
        context.connectorIds = nullptr;
    }

    bool formatted;
    {
        std::lock_guard<std::mutex> lock(LockOf(table));
        entry->next = table;
        table = entry;
        formatted = FormatEntryLine("AddSaveNoteEntry", entry);
    }
    if (formatted) LogLine(LOG_DEBUG, gTextBuffer);
    return 0;
}

NoteEntry* RemoveSaveNoteEntry(NOTEHANDLE noteHandle) noexcept {
    return RemoveEntry(hSaveNoteTable, "RemoveSaveNoteEntry",
                       [noteHandle](const NoteEntry& e) { return e.noteHandle == noteHandle; });
}

NoteEntry* RemoveDeleteNoteEntry(NOTEID noteId, DBHANDLE dbHandle) noexcept {
    return RemoveEntry(hDeleteNoteTable, "RemoveDeleteNoteEntry",
                       [noteId, dbHandle](const NoteEntry& e) {
                           return e.noteId == noteId && e.dbHandle == dbHandle;
                       });
}

void FreeNoteEntry(NoteEntry* entry) noexcept {
    if (entry == nullptr) return;
    KOVAListCleanUp(entry->connectorIds);
    delete entry;
}

void FreeNoteTable(NoteTable& table) noexcept {
    NoteEntry* chain;
    {
        std::lock_guard<std::mutex> lock(LockOf(table));
        chain = table;
        table = nullptr;
    }
    while (chain != nullptr) {
        NoteEntry* next = chain->next;
        FreeNoteEntry(chain);
        chain = next;
    }
}

}  // namespace kova
