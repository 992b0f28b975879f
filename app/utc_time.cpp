// Calendar arithmetic for UTC seconds since 1970, by whole days counted in
// 400-year eras (each era has the same 146097 days), which keeps leap years
// out of every loop.
#include "app/utc_time.h"

namespace {

constexpr std::int64_t DAYS_PER_ERA = 146097;
constexpr std::int64_t DAYS_FROM_YEAR_0_TO_1970 = 719468; // counted from 0000-03-01
constexpr std::int64_t SECONDS_PER_DAY = 86400;

// Days since 1970-01-01 of a date; the year is taken to start in March, so
// that the leap day falls at its end.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = year / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
    const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * DAYS_PER_ERA + dayOfEra - DAYS_FROM_YEAR_0_TO_1970;
}

} // namespace

std::uint32_t UtcSecondsFromDateTime(const UtcDateTime& time)
{
    const std::int64_t days = DaysFromCivil(time.year, time.month, time.day);
    const std::int64_t seconds =
        days * SECONDS_PER_DAY + (time.hour * 60 + time.minute) * 60 + time.second;
    return seconds < 0 ? 0 : static_cast<std::uint32_t>(seconds);
}

UtcDateTime UtcDateTimeFromSeconds(std::uint32_t seconds)
{
    UtcDateTime time = {};
    const std::int64_t days = seconds / SECONDS_PER_DAY + DAYS_FROM_YEAR_0_TO_1970;
    const std::int64_t secondOfDay = seconds % SECONDS_PER_DAY;
    time.hour = static_cast<int>(secondOfDay / 3600);
    time.minute = static_cast<int>(secondOfDay / 60 % 60);
    time.second = static_cast<int>(secondOfDay % 60);

    const std::int64_t era = days / DAYS_PER_ERA; // days is positive from 1970 on
    const std::int64_t dayOfEra = days - era * DAYS_PER_ERA;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    time.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    time.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    time.year = static_cast<int>(yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0));
    return time;
}
