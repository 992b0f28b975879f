// The command line that starts the companion, derived from the supervisor's
// own command line: the companion lies in the supervisor's directory.
#pragma once

#include <array>

#include "app/supervisor_state.h"

// The first double quote is looked for at these indices only; index 0 is the
// opening quote of a quoted program path and is passed over.
constexpr std::size_t FIRST_SCANNED_INDEX = 1;
constexpr std::size_t LAST_SCANNED_INDEX = 254;

// Fills command with the program path up to its last backslash before the
// first double quote, followed by "\ORB.EXE" and a closing quote:
// "C:\A B\sv.exe" "arg" gives "C:\A B\ORB.EXE". Returns false, with command
// cleared, when no command can be derived whole: no double quote at the
// scanned indices, no backslash before it (the program was named without a
// directory), or a directory too long for the buffer. Touches nothing else.
bool DeriveCompanionCommand(const char* commandLine,
                            std::array<char, COMPANION_COMMAND_SIZE>& command);
