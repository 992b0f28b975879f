// The command line of DOZECTL, the operator's command tool, parsed without
// touching the platform so that every bad input can be tested on the host.
#pragma once

#include <cstdint>
#include <string>

enum class DozectlVerb { Help, Sleep, Cancel, Stop, Status, BadUsage };

struct DozectlRequest {
    DozectlVerb verb = DozectlVerb::BadUsage;
    std::int32_t delaySeconds = 0; // for Sleep
    std::string error;             // for BadUsage: one line saying what is wrong
};

// argv[0] is the program; no arguments, -h or --help ask for the usage.
DozectlRequest ParseDozectlArguments(int argc, const char* const* argv);

// A whole decimal number with an optional sign that fits in 32 bits, and
// nothing else: no blanks, no trailing characters.
bool ParseDelaySeconds(const char* text, std::int32_t& delaySeconds);

extern const char DOZECTL_USAGE[];
