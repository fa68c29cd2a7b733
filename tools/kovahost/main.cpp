// kovahost: builds a stand-in server from a scenario, loads the add-in into it as the server
// does, and runs the scenario's steps. Without a scenario it runs the quickstart.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "tools/kovahost/output.h"
#include "tools/kovahost/platform.h"
#include "tools/kovahost/quickstart.h"
#include "tools/kovahost/runner.h"
#include "tools/kovahost/scenario_reader.h"

namespace {

const char kUsage[] =
    "usage: kovahost [--addin PATH] [--json] [--check] [SCENARIO.yaml]\n"
    "       kovahost --show-quickstart\n"
    "\n"
    "Builds the stand-in server a scenario describes, loads the kovaevents add-in into it and\n"
    "runs the scenario's steps, printing what the host does and, as it happens, what the add-in\n"
    "prints on the server console. Without SCENARIO.yaml it runs the built-in quickstart.\n"
    "Scenarios are described in docs/scenarios.md; examples/ holds some.\n"
    "\n"
    "  --addin PATH       the add-in library to load (default: the one built beside kovahost)\n"
    "  --json             print every record (notes, log entries, results) as a JSON object\n"
    "  --check            read and check the scenario, run nothing\n"
    "  --show-quickstart  print the quickstart scenario\n"
    "\n"
    "Exit status: 0 done, 1 an expectation failed, 2 bad input (nothing ran),\n"
    "3 the add-in could not be loaded or the server not built.\n";

int BadUsage(const std::string& message) {
    std::fprintf(stderr, "kovahost: %s\n%s", message.c_str(), kUsage);
    return kovahost::kExitBadInput;
}

int Main(int argc, char** argv) {
    kovahost::RunOptions options;
    std::string scenarioPath;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kovahost::kExitDone;
        } else if (arg == "--show-quickstart") {
            std::fputs(kovahost::kQuickstartText, stdout);
            return kovahost::kExitDone;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "--addin") {
            if (i + 1 >= argc)
                return BadUsage("--addin needs a path");
            options.addinPath = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return BadUsage("unknown option " + arg);
        } else if (!scenarioPath.empty()) {
            return BadUsage("one scenario at a time");
        } else {
            scenarioPath = arg;
        }
    }
    if (options.addinPath.empty())
        options.addinPath = kovahost::DefaultAddinPath();

    kovahost::Scenario plan;
    kovahost::ScenarioError error;
    const bool read = scenarioPath.empty()
                          ? kovahost::ReadScenarioText(kovahost::kQuickstartText,
                                                       kovahost::kQuickstartName, &plan, &error)
                          : kovahost::ReadScenarioFile(scenarioPath, &plan, &error);
    if (!read) {
        std::fprintf(stderr, "%s\n", error.Text().c_str());
        return kovahost::kExitBadInput;
    }
    if (check) {
        std::printf("%s: ok, %s\n", plan.file.c_str(),
                    kovahost::Count(plan.steps.size(), "step", "steps").c_str());
        return kovahost::kExitDone;
    }
    return kovahost::RunScenario(plan, options);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "kovahost: %s\n", e.what());
    } catch (...) {
        std::fflush(stdout);
        std::fprintf(stderr, "kovahost: unexpected failure\n");
    }
    return kovahost::kExitCannotRun;
}
