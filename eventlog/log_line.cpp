// Formatting of a log line into its fixed 80-byte buffer.
//
// The time prefix and the closing " )" with CR LF always stand in the line;
// the message gets what room is left. A cut message keeps every later entry on
// its own line, where an unbounded format would overrun the buffer or lose
// the line's ending. The prefix is at most three 11-character fields and five
// separators, so it always fits.
#include "eventlog/log_line.h"

#include <cstring>

#include "eventlog/decimal_field.h"

namespace {

constexpr char LINE_ENDING[] = " )\r\n";
constexpr std::size_t LINE_ENDING_LENGTH = sizeof(LINE_ENDING) - 1;

// Appends as much of text (up to length bytes) as fits within capacity.
std::size_t AppendText(char* line, std::size_t capacity, std::size_t used, const char* text,
                       std::size_t length)
{
    const std::size_t room = used < capacity ? capacity - used : 0;
    const std::size_t count = length < room ? length : room;
    std::memcpy(line + used, text, count);
    return used + count;
}

} // namespace

std::size_t FormatLogLine(int hour, int minute, int second, const char* message,
                          std::array<char, LOG_LINE_SIZE>& line)
{
    // Everything before the ending must leave room for it and the NUL.
    const std::size_t capacity = line.size() - 1 - LINE_ENDING_LENGTH;
    char* text = line.data();
    std::size_t used = AppendDecimalField(text, capacity, 0, hour);
    used = AppendText(text, capacity, used, "'", 1);
    used = AppendDecimalField(text, capacity, used, minute);
    used = AppendText(text, capacity, used, "'", 1);
    used = AppendDecimalField(text, capacity, used, second);
    used = AppendText(text, capacity, used, " ( ", 3);
    used = AppendText(text, capacity, used, message, strnlen(message, capacity - used));
    std::memcpy(text + used, LINE_ENDING, sizeof(LINE_ENDING));
    return used + LINE_ENDING_LENGTH;
}
