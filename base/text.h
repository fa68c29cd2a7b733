// General text helpers with no knowledge of the server: a bounded copy, a heap copy, and turning
// one character into another in place. Every result is cut to its buffer and terminated.
#ifndef KOVA_BASE_TEXT_H
#define KOVA_BASE_TEXT_H

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace kova {

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

// Turns every `from` among the first `length` characters of `text` into `to`.
inline void ReplaceCharacter(char* text, size_t length, char from, char to) noexcept {
    while (length > 0) {
        auto* found = static_cast<char*>(std::memchr(text, from, length));
        if (found == nullptr)
            return;
        *found = to;
        length -= static_cast<size_t>(found + 1 - text);
        text = found + 1;
    }
}

}  // namespace kova

#endif  // KOVA_BASE_TEXT_H
