// kovahost's writing to standard output and standard error (see output.h).
#include "tools/kovahost/output.h"

#include <cstdio>

namespace kovahost {

void Output::Line(const std::string& text) const {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

void Output::Heading(size_t number, const std::string& text) const {
    Line("");
    Line("== " + std::to_string(number) + ". " + text);
}

void Output::Result(const std::string& text) const {
    Line("-> " + text);
}

void Output::Record(const std::string& text, const std::string& json) const {
    Line(json_ ? json : text);
}

void Output::Note(const std::string& text) const {
    std::fflush(stdout);
    std::fprintf(stderr, "kovahost: %s\n", text.c_str());
}

void Output::Flush() const {
    std::fflush(stdout);
}

std::string Count(size_t n, const std::string& singular, const std::string& plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

}  // namespace kovahost
