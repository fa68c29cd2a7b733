// kovahost: builds a stand-in server from a scenario, loads the add-in into it as the server
// does, and runs the scenario's steps (with --explain, saying why each profile wanted each change
// or not). Without a scenario it runs the quickstart. Also checks scenarios (--check) and the
// profile documents they hold (--lint). This file owns the command
// line: the options, the files named on it and the exit status.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/kovahost/lint.h"
#include "tools/kovahost/output.h"
#include "tools/kovahost/platform.h"
#include "tools/kovahost/quickstart.h"
#include "tools/kovahost/runner.h"
#include "tools/kovahost/scenario_reader.h"

#ifndef KOVA_VERSION
#error "KOVA_VERSION comes from the project version in the top-level CMakeLists.txt"
#endif

namespace {

const char kUsage[] =
    "usage: kovahost [--addin=PATH] [--json] [--explain] [SCENARIO.yaml]\n"
    "       kovahost --check [--json] FILE...\n"
    "       kovahost --lint [--json] FILE...\n"
    "       kovahost --show-quickstart | --version | --help\n"
    "\n"
    "Builds the stand-in server a scenario describes, loads the kovaevents add-in into it and\n"
    "runs the scenario's steps, printing what the host does and, as it happens, what the add-in\n"
    "prints on the server console. Without SCENARIO.yaml it runs the built-in quickstart.\n"
    "A FILE of '-' is standard input; '--' ends the options. scenarios.md describes scenarios,\n"
    "event-database.md the profile documents and the --lint rules: see 'Documentation' below.\n"
    "\n"
    "  --addin=PATH       the add-in library to load (default: the one beside kovahost, in\n"
    "                     its ../lib/kovaevents or its build tree); '--addin PATH' works too\n"
    "  --json             every line of standard output is a JSON object\n"
    "  --explain          after each create, update, delete and delete-many, one line per\n"
    "                     trigger profile: whether it wanted the change and, if not, why\n"
    "  --check            read and check each scenario, run nothing\n"
    "  --lint             check the profile documents of each scenario's kovaevents.qix\n"
    "                     against the databases and forms it defines; run nothing\n"
    "  --show-quickstart  print the quickstart scenario\n"
    "  --version          print kovahost's version\n"
    "  --help, -h         print this help\n"
    "\n"
    "Exit status: 0 done (--lint: no finding), 1 an expectation failed (--lint: findings),\n"
    "2 bad input (nothing ran), 3 the add-in could not be loaded or the server not built.\n"
    "\n"
    "Documentation (install.md, event-database.md, scenarios.md, troubleshooting.md):\n";

// Where the pages are, on lines that start with `indent`: the folder installed with this kovahost
// when there is one, else where each package puts them.
std::string DocumentationPlace(const std::string& indent) {
    const std::string installed = kovahost::InstalledDocFolder();
    if (!installed.empty())
        return indent + installed;
    return indent + "/usr/share/doc/kovaevents/ from the .deb or .rpm; share/doc/kovaevents/\n" +
           indent +
           "beside kovahost's bin/ from the .tar.gz; doc\\ beside kovahost.exe from the\n" +
           indent + ".zip; docs/ in the sources";
}

std::string Usage() {
    return kUsage + DocumentationPlace("  ");
}

// What kovahost does after the quickstart, for a first-time reader. One place, so that the
// pointers can follow what kovahost offers.
const char kQuickstartNext[] =
    "\n"
    "Next:\n"
    "  kovahost --show-quickstart > my.yaml   the scenario above, to change and run as "
    "kovahost my.yaml\n"
    "  kovahost --lint my.yaml                check its profile documents before you deploy "
    "them\n"
    "  kovahost --explain my.yaml             run it, saying why each change was captured or "
    "not\n"
    "  man kovahost, and install.md, event-database.md, scenarios.md, troubleshooting.md in\n";

const char kStandardInput[] = "<stdin>";

enum class Mode { kRun, kCheck, kLint };

struct Option {
    const char* name;
    bool takesValue;
};

constexpr Option kOptions[] = {{"--addin", true},    {"--json", false},
                               {"--explain", false}, {"--check", false},
                               {"--lint", false},    {"--show-quickstart", false},
                               {"--version", false}, {"--help", false}};

// Edits between two option names (for the hint after an unknown option).
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

int BadUsage(const std::string& message, bool hint = true) {
    std::fprintf(stderr, "kovahost: %s%s\n", message.c_str(),
                 hint ? " (kovahost --help lists the options)" : "");
    return kovahost::kExitBadInput;
}

// The hint compares without letter case: "--LINT" is a typed "--lint".
std::string UnknownOption(const std::string& name) {
    std::string folded = name;
    for (char& c : folded)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string best;
    size_t bestDistance = 3;
    for (const Option& option : kOptions) {
        const size_t distance = Distance(folded, option.name);
        const bool prefix = folded.size() > 3 && std::string(option.name).rfind(folded, 0) == 0;
        if (prefix || distance < bestDistance) {
            best = option.name;
            bestDistance = prefix ? 0 : distance;
        }
    }
    return "unknown option '" + name + "'" + (best.empty() ? "" : "; did you mean " + best + "?");
}

// The text of a file named on the command line ('-': standard input, read once).
bool ReadInput(const std::string& name, std::string* text, bool* stdinUsed) {
    if (name != "-")
        return false;
    if (*stdinUsed)
        return true;  // read once: a second '-' is empty
    *stdinUsed = true;
    std::ostringstream all;
    all << std::cin.rdbuf();
    *text = all.str();
    return true;
}

bool ReadScenario(const std::string& name, kovahost::Scenario* plan, kovahost::ScenarioError* error,
                  bool* stdinUsed) {
    std::string text;
    if (ReadInput(name, &text, stdinUsed))
        return kovahost::ReadScenarioText(text, kStandardInput, plan, error);
    return kovahost::ReadScenarioFile(name, plan, error);
}

// Reads each of `files` in turn and hands every scenario read to `use`; a file that cannot be
// read gets its error on standard error (and in `failed`, when given). Answers whether every
// file was read.
template <typename Use>
bool ForEachScenario(const std::vector<std::string>& files, const kovahost::Output& out, Use&& use,
                     std::vector<kovahost::ScenarioError>* failed = nullptr) {
    bool stdinUsed = false;
    bool allRead = true;
    for (const std::string& file : files) {
        kovahost::Scenario plan;
        kovahost::ScenarioError error;
        if (!ReadScenario(file, &plan, &error, &stdinUsed)) {
            out.Flush();
            std::fprintf(stderr, "%s\n", error.Text().c_str());
            allRead = false;
            if (failed != nullptr)
                failed->push_back(error);
            continue;
        }
        use(plan);
    }
    return allRead;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

int CheckFiles(const std::vector<std::string>& files, bool json) {
    const kovahost::Output out(json);
    const bool allRead = ForEachScenario(files, out, [&](const kovahost::Scenario& plan) {
        out.Record(plan.file + ": ok, " + kovahost::Count(plan.steps.size(), "step", "steps"),
                   kovahost::Json{{"file", plan.file}, {"ok", true}, {"steps", plan.steps.size()}});
    });
    return allRead ? kovahost::kExitDone : kovahost::kExitBadInput;
}

int LintFiles(const std::vector<std::string>& files, bool json) {
    const kovahost::Output out(json);
    size_t findings = 0;
    size_t withFindings = 0;
    std::vector<std::string> checkedFiles;  // "t.yaml (3 profile documents)"
    std::vector<kovahost::ScenarioError> failed;
    const bool unreadable = !ForEachScenario(
        files, out,
        [&](const kovahost::Scenario& plan) {
            size_t profiles = 0;
            const std::vector<kovahost::Finding> found = kovahost::LintScenario(plan, &profiles);
            for (const kovahost::Finding& finding : found)
                out.Record(kovahost::FindingText(finding), kovahost::FindingJson(finding));
            findings += found.size();
            withFindings += found.empty() ? 0 : 1;
            checkedFiles.push_back(
                plan.file + " (" +
                kovahost::Count(profiles, "profile document", "profile documents") + ")");
        },
        &failed);
    out.Flush();
    // The summary names the files checked; each other one has had its error, and is named as
    // one that could not be read or one that is no valid scenario.
    std::vector<std::string> unopened;
    std::vector<std::string> invalid;
    for (const kovahost::ScenarioError& error : failed)
        (error.unopened ? unopened : invalid).push_back(error.file);
    std::string checked = kovahost::Count(checkedFiles.size(), "file", "files");
    if (!checkedFiles.empty())
        checked += ": " + JoinNames(checkedFiles);
    if (!unopened.empty()) {
        checked += "; " + kovahost::Count(unopened.size(), "file", "files") +
                   " could not be read (" + JoinNames(unopened) + ")";
    }
    if (!invalid.empty()) {
        checked += "; " +
                   (invalid.size() == 1
                        ? std::string("1 file is no valid scenario")
                        : std::to_string(invalid.size()) + " files are no valid scenarios") +
                   " (" + JoinNames(invalid) + ")";
    }
    if (findings == 0) {
        std::fprintf(stderr, "kovahost: no warning in %s\n", checked.c_str());
    } else {
        std::fprintf(stderr, "kovahost: %s in %zu of %s\n",
                     kovahost::Count(findings, "warning", "warnings").c_str(), withFindings,
                     checked.c_str());
    }
    if (unreadable)
        return kovahost::kExitBadInput;
    return findings == 0 ? kovahost::kExitDone : kovahost::kExitExpectFailed;
}

int Main(int argc, char** argv) {
    kovahost::RunOptions options;
    std::vector<std::string> files;
    Mode mode = Mode::kRun;
    bool help = false;
    bool version = false;
    bool showQuickstart = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h") {
            help = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const Option* option = nullptr;
        for (const Option& known : kOptions) {
            if (name == known.name)
                option = &known;
        }
        if (option == nullptr)
            return BadUsage(UnknownOption(name));
        std::string value;
        if (option->takesValue) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return BadUsage(name + " needs a value: " + name + "=VALUE");
            }
            if (value.empty())
                return BadUsage(name + " needs a non-empty value");
        } else if (equals != std::string::npos) {
            return BadUsage("option " + name + " takes no value");
        }

