// Reading a scenario: YAML text to a checked plan (scenario.h), or the file, line and reason of
// the first thing wrong. Nothing runs while a scenario is read, so a bad file changes nothing.
#ifndef KOVA_TOOLS_KOVAHOST_SCENARIO_READER_H
#define KOVA_TOOLS_KOVAHOST_SCENARIO_READER_H

#include <string>
#include <vector>

#include "tools/kovahost/scenario.h"

namespace kovahost {

struct ScenarioError {
    std::string file;
    int line = 0;  // 1-based; 0 when the whole file is concerned
    std::string message;
    bool unopened = false;  // the file could not be opened or read, so it was never checked
    // "file:line: message", or "file: message" without a line; "kovahost: file: message" for a
    // file that could not be opened, which is kovahost's own failure rather than the file's.
    std::string Text() const;
};

// Reads `text` as the scenario named `file`; false with `error` filled on bad input.
bool ReadScenarioText(const std::string& text, const std::string& file, Scenario* plan,
                      ScenarioError* error);
// Reads the file at `path`; messages name it as given.
bool ReadScenarioFile(const std::string& path, Scenario* plan, ScenarioError* error);

// The cross-reference checks run after the keys and values were read: note names defined before
// use, databases that exist, operation names, the order of steps. Throws ScenarioError (line set,
// file left empty).
void CheckScenario(const Scenario& plan);

// The server API operations a `fail` step may name.
bool IsServerOperation(const std::string& name);
std::vector<std::string> ServerOperations();

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_SCENARIO_READER_H
