/* The host server API: every operation the add-in may call, with C linkage.
 * The add-in only imports these; the stand-in server (hostsim/, library "qixapi") defines them.
 * Unless said otherwise an operation returns a STATUS, 0 on success; an output is written only
 * on success. A bad, closed or wrong-kind handle gives ERR_QIX_INVALID_HANDLE. */
#ifndef KOVA_HOSTAPI_QIXAPI_H
#define KOVA_HOSTAPI_QIXAPI_H

#include "hostapi/qixtypes.h"

#if defined(_WIN32)
#if defined(QIXAPI_BUILDING)
#define QIXAPI __declspec(dllexport)
#else
#define QIXAPI __declspec(dllimport)
#endif
#else
#define QIXAPI __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Extension manager -------------------------------------------------------------------- */

/* A new recursion id. While a handler registered with id R runs, the API calls it makes on its
 * own thread raise no notification for registrations that carry R. */
QIXAPI STATUS EMCreateRecursionID(uint16_t* retRecursionId);
/* Calls `handler` for `notificationId` at the stages in `stageFlags` (EM_REG_BEFORE | EM_REG_AFTER,
 * not 0). Writes a non-zero registration handle. */
QIXAPI STATUS EMRegister(uint16_t notificationId, uint16_t stageFlags, EMHANDLER handler,
                         uint16_t recursionId, uint32_t* retRegistration);
QIXAPI STATUS EMDeregister(uint32_t registration);

/* ---- Time and the log database ------------------------------------------------------------ */

QIXAPI void OSCurrentTIMEDATE(TIMEDATE* retTime);
/* Default text "YYYY-MM-DD HH:MM:SS.hh" (UTC). intlFormat and textFormat must be null (the
 * server's defaults). Writes at most bufferLength - 1 characters and a NUL; the length written
 * goes to retLength. */
QIXAPI STATUS ConvertTIMEDATEToText(const void* intlFormat, const void* textFormat,
                                    const TIMEDATE* time, char* retText, uint16_t bufferLength,
                                    uint16_t* retLength);
/* Formats like printf and appends the text as one entry to the log database "log.qix";
 * nothing reaches the console. module and additionalError must be 0. additionalError is an
 * unsigned int (not a STATUS) because it is the last named parameter before the variable
 * arguments, where a type that promotes would make va_start undefined. */
QIXAPI STATUS LogEventTextNoConsole(const char* format, QIXHANDLE module,
                                    unsigned int additionalError, ...);

/* ---- Memory handles ----------------------------------------------------------------------- */

QIXAPI STATUS OSMemAlloc(uint16_t blockType, uint32_t size, MEMHANDLE* retHandle);
/* The block's address, or null for a bad handle. Locks nest; OSUnlockObject undoes one lock. */
QIXAPI void* OSLockObject(MEMHANDLE handle);
QIXAPI QIXBOOL OSUnlockObject(MEMHANDLE handle);
QIXAPI STATUS OSMemFree(MEMHANDLE handle);

/* ---- ID tables ---------------------------------------------------------------------------- */

QIXAPI STATUS IDCreateTable(uint32_t alignment, IDHANDLE* retTable);
QIXAPI STATUS IDInsert(IDHANDLE table, NOTEID noteId, QIXBOOL* retInserted);
QIXAPI uint32_t IDEntries(IDHANDLE table);
/* Ids in ascending order: first = true for the first id, false for each next one. True while an
 * id is delivered into retNoteId. */
QIXAPI QIXBOOL IDScan(IDHANDLE table, QIXBOOL first, NOTEID* retNoteId);
QIXAPI STATUS IDDestroyTable(IDHANDLE table);

/* ---- Databases ---------------------------------------------------------------------------- */

/* path relative to the data directory; either separator. */
QIXAPI STATUS QIXDbOpen(const char* path, DBHANDLE* retDb);
QIXAPI STATUS QIXDbClose(DBHANDLE db);
/* Canonical path (relative to the data directory, with the server's separator) into a
 * QIX_MAXPATH-byte buffer; retExpanded, when not null, receives the same path prefixed with the
 * data directory. */
QIXAPI STATUS QIXDbPathGet(DBHANDLE db, char* retCanonical, char* retExpanded);

/* ---- Notes -------------------------------------------------------------------------------- */

QIXAPI STATUS QIXNoteOpen(DBHANDLE db, NOTEID noteId, uint16_t flags, NOTEHANDLE* retNote);
QIXAPI STATUS QIXNoteClose(NOTEHANDLE note);
/* An open, unsaved document: note id 0, universal id already assigned, sequence 0. */
QIXAPI STATUS QIXNoteCreate(DBHANDLE db, NOTEHANDLE* retNote);
/* Stores the note (notification EM_QIXNOTEUPDATE): assigns its note id on the first store and on
 * every store raises the sequence number and sets the sequence time. */
QIXAPI STATUS QIXNoteUpdate(NOTEHANDLE note, uint16_t flags);
/* The same store, raising EM_QIXNOTEUPDATEXTENDED instead. */
QIXAPI STATUS QIXNoteUpdateExtended(NOTEHANDLE note, uint32_t flags);
/* Deletes one stored note (notification EM_QIXNOTEDELETE). */
QIXAPI STATUS QIXNoteDelete(DBHANDLE db, NOTEID noteId, uint16_t flags);
/* Deletes every note of an ID table (notification EM_QIXDBDELETENOTES). */
QIXAPI STATUS QIXDbDeleteNotes(DBHANDLE db, IDHANDLE table, uint32_t flags);
/* NOTE_INFO_* selector; retValue points to a DBHANDLE, NOTEID, ORIGINATORID or uint16_t. */
QIXAPI STATUS QIXNoteGetInfo(NOTEHANDLE note, uint16_t selector, void* retValue);

