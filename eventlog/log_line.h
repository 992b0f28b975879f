// One line of the event log, formatted without touching the platform.
#pragma once

#include <array>
#include <cstddef>

constexpr std::size_t LOG_LINE_SIZE = 80;

// Writes "HH'MM'SS ( message )" and CR LF, with its NUL, into line and returns
// its length without the NUL. A message too long for the line is cut so that
// the line still ends in " )" and CR LF; the callers' messages always fit
// (up to 64 characters with two-digit fields).
std::size_t FormatLogLine(int hour, int minute, int second, const char* message,
                          std::array<char, LOG_LINE_SIZE>& line);
