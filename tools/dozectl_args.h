// The command line of DOZECTL, the operator's command tool, parsed without
// touching the platform so that every bad input can be tested on the host.
//
// The request is plain data with a fixed-size message buffer: DOZECTL.EXE is
// built without exceptions, and a std::string here would pull libstdc++'s
// exception and locale support into its static link for one line of text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

enum class DozectlVerb {
    Help,
    Sleep,
    Cancel,
    Stop,
    Status,
    Check,
    Install,
    Uninstall,
    BadUsage,
};

// The exit codes, which the usage, the README and the guide list.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_NO_SUPERVISOR = 1;
constexpr int EXIT_BAD_USAGE = 2;
constexpr int EXIT_NO_ANSWER = 3;
constexpr int EXIT_NO_CYCLE_STARTED = 4;
constexpr int EXIT_NOTHING_ARMED = 5;
constexpr int EXIT_ACCESS_DENIED = 6;
constexpr int EXIT_CHECK_FAILED = 7;
constexpr int EXIT_INSTALL_FAILED = 8;

// Long enough for every message with a quoted argument of a sensible length;
// a longer argument is cut short, the message always ends with '\0'.
constexpr std::size_t DOZECTL_ERROR_SIZE = 160;

struct DozectlRequest {
    DozectlVerb verb = DozectlVerb::BadUsage;
    std::int32_t delaySeconds = 0; // Sleep
    bool keyValue = false;         // Status: key=value lines instead of sentences
    bool printOnly = false;        // Install, Uninstall: show, run nothing
    bool nightly = false;          // Install: also the nightly cycle at nightlyHour:nightlyMinute
    int nightlyHour = 0;
    int nightlyMinute = 0;
    std::int32_t wakeAfterSeconds = 0;
    const char* account = nullptr; // Install, Uninstall: --user ACCOUNT; none: who runs DOZECTL
    // For BadUsage: one line saying what is wrong; empty for every other verb.
    std::array<char, DOZECTL_ERROR_SIZE> error{};
    // For BadUsage with no command at all: the whole usage goes to standard error.
    bool showUsage = false;
};

// argv[0] is the program. Verbs and options are matched in any case.
DozectlRequest ParseDozectlArguments(int argc, const char* const* argv);

// A whole decimal number with an optional sign that fits in 32 bits, and
// nothing else: no blanks, no trailing characters.
bool ParseDelaySeconds(const char* text, std::int32_t& delaySeconds);

// A time of day "H:MM" or "HH:MM", 00:00 to 23:59.
bool ParseTimeOfDay(const char* text, int& hour, int& minute);

extern const char DOZECTL_USAGE[];
