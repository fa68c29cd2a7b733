// The small text jobs of the add-in that are not defined inline in text.h: the time as text, the
// current time and the path normalisation.
#include "hostapi/text.h"

#include <cstdlib>
#include <cstring>

#include "hostapi/names.h"
#include "hostapi/qixapi.h"

namespace kova {
void TimeText(const TIMEDATE& time, char* buffer, size_t size) noexcept {
    if (buffer == nullptr || size == 0)
        return;
    const uint16_t asked = size < kTimeTextLimit ? static_cast<uint16_t>(size) : kTimeTextLimit;
    uint16_t length = 0;
    if (ConvertTIMEDATEToText(nullptr, nullptr, &time, buffer, asked, &length) != 0)
        length = 0;
    buffer[length < size ? length : size - 1] = '\0';
}

TIMEDATE CurrentTime() noexcept {
    TIMEDATE now{};
    OSCurrentTIMEDATE(&now);
    return now;
}

void GetNormalizedDbPath(char* dest, size_t destSize, const char* source) noexcept {
    const size_t length = CopyBounded(dest, destSize, source);
    char* rest = dest;
    size_t left = length;
    while (left > 0) {
        auto* backslash = static_cast<char*>(std::memchr(rest, '\\', left));
        if (backslash == nullptr)
            break;
        *backslash = '/';
        left -= static_cast<size_t>(backslash + 1 - rest);
        rest = backslash + 1;
    }
}

}  // namespace kova
