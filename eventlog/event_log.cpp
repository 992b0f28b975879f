// Putting an entry at the head of the event log.
//
// The log is never written in place. Its new contents (the line, then the
// old contents byte for byte) go to a file of their own beside it, which is
// flushed and then renamed over the log in one step. Whatever fails, and
// wherever the process is ended (a kill, a logoff, a power cut), the log
// holds either its old contents or the new line followed by them:
//   - the log is opened first, exclusively, and held while its contents are
//     read and the new file is written; a log that another program holds
//     open, or that is read-only, costs the entry before anything is written;
//   - anything that fails before the rename (size, allocation, read, create,
//     write, flush) drops the entry and removes the new file;
//   - the rename is the one step that changes the log. Windows refuses to
//     replace a file that is open, our own handle included, so the log is
//     closed just before it; a program that opens the log in that instant
//     makes the rename fail, and the entry is dropped with the log untouched.
// A new file left behind by a process that ended half-way is removed by the
// next entry before it writes its own. The new file takes the log's
// attributes (hidden, system, archive), so the replaced log keeps them.
// The new file is flushed before the rename, because the next thing a cycle
// does after logging is to hibernate the PC.
#include "eventlog/event_log.h"

#include <cstring>

#include "app/supervisor_state.h"
#include "eventlog/log_line.h"

namespace {

// The new contents are written here, beside the log, and renamed over it.
constexpr char NEW_LOG_FILE_NAME[] = "DOZEWARD.LOG.new";

// The new contents and their NUL must fit in one 32-bit count.
constexpr DWORD MAX_BLOCK_SIZE = 0xFFFFFFFF;

// The attributes the new file takes from the log. Read-only is not among
// them: a read-only log is never opened for writing, so never replaced.
constexpr DWORD KEPT_ATTRIBUTES =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

DWORD AttributesForNewFile()
{
    const DWORD attributes = GetFileAttributesA(LOG_FILE_NAME);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return 0; // none: a normal file
    }
    return attributes & KEPT_ATTRIBUTES;
}

// Writes the block to a new file beside the log and flushes it.
bool WriteNewFile(const char* block, DWORD size, DWORD attributes)
{
    // A file of that name can only be one that a process ended half-way left.
    DeleteFileA(NEW_LOG_FILE_NAME);
    HANDLE file =
        CreateFileA(NEW_LOG_FILE_NAME, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, attributes, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool whole = WriteFile(file, block, size, &written, NULL) != FALSE && written == size &&
                       FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    return whole;
}

// Reads the log's contents behind the line into one block and writes that
// to the new file; closes the log in every case. Returns whether the new
// file is ready to replace it.
bool PrepareNewLog(HANDLE log, const char* line, DWORD lineLength)
{
    DWORD sizeHigh = 0;
    const DWORD oldSize = GetFileSize(log, &sizeHigh);
    char* block = NULL;
    // A low part of INVALID_FILE_SIZE is a failure or a size too large anyway.
    if (oldSize != INVALID_FILE_SIZE && sizeHigh == 0 &&
        oldSize <= MAX_BLOCK_SIZE - 1 - lineLength) {
        block = static_cast<char*>(GlobalAlloc(GMEM_FIXED, lineLength + oldSize + 1));
    }
    bool ready = false;
    if (block != NULL) {
        std::memcpy(block, line, lineLength);
        DWORD bytesRead = 0;
        ready = ReadFile(log, block + lineLength, oldSize, &bytesRead, NULL) != FALSE &&
                bytesRead == oldSize &&
                WriteNewFile(block, lineLength + oldSize, AttributesForNewFile());
        GlobalFree(block);
    }
    // The rename cannot replace a file that is still open.
    CloseHandle(log);
    return ready;
}

} // namespace

void WriteLogEntry(const char* message)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    std::array<char, LOG_LINE_SIZE> line;
    const std::size_t lineLength =
        FormatLogLine(now.wHour, now.wMinute, now.wSecond, message, line);

    HANDLE log = CreateFileA(LOG_FILE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE) {
        return;
    }
    // Whatever failed, the new file goes; the log is as it was.
    if (!PrepareNewLog(log, line.data(), static_cast<DWORD>(lineLength)) ||
        MoveFileExA(NEW_LOG_FILE_NAME, LOG_FILE_NAME,
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        DeleteFileA(NEW_LOG_FILE_NAME);
    }
}
