// Fuzz target for the companion command: arbitrary bytes as the command line.
// Every outcome is either no command, with the buffer cleared, or a command
// that ends in the companion's file name and a closing quote, NUL-terminated
// inside the buffer. Out-of-bounds accesses are the sanitizers' to catch.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/companion_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The command line a process gets is NUL-terminated; the copy makes the
    // input exactly that long, so reads past it are caught.
    std::string commandLine(reinterpret_cast<const char*>(data), size);
    std::array<char, COMPANION_COMMAND_SIZE> command;
    command.fill('#');
    const bool derived = DeriveCompanionCommand(commandLine.c_str(), command);

    const char* end = static_cast<const char*>(std::memchr(command.data(), '\0', command.size()));
    if (end == nullptr) {
        std::abort();
    }
    const std::size_t length = static_cast<std::size_t>(end - command.data());
    static const char suffix[] = "\\ORB.EXE\"";
    const std::size_t suffixLength = sizeof(suffix) - 1;
    if (derived) {
        if (length < suffixLength || std::memcmp(end - suffixLength, suffix, suffixLength) != 0) {
            std::abort();
        }
        // The part before the suffix is the command line's own prefix.
        if (std::memcmp(command.data(), commandLine.data(), length - suffixLength) != 0) {
            std::abort();
        }
    } else if (length != 0) {
        std::abort();
    }
    return 0;
}
