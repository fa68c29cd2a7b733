// The benchmark host: a stand-in server set up for the measurements, the add-in loaded with dlopen
// and started with MainEntryPoint as the server loads it, and the set-up steps the benchmarks and
// the instruction and allocation counts share (profile documents, documents to save, notes to
// bulk-delete, Event documents). Set-up runs with the handlers suspended, so that it never
// reaches the add-in and never disturbs what is measured.
#ifndef KOVA_BENCH_BENCHHOST_H
#define KOVA_BENCH_BENCHHOST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hostsim/host.h"

namespace kovabench {

// Builds the server (once per process) and loads and starts the add-in on it (once: the UNIX
// build cannot be unloaded). Lifecycle lines of the start are discarded.
void StartServerAndAddin();

// The executable code of libkovaevents.so in this process, [begin, end); false before the add-in
// is loaded.
bool AddinCodeRange(uintptr_t* begin, uintptr_t* end);

// One "EventTriggerConfiguration" document.
struct Trigger {
    std::string connector;
    std::vector<std::string> eventTypes;
    std::vector<std::string> monitored;
};

// Replaces every document of "kovaevents.qix" (profiles and Event documents) by `triggers`. The
// next notification finds the profiles changed and reads them in full; call Prime afterwards.
void SetProfiles(const std::vector<Trigger>& triggers);
// `count` triggers, each monitoring a database of its own that no benchmark writes to.
std::vector<Trigger> UnrelatedTriggers(int count);
// `count` triggers, each with its own connector, all wanting updates in "shop/items.qix".
std::vector<Trigger> ShopTriggers(int count);

// Deletes every Event document of "kovaevents.qix"; adds `count` Event documents (set-up, no
// notification); counts them.
void ClearEvents();
void AddEvents(std::size_t count);
std::size_t EventCount();

// Databases the benchmarks use (created by StartServerAndAddin), each with the form "Item".
extern const char* const kUnmonitoredDb;  // "other.qix": no profile monitors it
extern const char* const kShopDb;         // "shop/items.qix"
extern const char* const kBulkDb;         // "bulk/notes.qix"
// Per-thread databases of the two-thread benchmarks: unmonitored and monitored, thread i.
std::string PlainDb(int thread);
std::string WatchedDb(int thread);

// An existing document kept open, stored again on every Save: one update notification pair.
class SavedDocument {
  public:
    SavedDocument() = default;
    // A new document of form "Item" in `dbPath`, stored once at set-up.
    explicit SavedDocument(const std::string& dbPath);
    // An existing note.
    SavedDocument(const std::string& dbPath, NOTEID noteId);
    ~SavedDocument();
    SavedDocument(const SavedDocument&) = delete;
    SavedDocument& operator=(const SavedDocument&) = delete;
    SavedDocument(SavedDocument&& other) noexcept;
    SavedDocument& operator=(SavedDocument&& other) noexcept;

    STATUS Save() const { return qixsim::StoreNote(note_); }
    NOTEHANDLE note() const { return note_; }

  private:
    void Open(const std::string& dbPath, NOTEID noteId);
    void Close() noexcept;
    DBHANDLE db_ = 0;
    NOTEHANDLE note_ = 0;
};

// Opens the profile document of the first trigger, kept open for saving (a profile edit).
SavedDocument OpenFirstProfile();

// Creates `count` documents of form "Item" in kBulkDb (set-up, no notification); their ids.
std::vector<NOTEID> CreateBulkNotes(std::size_t count);
// The host's bulk delete of `ids` from kBulkDb (notifications raised).
STATUS DeleteBulkNotes(const std::vector<NOTEID>& ids);

// Runs `count` notifications' worth of `Save` so that the profiles are read and caches are warm.
void Prime(const SavedDocument& document, int count = 3);

// The server work a full profile read requires, without the add-in: a search over every document
// of "kovaevents.qix" whose callback opens each document, reads its "Form" item and closes it.
STATUS SearchAllDocuments();

}  // namespace kovabench

#endif  // KOVA_BENCH_BENCHHOST_H
