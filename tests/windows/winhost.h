// The Windows test host's tools: kovaevents.dll loaded and unloaded with LoadLibrary/FreeLibrary
// as the server does it, its export table, and the stand-in server and Event look-ups the host's
// cases share.
#ifndef KOVA_TESTS_WINDOWS_WINHOST_H
#define KOVA_TESTS_WINDOWS_WINHOST_H

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "hostsim/host.h"

namespace winhost {

using MainEntryPointFn = STATUS (*)();
using HandlerFn = STATUS (*)(EMRECORD*);

// kovaevents.dll from the host program's own folder, loaded for the object's lifetime (or until
// Unload). The entry points are looked up by ordinal, as the server looks them up.
class AddinLibrary {
  public:
    AddinLibrary();
    ~AddinLibrary();
    AddinLibrary(const AddinLibrary&) = delete;
    AddinLibrary& operator=(const AddinLibrary&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    HMODULE Module() const { return module_; }
    MainEntryPointFn MainEntryPoint() const { return mainEntryPoint_; }
    HandlerFn Handler() const { return handler_; }
    // FreeLibrary: runs the library's detach. True when the library was loaded and freed.
    bool Unload();

  private:
    HMODULE module_ = nullptr;
    MainEntryPointFn mainEntryPoint_ = nullptr;
    HandlerFn handler_ = nullptr;
};

// The heap blocks a loaded library allocates through the C runtime (malloc, calloc, realloc,
// _strdup, and operator new, which calls malloc) and has not freed, from Track on: Track points
// the library's imports of msvcrt.dll's allocation functions at recording wrappers. Blocks
// allocated before Track are not recorded, nor are their frees. The library's statically linked
// runtime allocates through the same imports (a lock's first use, a thread's first call), so a
// test compares the blocks of one operation, not totals. One library at a time; thread-safe.
namespace heap {
bool Track(HMODULE module);
std::set<uintptr_t> LiveBlocks();  // their addresses
}  // namespace heap

// The export directory of a loaded module: ordinal base, entry count and "name@ordinal" texts.
struct ExportTable {
    bool present = false;
    uint32_t ordinalBase = 0;
    uint32_t functionCount = 0;
    std::vector<std::string> namedOrdinals;  // in the table's (sorted) name order
};
ExportTable ReadExportTable(HMODULE module);

// The lines of `text`, without their line ends.
std::vector<std::string> Lines(const std::string& text);

// A fresh stand-in server with a fixed clock whose paths come back with backslashes: the event
// database "kovaevents.qix", the monitored "sales/orders.qix" with the form "Order; Purchase
// Order", and the unmonitored "other.qix". Profile documents and note operations are
// kovasupport's (tools/support/standin.h).
void FreshServer();

// One Event document, reduced to a comparable text: "type|DBPath|FormName|UNID|PickFields|
// Status|ConnectorId|Form".
std::vector<std::string> Events();
std::string EventText(const std::string& type, const std::string& db, const std::string& form,
                      const std::string& unid, NOTEID id, const std::string& connector);
// The "EventId" items of every Event document.
std::vector<std::string> EventIds();

}  // namespace winhost

#endif  // KOVA_TESTS_WINDOWS_WINHOST_H
