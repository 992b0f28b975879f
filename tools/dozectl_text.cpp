// Bounded text building; see dozectl_text.h.
#include "tools/dozectl_text.h"

TextBuffer MakeTextBuffer(char* data, std::size_t size)
{
    data[0] = '\0';
    return TextBuffer{data, size, 0};
}

void AppendTextCut(TextBuffer& text, const char* part, std::size_t maxBytes)
{
    for (std::size_t i = 0; i < maxBytes && part[i] != '\0' && text.length + 1 < text.size; ++i) {
        text.data[text.length++] = part[i];
    }
    text.data[text.length] = '\0';
}

void AppendText(TextBuffer& text, const char* part) { AppendTextCut(text, part, text.size); }

void AppendDecimal(TextBuffer& text, std::uint32_t value, int minDigits)
{
    // Written backwards from the end: ten digits hold any 32-bit value.
    char digits[11];
    char* first = digits + sizeof(digits) - 1;
    *first = '\0';
    int count = 0;
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
        ++count;
    } while (value != 0 || (count < minDigits && count < 10));
    AppendText(text, first);
}

bool EqualsIgnoringCase(const char* text, const char* expected)
{
    for (;; ++text, ++expected) {
        char a = *text;
        char b = *expected;
        if (a >= 'A' && a <= 'Z') {
            a = static_cast<char>(a - 'A' + 'a');
        }
        if (b >= 'A' && b <= 'Z') {
            b = static_cast<char>(b - 'A' + 'a');
        }
        if (a != b) {
            return false;
        }
        if (a == '\0') {
            return true;
        }
    }
}
