// Putting an entry at the head of the event log.
//
// The file is opened exclusively, its old contents read into one block behind
// the new line, and the block written back from offset 0. Whatever fails on
// the way, the old contents are never lost:
//   - anything that fails before the first write (size, allocation, read)
//     drops the entry and leaves the file untouched;
//   - the file is first grown to its new length, so that a full disk fails
//     before any old byte is overwritten;
//   - a write that still fails or stops short is undone by writing the old
//     contents back from the block and cutting the file to its old size.
// The entry is flushed before the close, because the next thing a cycle does
// after logging is to hibernate the PC.
#include "eventlog/event_log.h"

#include <cstring>

#include "app/supervisor_state.h"
#include "eventlog/log_line.h"

namespace {

// The new contents and their NUL must fit in one 32-bit count.
constexpr DWORD MAX_BLOCK_SIZE = 0xFFFFFFFF;

bool MoveTo(HANDLE file, DWORD offset)
{
    // With a high part given, INVALID_SET_FILE_POINTER is also a valid low
    // part; only the error code tells a failure.
    LONG high = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD low = SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS);
}

bool SetLength(HANDLE file, DWORD length)
{
    return MoveTo(file, length) && SetEndOfFile(file) != FALSE;
}

bool WriteWholeAt(HANDLE file, DWORD offset, const char* bytes, DWORD count)
{
    DWORD written = 0;
    return MoveTo(file, offset) && WriteFile(file, bytes, count, &written, NULL) != FALSE &&
           written == count;
}

// block holds the line (lineLength bytes) followed by the old contents.
void WriteNewContents(HANDLE file, const char* block, DWORD lineLength, DWORD oldSize)
{
    const DWORD newSize = lineLength + oldSize;
    if (!SetLength(file, newSize)) {
        SetLength(file, oldSize);
        return;
    }
    if (!WriteWholeAt(file, 0, block, newSize)) {
        WriteWholeAt(file, 0, block + lineLength, oldSize);
        SetLength(file, oldSize);
        FlushFileBuffers(file);
        return;
    }
    FlushFileBuffers(file);
}

void PrependLine(HANDLE file, const char* line, DWORD lineLength)
{
    DWORD sizeHigh = 0;
    const DWORD oldSize = GetFileSize(file, &sizeHigh);
    if (oldSize == INVALID_FILE_SIZE || sizeHigh != 0 ||
        oldSize > MAX_BLOCK_SIZE - 1 - lineLength) {
        return;
    }
    char* block = static_cast<char*>(GlobalAlloc(GMEM_FIXED, lineLength + oldSize + 1));
    if (block == NULL) {
        return;
    }
    std::memcpy(block, line, lineLength + 1);
    DWORD bytesRead = 0;
    if (ReadFile(file, block + lineLength, oldSize, &bytesRead, NULL) != FALSE &&
        bytesRead == oldSize) {
        WriteNewContents(file, block, lineLength, oldSize);
    }
    GlobalFree(block);
}

} // namespace

void WriteLogEntry(const char* message)
{
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    std::array<char, LOG_LINE_SIZE> line{};
    const std::size_t lineLength =
        FormatLogLine(now.wHour, now.wMinute, now.wSecond, message, line);

    HANDLE file = CreateFileA(LOG_FILE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    PrependLine(file, line.data(), static_cast<DWORD>(lineLength));
    CloseHandle(file);
}
