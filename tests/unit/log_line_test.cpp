// The event log's line format, as a table of times and messages.
#include <gtest/gtest.h>

#include <string>

#include "eventlog/log_line.h"

namespace {

struct Case {
    const char* name;
    int hour, minute, second;
    std::string message;
    std::string line;
};

TEST(FormatLogLine, Table)
{
    const std::string message64(64, 'm');
    const Case cases[] = {
        {"example", 7, 5, 9, "WAKEUP", "07'05'09 ( WAKEUP )\r\n"},
        {"leading zeros", 0, 0, 0, "NEXT WAKEUP 00:30", "00'00'00 ( NEXT WAKEUP 00:30 )\r\n"},
        {"two digits", 23, 59, 58, "NEXT WAKEUP -596523:-14",
         "23'59'58 ( NEXT WAKEUP -596523:-14 )\r\n"},
        {"empty message", 12, 34, 56, "", "12'34'56 (  )\r\n"},
        {"64 characters fill the line", 1, 2, 3, message64, "01'02'03 ( " + message64 + " )\r\n"},
        {"longer message is cut, line still ends", 1, 2, 3, message64 + "TAIL",
         "01'02'03 ( " + message64 + " )\r\n"},
        {"bytes above 127 copied as they are", 9, 9, 9, "\xE9\xFF", "09'09'09 ( \xE9\xFF )\r\n"},
        {"wide fields still leave the ending", 65535, 65535, 65535, message64,
         "65535'65535'65535 ( " + std::string(55, 'm') + " )\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<char, LOG_LINE_SIZE> line;
        line.fill('#');
        const std::size_t length =
            FormatLogLine(c.hour, c.minute, c.second, c.message.c_str(), line);
        EXPECT_EQ(std::string(line.data()), c.line);
        EXPECT_EQ(length, c.line.size());
        EXPECT_LE(length, LOG_LINE_SIZE - 1);
    }
}

TEST(FormatLogLine, LengthsAtTheBounds)
{
    std::array<char, LOG_LINE_SIZE> line;
    EXPECT_EQ(FormatLogLine(0, 0, 0, "", line), 15U);
    EXPECT_EQ(FormatLogLine(0, 0, 0, std::string(64, 'x').c_str(), line), 79U);
    EXPECT_EQ(FormatLogLine(0, 0, 0, std::string(500, 'x').c_str(), line), 79U);
}

} // namespace
