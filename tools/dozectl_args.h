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

enum class DozectlVerb { Help, Sleep, Cancel, Stop, Status, BadUsage };

// Long enough for every message with a quoted argument of a sensible length;
// a longer argument is cut short, the message always ends with '\0'.
constexpr std::size_t DOZECTL_ERROR_SIZE = 160;

struct DozectlRequest {
    DozectlVerb verb = DozectlVerb::BadUsage;
    std::int32_t delaySeconds = 0; // for Sleep
    // For BadUsage: one line saying what is wrong; empty for every other verb.
    std::array<char, DOZECTL_ERROR_SIZE> error{};
};

// argv[0] is the program; no arguments, -h or --help ask for the usage.
DozectlRequest ParseDozectlArguments(int argc, const char* const* argv);

// A whole decimal number with an optional sign that fits in 32 bits, and
// nothing else: no blanks, no trailing characters.
bool ParseDelaySeconds(const char* text, std::int32_t& delaySeconds);

extern const char DOZECTL_USAGE[];
