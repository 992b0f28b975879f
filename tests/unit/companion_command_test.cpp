// The companion command derived from the supervisor's command line, as one
// table of command lines and the commands they give (or none).
#include <gtest/gtest.h>

#include <string>

#include "app/companion_command.h"

namespace {

struct Case {
    const char* name;
    std::string commandLine;
    bool derived;
    std::string command;
};

// A quoted path whose last backslash stands at the given index and whose
// closing quote stands at index 254, the last one looked at.
std::string QuotedPathWithBackslashAt(std::size_t index)
{
    return "\"C:" + std::string(index - 3, 'd') + "\\" + std::string(253 - index, 'e') + "\"";
}

// Unquoted text with its first double quote at the given index.
std::string FirstQuoteAt(std::size_t index)
{
    std::string line = "C:\\" + std::string(index - 3, 'x');
    return line + "\" tail";
}

TEST(DeriveCompanionCommand, Table)
{
    const std::string longTail(400, 'a');
    const Case cases[] = {
        {"quoted path", "\"C:\\A\\sv.exe\"", true, "\"C:\\A\\ORB.EXE\""},
        {"quoted path with blank and argument", "\"C:\\A B\\sv.exe\" \"arg\"", true,
         "\"C:\\A B\\ORB.EXE\""},
        {"option after quoted path", "\"D:\\Station\\supervisor.exe\" /x", true,
         "\"D:\\Station\\ORB.EXE\""},
        {"no quote anywhere", "C:\\A\\sv.exe", false, ""},
        {"unquoted path with quoted argument", "C:\\A\\sv.exe \"x\"", true, "C:\\A\\ORB.EXE\""},
        {"empty", "", false, ""},
        {"only a quote at index 0", "\"", false, ""},
        {"first quote at 254", FirstQuoteAt(254), true, "C:\\ORB.EXE\""},
        {"first quote at 255", FirstQuoteAt(255), false, ""},
        {"first quote far beyond the buffer", FirstQuoteAt(600), false, ""},
        {"backslash at 250 still fits", QuotedPathWithBackslashAt(250), true,
         "\"C:" + std::string(247, 'd') + "\\ORB.EXE\""},
        {"backslash at 251 does not fit", QuotedPathWithBackslashAt(251), false, ""},
        {"backslash at 253 does not fit", QuotedPathWithBackslashAt(253), false, ""},
        {"long arguments behind a short path", "\"C:\\A\\sv.exe\" " + longTail, true,
         "\"C:\\A\\ORB.EXE\""},
        {"program named without a directory", "\"DOZEWARD.EXE\"", false, ""},
        {"unquoted name without a directory", "sv.exe \"x\"", false, ""},
        {"backslash at index 0", "\\sv.exe\"", true, "\\ORB.EXE\""},
        {"bytes above 127 in the path", "\"C:\\\xC4\xE9\xFF\\sv.exe\"", true,
         "\"C:\\\xC4\xE9\xFF\\ORB.EXE\""},
        {"multi-byte lead byte before a backslash", "\"C:\\\x81\\\\sv.exe\"", true,
         "\"C:\\\x81\\\\ORB.EXE\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<char, COMPANION_COMMAND_SIZE> command;
        command.fill('#');
        EXPECT_EQ(DeriveCompanionCommand(c.commandLine.c_str(), command), c.derived);
        EXPECT_EQ(std::string(command.data()), c.command);
        // Whatever the outcome, the rest of the buffer is cleared.
        for (std::size_t i = std::string(command.data()).size(); i < command.size(); ++i) {
            ASSERT_EQ(command[i], '\0') << "at index " << i;
        }
    }
}

} // namespace
