// The text of the "NEXT WAKEUP" entry and the wake timer's due time, both
// computed from the delay alone, without the platform.
#pragma once

#include <array>
#include <cstdint>

#include "app/supervisor_state.h"

constexpr std::int32_t SECONDS_PER_DAY = 86400;

// "NEXT WAKEUP HH:MM" for the UTC time of day plus the delay. The sum wraps
// as a signed 32-bit value; a sum above one day has one day taken off; the
// seconds are dropped; negative values keep their sign in each field.
void FormatNextWake(int hour, int minute, int second, std::int32_t delaySeconds,
                    std::array<char, NEXT_WAKE_TEXT_SIZE>& text);

// The waitable timer's due time for the delay: negative (relative) in
// 100-nanosecond units for a positive delay; zero or positive for the others,
// which the timer takes as absolute times long past.
std::int64_t WakeDueTime(std::int32_t delaySeconds);
