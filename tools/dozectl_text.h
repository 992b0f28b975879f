// Bounded text building for DOZECTL, in place of formatted printing: every
// line DOZECTL prints is put together here from fixed strings and numbers.
// A text that would not fit is cut short; the buffer always ends with '\0'.
//
// DOZECTL is kept free of the printf family (and of std::string and
// streams): with mingw-w64 those bring their own formatting code into the
// static link, several times the size of the whole tool.
#pragma once

#include <cstddef>
#include <cstdint>

struct TextBuffer {
    char* data;
    std::size_t size; // of data, including the final '\0'; at least 1
    std::size_t length;
};

// An empty text over data[0 .. size-1].
TextBuffer MakeTextBuffer(char* data, std::size_t size);

void AppendText(TextBuffer& text, const char* part);
// At most maxBytes bytes of part (a quoted argument of any length, say).
void AppendTextCut(TextBuffer& text, const char* part, std::size_t maxBytes);
// A decimal number, padded with zeros to at least minDigits digits. Unsigned
// 32-bit only: every number DOZECTL prints fits, and 64-bit division would
// bring the compiler's helper routines into the 32-bit build.
void AppendDecimal(TextBuffer& text, std::uint32_t value, int minDigits = 1);

// ASCII letters compared without regard to case; any other byte exactly.
bool EqualsIgnoringCase(const char* text, const char* expected);
