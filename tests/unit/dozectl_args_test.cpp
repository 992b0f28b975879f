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
    std::int32_t delaySeconds = 0; // Sleep
    // Status: key=value; Install/Uninstall: print only.
    bool flag = false;
    // Install with --nightly: "HH:MM" as parsed, and the wake-up delay.
    const char* nightly = nullptr;
    std::int32_t wakeAfterSeconds = 0;
};

std::string TimeText(const DozectlRequest& request)
{
    if (!request.nightly) {
        return "(none)";
    }
    return std::to_string(request.nightlyHour) + ":" + std::to_string(request.nightlyMinute);
}

TEST(ParseDozectlArguments, Table)
{
    const DozectlVerb bad = DozectlVerb::BadUsage;
    const Case cases[] = {
        {{"-h"}, DozectlVerb::Help},
        {{"--help"}, DozectlVerb::Help},
        {{"/?"}, DozectlVerb::Help},
        {{"--HELP"}, DozectlVerb::Help},
        {{"sleep", "3600"}, DozectlVerb::Sleep, 3600},
        {{"SLEEP", "60"}, DozectlVerb::Sleep, 60},
        {{"Sleep", "+5"}, DozectlVerb::Sleep, 5},
        {{"sleep", "2147483647"}, DozectlVerb::Sleep, 2147483647},
        {{"sleep", "007"}, DozectlVerb::Sleep, 7},
        // No wake-up only when said so.
        {{"sleep", "0", "--no-wake"}, DozectlVerb::Sleep, 0},
        {{"sleep", "--no-wake", "-3700"}, DozectlVerb::Sleep, -3700},
        {{"sleep", "-2147483648", "--NO-WAKE"}, DozectlVerb::Sleep, INT32_MIN},
        {{"sleep", "--no-wake"}, DozectlVerb::Sleep, 0},
        {{"cancel"}, DozectlVerb::Cancel},
        {{"CANCEL"}, DozectlVerb::Cancel},
        {{"stop"}, DozectlVerb::Stop},
        {{"status"}, DozectlVerb::Status},
        {{"Status", "--format=keyvalue"}, DozectlVerb::Status, 0, true},
        {{"status", "--format=text"}, DozectlVerb::Status, 0, false},
        {{"check"}, DozectlVerb::Check},
        {{"install"}, DozectlVerb::Install},
        {{"install", "--print"}, DozectlVerb::Install, 0, true},
        {{"install", "--nightly", "23:00", "--wake-after", "21600"},
         DozectlVerb::Install,
         0,
         false,
         "23:0",
         21600},
        {{"install", "--wake-after", "60", "--print", "--nightly", "7:05"},
         DozectlVerb::Install,
         0,
         true,
         "7:5",
         60},
        {{"install", "--nightly", "00:00", "--wake-after", "1"},
         DozectlVerb::Install,
         0,
         false,
         "0:0",
         1},
        {{"install", "--user", "KIOSK-PC\\kiosk", "--print"}, DozectlVerb::Install, 0, true},
        {{"uninstall"}, DozectlVerb::Uninstall},
        {{"UNINSTALL", "--print"}, DozectlVerb::Uninstall, 0, true},
        // Bad input: never a command.
        {{}, bad},
        {{"sleep"}, bad},
        {{"sleep", "0"}, bad},
        {{"sleep", "-1"}, bad},
        {{"sleep", "-3700"}, bad},
        {{"sleep", "60", "--no-wake"}, bad},
        {{"sleep", "--no-wake", "--no-wake"}, bad},
        {{"sleep", "60", "70"}, bad},
        {{"sleep", ""}, bad},
        {{"sleep", "-"}, bad},
        {{"sleep", "1.5"}, bad},
        {{"sleep", "60s"}, bad},
        {{"sleep", " 60"}, bad},
        {{"sleep", "60 "}, bad},
        {{"sleep", "0x10"}, bad},
        {{"sleep", "2147483648"}, bad},
        {{"sleep", "-2147483649", "--no-wake"}, bad},
        {{"sleep", "99999999999999999999999"}, bad},
        {{"sleep", "one"}, bad},
        {{"sleep", "60", "--nowake"}, bad},
        {{"cancel", "now"}, bad},
        {{"stop", "1"}, bad},
        {{"check", "--all"}, bad},
        {{"status", "-v"}, bad},
        {{"status", "--format=json"}, bad},
        {{"status", "--format=keyvalue", "--format=keyvalue"}, bad},
        {{"--help", "sleep"}, bad},
        {{"/?", "x"}, bad},
        {{"hibernate"}, bad},
        {{"sl eep", "60"}, bad},
        {{""}, bad},
        {{"install", "--nightly", "23:00"}, bad},
        {{"install", "--wake-after", "60"}, bad},
        {{"install", "--nightly"}, bad},
        {{"install", "--nightly", "24:00", "--wake-after", "60"}, bad},
        {{"install", "--nightly", "23:60", "--wake-after", "60"}, bad},
        {{"install", "--nightly", "123:00", "--wake-after", "60"}, bad},
        {{"install", "--nightly", "23:0", "--wake-after", "60"}, bad},
        {{"install", "--nightly", "23:00x", "--wake-after", "60"}, bad},
        {{"install", "--nightly", ":00", "--wake-after", "60"}, bad},
        {{"install", "--nightly", "23:00", "--wake-after", "0"}, bad},
        {{"install", "--nightly", "23:00", "--wake-after", "-60"}, bad},
        {{"install", "--nightly", "23:00", "--wake-after"}, bad},
        {{"install", "--print", "--print"}, bad},
        {{"install", "now"}, bad},
        {{"install", "--user"}, bad},
        {{"install", "--user", ""}, bad},
        {{"install", "--user", "--print"}, bad},
        {{"install", "--user", "a", "--user", "b"}, bad},
        {{"uninstall", "--nightly", "23:00", "--wake-after", "60"}, bad},
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
        switch (c.verb) {
        case DozectlVerb::Sleep:
            EXPECT_EQ(request.delaySeconds, c.delaySeconds);
            break;
        case DozectlVerb::Status:
            EXPECT_EQ(request.keyValue, c.flag);
            break;
        case DozectlVerb::Install:
        case DozectlVerb::Uninstall:
            EXPECT_EQ(request.printOnly, c.flag);
            EXPECT_EQ(TimeText(request), c.nightly == nullptr ? "(none)" : c.nightly);
            EXPECT_EQ(request.wakeAfterSeconds, c.wakeAfterSeconds);
            EXPECT_STREQ(request.account,
                         c.arguments.size() > 2 && std::strcmp(c.arguments[1], "--user") == 0
                             ? c.arguments[2]
                             : nullptr);
            break;
        default:
            break;
        }
        EXPECT_EQ(request.error[0] == '\0', c.verb != DozectlVerb::BadUsage);
        // Only an empty command line asks for the whole usage on standard error.
        EXPECT_EQ(request.showUsage, c.arguments.empty());
    }
}

