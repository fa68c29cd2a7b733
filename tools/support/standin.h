// The stand-in server as the test hosts build and drive it through its host side
// (hostsim/host.h): a fresh server from a short description, profile documents, note operations
// performed as the server performs them (they raise notifications), and look-ups of stored notes.
// Shared by the end-to-end tests, the Windows test host and the fuzz targets.
#ifndef KOVA_TOOLS_SUPPORT_STANDIN_H
#define KOVA_TOOLS_SUPPORT_STANDIN_H

#include <string>
#include <vector>

#include "hostsim/host.h"

namespace kovasupport {

// A database beside the event database, and the titles of its forms.
struct StandInDatabase {
    std::string path;
    std::vector<std::string> forms;
};

// What a fresh server holds: a fixed clock from `clock` ("YYYY-MM-DD HH:MM:SS"), the separator
// and data directory paths are reported with (empty: the stand-in's default), the event database
// "kovaevents.qix" from its template, and `databases`.
struct StandInSetup {
    std::string clock;
    char separator = '/';
    std::string dataDirectory;
    std::vector<StandInDatabase> databases;
};

// The shop most hosts use: clock "2026-01-05 09:30:00", the monitored "shop/items.qix" with the
// form "Item; Article" and the unmonitored "other.qix" with "Item".
StandInSetup ShopStandIn(char separator = '/');

// Resets the stand-in and builds `setup`; answers 0, or the status of the first step that failed.
STATUS BuildStandIn(const StandInSetup& setup);

// Adds a profile document to "kovaevents.qix" (no notification: as before start-up).
NOTEID AddProfile(const qixsim::Items& items);

// Note operations through the host side, as the server performs them; `forced` makes the
// operation fail with that status after the handlers' before stage.
NOTEID CreateDoc(const std::string& db, const qixsim::Items& items, STATUS* status = nullptr,
                 bool extended = false, STATUS forced = 0);
STATUS UpdateDoc(const std::string& db, NOTEID id, const qixsim::Items& items,
                 bool extended = false, STATUS forced = 0);
STATUS DeleteDoc(const std::string& db, NOTEID id, STATUS forced = 0);
STATUS DeleteDocs(const std::string& db, const std::vector<NOTEID>& ids, STATUS forced = 0);

// The text of item `name` of a note, or "<missing>".
std::string ItemOf(const qixsim::NoteInfo& note, const std::string& name);
// The "UNID" text of a stored note of `db`: file words then note words, high word first.
std::string UnidOf(const std::string& db, NOTEID id);

}  // namespace kovasupport

#endif  // KOVA_TOOLS_SUPPORT_STANDIN_H
