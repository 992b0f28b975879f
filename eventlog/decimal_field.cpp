// Decimal fields without the C library's formatted printing.
#include "eventlog/decimal_field.h"

#include <cstring>

std::size_t FormatDecimalField(std::int32_t value,
                               std::array<char, DECIMAL_FIELD_MAX_LENGTH>& field)
{
    // The magnitude in unsigned arithmetic, where -INT32_MIN is defined.
    const bool negative = value < 0;
    std::uint32_t magnitude = static_cast<std::uint32_t>(value);
    if (negative) {
        magnitude = 0U - magnitude;
    }

    // Digits from the lowest up, into the end of a scratch buffer.
    std::array<char, DECIMAL_FIELD_MAX_LENGTH> digits{};
    std::size_t start = digits.size();
    do {
        digits[--start] = static_cast<char>('0' + magnitude % 10U);
        magnitude /= 10U;
    } while (magnitude != 0U);

    std::size_t length = 0;
    if (negative) {
        field[length++] = '-';
    } else if (digits.size() - start < 2) {
        field[length++] = '0';
    }
    const std::size_t digitCount = digits.size() - start;
    std::memcpy(field.data() + length, digits.data() + start, digitCount);
    return length + digitCount;
}

std::size_t AppendDecimalField(char* text, std::size_t capacity, std::size_t used,
                               std::int32_t value)
{
    std::array<char, DECIMAL_FIELD_MAX_LENGTH> field{};
    const std::size_t length = FormatDecimalField(value, field);
    if (used > capacity || capacity - used < length) {
        return used;
    }
    std::memcpy(text + used, field.data(), length);
    return used + length;
}
