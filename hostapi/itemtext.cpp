// The server's time as text and the current time.
#include "hostapi/itemtext.h"

#include "base/names.h"
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

}  // namespace kova
