// Calendar arithmetic for UTC seconds since 1970, by whole days counted in
// 400-year eras (each era has the same 146097 days), which keeps leap years
// out of every loop. All in 32 bits: the range 1970 to 2106 fits, and 64-bit
// division would bring the compiler's helper routines into the 32-bit build.
#include "app/utc_time.h"

namespace {

constexpr std::uint32_t DAYS_PER_ERA = 146097;
constexpr std::uint32_t DAYS_FROM_YEAR_0_TO_1970 = 719468; // counted from 0000-03-01
constexpr std::uint32_t SECONDS_PER_DAY = 86400;

// Days from 0000-03-01 to a date from year 0 on; the year is taken to start
// in March, so that the leap day falls at its end.
std::uint32_t DaysFromYearZero(std::uint32_t year, std::uint32_t month, std::uint32_t day)
{
    year -= month <= 2 ? 1 : 0;
    const std::uint32_t era = year / 400;
    const std::uint32_t yearOfEra = year - era * 400;
    const std::uint32_t shiftedMonth = month > 2 ? month - 3 : month + 9;
    const std::uint32_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    const std::uint32_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * DAYS_PER_ERA + dayOfEra;
}

} // namespace

std::uint32_t UtcSecondsFromDateTime(const UtcDateTime& time)
{
    if (time.year < 1970 || time.month < 1 || time.month > 12 || time.day < 1) {
        return 0;
    }
    const std::uint32_t days = DaysFromYearZero(static_cast<std::uint32_t>(time.year),
                                                static_cast<std::uint32_t>(time.month),
                                                static_cast<std::uint32_t>(time.day)) -
                               DAYS_FROM_YEAR_0_TO_1970;
    // Wraps after 2106-02-07, as documented.
    return days * SECONDS_PER_DAY +
           static_cast<std::uint32_t>((time.hour * 60 + time.minute) * 60 + time.second);
}

UtcDateTime UnpackUtcTime(std::uint32_t packed)
{
    const std::uint32_t secondOfDay = packed & 0x1FFFF;
    UtcDateTime time = {};
    time.year = static_cast<int>(2000 + (packed >> 26));
    time.month = static_cast<int>(packed >> 22 & 15);
    time.day = static_cast<int>(packed >> 17 & 31);
    time.hour = static_cast<int>(secondOfDay / 3600);
    time.minute = static_cast<int>(secondOfDay / 60 % 60);
    time.second = static_cast<int>(secondOfDay % 60);
    return time;
}

UtcDateTime UtcDateTimeFromSeconds(std::uint32_t seconds)
{
    UtcDateTime time = {};
    const std::uint32_t days = seconds / SECONDS_PER_DAY + DAYS_FROM_YEAR_0_TO_1970;
    const std::uint32_t secondOfDay = seconds % SECONDS_PER_DAY;
    time.hour = static_cast<int>(secondOfDay / 3600);
    time.minute = static_cast<int>(secondOfDay / 60 % 60);
    time.second = static_cast<int>(secondOfDay % 60);

    const std::uint32_t era = days / DAYS_PER_ERA;
    const std::uint32_t dayOfEra = days - era * DAYS_PER_ERA;
    const std::uint32_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint32_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    time.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    time.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    time.year = static_cast<int>(yearOfEra + era * 400) + (time.month <= 2 ? 1 : 0);
    return time;
}
