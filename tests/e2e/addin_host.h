// A test host that loads the built libkovaevents.so with dlopen, as the server does, over the
// stand-in server, plus the server set-up and look-ups the end-to-end tests share.
#ifndef KOVA_TESTS_E2E_ADDIN_HOST_H
#define KOVA_TESTS_E2E_ADDIN_HOST_H

#include <string>
#include <vector>

#include "hostsim/host.h"
#include "tools/support/stdout_capture.h"

namespace e2e {

using ConsoleCapture = kovasupport::StdoutCapture;

using MainEntryPointFn = STATUS (*)();
using HandlerFn = STATUS (*)(EMRECORD*);

// The add-in, loaded once per process (the UNIX build has no unload step).
struct Addin {
    MainEntryPointFn mainEntryPoint = nullptr;
    HandlerFn handler = nullptr;
};
const Addin& LoadAddin();

// A fresh server with a fixed clock: "kovaevents.qix" from the template, the shop database
// "shop/items.qix" with the form "Item; Article", and the unmonitored "other.qix" with "Item".
void FreshServer(char separator = '/');
// Adds a profile document to "kovaevents.qix" before start-up.
NOTEID AddProfile(const qixsim::Items& items);

// Note operations through the host side, as the server performs them.
NOTEID CreateDoc(const std::string& db, const qixsim::Items& items, STATUS* status = nullptr,
                 bool extended = false, STATUS forced = 0);
STATUS UpdateDoc(const std::string& db, NOTEID id, const qixsim::Items& items,
                 bool extended = false, STATUS forced = 0);
STATUS DeleteDoc(const std::string& db, NOTEID id, STATUS forced = 0);
STATUS DeleteDocs(const std::string& db, const std::vector<NOTEID>& ids, STATUS forced = 0);

// One Event document, reduced to the items the tests compare.
struct Event {
    std::string type, dbPath, form, unid, pickFields, connector;
    bool operator==(const Event& o) const {
        return type == o.type && dbPath == o.dbPath && form == o.form && unid == o.unid &&
               pickFields == o.pickFields && connector == o.connector;
    }
};
std::vector<Event> Events();
std::string Item(const qixsim::NoteInfo& note, const std::string& name);
// The "UNID" text a note of `db` has (file words then note words, as the writer forms it).
std::string UnidOf(const std::string& db, NOTEID id);

// The lines of `text`, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace e2e

#endif  // KOVA_TESTS_E2E_ADDIN_HOST_H
