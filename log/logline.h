// The add-in's one diagnostic output: levelled log lines to the server console and the server's
// log database, and the message buffer callers format into. Owned by the log subsystem.
#ifndef KOVA_LOG_LOGLINE_H
#define KOVA_LOG_LOGLINE_H

#include <cstddef>
#include <cstdio>  // __MINGW_PRINTF_FORMAT, the dialect of the C library's vsnprintf

namespace kova {

constexpr int LOG_ERROR = 1;
constexpr int LOG_INFO = 2;
constexpr int LOG_DEBUG = 3;

constexpr size_t kTextBufferSize = 1024;  // gTextBuffer
constexpr size_t kLogLineSize = 512;      // the composed "KOVA:LEVEL:message" line
constexpr size_t kTimeTextSize = 81;      // 80 characters and the terminator

// The message buffer callers format into before calling LogLine. One per thread, so that a
// message formatted on one host thread can never be overwritten by another before it is written.
extern thread_local char gTextBuffer[kTextBufferSize];

// Writes `message` at `level` (1 ERROR, 2 INFO, 3 DEBUG) when the level in force lets it through:
// to the console as "<time text>\tKOVA:<LEVEL>:<message>" and/or to "log.qix" as the line without
// the time text. A line too long for its buffer is cut to fit. Other levels write nothing.
void LogLine(int level, const char* message) noexcept;

// True when a line at `level` would pass the threshold now (one comparison).
bool LogLevelPasses(int level) noexcept;

// Formats into gTextBuffer (bounded, cut to fit) and logs it, but only when the level passes:
// a filtered call costs a comparison, not a formatting.
void LogFormat(int level, const char* format, ...) noexcept
#if defined(__MINGW_PRINTF_FORMAT)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

}  // namespace kova

#endif  // KOVA_LOG_LOGLINE_H
