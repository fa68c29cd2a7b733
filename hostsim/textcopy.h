// The one bounded copy of the stand-in server: a text into a caller's buffer, cut to fit and
// always terminated, as every server API call that answers text does it.
#ifndef KOVA_HOSTSIM_TEXTCOPY_H
#define KOVA_HOSTSIM_TEXTCOPY_H

#include <cstddef>
#include <cstring>

namespace qixsim::detail {

// Copies at most size - 1 of the `length` characters at `text` and a terminator into `buffer`;
// answers the characters copied (0, and nothing written, for a null buffer or a size of 0).
inline std::size_t CopyOut(const char* text, std::size_t length, char* buffer,
                           std::size_t size) noexcept {
    if (buffer == nullptr || size == 0)
        return 0;
    const std::size_t copied = length < size ? length : size - 1;
    if (copied > 0)
        std::memcpy(buffer, text, copied);
    buffer[copied] = '\0';
    return copied;
}

}  // namespace qixsim::detail

#endif  // KOVA_HOSTSIM_TEXTCOPY_H
