// kovahost --lint: checks the profile documents a scenario stores in "kovaevents.qix" (its
// `databases:` section) against the databases and forms the same scenario defines, and the
// scenario as a deployment (where that database and its profile documents are, whether anything
// will log), and reports each value the add-in would read otherwise than an administrator most
// likely meant. The rules
// are those written down in docs/event-database.md ("Checking profile documents"); each finding
// names its rule. Pure: nothing here runs the add-in or prints.
#ifndef KOVA_TOOLS_KOVAHOST_LINT_H
#define KOVA_TOOLS_KOVAHOST_LINT_H

#include <string>
#include <vector>

#include "tools/kovahost/records.h"
#include "tools/kovahost/scenario.h"

namespace kovahost {

struct Finding {
    std::string file;
    int line = 0;      // of the document, item or list entry at fault
    std::string rule;  // the rule's name in docs/event-database.md
    std::string text;
};

// The findings for a read scenario, ordered by line; `profileDocuments` (when given) receives
// the number of profile documents checked in its kovaevents.qix.
std::vector<Finding> LintScenario(const Scenario& plan, size_t* profileDocuments = nullptr);

// "FILE:LINE: warning: TEXT [RULE]".
std::string FindingText(const Finding& finding);
// {"file": .., "line": .., "rule": .., "warning": TEXT}.
Json FindingJson(const Finding& finding);

// The names the rules use, in the order of the documentation.
const std::vector<std::string>& LintRules();

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_LINT_H
