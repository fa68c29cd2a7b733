// The stand-in server's clock: hundredths of a second since 1970 UTC, read from the system clock
// or from a fixed start that advances on every read, and their conversion to and from TIMEDATE
// and to text.
#ifndef KOVA_HOSTSIM_CLOCK_H
#define KOVA_HOSTSIM_CLOCK_H

#include <cstddef>
#include <cstdint>

#include "hostapi/qixapi.h"

namespace qixsim::detail {

// Hundredths of a second since 1970 UTC; under the fixed clock each read advances it by one.
uint64_t ReadClock() noexcept;
void ResetClock() noexcept;
inline TIMEDATE ToTimedate(uint64_t hundredths) noexcept {
    TIMEDATE t;
    t.word[0] = static_cast<uint32_t>(hundredths & 0xFFFFFFFFu);
    t.word[1] = static_cast<uint32_t>(hundredths >> 32);
    return t;
}
inline uint64_t FromTimedate(const TIMEDATE& t) noexcept {
    return (static_cast<uint64_t>(t.word[1]) << 32) | t.word[0];
}
// "YYYY-MM-DD HH:MM:SS.hh" into `out` (cut to fit `size`, always terminated); answers the length
// of the whole text.
std::size_t FormatTime(uint64_t hundredths, char* out, std::size_t size) noexcept;

}  // namespace qixsim::detail

#endif  // KOVA_HOSTSIM_CLOCK_H
