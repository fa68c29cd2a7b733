// The add-in's one diagnostic output: levelled log lines to the server console and the server's
// log database, the message buffer callers format into, and the log settings (threshold and
// outputs) the lines obey. Owned by the log subsystem; the profiles publish the settings.
#ifndef KOVA_LOG_LOGLINE_H
#define KOVA_LOG_LOGLINE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>  // __MINGW_PRINTF_FORMAT, the dialect of the C library's vsnprintf

namespace kova {

constexpr int kLogError = 1;
constexpr int kLogInfo = 2;
constexpr int kLogDebug = 3;

constexpr size_t kTextBufferSize = 1024;  // gTextBuffer
constexpr size_t kLogLineSize = 512;      // the composed "KOVA:LEVEL:message" line
constexpr size_t kTimeTextSize = 81;      // 80 characters and the terminator

// The message buffer callers format into before calling LogLine. One per thread, so that a
// message formatted on one host thread can never be overwritten by another before it is written.
extern thread_local char gTextBuffer[kTextBufferSize];

// What a log line obeys: the threshold (0 NONE to 3 DEBUG) and the two outputs (0 off, 1 on).
struct LogSettings {
    int32_t level;
    int32_t console;
    int32_t database;
};

// The settings every thread's lines follow, published whole (never a level of one configuration
// with the outputs of another). At load: level 0 (nothing passes), console on, log database off.
void PublishLogSettings(const LogSettings& settings) noexcept;

// A thread that builds a new configuration follows that configuration's settings as they change,
// while every other thread keeps the published ones: it installs a source that its own lines ask
// each time (`source(context)`), and removes it (null) when the configuration is published or
// dropped.
using LogSettingsSource = LogSettings (*)(const void* context) noexcept;
void SetThreadLogSettingsSource(LogSettingsSource source, const void* context) noexcept;

// The settings this thread's lines follow now.
LogSettings CurrentLogSettings() noexcept;

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
