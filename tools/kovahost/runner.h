// Running a checked scenario: the server is built, the add-in loaded, and the steps performed in
// order, each under a short heading, with the add-in's console lines as they happen.
#ifndef KOVA_TOOLS_KOVAHOST_RUNNER_H
#define KOVA_TOOLS_KOVAHOST_RUNNER_H

#include <string>

#include "tools/kovahost/scenario.h"

namespace kovahost {

// kovahost's exit statuses.
enum ExitStatus : int {
    kExitDone = 0,          // every step ran and every expectation held
    kExitExpectFailed = 1,  // an expect step found a difference
    kExitBadInput = 2,      // the scenario or the command line is wrong; nothing ran
    kExitCannotRun = 3,     // the add-in could not be loaded, or the server not built
};

struct RunOptions {
    std::string addinPath;  // the library to load at `start`; empty: the one FindAddin finds
    bool json = false;      // every record as a JSON object
    bool explain = false;   // after each note operation, every profile's verdict on it
};

// Runs `plan` and answers the exit status.
int RunScenario(const Scenario& plan, const RunOptions& options);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_RUNNER_H
