// Standard output capture for tests (see stdout_capture.h).
#include "tests/support/stdout_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace kovatest {

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    char name[] = "/tmp/kovatest-stdout-XXXXXX";
    captureFd_ = mkstemp(name);
    if (captureFd_ < 0)
        return;
    path_ = name;
    savedFd_ = dup(STDOUT_FILENO);
    dup2(captureFd_, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
    Stop();
}

std::string StdoutCapture::Stop() {
    if (savedFd_ < 0)
        return {};
    std::fflush(stdout);
    dup2(savedFd_, STDOUT_FILENO);
    close(savedFd_);
    savedFd_ = -1;
    std::string text;
    lseek(captureFd_, 0, SEEK_SET);
    char chunk[4096];
    for (ssize_t n; (n = read(captureFd_, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<size_t>(n));
    }
    close(captureFd_);
    captureFd_ = -1;
    unlink(path_.c_str());
    return text;
}

}  // namespace kovatest