// An argument far longer than the message buffer, echoed in the message: still
// bad usage, and the argument is cut short so that the message fits its buffer.
TEST(ParseDozectlArguments, OverlongArgumentIsCutShortInTheMessage)
{
    const std::string digits(4 * DOZECTL_ERROR_SIZE, '9');
    const std::string word(4 * DOZECTL_ERROR_SIZE, 'x');
    const std::vector<const char*> commandLines[] = {
        {"DOZECTL", "sleep", digits.c_str()},
        {"DOZECTL", word.c_str()},
        {"DOZECTL", word.c_str(), "60"},
        {"DOZECTL", "install", word.c_str()},
    };
    for (const std::vector<const char*>& argv : commandLines) {
        const DozectlRequest request =
            ParseDozectlArguments(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(request.verb, DozectlVerb::BadUsage);
        const std::size_t length = strnlen(request.error.data(), request.error.size());
        ASSERT_LT(length, request.error.size());
        // The argument is what is cut short, not the message around it.
        ASSERT_GT(length, 0u);
        EXPECT_EQ(request.error[length - 1], '\'') << request.error.data();
    }
}

// Every exit code is explained in the usage, under its number.
TEST(DozectlUsage, ListsEveryExitCode)
{
    const std::string usage = DOZECTL_USAGE;
    for (const char* line :
         {"  0  done", "  1  no supervisor", "  2  bad usage", "  3  the supervisor did not answer",
          "  4  sleep:", "  5  cancel:", "  6  Windows refused", "  7  check:", "  8  install"}) {
        EXPECT_NE(usage.find(line), std::string::npos) << line;
    }
}

} // namespace
