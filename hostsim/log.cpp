// The log database of the stand-in server: LogEventTextNoConsole formats its text like printf
// and appends it as one entry of "log.qix"; it never prints.
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "hostsim/callgate.h"
#include "hostsim/server.h"

namespace qixsim::detail {
namespace {

#if defined(__MINGW_PRINTF_FORMAT)
#define QIXSIM_PRINTF_LIKE(formatIndex, firstArgument) \
    __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define QIXSIM_PRINTF_LIKE(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define QIXSIM_PRINTF_LIKE(formatIndex, firstArgument)
#endif

// vsnprintf into a string of whatever length the text needs.
QIXSIM_PRINTF_LIKE(1, 0)
STATUS FormatText(const char* format, va_list arguments, std::string* out) noexcept try {
    char small[512];
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (length < 0)
        return ERR_QIX_BAD_ARGUMENT;
    if (static_cast<std::size_t>(length) < sizeof small) {
        out->assign(small, static_cast<std::size_t>(length));
        return 0;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, arguments);
    text.resize(static_cast<std::size_t>(length));
    out->swap(text);
    return 0;
} catch (...) {
    return ERR_QIX_NO_MEMORY;
}

}  // namespace
}  // namespace qixsim::detail

using namespace qixsim::detail;

// ---- Server API: the log database ------------------------------------------------------------

// The format and its arguments are checked like printf's.
QIXSIM_PRINTF_LIKE(1, 4)
STATUS LogEventTextNoConsole(const char* format, QIXHANDLE module, unsigned int additionalError,
                             ...);

STATUS LogEventTextNoConsole(const char* format, QIXHANDLE module, unsigned int additionalError,
                             ...) {
    STATUS fault = 0;
    if (EnterCall(Op::LogEventTextNoConsole, &fault))
        return fault;
    if (format == nullptr || module != QIX_NULLHANDLE || additionalError != 0) {
        return ERR_QIX_BAD_ARGUMENT;
    }
    if (InHostCalls())
        return 0;  // the host's own line: nothing kept
    std::string text;
    va_list arguments;
    va_start(arguments, additionalError);
    const STATUS formatted = FormatText(format, arguments, &text);
    va_end(arguments);
    if (formatted != 0)
        return formatted;
    try {
        ServerState& server = Server();
        std::lock_guard<std::mutex> lock(server.logMutex);
        server.logEntries.push_back(std::move(text));
        return 0;
    } catch (...) {
        return ERR_QIX_NO_MEMORY;
    }
}
