// UTC times as a count of seconds since 1970-01-01 00:00:00, and back to a
// calendar date and time of day. Pure arithmetic on the proleptic Gregorian
// calendar, shared by the supervisor (which records times) and DOZECTL (which
// prints them), so that a time crosses the status query as one number.
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

// Dates from 1970 to 2106-02-07 fit; earlier ones (and invalid months or
// days) give 0, later ones wrap.
std::uint32_t UtcSecondsFromDateTime(const UtcDateTime& time);
UtcDateTime UtcDateTimeFromSeconds(std::uint32_t seconds);
