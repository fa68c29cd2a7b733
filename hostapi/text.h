// The small text jobs of the add-in, each done once: a bounded copy, the read of a text item or of
// one entry of a text list to a limit, the server's time as text, and a database path with its
// backslashes turned into slashes. Every result is cut to its buffer and terminated.
#ifndef KOVA_HOSTAPI_TEXT_H
#define KOVA_HOSTAPI_TEXT_H

#include <cstddef>
#include <cstdint>

#include "hostapi/qixtypes.h"

namespace kova {

// Copies `source` into `dest` of `size` bytes (size > 0), cut to fit, always terminated; answers
// the length copied. A null source copies as the empty text.
size_t CopyBounded(char* dest, size_t size, const char* source) noexcept;
template <size_t N>
size_t CopyBounded(char (&dest)[N], const char* source) noexcept {
    return CopyBounded(dest, N, source);
}

// Reads text item `item` of `note` with the server limit `limit` into `buffer` of `size` bytes and
// terminates it at the length the server returned, never past the buffer's last byte (a missing
// item reads as the empty text). Answers the length kept.
uint16_t ReadItemText(NOTEHANDLE note, const char* item, char* buffer, size_t size,
                      uint16_t limit) noexcept;
template <size_t N>
uint16_t ReadItemText(NOTEHANDLE note, const char* item, char (&buffer)[N],
                      uint16_t limit) noexcept {
    return ReadItemText(note, item, buffer, N, limit);
}
// The same for entry `entry` (from 0) of text-list item `item`.
uint16_t ReadItemListEntry(NOTEHANDLE note, const char* item, uint16_t entry, char* buffer,
                           size_t size, uint16_t limit) noexcept;
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
char* HeapText(const char* text) noexcept;

// Copies `source` into `dest` of `destSize` bytes with every backslash turned into a slash; cut to
// destSize - 1 characters, always terminated. Nothing else changes (no case folding, no trimming).
void GetNormalizedDbPath(char* dest, size_t destSize, const char* source) noexcept;

}  // namespace kova

#endif  // KOVA_HOSTAPI_TEXT_H
