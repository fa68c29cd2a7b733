// kovahost's own output. As text it goes through the C stdio stream stdout, the same stream the
// add-in prints its console lines to, so that the two interleave in the order they happen. With
// --json every line of standard output is a JSON object: while the console is captured, the
// add-in's lines are taken from the capture before each of kovahost's own lines and written as
// {"console": LINE} objects, so the order is kept there too.
#ifndef KOVA_TOOLS_KOVAHOST_OUTPUT_H
#define KOVA_TOOLS_KOVAHOST_OUTPUT_H

#include <cstddef>
#include <memory>
#include <string>

#include "tools/kovahost/records.h"
#include "tools/support/stdout_capture.h"

namespace kovahost {

class Output {
  public:
    explicit Output(bool json);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // --json: every line is a JSON object.
    bool Json() const { return json_; }
    // With --json, captures the server console until destruction (see above).
    void CaptureConsole();

    // A line for the reader of the text only (blank lines, explanations); left out with --json.
    void Text(const std::string& text) const;
    // One record: `json` with --json, else `text` (which may span several lines).
    void Record(const std::string& text, const kovahost::Json& json) const;
    // A record that is JSON in both forms (an Event document).
    void Object(const kovahost::Json& json) const;
    // A blank line and "== N. text": what the host does next. {"step": N, "heading": text} and
    // then the members of `fields`, which the text already says in words.
    void Heading(size_t number, const std::string& text,
                 const kovahost::Json& fields = kovahost::Json::object()) const;
    // "-> text": what came of it. {"result": text}.
    void Result(const std::string& text) const;
    // A note to standard error (after flushing standard output, to keep the order on a terminal).
    void Note(const std::string& text) const;
    void Flush() const;

  private:
    void Write(const std::string& line) const;
    void DrainConsole() const;

    bool json_;
    std::unique_ptr<kovasupport::StdoutCapture> capture_;
};

// "1 Event document", "2 Event documents".
std::string Count(size_t n, const std::string& singular, const std::string& plural);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_OUTPUT_H
