// DOZECTL's command line as one table: every valid command and every bad
// input, which must be bad usage and never a command.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/dozectl_args.h"

namespace {

struct Case {
    std::vector<const char*> arguments; // after the program name
    DozectlVerb verb;
    std::int32_t delaySeconds;
};

TEST(ParseDozectlArguments, Table)
{
    const Case cases[] = {
        {{}, DozectlVerb::Help, 0},
        {{"-h"}, DozectlVerb::Help, 0},
        {{"--help"}, DozectlVerb::Help, 0},
        {{"sleep", "3600"}, DozectlVerb::Sleep, 3600},
        {{"sleep", "0"}, DozectlVerb::Sleep, 0},
        {{"sleep", "-3700"}, DozectlVerb::Sleep, -3700},
        {{"sleep", "+5"}, DozectlVerb::Sleep, 5},
        {{"sleep", "2147483647"}, DozectlVerb::Sleep, 2147483647},
        {{"sleep", "-2147483648"}, DozectlVerb::Sleep, INT32_MIN},
        {{"sleep", "007"}, DozectlVerb::Sleep, 7},
        {{"cancel"}, DozectlVerb::Cancel, 0},
        {{"stop"}, DozectlVerb::Stop, 0},
        {{"status"}, DozectlVerb::Status, 0},
        // Bad input: never a command.
        {{"sleep"}, DozectlVerb::BadUsage, 0},
        {{"sleep", "60", "70"}, DozectlVerb::BadUsage, 0},
        {{"sleep", ""}, DozectlVerb::BadUsage, 0},
        {{"sleep", "-"}, DozectlVerb::BadUsage, 0},
        {{"sleep", "1.5"}, DozectlVerb::BadUsage, 0},
        {{"sleep", "60s"}, DozectlVerb::BadUsage, 0},
        {{"sleep", " 60"}, DozectlVerb::BadUsage, 0},
        {{"sleep", "60 "}, DozectlVerb::BadUsage, 0},
        {{"sleep", "0x10"}, DozectlVerb::BadUsage, 0},
        {{"sleep", "2147483648"}, DozectlVerb::BadUsage, 0},
        {{"sleep", "-2147483649"}, DozectlVerb::BadUsage, 0},
        {{"sleep", "99999999999999999999999"}, DozectlVerb::BadUsage, 0},
        {{"sleep", "one"}, DozectlVerb::BadUsage, 0},
        {{"cancel", "now"}, DozectlVerb::BadUsage, 0},
        {{"stop", "1"}, DozectlVerb::BadUsage, 0},
        {{"status", "-v"}, DozectlVerb::BadUsage, 0},
        {{"--help", "sleep"}, DozectlVerb::BadUsage, 0},
        {{"hibernate"}, DozectlVerb::BadUsage, 0},
        {{"SLEEP", "60"}, DozectlVerb::BadUsage, 0},
        {{""}, DozectlVerb::BadUsage, 0},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"DOZECTL"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        std::string line;
        for (const char* argument : c.arguments) {
            line += std::string(" [") + argument + "]";
        }
        SCOPED_TRACE("DOZECTL" + line);
        const DozectlRequest request =
            ParseDozectlArguments(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(request.verb, c.verb);
        if (c.verb == DozectlVerb::Sleep) {
            EXPECT_EQ(request.delaySeconds, c.delaySeconds);
        }
        EXPECT_EQ(request.error[0] == '\0', c.verb != DozectlVerb::BadUsage);
    }
}

// An argument far longer than the message buffer, echoed in the message: still
// bad usage, and the message is cut short to fill its buffer exactly, ending
// with '\0'.
TEST(ParseDozectlArguments, OverlongArgumentIsCutShortInTheMessage)
{
    const std::string digits(4 * DOZECTL_ERROR_SIZE, '9');
    const std::string word(4 * DOZECTL_ERROR_SIZE, 'x');
    const std::vector<const char*> commandLines[] = {
        {"DOZECTL", "sleep", digits.c_str()},
        {"DOZECTL", word.c_str()},
        {"DOZECTL", word.c_str(), "60"},
    };
    for (const std::vector<const char*>& argv : commandLines) {
        const DozectlRequest request =
            ParseDozectlArguments(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(request.verb, DozectlVerb::BadUsage);
        EXPECT_EQ(strnlen(request.error.data(), request.error.size()), request.error.size() - 1);
    }
}

} // namespace
