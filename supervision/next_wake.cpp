// Computation of the next wake-up's text and due time.
#include "supervision/next_wake.h"

#include <cstring>

#include "eventlog/decimal_field.h"

namespace {

constexpr char NEXT_WAKE_PREFIX[] = "NEXT WAKEUP ";

} // namespace

void FormatNextWake(int hour, int minute, int second, std::int32_t delaySeconds,
                    std::array<char, NEXT_WAKE_TEXT_SIZE>& text)
{
    // Added in unsigned arithmetic, where wrapping is defined, then taken back
    // as two's complement.
    const std::uint32_t secondsOfDay =
        static_cast<std::uint32_t>((hour * 60 + minute) * 60 + second);
    std::int32_t total =
        static_cast<std::int32_t>(secondsOfDay + static_cast<std::uint32_t>(delaySeconds));
    if (total > SECONDS_PER_DAY) {
        total -= SECONDS_PER_DAY;
    }
    const std::int32_t hours = total / 3600;
    const std::int32_t minutes = (total - hours * 3600) / 60;
    // At most 23 characters and the NUL: the buffer always holds the whole
    // text, and the bounded appends could only drop a field, never overrun.
    const std::size_t capacity = text.size() - 1;
    std::size_t used = sizeof(NEXT_WAKE_PREFIX) - 1;
    std::memcpy(text.data(), NEXT_WAKE_PREFIX, used);
    used = AppendDecimalField(text.data(), capacity, used, hours);
    text[used++] = ':';
    used = AppendDecimalField(text.data(), capacity, used, minutes);
    text[used] = '\0';
}

std::int64_t WakeDueTime(std::int32_t delaySeconds)
{
    return static_cast<std::int64_t>(delaySeconds) * -10000000LL;
}
