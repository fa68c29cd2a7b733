// Host side of the stand-in server: what the host program (kovahost) and the tests use to build a
// server, perform note operations, inject faults and inspect the result. The server API of
// hostapi/qixapi.h and this interface share one in-memory state per process (in libqixapi).
// Everything here is thread-safe and may be called while handlers run on other threads.
#ifndef KOVA_HOSTSIM_HOST_H
#define KOVA_HOSTSIM_HOST_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "hostapi/qixapi.h"

namespace qixsim {

// The value of one item.
using TextList = std::vector<std::string>;
using ItemValue = std::variant<std::string, TextList, double, TIMEDATE>;
using Items = std::vector<std::pair<std::string, ItemValue>>;  // in the note's item order

struct NoteInfo {
    NOTEID noteId = 0;
    uint16_t noteClass = 0;
    ORIGINATORID originatorId{};
    Items items;
};

// ---- Server set-up ------------------------------------------------------------------------

// Back to a fresh server: only "log.qix" and "hub.qix" (both empty), no registrations, no
// faults, counters zero, separator "/", system clock. Open handles are invalidated.
QIXAPI void Reset();
// The separator QIXDbPathGet reports: '/' or '\\'.
QIXAPI void SetSeparator(char separator);
// The data directory QIXDbPathGet prefixes to expanded paths (default "/qix/data").
QIXAPI void SetDataDirectory(const std::string& dir);
// Clock: the system clock, or a fixed start that advances one hundredth of a second per read.
QIXAPI void UseSystemClock();
QIXAPI void UseFixedClock(TIMEDATE start);
// While held, the fixed clock answers every read with the same time (UseFixedClock still sets
// it), so that a test can place a reading exactly. Reset lets it move on again.
QIXAPI void HoldClock(bool held);
// "YYYY-MM-DD HH:MM:SS" (UTC) to a TIMEDATE; false on a malformed text.
QIXAPI bool ParseTime(const std::string& text, TIMEDATE* out);

// Databases by path relative to the data directory, written with '/'. Set-up calls raise no
// notification. Each returns ERR_QIX_DB_EXISTS / ERR_QIX_DB_NOT_FOUND and the like on failure.
QIXAPI STATUS CreateDatabase(const std::string& path);
// A form whose "$TITLE" is `title` ("Order; Purchase Order").
QIXAPI STATUS CreateForm(const std::string& dbPath, const std::string& title,
                         NOTEID* retNoteId = nullptr);
// A view titled `title` selecting the documents whose "Form" is one of `forms`.
QIXAPI STATUS CreateView(const std::string& dbPath, const std::string& title,
                         const std::vector<std::string>& forms, NOTEID* retNoteId = nullptr);
// A stored document with the given items (stored once: sequence 1).
QIXAPI STATUS CreateDocument(const std::string& dbPath, const Items& items,
                             NOTEID* retNoteId = nullptr);
// The event database an administrator installs as "kovaevents.qix": forms "Configuration",
// "SystemConfiguration", "EventTriggerConfiguration" and "Event", and the view
// "(All Configurations)" selecting the three profile forms.
QIXAPI STATUS CreateEventDatabase(const std::string& path = "kovaevents.qix");

// ---- Handles for the host side ------------------------------------------------------------------
// The same handles the server API gives, but these calls are neither counted nor subject to
// faults, so that a host's own set-up never disturbs the counts and faults a test arranges.

QIXAPI STATUS OpenDatabase(const std::string& path, DBHANDLE* retDb);
QIXAPI STATUS OpenNote(DBHANDLE db, NOTEID noteId, NOTEHANDLE* retNote);
QIXAPI STATUS NewNote(DBHANDLE db, NOTEHANDLE* retNote);  // unsaved document, like QIXNoteCreate
// The note id of an open note: 0 until its first store, the assigned id after it.
QIXAPI STATUS NoteIdOf(NOTEHANDLE note, NOTEID* retNoteId);
QIXAPI STATUS CloseHandle(QIXHANDLE handle);  // any kind of handle

// ---- Server API calls on the host's behalf
// ------------------------------------------------------- While a HostCalls scope is open on a
// thread, the server API calls made on that thread are the host's own, like the host-side calls
// above: they are not counted and no armed fault applies to them. So that they leave nothing else a
// test or scenario looks at, they also read the fixed clock without moving it on and keep no log
// database entry. Other threads are not affected; scopes nest. Costs every server API call one
// relaxed atomic load while no scope is open.
class QIXAPI HostCalls {
  public:
    HostCalls() noexcept;
    ~HostCalls();
    HostCalls(const HostCalls&) = delete;
    HostCalls& operator=(const HostCalls&) = delete;
};

// ---- Note operations (raise notifications) --------------------------------------------------
// Each runs through the server API and so calls the registered handlers before (stage 0) and
// after (stage 1) the operation. A non-zero `forcedStatus` makes the operation fail with that
// status without changing anything: the after stage carries it, and it is returned. These calls
// are not counted and faults do not apply to them; the handlers' own API calls are.

QIXAPI STATUS StoreNote(NOTEHANDLE note, bool extended = false, STATUS forcedStatus = 0);
QIXAPI STATUS DeleteNote(DBHANDLE db, NOTEID noteId, STATUS forcedStatus = 0);
QIXAPI STATUS DeleteNotes(DBHANDLE db, const std::vector<NOTEID>& noteIds, STATUS forcedStatus = 0);
// Sets items on an open note: text, text list, number or time.
QIXAPI STATUS SetItems(NOTEHANDLE note, const Items& items);
// While suspended, note operations (host side and server API alike) call no handler; the
// registrations stay and apply again once resumed. For measuring the server's own cost of an
// operation beside its cost with the handlers. Reset resumes. Answers the previous setting.
QIXAPI bool SuspendHandlers(bool suspended);

// ---- Faults and counters ------------------------------------------------------------------
// `operation` is a server API function name ("QIXNoteCreate"). A failing call changes nothing
// and answers `status`; calls whose result is not a STATUS answer their failure value (0 length,
// null pointer, false). A fault counts only calls made through the server API.

// The next `count` calls fail (count UINT32_MAX: every call from now on).
QIXAPI void FailNext(const std::string& operation, STATUS status, uint32_t count = 1);
// Only the k-th call from now fails (k = 1: the next call).
QIXAPI void FailNth(const std::string& operation, STATUS status, uint32_t k);
// The next `count` server API QIXNoteOpen calls of note `noteId` in database `dbPath` (as the
// set-up calls take it) fail, through any handle of that database; opens of other notes do not
// count (count UINT32_MAX: every open of that note from now on). A firing shows in
// FaultsInjected() as "QIXNoteOpen".
QIXAPI void FailNoteOpen(const std::string& dbPath, NOTEID noteId, STATUS status,
                         uint32_t count = 1);
// The k-th server API call from now, whatever its operation, fails; with `sticky` every later
// call of that same operation fails too. Returns nothing; FaultsInjected() says what fired.
QIXAPI void FailNthCall(uint64_t k, STATUS status, bool sticky = false);
QIXAPI void ClearFaults();
// A fault of the calling thread's own calls, so that a host running several threads can tell which
// of its operations met it: the k-th call from now that this thread makes of one of `operations`
// answers `status`, once. Arming again replaces it. It fires in whatever the thread runs, a
// handler's calls included, and does not show in FaultsInjected().
QIXAPI void FailNthCallOnThread(uint64_t k, STATUS status,
                                const std::vector<std::string>& operations);
// Where a thread's fault fired: the operation, the notification stage whose handler made the call
// (EM_STAGE_BEFORE, EM_STAGE_AFTER, or -1 outside a handler), for QIXNoteOpen the note (its
// database's path and its id), and for a close the handle the refused close left open.
struct ThreadFault {
    std::string operation;
    int stage = -1;
    std::string dbPath;
    NOTEID noteId = 0;
    QIXHANDLE closing = QIX_NULLHANDLE;
};
// Disarms the calling thread's fault; true, with `fired` filled when not null, when it fired.
QIXAPI bool TakeThreadFault(ThreadFault* fired);
// Faults that fired since the last Reset/ClearFaults, as "operation" names in firing order.
QIXAPI std::vector<std::string> FaultsInjected();

QIXAPI uint64_t CallCount(const std::string& operation);
QIXAPI uint64_t TotalCallCount();
QIXAPI std::map<std::string, uint64_t> CallCounts();
QIXAPI void ResetCallCounts();

// ---- Inspection -----------------------------------------------------------------------------

QIXAPI std::vector<std::string> ListDatabases();  // paths with '/', sorted
// Stored notes of a database in note id order (empty when the database does not exist).
QIXAPI std::vector<NoteInfo> ListNotes(const std::string& dbPath);
// Stored documents whose "Form" item is `form`, in note id order.
QIXAPI std::vector<NoteInfo> ListDocuments(const std::string& dbPath, const std::string& form);
QIXAPI std::vector<std::string> LogEntries();  // the entries of "log.qix", oldest first
QIXAPI size_t OpenHandleCount();               // handles of every kind now open
QIXAPI size_t RegistrationCount();             // live extension-manager registrations

// Text of an item for display: a list joined with "; ", a number with %g, a time as text.
QIXAPI std::string ItemText(const ItemValue& value);
QIXAPI std::string TimeText(const TIMEDATE& time);

}  // namespace qixsim

#endif  // KOVA_HOSTSIM_HOST_H