/* ---- Items -------------------------------------------------------------------------------- *
 * Read contract: copy at most bufferLength - 1 characters, always write the terminator (when
 * bufferLength > 0), and return the number of characters copied. A missing item reads as the
 * empty text and as a list of 0 entries; a text item reads as a list of one entry. */
QIXAPI uint16_t QIXItemGetText(NOTEHANDLE note, const char* itemName, char* retBuffer,
                               uint16_t bufferLength);
QIXAPI uint16_t QIXItemGetTextListEntries(NOTEHANDLE note, const char* itemName);
QIXAPI uint16_t QIXItemGetTextListEntry(NOTEHANDLE note, const char* itemName, uint16_t entry,
                                        char* retBuffer, uint16_t bufferLength);
/* textLength QIX_TEXT_TERMINATED: text is NUL-terminated. Replaces an item of the same name in
 * place (its position among the note's items stays), else appends it. */
QIXAPI STATUS QIXItemSetText(NOTEHANDLE note, const char* itemName, const char* text,
                             uint16_t textLength);
QIXAPI STATUS QIXItemSetNumber(NOTEHANDLE note, const char* itemName, const double* number);
QIXAPI STATUS QIXItemSetTime(NOTEHANDLE note, const char* itemName, const TIMEDATE* time);
/* Appends one entry to a text-list item, creating the item when it is missing. */
QIXAPI STATUS QIXItemAppendTextListEntry(NOTEHANDLE note, const char* itemName, const char* text,
                                         uint16_t textLength);

/* ---- Formulas and search ------------------------------------------------------------------ */

/* Only "@All" compiles; any other formula fails with ERR_QIX_FORMULA. formulaName may be null.
 * The error-locating outputs may each be null. The formula is a memory handle: OSMemFree it. */
QIXAPI STATUS QIXFormulaCompile(const char* formulaName, uint16_t formulaNameLength,
                                const char* formula, uint16_t formulaLength,
                                FORMULAHANDLE* retFormula, uint16_t* retFormulaLength,
                                STATUS* retCompileError, uint16_t* retErrorLine,
                                uint16_t* retErrorColumn, uint16_t* retErrorOffset,
                                uint16_t* retErrorLength);
/* Calls `callback` once per stored note whose class is in noteClassMask, in ascending note id
 * order. A non-zero callback status ends the search and is returned. viewTitle is accepted and
 * not used for selection; since and retUntil may be null. */
QIXAPI STATUS QIXSearch(DBHANDLE db, FORMULAHANDLE formula, const char* viewTitle,
                        uint16_t searchFlags, uint16_t noteClassMask, const TIMEDATE* since,
                        QIXSEARCHPROC callback, void* parameter, TIMEDATE* retUntil);

/* ---- Design notes and views --------------------------------------------------------------- */

/* A form (class NOTE_CLASS_FORM) by any of the ";"-separated names of its "$TITLE". */
QIXAPI STATUS TAVFindDesignNote(DBHANDLE db, const char* name, uint16_t noteClass,
                                NOTEID* retNoteId);
/* A design note by its whole "$TITLE"; pattern is accepted and not used; options must be 0. */
QIXAPI STATUS TAVFindDesignNoteExt(DBHANDLE db, const char* name, uint16_t noteClass,
                                   const char* pattern, NOTEID* retNoteId, uint32_t options);
/* Opens the view's entries: the documents whose "Form" is one of the view's selected forms,
 * oldest change first. Every output but retCollection may be null. */
QIXAPI STATUS TAVOpenCollection(DBHANDLE viewDb, DBHANDLE dataDb, NOTEID viewNoteId,
                                uint16_t openFlags, IDHANDLE unreadList, HCOLLECTION* retCollection,
                                NOTEHANDLE* retViewNote, UNIVERSALID* retViewUnid,
                                IDHANDLE* retCollapsedList, IDHANDLE* retSelectedList);
QIXAPI STATUS TAVCloseCollection(HCOLLECTION collection);
/* Moves from `position` with skipNavigator, then returns up to returnCount entries from the
 * entry it landed on (returnNavigator NAVIGATE_NEXT, returnMask READ_MASK_NOTEID: an array of
 * NOTEID) in a new memory handle, or no handle when nothing is returned. NAVIGATE_NEXT moves
 * skipCount entries; NAVIGATE_LAST moves to the last entry for any skipCount but 0 (skipCount 0
 * does not move, with either navigator). retNumberSkipped gets the number of entries moved over.
 * `position` ends on the last entry returned. retSignalFlags gets SIGNAL_MORE_ENTRIES while
 * entries follow the last one returned. Outputs but the buffer may be null. */
QIXAPI STATUS TAVReadEntries(HCOLLECTION collection, COLLECTIONPOSITION* position,
                             uint16_t skipNavigator, uint32_t skipCount, uint16_t returnNavigator,
                             uint32_t returnCount, uint32_t returnMask, MEMHANDLE* retBuffer,
                             uint16_t* retBufferLength, uint32_t* retNumberSkipped,
                             uint32_t* retNumberReturned, uint16_t* retSignalFlags);
/* Changes whenever a document the view selects is created, changed or deleted. */
QIXAPI STATUS TAVGetLastModifiedTime(HCOLLECTION collection, TIMEDATE* retTime);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* KOVA_HOSTAPI_QIXAPI_H */
