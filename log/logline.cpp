// The log line writer: filters a message by level against the settings in force, composes
// "KOVA:<LEVEL>:<message>" and sends it to the server console (with the time text) and/or the log
// database. Also owns gTextBuffer, the per-thread message buffer callers format into.
#include "log/logline.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "hostapi/itemtext.h"
#include "hostapi/qixapi.h"

namespace kova {

thread_local char gTextBuffer[kTextBufferSize];

namespace {

constexpr const char* kLogTag = "KOVA";

// The published settings, packed into one word so that they change in one step: the level in the
// low 32 bits, the console flag in bit 32, the log database flag in bit 33.
constexpr uint64_t kConsoleBit = uint64_t{1} << 32;
constexpr uint64_t kDatabaseBit = uint64_t{1} << 33;

constexpr uint64_t Pack(const LogSettings& settings) noexcept {
    return uint64_t{static_cast<uint32_t>(settings.level)} |
           (settings.console != 0 ? kConsoleBit : 0) | (settings.database != 0 ? kDatabaseBit : 0);
}

std::atomic<uint64_t> gPublished{Pack(LogSettings{0, 1, 0})};

// Threads with a source of their own. A line looks at its thread's source only while some thread
// has one, so that a line outside a profile read costs one load, not a thread-local look-up.
std::atomic<unsigned> gThreadSources{0};
thread_local LogSettingsSource tSource = nullptr;
thread_local const void* tSourceContext = nullptr;

// The level word of a line, or null for a level that has none.
const char* LevelWord(int level) noexcept {
    switch (level) {
        case kLogError:
            return "ERROR";
        case kLogInfo:
            return "INFO";
        case kLogDebug:
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

void PublishLogSettings(const LogSettings& settings) noexcept {
    gPublished.store(Pack(settings), std::memory_order_release);
}

void SetThreadLogSettingsSource(LogSettingsSource source, const void* context) noexcept {
    tSourceContext = context;
    if ((tSource == nullptr) == (source == nullptr)) {
        tSource = source;
        return;
    }
    if (source != nullptr) {
        gThreadSources.fetch_add(1, std::memory_order_relaxed);
    } else {
        gThreadSources.fetch_sub(1, std::memory_order_relaxed);
    }
    tSource = source;
}

LogSettings CurrentLogSettings() noexcept {
    if (gThreadSources.load(std::memory_order_relaxed) != 0 && tSource != nullptr)
        return tSource(tSourceContext);
    const uint64_t packed = gPublished.load(std::memory_order_acquire);
    return LogSettings{static_cast<int32_t>(static_cast<uint32_t>(packed & 0xFFFFFFFFu)),
                       (packed & kConsoleBit) != 0 ? 1 : 0, (packed & kDatabaseBit) != 0 ? 1 : 0};
}

bool LogLevelPasses(int level) noexcept {
    return level >= kLogError && level <= kLogDebug && level <= CurrentLogSettings().level;
}

void LogLine(int level, const char* message) noexcept {
    if (level > CurrentLogSettings().level)
        return;
    const char* word = LevelWord(level);
    if (word == nullptr)
        return;
    if (message == nullptr)
        message = "";

    char timeText[kTimeTextSize];
    TimeText(CurrentTime(), timeText, sizeof timeText);

    char line[kLogLineSize];
    ComposeLine(line, word, message);

    // The outputs are read after the level, as a separate decision each.
    const LogSettings settings = CurrentLogSettings();
    if (settings.console != 0) {
        std::printf("%s\t%s", timeText, line);
        std::fflush(stdout);
    }
    if (settings.database != 0) {
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
