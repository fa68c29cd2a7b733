// The call gate of the stand-in server: the list of server API operations, and the entry every
// server API call goes through, which counts the call and fails it when an armed fault says so.
// script/bench reads the operation names from the QIXSIM_OPERATIONS list below.
#ifndef KOVA_HOSTSIM_CALLGATE_H
#define KOVA_HOSTSIM_CALLGATE_H

#include <cstddef>

#include "hostapi/qixapi.h"

namespace qixsim::detail {

// Every server API function the stand-in exports, in one list: the operations counted and faulted.
#define QIXSIM_OPERATIONS(X)      \
    X(EMCreateRecursionID)        \
    X(EMRegister)                 \
    X(EMDeregister)               \
    X(OSCurrentTIMEDATE)          \
    X(ConvertTIMEDATEToText)      \
    X(LogEventTextNoConsole)      \
    X(OSMemAlloc)                 \
    X(OSLockObject)               \
    X(OSUnlockObject)             \
    X(OSMemFree)                  \
    X(IDCreateTable)              \
    X(IDInsert)                   \
    X(IDEntries)                  \
    X(IDScan)                     \
    X(IDDestroyTable)             \
    X(QIXDbOpen)                  \
    X(QIXDbClose)                 \
    X(QIXDbPathGet)               \
    X(QIXNoteOpen)                \
    X(QIXNoteClose)               \
    X(QIXNoteCreate)              \
    X(QIXNoteUpdate)              \
    X(QIXNoteUpdateExtended)      \
    X(QIXNoteDelete)              \
    X(QIXDbDeleteNotes)           \
    X(QIXNoteGetInfo)             \
    X(QIXItemGetText)             \
    X(QIXItemGetTextListEntries)  \
    X(QIXItemGetTextListEntry)    \
    X(QIXItemSetText)             \
    X(QIXItemSetNumber)           \
    X(QIXItemSetTime)             \
    X(QIXItemAppendTextListEntry) \
    X(QIXFormulaCompile)          \
    X(QIXSearch)                  \
    X(TAVFindDesignNote)          \
    X(TAVFindDesignNoteExt)       \
    X(TAVOpenCollection)          \
    X(TAVCloseCollection)         \
    X(TAVReadEntries)             \
    X(TAVGetLastModifiedTime)

enum class Op : std::size_t {
#define QIXSIM_OP_ENUM(name) name,
    QIXSIM_OPERATIONS(QIXSIM_OP_ENUM)
#undef QIXSIM_OP_ENUM
        Count
};
constexpr std::size_t kOpCount = static_cast<std::size_t>(Op::Count);

const char* OpName(Op op) noexcept;

// What a call names, for the faults that concern it: the note of a QIXNoteOpen (database handle
// and note id), for the faults armed on one note, or the handle a close releases, which a fault
// armed by a thread reports so that its host can close what the refused close left open.
struct CallSubject {
    DBHANDLE db = QIX_NULLHANDLE;
    NOTEID noteId = 0;
    QIXHANDLE closing = QIX_NULLHANDLE;
};

// Counts one call of `op`. True when an armed fault makes the call fail; *status then holds the
// status to answer. A call that cannot fail (void result) is counted but never fails. `note`
// (may be null) is looked at only while some fault is armed.
bool EnterCall(Op op, STATUS* status, bool canFail = true,
               const CallSubject* note = nullptr) noexcept;
// The notification stage whose handler is running on this thread: EM_STAGE_BEFORE,
// EM_STAGE_AFTER, or -1 outside any handler (hostsim/notify.cpp).
int CurrentStage() noexcept;
// A HostCalls scope is open on this thread (host.h): its calls are the host's own.
bool InHostCalls() noexcept;
void ResetFaultsAndCounters() noexcept;

// Runs `body` for a STATUS function behind the gate; an exception becomes ERR_QIX_NO_MEMORY.
template <typename Body>
STATUS GuardedCall(Op op, Body&& body, const CallSubject* note = nullptr) noexcept {
    STATUS fault = 0;
    if (EnterCall(op, &fault, true, note))
        return fault;
    try {
        return body();
    } catch (...) {
        return ERR_QIX_NO_MEMORY;
    }
}

// The same for a function whose result is not a STATUS: a fault or exception answers `failure`.
template <typename Result, typename Body>
Result GuardedValue(Op op, Result failure, Body&& body) noexcept {
    STATUS fault = 0;
    if (EnterCall(op, &fault))
        return failure;
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// For host-side entry points, which are not counted: an exception becomes ERR_QIX_NO_MEMORY.
template <typename Body>
STATUS HostCall(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return ERR_QIX_NO_MEMORY;
    }
}

}  // namespace qixsim::detail

#endif  // KOVA_HOSTSIM_CALLGATE_H
