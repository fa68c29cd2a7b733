// The stand-in server's clock and time texts: OSCurrentTIMEDATE, ConvertTIMEDATEToText and the
// host's clock controls. Times are hundredths of a second since 1970 UTC; calendar conversion is
// done here (no C library time functions), so it is the same on every platform.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "hostsim/callgate.h"
#include "hostsim/clock.h"
#include "hostsim/host.h"
#include "hostsim/textcopy.h"

namespace qixsim::detail {
namespace {

std::atomic<bool> gFixedClock{false};
std::atomic<uint64_t> gFixedNext{0};  // the value the next fixed-clock read answers
std::atomic<uint64_t> gFixedStep{1};  // how far a read moves it on: 0 while held

constexpr int64_t kHundredthsPerDay = 100LL * 86400;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) noexcept {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

bool IsLeap(int64_t y) noexcept {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(int64_t y, unsigned m) noexcept {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Reads `count` decimal digits at text[pos]; false on anything else.
bool ReadDigits(const std::string& text, std::size_t pos, std::size_t count, unsigned* value) {
    unsigned v = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(text[i] - '0');
    }
    *value = v;
    return true;
}

}  // namespace

namespace {

// The clock as the next read would answer it, the fixed clock not moved on (the host's own reads).
uint64_t PeekClock() noexcept {
    if (gFixedClock.load(std::memory_order_acquire))
        return gFixedNext.load(std::memory_order_relaxed);
    return ReadClock();
}

}  // namespace

uint64_t ReadClock() noexcept {
    if (gFixedClock.load(std::memory_order_acquire)) {
        return gFixedNext.fetch_add(gFixedStep.load(std::memory_order_relaxed),
                                    std::memory_order_relaxed);
    }
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count();
    return ms > 0 ? static_cast<uint64_t>(ms) / 10 : 0;
}

void ResetClock() noexcept {
    gFixedClock.store(false, std::memory_order_release);
    gFixedStep.store(1, std::memory_order_relaxed);
}

std::size_t FormatTime(uint64_t hundredths, char* out, std::size_t size) noexcept {
    const int64_t days = static_cast<int64_t>(hundredths / kHundredthsPerDay);
    const uint64_t rest = hundredths % kHundredthsPerDay;
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days, &year, &month, &day);
    const unsigned hour = static_cast<unsigned>(rest / 360000);
    const unsigned minute = static_cast<unsigned>(rest / 6000 % 60);
    const unsigned second = static_cast<unsigned>(rest / 100 % 60);
    const unsigned hs = static_cast<unsigned>(rest % 100);
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u:%02u.%02u",
                                static_cast<long long>(year), month, day, hour, minute, second, hs);
    const std::size_t length = n > 0 ? static_cast<std::size_t>(n) : 0;
    CopyOut(text, length, out, size);
    return length;
}

}  // namespace qixsim::detail

using namespace qixsim::detail;

void OSCurrentTIMEDATE(TIMEDATE* retTime) {
    STATUS unused = 0;
    EnterCall(Op::OSCurrentTIMEDATE, &unused, false);
    const uint64_t now = InHostCalls() ? PeekClock() : ReadClock();
    if (retTime != nullptr)
        *retTime = ToTimedate(now);
}

STATUS ConvertTIMEDATEToText(const void* intlFormat, const void* textFormat, const TIMEDATE* time,
                             char* retText, uint16_t bufferLength, uint16_t* retLength) {
    return GuardedCall(Op::ConvertTIMEDATEToText, [&]() -> STATUS {
        if (intlFormat != nullptr || textFormat != nullptr || time == nullptr ||
            (retText == nullptr && bufferLength > 0)) {
            return ERR_QIX_BAD_ARGUMENT;
        }
        char text[64];
        const std::size_t length = FormatTime(FromTimedate(*time), text, sizeof text);
        const std::size_t written = CopyOut(text, length, retText, bufferLength);
        if (retLength != nullptr)
            *retLength = static_cast<uint16_t>(written);
        return 0;
    });
}

namespace qixsim {

void UseSystemClock() {
    detail::ResetClock();
}

void UseFixedClock(TIMEDATE start) {
    detail::gFixedNext.store(detail::FromTimedate(start), std::memory_order_relaxed);
    detail::gFixedClock.store(true, std::memory_order_release);
}

void HoldClock(bool held) {
    detail::gFixedStep.store(held ? 0 : 1, std::memory_order_relaxed);
}

bool ParseTime(const std::string& text, TIMEDATE* out) {
    // "YYYY-MM-DD HH:MM:SS"
    if (out == nullptr || text.size() != 19 || text[4] != '-' || text[7] != '-' ||
        text[10] != ' ' || text[13] != ':' || text[16] != ':') {
        return false;
    }
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!detail::ReadDigits(text, 0, 4, &year) || !detail::ReadDigits(text, 5, 2, &month) ||
        !detail::ReadDigits(text, 8, 2, &day) || !detail::ReadDigits(text, 11, 2, &hour) ||
        !detail::ReadDigits(text, 14, 2, &minute) || !detail::ReadDigits(text, 17, 2, &second)) {
        return false;
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1 ||
        day > detail::DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    const int64_t days = detail::DaysFromCivil(year, month, day);
    const uint64_t hundredths = static_cast<uint64_t>(days) * detail::kHundredthsPerDay +
                                (hour * 3600ULL + minute * 60ULL + second) * 100ULL;
    *out = detail::ToTimedate(hundredths);
    return true;
}

std::string TimeText(const TIMEDATE& time) {
    char text[64];
    detail::FormatTime(detail::FromTimedate(time), text, sizeof text);
    return text;
}

}  // namespace qixsim
