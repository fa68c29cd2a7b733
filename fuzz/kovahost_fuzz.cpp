// Fuzz target: any bytes as a kovahost scenario file go through the reader (YAML, keys and
// values), its cross-reference checks and, when the scenario reads, --lint (every finding as text
// and as JSON). Bad input must be answered with its error (a message, and a line when it has one
// within the input), never a crash, an escaping exception or an endless loop; nothing is run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "tools/kovahost/lint.h"
#include "tools/kovahost/records.h"
#include "tools/kovahost/scenario_reader.h"

namespace {

[[noreturn]] void Report(const std::string& what) {
    std::fprintf(stderr, "kovahost_fuzz: %s\n", what.c_str());
    std::abort();
}

int LineCount(const std::string& text) {
    int lines = 1;
    for (char c : text)
        lines += c == '\n' ? 1 : 0;
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    kovahost::Scenario plan;
    kovahost::ScenarioError error;
    bool read = false;
    try {
        read = kovahost::ReadScenarioText(text, "fuzz.yaml", &plan, &error);
    } catch (const std::exception& e) {
        Report(std::string("the reader let an exception escape: ") + e.what());
    } catch (...) {
        Report("the reader let an exception escape");
    }
    if (!read) {
        if (error.message.empty() || error.file != "fuzz.yaml")
            Report("bad input without its error: " + error.Text());
        if (error.line < 0 || error.line > LineCount(text) + 1)
            Report("an error on a line the input does not have: " + error.Text());
        return 0;
    }
    try {
        for (const kovahost::Finding& finding : kovahost::LintScenario(plan)) {
            if (finding.rule.empty() || finding.text.empty())
                Report("a lint finding without its rule or text");
            const std::string line = kovahost::FindingText(finding);
            const std::string json = kovahost::JsonText(kovahost::FindingJson(finding));
            if (line.empty() || json.empty())
                Report("a lint finding that prints nothing");
        }
    } catch (const std::exception& e) {
        Report(std::string("--lint let an exception escape: ") + e.what());
    } catch (...) {
        Report("--lint let an exception escape");
    }
    return 0;
}
