// Captures what the process writes to standard output (the server console) for a scope. Shared
// by every test folder, including those that load the add-in with dlopen and so cannot link the
// add-in's objects.
#ifndef KOVA_TESTS_SUPPORT_STDOUT_CAPTURE_H
#define KOVA_TESTS_SUPPORT_STDOUT_CAPTURE_H

#include <string>

namespace kovatest {

// Captures what the process writes to standard output between construction and Stop().
class StdoutCapture {
  public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    std::string Stop();

  private:
    int savedFd_ = -1;
    int captureFd_ = -1;
    std::string path_;
};

}  // namespace kovatest

#endif  // KOVA_TESTS_SUPPORT_STDOUT_CAPTURE_H
