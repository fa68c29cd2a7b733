// The small text jobs of the add-in, each done once: a bounded copy, the read of a text item or of
// one entry of a text list to a limit, the server's time as text, and a database path with its
// backslashes turned into slashes. Every result is cut to its buffer and terminated.
#ifndef KOVA_HOSTAPI_TEXT_H
#define KOVA_HOSTAPI_TEXT_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hostapi/qixapi.h"

namespace kova {

// These run on every notification's path, so the short ones are defined here, once, inline.

// Copies `source` into `dest` of `size` bytes (size > 0), cut to fit, always terminated; answers
// the length copied. A null source copies as the empty text.
inline size_t CopyBounded(char* dest, size_t size, const char* source) noexcept {
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
template <size_t N>
size_t CopyBounded(char (&dest)[N], const char* source) noexcept {
    return CopyBounded(dest, N, source);
}

// Reads text item `item` of `note` with the server limit `limit` into `buffer` of `size` bytes and
// terminates it at the length the server returned, never past the buffer's last byte (a missing
// item reads as the empty text). Answers the length kept.
inline uint16_t ReadItemText(NOTEHANDLE note, const char* item, char* buffer, size_t size,
                             uint16_t limit) noexcept {
    if (buffer == nullptr || size == 0)
        return 0;
    const uint16_t asked = size < limit ? static_cast<uint16_t>(size) : limit;
    const uint16_t length = QIXItemGetText(note, item, buffer, asked);
    const size_t at = length < size ? length : size - 1;
    buffer[at] = '\0';
    return static_cast<uint16_t>(at);
}
template <size_t N>
uint16_t ReadItemText(NOTEHANDLE note, const char* item, char (&buffer)[N],
                      uint16_t limit) noexcept {
    return ReadItemText(note, item, buffer, N, limit);
}
// The same for entry `entry` (from 0) of text-list item `item`.
inline uint16_t ReadItemListEntry(NOTEHANDLE note, const char* item, uint16_t entry, char* buffer,
                                  size_t size, uint16_t limit) noexcept {
    if (buffer == nullptr || size == 0)
        return 0;
    const uint16_t asked = size < limit ? static_cast<uint16_t>(size) : limit;
    const uint16_t length = QIXItemGetTextListEntry(note, item, entry, buffer, asked);
    const size_t at = length < size ? length : size - 1;
    buffer[at] = '\0';
    return static_cast<uint16_t>(at);
}
template <size_t N>
uint16_t ReadItemListEntry(NOTEHANDLE note, const char* item, uint16_t entry, char (&buffer)[N],
                           uint16_t limit) noexcept {
    return ReadItemListEntry(note, item, entry, buffer, N, limit);
}

// `time` in the server's default text (at most 80 characters) into `buffer` of `size` bytes; the
// empty text when the server cannot convert it.
void TimeText(const TIMEDATE& time, char* buffer, size_t size) noexcept;
// The server's current time.
TIMEDATE CurrentTime() noexcept;

// A heap copy of `text` (malloc, freed with free()), or null when memory ran out.
inline char* HeapText(const char* text) noexcept {
    if (text == nullptr)
        text = "";
    const size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return copy;
}

// Copies `source` into `dest` of `destSize` bytes with every backslash turned into a slash; cut to
// destSize - 1 characters, always terminated. Nothing else changes (no case folding, no trimming).
void GetNormalizedDbPath(char* dest, size_t destSize, const char* source) noexcept;

}  // namespace kova

#endif  // KOVA_HOSTAPI_TEXT_H
