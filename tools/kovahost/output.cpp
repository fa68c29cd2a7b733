// kovahost's writing to standard output and standard error (see output.h).
#include "tools/kovahost/output.h"

#include <cstdio>

namespace kovahost {

Output::Output(bool json) : json_(json) {}

Output::~Output() {
    Flush();
}

void Output::CaptureConsole() {
    if (json_ && !capture_)
        capture_ = std::make_unique<kovasupport::StdoutCapture>(true);  // keep the original
}

void Output::DrainConsole() const {
    if (!capture_ || !capture_->Active())
        return;
    const std::string text = capture_->Take();
    FILE* out = capture_->Original();
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line =
            JsonText(kovahost::Json{{"console", text.substr(start, end - start)}});
        std::fwrite(line.data(), 1, line.size(), out);
        std::fputc('\n', out);
        start = end + 1;
    }
}

void Output::Write(const std::string& line) const {
    DrainConsole();
    FILE* out = capture_ ? capture_->Original() : stdout;
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
}

void Output::Text(const std::string& text) const {
    if (!json_)
        Write(text);
}

void Output::Record(const std::string& text, const kovahost::Json& json) const {
    Write(json_ ? JsonText(json) : text);
}

void Output::Object(const kovahost::Json& json) const {
    Write(JsonText(json));
}

void Output::Heading(size_t number, const std::string& text, const kovahost::Json& fields) const {
    Text("");
    kovahost::Json record{{"step", number}, {"heading", text}};
    for (const auto& field : fields.items())
        record[field.key()] = field.value();
    Record("== " + std::to_string(number) + ". " + text, record);
}

void Output::Result(const std::string& text) const {
    Record("-> " + text, kovahost::Json{{"result", text}});
}

void Output::Note(const std::string& text) const {
    Flush();
    std::fprintf(stderr, "kovahost: %s\n", text.c_str());
}

void Output::Flush() const {
    DrainConsole();
    if (capture_)
        std::fflush(capture_->Original());
    std::fflush(stdout);
}

std::string Count(size_t n, const std::string& singular, const std::string& plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

}  // namespace kovahost
