// The small text jobs of the add-in (see text.h). The server's reads copy at most limit - 1
// characters and report how many; these helpers clamp that to the caller's buffer as well.
#include "hostapi/text.h"

#include <cstdlib>
#include <cstring>

#include "hostapi/names.h"
#include "hostapi/qixapi.h"

namespace kova {
namespace {

uint16_t Terminate(char* buffer, size_t size, uint16_t length) noexcept {
    const size_t at = length < size ? length : size - 1;
    buffer[at] = '\0';
    return static_cast<uint16_t>(at);
}

uint16_t Limit(size_t size, uint16_t limit) noexcept {
    return size < limit ? static_cast<uint16_t>(size) : limit;
}

}  // namespace

size_t CopyBounded(char* dest, size_t size, const char* source) noexcept {
    if (dest == nullptr || size == 0)
        return 0;
    if (source == nullptr)
        source = "";
    // memchr stops at the terminator, so a short source is never read past its end.
    const void* end = std::memchr(source, '\0', size - 1);
    const size_t length =
        end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - source) : size - 1;
    std::memcpy(dest, source, length);
    dest[length] = '\0';
    return length;
}

uint16_t ReadItemText(NOTEHANDLE note, const char* item, char* buffer, size_t size,
                      uint16_t limit) noexcept {
    if (buffer == nullptr || size == 0)
        return 0;
    return Terminate(buffer, size, QIXItemGetText(note, item, buffer, Limit(size, limit)));
}

uint16_t ReadItemListEntry(NOTEHANDLE note, const char* item, uint16_t entry, char* buffer,
                           size_t size, uint16_t limit) noexcept {
    if (buffer == nullptr || size == 0)
        return 0;
    return Terminate(buffer, size,
                     QIXItemGetTextListEntry(note, item, entry, buffer, Limit(size, limit)));
}

char* HeapText(const char* text) noexcept {
    if (text == nullptr)
        text = "";
    const size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return copy;
}

void TimeText(const TIMEDATE& time, char* buffer, size_t size) noexcept {
    if (buffer == nullptr || size == 0)
        return;
    uint16_t length = 0;
    if (ConvertTIMEDATEToText(nullptr, nullptr, &time, buffer, Limit(size, kTimeTextLimit),
                              &length) != 0) {
        length = 0;
    }
    Terminate(buffer, size, length);
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
