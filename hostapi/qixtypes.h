/* Record layouts, handle types, statuses and constants of the host server API.
 * Shared by the add-in, the stand-in server and the tools; usable from C and C++.
 * Every layout here is observable across the library boundary: do not reorder fields. */
#ifndef KOVA_HOSTAPI_QIXTYPES_H
#define KOVA_HOSTAPI_QIXTYPES_H

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Scalars ------------------------------------------------------------------------------ */

typedef uint16_t STATUS; /* 0 = success */
typedef uint32_t NOTEID; /* 0 = not yet stored */
typedef int QIXBOOL;     /* 0 false, anything else true */

/* One handle width per platform: 32 bits on Windows, 16 bits elsewhere. 0 is never a handle. */
#if defined(_WIN32)
typedef uint32_t QIXHANDLE;
#else
typedef uint16_t QIXHANDLE;
#endif

typedef QIXHANDLE DBHANDLE;     /* an open database */
typedef QIXHANDLE NOTEHANDLE;   /* an open note (a working copy of one note) */
typedef QIXHANDLE MEMHANDLE;    /* a block of server memory; formulas and read buffers are these */
typedef QIXHANDLE IDHANDLE;     /* an ID table: a set of note ids */
typedef QIXHANDLE HCOLLECTION;  /* an open view collection */
typedef MEMHANDLE FORMULAHANDLE; /* a compiled formula, freed with OSMemFree */

#define QIX_NULLHANDLE ((QIXHANDLE)0)

/* ---- Records ------------------------------------------------------------------------------ */

/* The server's 8-byte time: hundredths of a second since 1970-01-01 00:00:00 UTC,
 * low 32 bits in word[0], high 32 bits in word[1]. */
typedef struct TIMEDATE {
    uint32_t word[2];
} TIMEDATE;

/* Universal id of a note: file part (word 0, word 1), then note part (word 0, word 1). */
typedef struct UNIVERSALID {
    TIMEDATE file;
    TIMEDATE note;
} UNIVERSALID;

/* Originator id: universal id, sequence number (stores so far), time of the last store. */
typedef struct ORIGINATORID {
    TIMEDATE file;
    TIMEDATE note;
    uint32_t sequence;
    TIMEDATE sequenceTime;
} ORIGINATORID;

/* A position in a view: level 0 and tumbler[0] = 1-based index of the current entry
 * (0 = before the first entry). */
#define QIX_MAX_TUMBLER_LEVELS 32
typedef struct COLLECTIONPOSITION {
    uint16_t level;
    uint8_t minLevel;
    uint8_t maxLevel;
    uint32_t tumbler[QIX_MAX_TUMBLER_LEVELS];
} COLLECTIONPOSITION;

/* What QIXSearch hands its callback for each selected document. */
typedef struct SEARCH_MATCH {
    ORIGINATORID originatorId;
    NOTEID noteId;
    uint16_t noteClass;
    uint16_t matchFlags;
} SEARCH_MATCH;

/* The notification record passed to an extension-manager handler. `arguments` holds the
 * operation's arguments; every handle and note id in it is passed as an `unsigned int`, so read
 * them with EMArgHandle / EMArgNoteId (below), which are defined for both handle widths. */
typedef struct EMRECORD {
    uint16_t notificationId;
    uint16_t stage;  /* EM_STAGE_BEFORE or EM_STAGE_AFTER */
    uint16_t status; /* after stage: the operation's status */
    va_list arguments;
} EMRECORD;

typedef STATUS (*EMHANDLER)(EMRECORD* record);
typedef STATUS (*QIXSEARCHPROC)(void* parameter, const SEARCH_MATCH* match, const void* summary);

/* ---- Constants ---------------------------------------------------------------------------- */

/* Extension manager. */
#define EM_CONTINUE_STATUS ((STATUS)725) /* a before-stage handler lets the operation go on */
#define EM_QIXNOTEUPDATE ((uint16_t)47)
#define EM_QIXNOTEUPDATEXTENDED ((uint16_t)102)
#define EM_QIXNOTEDELETE ((uint16_t)8)
#define EM_QIXDBDELETENOTES ((uint16_t)24)
#define EM_REG_BEFORE ((uint16_t)1)
#define EM_REG_AFTER ((uint16_t)2)
#define EM_STAGE_BEFORE ((uint16_t)0)
#define EM_STAGE_AFTER ((uint16_t)1)

