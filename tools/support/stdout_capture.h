// Capture of the process's standard output, the server console the add-in prints to through the
// C runtime: one implementation, POSIX and Windows, for kovahost, the tests and the Windows test
// host. What is written goes to an unnamed temporary file and is read back from there.
#ifndef KOVA_TOOLS_SUPPORT_STDOUT_CAPTURE_H
#define KOVA_TOOLS_SUPPORT_STDOUT_CAPTURE_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace kovasupport {

// Diverts standard output (descriptor 1, whoever writes to it, on any thread) from construction
// until Stop or destruction. Captures nest: an inner one gives the output back to the outer one.
// One owner, one thread at a time; on Windows, Take only while nothing else prints.
class StdoutCapture {
  public:
    // With `keepOriginal`, Original() is a stream onto the standard output from before the
    // capture, for a host's own lines; the capture is then only active if that stream opens.
    explicit StdoutCapture(bool keepOriginal = false);
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // False when standard output could not be diverted (it is then written as it was).
    bool Active() const { return savedFd_ >= 0; }
    // The stream of `keepOriginal` while active, stdout otherwise.
    FILE* Original() const { return original_ != nullptr ? original_ : stdout; }
    // What was written since the start or the last Take.
    std::string Take();
    // Restores standard output; answers what was written since the start or the last Take.
    std::string Stop();
    // Restores standard output; answers the number of line ends written since the start or the
    // last Take, read in chunks so that a long run is never held whole.
    size_t StopCountingLines();

  private:
    void Restore();
    std::string ReadText();  // from the read offset to the end

    int fileFd_ = -1;
    int savedFd_ = -1;
    FILE* original_ = nullptr;
    long long readOffset_ = 0;
};

}  // namespace kovasupport

#endif  // KOVA_TOOLS_SUPPORT_STDOUT_CAPTURE_H
