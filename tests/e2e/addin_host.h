// A test host that loads the built libkovaevents.so with dlopen, as the server does, over the
// stand-in server, plus the Event look-ups the end-to-end tests share.
#ifndef KOVA_TESTS_E2E_ADDIN_HOST_H
#define KOVA_TESTS_E2E_ADDIN_HOST_H

#include <string>
#include <vector>

#include "hostsim/host.h"
#include "tools/support/standin.h"
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

// A fresh server: the shop of kovasupport::ShopStandIn with paths reported with `separator`.
void FreshServer(char separator = '/');

// Profile documents, note operations and look-ups through the host side (tools/support).
using kovasupport::AddProfile;
using kovasupport::CreateDoc;
using kovasupport::DeleteDoc;
using kovasupport::DeleteDocs;
using kovasupport::ItemOf;
using kovasupport::UnidOf;
using kovasupport::UpdateDoc;

// One Event document, reduced to the items the tests compare.
struct Event {
    std::string type, dbPath, form, unid, pickFields, connector;
    bool operator==(const Event& o) const {
        return type == o.type && dbPath == o.dbPath && form == o.form && unid == o.unid &&
               pickFields == o.pickFields && connector == o.connector;
    }
};
std::vector<Event> Events();

// The lines of `text`, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace e2e

#endif  // KOVA_TESTS_E2E_ADDIN_HOST_H
