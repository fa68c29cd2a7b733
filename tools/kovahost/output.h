// kovahost's own output. It goes through the C stdio stream stdout, the same stream the add-in
// prints its console lines to, so that the two interleave in the order they happen.
#ifndef KOVA_TOOLS_KOVAHOST_OUTPUT_H
#define KOVA_TOOLS_KOVAHOST_OUTPUT_H

#include <cstddef>
#include <string>

namespace kovahost {

class Output {
  public:
    explicit Output(bool json) : json_(json) {}

    // --json: every record is written as a JSON object.
    bool Json() const { return json_; }
    void Line(const std::string& text) const;
    // A blank line and "== N. text": what the host does next.
    void Heading(size_t number, const std::string& text) const;
    // "-> text": what came of it.
    void Result(const std::string& text) const;
    // One record: `json` with --json, else `text`.
    void Record(const std::string& text, const std::string& json) const;
    // A note to standard error (after flushing standard output, to keep the order on a terminal).
    void Note(const std::string& text) const;
    void Flush() const;

  private:
    bool json_;
};

// "1 Event document", "2 Event documents".
std::string Count(size_t n, const std::string& singular, const std::string& plural);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_OUTPUT_H
