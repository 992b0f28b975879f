// Formatting of a log line into its fixed 80-byte buffer.
//
// The time prefix and the closing " )" with CR LF always stand in the line;
// the message gets what room is left. A cut message keeps every later entry on
// its own line, where an unbounded format would overrun the buffer or lose
// the line's ending.
#include "eventlog/log_line.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char LINE_ENDING[] = " )\r\n";
constexpr std::size_t LINE_ENDING_LENGTH = sizeof(LINE_ENDING) - 1;

} // namespace

std::size_t FormatLogLine(int hour, int minute, int second, const char* message,
                          std::array<char, LOG_LINE_SIZE>& line)
{
    // The prefix is at most "-2147483648'..." three times, which does not fit;
    // clamp what snprintf reports so that the arithmetic below stays in the line.
    int written =
        std::snprintf(line.data(), line.size(), "%02d'%02d'%02d ( ", hour, minute, second);
    const std::size_t maxPrefix = line.size() - 1 - LINE_ENDING_LENGTH;
    std::size_t used = written < 0 ? 0 : static_cast<std::size_t>(written);
    if (used > maxPrefix) {
        used = maxPrefix;
    }
    const std::size_t messageLength = strnlen(message, maxPrefix - used);
    std::memcpy(line.data() + used, message, messageLength);
    used += messageLength;
    std::memcpy(line.data() + used, LINE_ENDING, sizeof(LINE_ENDING));
    return used + LINE_ENDING_LENGTH;
}
