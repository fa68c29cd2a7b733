// Texts read from the server, each done once: a text item or one entry of a text list read to a
// limit, and the server's time as text. Every result is cut to its buffer and terminated.
#ifndef KOVA_HOSTAPI_ITEMTEXT_H
#define KOVA_HOSTAPI_ITEMTEXT_H

#include <cstddef>
#include <cstdint>

#include "hostapi/qixapi.h"

namespace kova {

// These run on every notification's path, so the short ones are defined here, once, inline.

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

}  // namespace kova

#endif  // KOVA_HOSTAPI_ITEMTEXT_H
