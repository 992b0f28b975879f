// The next wake-up's text and the wake timer's due time, as tables.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "supervision/next_wake.h"

namespace {

struct TextCase {
    int hour, minute, second;
    std::int32_t delaySeconds;
    const char* text;
};

TEST(FormatNextWake, Table)
{
    const TextCase cases[] = {
        {23, 30, 0, 3600, "NEXT WAKEUP 00:30"}, // 88200 less one day
        {22, 0, 0, 7200, "NEXT WAKEUP 24:00"},  // exactly one day stays
        {23, 59, 59, 1, "NEXT WAKEUP 24:00"},
        {23, 59, 59, 2, "NEXT WAKEUP 00:00"},   // 86401 less one day
        {0, 0, 1, 200000, "NEXT WAKEUP 31:33"}, // one day taken off, once
        {0, 0, 0, -60, "NEXT WAKEUP 00:-1"},
        {0, 0, 0, -59, "NEXT WAKEUP 00:00"},
        {0, 0, 0, -3700, "NEXT WAKEUP -1:-1"},
        {0, 0, 1, INT32_MAX, "NEXT WAKEUP -596523:-14"}, // the sum wraps
        {7, 5, 9, 0, "NEXT WAKEUP 07:05"},               // seconds dropped
        {12, 0, 59, 60, "NEXT WAKEUP 12:01"},
        {0, 0, 0, INT32_MIN, "NEXT WAKEUP -596523:-14"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.hour) + ":" + std::to_string(c.minute) + ":" +
                     std::to_string(c.second) + " + " + std::to_string(c.delaySeconds));
        std::array<char, NEXT_WAKE_TEXT_SIZE> text;
        text.fill('#');
        FormatNextWake(c.hour, c.minute, c.second, c.delaySeconds, text);
        EXPECT_STREQ(text.data(), c.text);
    }
}

TEST(WakeDueTime, Table)
{
    const std::pair<std::int32_t, std::int64_t> cases[] = {
        {3600, -36000000000LL},
        {-3700, 37000000000LL},
        {0, 0},
        {INT32_MAX, -21474836470000000LL},
        {INT32_MIN, 21474836480000000LL},
    };
    for (const auto& [delay, due] : cases) {
        EXPECT_EQ(WakeDueTime(delay), due) << "delay " << delay;
    }
}

} // namespace
