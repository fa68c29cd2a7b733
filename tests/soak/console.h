// The server console as the soak sees it: standard output is redirected into a pipe that a
// reader thread drains, so that the add-in's lines can be read while it runs. Of those lines the
// reader keeps the ERROR lines that name a lost event (their note, event type, database and
// connector, and the console time when it was printed) and counts the rest.
#ifndef KOVA_TESTS_SOAK_CONSOLE_H
#define KOVA_TESTS_SOAK_CONSOLE_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "hostapi/qixtypes.h"

namespace soak {

// An ERROR line that names an event: not written, not captured, or stored without some items.
struct NamedEvent {
    enum Kind : uint8_t { kNotWritten, kNotCaptured, kDamaged } kind = kNotWritten;
    NOTEID noteId = 0;
    std::string eventType;
    std::string dbPath;  // with '/'; empty when the line names none
    std::string connector;
    bool timed = false;  // the console time could be read
    uint64_t time = 0;   // hundredths, as the server's clock counts them
};

class Console {
  public:
    // Redirects standard output; `out` then writes where standard output went before.
    Console();
    ~Console();  // restores standard output and stops the reader
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    FILE* out() const { return out_; }
    // Waits until every line printed before this call has been read, then hands over the named
    // events read so far.
    std::vector<NamedEvent> Drain();
    // ERROR lines read so far, by their text up to the first digit or colon.
    std::map<std::string, uint64_t> ErrorCounts();

  private:
    struct State;
    State* state_;
    FILE* out_ = nullptr;
};

}  // namespace soak

#endif  // KOVA_TESTS_SOAK_CONSOLE_H
