// The log line writer: filters a message by level against the settings in force, composes
// "KOVA:<LEVEL>:<message>" and sends it to the server console (with the time text) and/or the log
// database. Also owns gTextBuffer, the per-thread message buffer callers format into.
#include "log/logline.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "hostapi/qixapi.h"
#include "profile/records.h"

namespace kova {

thread_local char gTextBuffer[kTextBufferSize];

namespace {

constexpr const char* kLogTag = "KOVA";
constexpr uint16_t kTimeTextLimit = 80;

// The level word of a line, or null for a level that has none.
const char* LevelWord(int level) noexcept {
    switch (level) {
        case LOG_ERROR:
            return "ERROR";
        case LOG_INFO:
            return "INFO";
        case LOG_DEBUG:
            return "DEBUG";
        default:
            return nullptr;
    }
}

// Composes "KOVA:<word>:<message>" into `line`. A message too long for the line is cut; when it
// ended with a line end, the cut line keeps one, so the console stays line by line.
void ComposeLine(char (&line)[kLogLineSize], const char* word, const char* message) noexcept {
    const int wanted = std::snprintf(line, sizeof line, "%s:%s:%s", kLogTag, word, message);
    if (wanted < 0) {
        line[0] = '\0';
        return;
    }
    if (static_cast<size_t>(wanted) >= sizeof line) {
        const size_t messageLength = std::strlen(message);
        if (messageLength > 0 && message[messageLength - 1] == '\n') {
            line[sizeof line - 2] = '\n';
        }
    }
}

}  // namespace

bool LogLevelPasses(int level) noexcept {
    return level >= LOG_ERROR && level <= LOG_DEBUG && level <= GetLogLevel();
}

void LogLine(int level, const char* message) noexcept {
    if (level > GetLogLevel())
        return;
    const char* word = LevelWord(level);
    if (word == nullptr)
        return;
    if (message == nullptr)
        message = "";

    TIMEDATE now{};
    OSCurrentTIMEDATE(&now);
    char timeText[kTimeTextSize];
    uint16_t timeLength = 0;
    if (ConvertTIMEDATEToText(nullptr, nullptr, &now, timeText, kTimeTextLimit, &timeLength) != 0) {
        timeLength = 0;
    }
    if (timeLength > kTimeTextLimit)
        timeLength = kTimeTextLimit;
    timeText[timeLength] = '\0';

    char line[kLogLineSize];
    ComposeLine(line, word, message);

    if (isLogConsoleEnabled() != 0) {
        std::printf("%s\t%s", timeText, line);
        std::fflush(stdout);
    }
    if (isLogDatabaseEnabled() != 0) {
        LogEventTextNoConsole("%s", 0, 0, line);
    }
}

void LogFormat(int level, const char* format, ...) noexcept {
    if (!LogLevelPasses(level) || format == nullptr)
        return;
    // Formatted first into a local buffer, so an argument that is gTextBuffer itself is safe.
    char text[kTextBufferSize];
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (written < 0)
        text[0] = '\0';
    std::memcpy(gTextBuffer, text, std::strlen(text) + 1);
    LogLine(level, gTextBuffer);
}

}  // namespace kova