        if (name == "--addin") {
            options.addinPath = value;
        } else if (name == "--json") {
            options.json = true;
        } else if (name == "--explain") {
            options.explain = true;
        } else if (name == "--check" || name == "--lint") {
            const Mode wanted = name == "--check" ? Mode::kCheck : Mode::kLint;
            if (mode != Mode::kRun && mode != wanted)
                return BadUsage("give --check or --lint, not both");
            mode = wanted;
        } else if (name == "--show-quickstart") {
            showQuickstart = true;
        } else if (name == "--version") {
            version = true;
        } else if (name == "--help") {
            help = true;
        }
    }

    // --help answers whatever else is given; --version and --show-quickstart print one thing
    // and run nothing, so anything beside them (--json aside) is a contradiction.
    if (!help && (version || showQuickstart)) {
        const char* alone = version ? "--version" : "--show-quickstart";
        if (version && showQuickstart)
            return BadUsage("give --version or --show-quickstart, not both");
        if (mode != Mode::kRun || options.explain || !options.addinPath.empty() || !files.empty())
            return BadUsage(std::string("give ") + alone + " alone (with --json at most)");
    }
    const kovahost::Output out(options.json);
    if (help) {
        const std::string usage = Usage();
        out.Record(usage, kovahost::Json{{"usage", usage + "\n"}});
        return kovahost::kExitDone;
    }
    if (version) {
        out.Record("kovahost " KOVA_VERSION, kovahost::Json{{"kovahost", KOVA_VERSION}});
        return kovahost::kExitDone;
    }
    if (showQuickstart) {
        if (options.json) {
            out.Object(kovahost::Json{{"quickstart", kovahost::kQuickstartText}});
        } else {
            std::fputs(kovahost::kQuickstartText, stdout);
        }
        return kovahost::kExitDone;
    }
    if (mode == Mode::kCheck || mode == Mode::kLint) {
        if (options.explain)
            return BadUsage("--explain runs a scenario; --check and --lint run nothing");
        if (files.empty())
            return BadUsage(std::string(mode == Mode::kCheck ? "--check" : "--lint") +
                            " needs at least one FILE ('-' for standard input)");
        return mode == Mode::kCheck ? CheckFiles(files, options.json)
                                    : LintFiles(files, options.json);
    }
    if (files.size() > 1) {
        return BadUsage("one scenario at a time (--check and --lint take several files)", false);
    }
    kovahost::Scenario plan;
    kovahost::ScenarioError error;
    bool stdinUsed = false;
    const bool read = files.empty()
                          ? kovahost::ReadScenarioText(kovahost::kQuickstartText,
                                                       kovahost::kQuickstartName, &plan, &error)
                          : ReadScenario(files.front(), &plan, &error, &stdinUsed);
    if (!read) {
        std::fprintf(stderr, "%s\n", error.Text().c_str());
        return kovahost::kExitBadInput;
    }
    const int status = kovahost::RunScenario(plan, options);
    if (files.empty() && !options.json && status == kovahost::kExitDone) {
        std::printf("%s%s\n", kQuickstartNext, DocumentationPlace("    ").c_str());
        std::fflush(stdout);
    }
    return status;
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
