// The C runtime's file descriptor calls that differ between POSIX and Windows (msvcrt spells them
// with an underscore, and makes a pipe binary only when asked), under one set of names for the
// hosts and tests that divert standard output: the stdout capture and the soak's console.
#ifndef KOVA_TOOLS_SUPPORT_DESCRIPTORS_H
#define KOVA_TOOLS_SUPPORT_DESCRIPTORS_H

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kovasupport::fd {

constexpr int kStdout = 1;

#ifdef _WIN32
inline int Dup(int fd) {
    return _dup(fd);
}
inline int Dup2(int from, int to) {
    return _dup2(from, to);
}
inline void Close(int fd) {
    _close(fd);
}
inline FILE* OpenStream(int fd) {
    return _fdopen(fd, "w");
}
// A binary pipe: what is written is read as it was written.
inline int Pipe(int fds[2]) {
    return _pipe(fds, 1 << 16, _O_BINARY);
}
inline long Read(int fd, char* buffer, unsigned size) {
    return _read(fd, buffer, size);
}
#else
inline int Dup(int fd) {
    return dup(fd);
}
inline int Dup2(int from, int to) {
    return dup2(from, to);
}
inline void Close(int fd) {
    close(fd);
}
inline FILE* OpenStream(int fd) {
    return fdopen(fd, "w");
}
inline int Pipe(int fds[2]) {
    return pipe(fds);
}
inline long Read(int fd, char* buffer, unsigned size) {
    return static_cast<long>(read(fd, buffer, size));
}
#endif

}  // namespace kovasupport::fd

#endif  // KOVA_TOOLS_SUPPORT_DESCRIPTORS_H