/* Note classes. */
#define NOTE_CLASS_DOCUMENT ((uint16_t)1)
#define NOTE_CLASS_FORM ((uint16_t)4)
#define NOTE_CLASS_VIEW ((uint16_t)8)

/* QIXNoteGetInfo selectors. */
#define NOTE_INFO_DB ((uint16_t)0)         /* DBHANDLE */
#define NOTE_INFO_ID ((uint16_t)1)         /* NOTEID */
#define NOTE_INFO_ORIGINATOR ((uint16_t)2) /* ORIGINATORID */
#define NOTE_INFO_CLASS ((uint16_t)3)      /* uint16_t */

/* TAVReadEntries. NAVIGATE_NEXT moves one entry on per step; NAVIGATE_LAST (skip only) moves
 * straight to the last entry of the collection, whatever the position. */
#define NAVIGATE_NEXT ((uint16_t)1)
#define NAVIGATE_LAST ((uint16_t)4)
#define READ_MASK_NOTEID ((uint32_t)1)
#define SIGNAL_MORE_ENTRIES ((uint16_t)0x20)

/* QIXItemSetText: this length means "the text is NUL-terminated". */
#define QIX_TEXT_TERMINATED ((uint16_t)65535)

/* Path buffers given to QIXDbPathGet must hold this many bytes. */
#define QIX_MAXPATH 256

/* Statuses the stand-in server answers with. Some carry bits above 0x3fff, as a real server's
 * do, so that callers which mask statuses with 0x3fff are exercised. */
#define ERR_QIX_BAD_ARGUMENT ((STATUS)0x0101)
#define ERR_QIX_NO_MEMORY ((STATUS)0x0102)
#define ERR_QIX_NO_HANDLES ((STATUS)0x0103)
#define ERR_QIX_INVALID_HANDLE ((STATUS)0x4104)
#define ERR_QIX_DB_NOT_FOUND ((STATUS)0x4105)
#define ERR_QIX_DB_EXISTS ((STATUS)0x0106)
#define ERR_QIX_NOTE_NOT_FOUND ((STATUS)0x0107)
#define ERR_QIX_NOTE_DELETED ((STATUS)0x8108)
#define ERR_QIX_ITEM_NOT_FOUND ((STATUS)0x0109)
#define ERR_QIX_DESIGN_NOT_FOUND ((STATUS)0x010A)
#define ERR_QIX_FORMULA ((STATUS)0x010B)
#define ERR_QIX_BAD_SELECTOR ((STATUS)0x010C)
#define ERR_QIX_BAD_REGISTRATION ((STATUS)0x410D)
#define ERR_QIX_ID_NOT_FOUND ((STATUS)0x010E)

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
static_assert(sizeof(TIMEDATE) == 8, "TIMEDATE is 8 bytes");
static_assert(sizeof(UNIVERSALID) == 16, "UNIVERSALID is 16 bytes");
static_assert(sizeof(ORIGINATORID) == 28, "ORIGINATORID is 28 bytes");
static_assert(sizeof(NOTEID) == 4, "NOTEID is 32 bits");
static_assert(sizeof(STATUS) == 2, "STATUS is 16 bits");
#if defined(_WIN32)
static_assert(sizeof(QIXHANDLE) == 4, "handles are 32 bits on Windows");
#else
static_assert(sizeof(QIXHANDLE) == 2, "handles are 16 bits on UNIX");
#endif
#else
_Static_assert(sizeof(ORIGINATORID) == 28, "ORIGINATORID is 28 bytes");
#endif

/* ---- Reading notification arguments ------------------------------------------------------
 * The host passes every handle and note id as `unsigned int`. A 16-bit handle passed through a
 * variadic call would be promoted to int, and reading it back with va_arg(ap, uint16_t) is
 * undefined; reading the promoted type and narrowing is defined for both widths. */
static inline QIXHANDLE EMArgHandle(va_list* arguments) {
    return (QIXHANDLE)va_arg(*arguments, unsigned int);
}
static inline NOTEID EMArgNoteId(va_list* arguments) {
    return (NOTEID)va_arg(*arguments, unsigned int);
}

#endif /* KOVA_HOSTAPI_QIXTYPES_H */
