// Loading and starting the add-in (see addin.h) and looking at its pending-note tables; the
// platform's part, the loading and the symbol table, is addin_image.h's.
#include "tests/soak/addin.h"

#include <cstring>

#include "hostsim/host.h"
#include "tests/soak/addin_image.h"
#include "tests/soak/heapfail.h"

namespace soak {
namespace {

AddinImage gAddin;

}  // namespace

bool LoadAddin(std::string* error) {
    if (!OpenAddinImage(&gAddin, error))
        return false;
    heapfail::SetAddinRange(gAddin.codeBegin, gAddin.codeEnd);
    const STATUS status = gAddin.start();
    if (status != 0 || qixsim::RegistrationCount() != 8) {
        *error = "MainEntryPoint answered " + std::to_string(status) + " with " +
                 std::to_string(qixsim::RegistrationCount()) + " registrations";
        return false;
    }
    return true;
}

bool PendingTablesEmpty(std::string* error) {
    if (gAddin.tables[0] == nullptr) {
        *error = "the add-in is not loaded";
        return false;
    }
    for (const void* table : gAddin.tables) {
        const void* head = nullptr;
        std::memcpy(&head, table, sizeof head);
        if (head != nullptr) {
            *error = "a pending-note table is not empty";
            return false;
        }
    }
    return true;
}

}  // namespace soak
