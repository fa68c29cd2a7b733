// Standard output capture (see stdout_capture.h). The temporary file is opened for appending, so
// every write lands at its end whatever the reads do; the file goes away with its last
// descriptor. The calls that differ between the C runtimes are tools/support/descriptors.h's, and
// the temporary file and the positioned read sit in `os` below.
#include "tools/support/stdout_capture.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>

#include "tools/support/descriptors.h"

namespace kovasupport {
namespace {

namespace os {
using namespace kovasupport::fd;
#ifdef _WIN32
// A temporary file the C runtime deletes when its last descriptor closes.
int OpenTemporary() {
    char folder[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    if (GetTempPathA(MAX_PATH, folder) == 0 || GetTempFileNameA(folder, "kva", 0, path) == 0)
        return -1;
    return _open(path, _O_RDWR | _O_BINARY | _O_APPEND | _O_TRUNC | _O_TEMPORARY,
                 _S_IREAD | _S_IWRITE);
}
// Reads at `offset`. The descriptor shares its file position with standard output, which is why
// this may not run while another thread prints.
long long ReadAt(int fd, char* buffer, unsigned size, long long offset) {
    if (_lseeki64(fd, offset, SEEK_SET) < 0)
        return -1;
    return _read(fd, buffer, size);
}
#else
// An unnamed temporary file: created, then unlinked at once.
int OpenTemporary() {
    char name[] = "/tmp/kovasupport-stdout-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        return -1;
    unlink(name);
    if (fcntl(fd, F_SETFL, O_APPEND) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}
long long ReadAt(int fd, char* buffer, unsigned size, long long offset) {
    return pread(fd, buffer, size, static_cast<off_t>(offset));
}
#endif
}  // namespace os

using fd::kStdout;

// Hands the file from `*offset` to its end to `chunk` in pieces, moving `*offset` along.
template <typename Fn>
void ReadFrom(int fd, long long* offset, Fn&& chunk) {
    std::fflush(stdout);
    char buffer[8192];
    for (long long n; (n = os::ReadAt(fd, buffer, sizeof buffer, *offset)) > 0; *offset += n)
        chunk(buffer, static_cast<size_t>(n));
}

}  // namespace

StdoutCapture::StdoutCapture(bool keepOriginal) {
    fileFd_ = os::OpenTemporary();
    if (fileFd_ < 0)
        return;
    std::fflush(stdout);
    const int savedFd = os::Dup(kStdout);
    if (savedFd < 0)
        return;
    if (keepOriginal) {
        const int originalFd = os::Dup(savedFd);
        original_ = originalFd >= 0 ? os::OpenStream(originalFd) : nullptr;
        if (original_ == nullptr) {
            if (originalFd >= 0)
                os::Close(originalFd);
            os::Close(savedFd);
            return;
        }
    }
    if (os::Dup2(fileFd_, kStdout) < 0) {
        if (original_ != nullptr)
            std::fclose(original_);
        original_ = nullptr;
        os::Close(savedFd);
        return;
    }
    savedFd_ = savedFd;
}

StdoutCapture::~StdoutCapture() {
    Restore();
    if (fileFd_ >= 0)
        os::Close(fileFd_);
}

void StdoutCapture::Restore() {
    if (savedFd_ < 0)
        return;
    std::fflush(stdout);
    os::Dup2(savedFd_, kStdout);
    os::Close(savedFd_);
    savedFd_ = -1;
    if (original_ != nullptr)
        std::fclose(original_);
    original_ = nullptr;
}

std::string StdoutCapture::ReadText() {
    std::string text;
    ReadFrom(fileFd_, &readOffset_,
             [&](const char* data, size_t size) { text.append(data, size); });
    return text;
}

std::string StdoutCapture::Take() {
    return Active() ? ReadText() : std::string();
}

std::string StdoutCapture::Stop() {
    if (!Active())
        return {};
    Restore();
    return ReadText();
}

size_t StdoutCapture::StopCountingLines() {
    if (!Active())
        return 0;
    Restore();
    size_t lines = 0;
    ReadFrom(fileFd_, &readOffset_, [&](const char* data, size_t size) {
        lines += static_cast<size_t>(std::count(data, data + size, '\n'));
    });
    return lines;
}

}  // namespace kovasupport
