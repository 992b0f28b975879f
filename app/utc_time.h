// UTC times for the status query. The supervisor packs the date and time it
// reads from the system into one 32-bit number with shifts alone (no calendar
// arithmetic in the supervisor, which is kept small); DOZECTL unpacks it, and
// counts seconds since 1970 where it must add a delay to a time.
#pragma once

#include <cstdint>

struct UtcDateTime {
    int year;
    int month; // 1..12
    int day;   // 1..31
    int hour;
    int minute;
    int second;
};

// A packed time: (year - 2000) in bits 26 to 31 (years 2000 to 2063), month
// in 22 to 25, day in 17 to 21, and the second of the day in 0 to 16. Never 0
// for a real date, since the month is at least 1: 0 stands for "none".
constexpr std::uint32_t PackUtcTime(unsigned year, unsigned month, unsigned day, unsigned hour,
                                    unsigned minute, unsigned second)
{
    return ((year - 2000u) & 63u) << 26 | (month & 15u) << 22 | (day & 31u) << 17 |
           ((hour * 60u + minute) * 60u + second);
}
UtcDateTime UnpackUtcTime(std::uint32_t packed);

// Dates from 1970 to 2106-02-07 fit; earlier ones (and invalid months or
// days) give 0, later ones wrap.
std::uint32_t UtcSecondsFromDateTime(const UtcDateTime& time);
UtcDateTime UtcDateTimeFromSeconds(std::uint32_t seconds);
