// Derivation of the companion command from the supervisor's command line.
//
// The command line is copied into the fixed buffer, cut at the first double
// quote after index 0, cut again at the nearest backslash before it, and the
// companion's file name appended. Every step compares single bytes. The
// buffer is never written past its end: a command line longer than the buffer
// is copied only as far as it fits, which loses nothing, since only its first
// 255 bytes are looked at.
#include "app/companion_command.h"

#include <cstring>

namespace {

constexpr char COMPANION_SUFFIX[] = "\\ORB.EXE\""; // backslash, file name, closing quote

} // namespace

bool DeriveCompanionCommand(const char* commandLine,
                            std::array<char, COMPANION_COMMAND_SIZE>& command)
{
    command.fill('\0');
    const std::size_t copied = strnlen(commandLine, command.size() - 1);
    std::memcpy(command.data(), commandLine, copied);

    std::size_t quote = 0;
    for (std::size_t i = FIRST_SCANNED_INDEX; i <= LAST_SCANNED_INDEX && i < copied; ++i) {
        if (command[i] == '"') {
            quote = i;
            break;
        }
    }
    if (quote == 0) {
        command.fill('\0');
        return false;
    }
    command[quote] = '\0';

    // Walk back from the quote to the nearest backslash. Without one the
    // program was named without a directory; a bare "ORB.EXE" would be
    // looked up along the search path and could start some other program.
    std::size_t backslash = quote;
    while (command[backslash] != '\\') {
        if (backslash == 0) {
            command.fill('\0');
            return false;
        }
        --backslash;
    }

    // A cut directory would start the wrong program: the whole command or none.
    if (backslash + sizeof(COMPANION_SUFFIX) > command.size()) {
        command.fill('\0');
        return false;
    }
    std::memcpy(command.data() + backslash, COMPANION_SUFFIX, sizeof(COMPANION_SUFFIX));
    std::memset(command.data() + backslash + sizeof(COMPANION_SUFFIX), 0,
                command.size() - backslash - sizeof(COMPANION_SUFFIX));
    return true;
}
