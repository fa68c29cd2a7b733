// The add-in as the soak's host loads it: libkovaevents.so opened with dlopen and started with
// MainEntryPoint, the range of its code (for the failing allocator), and a look at its two
// pending-note tables through the library's symbol table, taken while no notification runs.
#ifndef KOVA_TESTS_SOAK_ADDIN_H
#define KOVA_TESTS_SOAK_ADDIN_H

#include <cstdint>
#include <string>

namespace soak {

// Loads and starts the add-in; false with `error` set when it cannot.
bool LoadAddin(std::string* error);
// Entries parked in the pending-note tables now: true when both are empty. False too when the
// tables cannot be found (`error` says so).
bool PendingTablesEmpty(std::string* error);

}  // namespace soak

#endif  // KOVA_TESTS_SOAK_ADDIN_H
