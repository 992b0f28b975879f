// UTC seconds since 1970 to a calendar date and back, as one table: epoch,
// leap days, century rules, year ends and the last second that fits.
#include <gtest/gtest.h>

#include "app/utc_time.h"

namespace {

struct Case {
    UtcDateTime time;
    std::uint32_t seconds;
};

TEST(UtcTime, Table)
{
    const Case cases[] = {
        {{1970, 1, 1, 0, 0, 0}, 0u},
        {{1970, 1, 1, 0, 0, 1}, 1u},
        {{1999, 12, 31, 23, 59, 59}, 946684799u},
        {{2000, 2, 29, 12, 0, 0}, 951825600u}, // divisible by 400: a leap year
        {{2000, 3, 1, 0, 0, 0}, 951868800u},
        {{2024, 2, 29, 0, 0, 0}, 1709164800u},
        {{2026, 12, 11, 23, 0, 7}, 1797030007u},
        {{2026, 12, 31, 23, 59, 59}, 1798761599u},
        {{2027, 1, 1, 0, 0, 0}, 1798761600u},
        {{2038, 1, 19, 3, 14, 8}, 2147483648u}, // past the signed 32-bit end
        {{2100, 3, 1, 0, 0, 0}, 4107542400u},   // 2100 is no leap year
        {{2106, 2, 7, 6, 28, 15}, 4294967295u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(UtcSecondsFromDateTime(c.time), c.seconds);
        const UtcDateTime back = UtcDateTimeFromSeconds(c.seconds);
        EXPECT_EQ(back.year, c.time.year);
        EXPECT_EQ(back.month, c.time.month);
        EXPECT_EQ(back.day, c.time.day);
        EXPECT_EQ(back.hour, c.time.hour);
        EXPECT_EQ(back.minute, c.time.minute);
        EXPECT_EQ(back.second, c.time.second);
    }
    // Before 1970 there is nothing to count.
    EXPECT_EQ(UtcSecondsFromDateTime({1969, 12, 31, 23, 59, 59}), 0u);
}

// The packed form: shifts only, and back.
TEST(UtcTime, PackedTable)
{
    const Case cases[] = {
        {{2026, 12, 11, 23, 0, 7}, 1796686711u},
        {{2000, 1, 1, 0, 0, 0}, 4194304u + 131072u},
        {{2063, 12, 31, 23, 59, 59}, 4282339711u},
        {{2024, 2, 29, 12, 30, 1}, 1622847433u},
    };
    for (const Case& c : cases) {
        const UtcDateTime& t = c.time;
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(PackUtcTime(t.year, t.month, t.day, t.hour, t.minute, t.second), c.seconds);
        const UtcDateTime back = UnpackUtcTime(c.seconds);
        EXPECT_EQ(back.year, t.year);
        EXPECT_EQ(back.month, t.month);
        EXPECT_EQ(back.day, t.day);
        EXPECT_EQ(back.hour, t.hour);
        EXPECT_EQ(back.minute, t.minute);
        EXPECT_EQ(back.second, t.second);
    }
}

} // namespace
