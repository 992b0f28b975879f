// The "%02d" field of the log line and the next wake-up's text: a table of
// the values that matter, and a sweep against the C library's snprintf.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "eventlog/decimal_field.h"

namespace {

std::string Field(std::int32_t value)
{
    std::array<char, DECIMAL_FIELD_MAX_LENGTH> field;
    field.fill('#');
    const std::size_t length = FormatDecimalField(value, field);
    return std::string(field.data(), length);
}

TEST(FormatDecimalField, Edges)
{
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, "00"},
        {5, "05"},
        {9, "09"},
        {10, "10"},
        {59, "59"},
        {99, "99"},
        {100, "100"},
        {-1, "-1"},
        {-9, "-9"},
        {-10, "-10"},
        {-596523, "-596523"},
        {INT32_MAX, "2147483647"},
        {INT32_MIN, "-2147483648"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(Field(value), text) << "value " << value;
    }
}

TEST(FormatDecimalField, EveryHourMinuteAndSecond)
{
    for (std::int32_t value = 0; value < 60; ++value) {
        const char expected[] = {static_cast<char>('0' + value / 10),
                                 static_cast<char>('0' + value % 10), '\0'};
        EXPECT_EQ(Field(value), expected);
    }
}

// Every value in a wide band around zero, and random ones over the whole
// range with a fixed seed, give what snprintf's "%02d" gives.
TEST(FormatDecimalField, SweepAgainstSnprintf)
{
    std::uint32_t seed = 20261211;
    if (const char* given = std::getenv("DOZEWARD_FIELD_SEED")) {
        seed = static_cast<std::uint32_t>(std::strtoul(given, nullptr, 10));
    }
    std::printf("decimal field sweep: seed %u (DOZEWARD_FIELD_SEED repeats a run)\n", seed);

    std::mt19937 random(seed);
    std::uniform_int_distribution<std::int32_t> any(INT32_MIN, INT32_MAX);
    int mismatches = 0;
    auto check = [&](std::int32_t value) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%02d", static_cast<int>(value));
        if (Field(value) != expected && ++mismatches <= 10) {
            ADD_FAILURE() << "value " << value << ": got " << Field(value) << ", expected "
                          << expected;
        }
    };
    for (std::int32_t value = -1000000; value <= 1000000; ++value) {
        check(value);
    }
    for (int i = 0; i < 1000000; ++i) {
        check(any(random));
    }
    for (std::int32_t offset = 0; offset < 1000; ++offset) {
        check(INT32_MIN + offset);
        check(INT32_MAX - offset);
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(AppendDecimalField, WritesOnlyWhatFitsWhole)
{
    char text[8];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(AppendDecimalField(text, 8, 0, 7), 2U);
    EXPECT_EQ(AppendDecimalField(text, 8, 2, -123), 6U);
    EXPECT_EQ(std::string(text, 6), "07-123");
    // Two characters left: "100" does not fit and nothing is written.
    EXPECT_EQ(AppendDecimalField(text, 8, 6, 100), 6U);
    EXPECT_EQ(std::string(text, 8), "07-123##");
    EXPECT_EQ(AppendDecimalField(text, 8, 9, 1), 9U);
}

} // namespace
