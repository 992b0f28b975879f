// The one number format the supervisor writes: a signed decimal of at least
// two characters, zero-padded ("%02d"), for the fields of the log line and of
// the next wake-up's text. Written by hand because the C library's formatted
// printing brings its whole engine (floating point, wide characters, locales)
// into an executable that only ever needs this.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// "-2147483648", the longest field.
constexpr std::size_t DECIMAL_FIELD_MAX_LENGTH = 11;

// Writes value into field as "%02d" would: at least two characters, padded
// with a zero when the value is 0 to 9, never cut (-1 gives "-1", 123 gives
// "123", INT32_MIN is written whole). Returns the number of characters; no
// NUL is written.
std::size_t FormatDecimalField(std::int32_t value,
                               std::array<char, DECIMAL_FIELD_MAX_LENGTH>& field);

// Appends the field for value at text[used], within capacity bytes, and
// returns the new length. A field that does not fit whole is not written at
// all: the callers' buffers are sized so that it always does.
std::size_t AppendDecimalField(char* text, std::size_t capacity, std::size_t used,
                               std::int32_t value);
