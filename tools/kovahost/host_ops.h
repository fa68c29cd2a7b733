// The host's note operations, as the server performs them for its users: each raises the add-in's
// notifications through the stand-in's host side, which neither counts the host's own calls nor
// applies injected faults to them. Every handle opened here is closed on every path.
#ifndef KOVA_TOOLS_KOVAHOST_HOST_OPS_H
#define KOVA_TOOLS_KOVAHOST_HOST_OPS_H

#include <functional>
#include <string>
#include <vector>

#include "hostapi/handles.h"
#include "hostsim/host.h"

namespace kovahost {

// A host-side handle of any kind, closed with qixsim::CloseHandle.
using HostHandle = kova::HandleGuard<QIXHANDLE, qixsim::CloseHandle>;

STATUS OpenDb(const std::string& path, HostHandle* db);
// Called with the note about to be stored, its items set (kovahost --explain).
using BeforeStore = std::function<void(NOTEHANDLE note)>;

// A new document with `items`, stored once; `id` gets its note id when the store succeeded.
// A non-zero `forced` makes the host report that status instead of storing.
STATUS CreateNote(DBHANDLE db, const qixsim::Items& items, bool extended, STATUS forced, NOTEID* id,
                  const BeforeStore& beforeStore = nullptr);
// Sets `items` on the stored note `id` and stores it again.
STATUS UpdateNote(DBHANDLE db, NOTEID id, const qixsim::Items& items, bool extended, STATUS forced,
                  const BeforeStore& beforeStore = nullptr);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_HOST_OPS_H
