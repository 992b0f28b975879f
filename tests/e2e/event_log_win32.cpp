// The event log over the real Windows file services, run under Wine: the same
// eventlog/ source as the supervisor, in a program of its own.
//
// Checks that the real services give what the simulated PC promises: a
// prepend to a new and to an existing file, old bytes that are no text kept
// byte for byte, no file but the log left in its folder after an entry (the
// new contents are written beside the log and renamed over it), the log's
// attributes kept, and a file that another process holds open, even only for
// reading, left untouched. The holding process is this program started
// again with "hold PATH".
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/supervisor_state.h"
#include "e2e_support.h"
#include "eventlog/event_log.h"

namespace {

const char HELD_EVENT_NAME[] = "DOZEWARD.EventLogCheck.Held";
const DWORD HOLD_TIMEOUT_MS = 20000;

int passed = 0;
int failed = 0;

void Check(bool ok, const char* what, const std::string& detail = "")
{
    if (ok) {
        ++passed;
        std::printf("PASS  %s\n", what);
    } else {
        ++failed;
        std::printf("FAIL  %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    }
}

std::string ReadAll(const char* path)
{
    std::string contents;
    return e2e::ReadWholeFile(path, &contents) ? contents : "<none>";
}

void WriteAll(const char* path, const std::string& contents)
{
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, NULL);
    CloseHandle(file);
}

// "HH'MM'SS ( message )" CR LF, with any two-digit time.
bool IsLine(const std::string& line, const std::string& message)
{
    const std::string tail = " ( " + message + " )\r\n";
    return line.size() == 8 + tail.size() && line[2] == '\'' && line[5] == '\'' &&
           line.compare(8, std::string::npos, tail) == 0;
}

// The child: holds the file open for reading, sharing reads and writes, until
// it is ended.
int Hold(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, HELD_EVENT_NAME);
    if (file == INVALID_HANDLE_VALUE || held == NULL) {
        return 1;
    }
    SetEvent(held);
    Sleep(HOLD_TIMEOUT_MS);
    CloseHandle(file);
    return 0;
}

void HeldByAnotherProcessIsLeftUntouched(const std::string& old)
{
    WriteAll(LOG_FILE_NAME, old);
    HANDLE held = CreateEventA(NULL, TRUE, FALSE, HELD_EVENT_NAME);
    char self[MAX_PATH] = "";
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string commandLine = std::string("\"") + self + "\" hold " + LOG_FILE_NAME;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(self, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &child)) {
        Check(false, "held by another process: left untouched", "cannot start the holder");
        return;
    }
    const bool holding = WaitForSingleObject(held, HOLD_TIMEOUT_MS) == WAIT_OBJECT_0;
    if (holding) {
        WriteLogEntry("WAKEUP");
    }
    TerminateProcess(child.hProcess, 0);
    WaitForSingleObject(child.hProcess, HOLD_TIMEOUT_MS);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(held);
    const std::string now = ReadAll(LOG_FILE_NAME);
    Check(holding && now == old, "held open for reading by another process: left untouched",
          holding ? "file became " + now : "the holder did not open the file");
}

// Every file in the current folder, by name.
std::string FilesHere()
{
    std::string names;
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA("*", &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names += std::string(names.empty() ? "" : ", ") + found.cFileName;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

void AttributesAreKept(const std::string& old)
{
    WriteAll(LOG_FILE_NAME, old);
    const DWORD hiddenArchive = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    SetFileAttributesA(LOG_FILE_NAME, hiddenArchive);
    const DWORD before = GetFileAttributesA(LOG_FILE_NAME);
    WriteLogEntry("WAKEUP");
    const DWORD after = GetFileAttributesA(LOG_FILE_NAME);
    const std::string now = ReadAll(LOG_FILE_NAME);
    char detail[96];
    std::snprintf(detail, sizeof detail, "attributes 0x%lX before, 0x%lX after", before, after);
    Check(now.size() == 21 + old.size() && now.compare(21, std::string::npos, old) == 0 &&
              (after & FILE_ATTRIBUTE_HIDDEN) != 0,
          "a hidden log stays hidden and keeps its old bytes", detail);
    SetFileAttributesA(LOG_FILE_NAME, FILE_ATTRIBUTE_NORMAL);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "hold") {
        return Hold(argv[2]);
    }
    setvbuf(stdout, NULL, _IONBF, 0);
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof folder, folder);
    const std::string work = std::string(folder) + "\\event-log-check";
    CreateDirectoryA(work.c_str(), NULL);
    SetCurrentDirectoryA(work.c_str());
    DeleteFileA(LOG_FILE_NAME);

    WriteLogEntry("NEXT WAKEUP 07:00");
    const std::string first = ReadAll(LOG_FILE_NAME);
    Check(IsLine(first, "NEXT WAKEUP 07:00"), "no file yet: exactly one line", first);

    WriteLogEntry("WAKEUP");
    const std::string both = ReadAll(LOG_FILE_NAME);
    Check(both.size() > first.size() &&
              IsLine(both.substr(0, both.size() - first.size()), "WAKEUP") &&
              both.compare(both.size() - first.size(), first.size(), first) == 0,
          "existing file: the new line in front, the old one behind it", both);

    static const char oddBytes[] = "last line without end\0\x01\xFF\r\x1A";
    const std::string odd(oddBytes, sizeof oddBytes - 1);
    WriteAll(LOG_FILE_NAME, odd);
    WriteLogEntry("WAKEUP");
    const std::string afterOdd = ReadAll(LOG_FILE_NAME);
    Check(afterOdd.size() == 21 + odd.size() && IsLine(afterOdd.substr(0, 21), "WAKEUP") &&
              afterOdd.compare(21, std::string::npos, odd) == 0,
          "old bytes that are no text follow byte for byte");

    Check(FilesHere() == LOG_FILE_NAME, "after the entries no file but the log is left",
          FilesHere());

    AttributesAreKept(afterOdd);

    HeldByAnotherProcessIsLeftUntouched(afterOdd);
    Check(FilesHere() == LOG_FILE_NAME, "after a dropped entry no file but the log is left",
          FilesHere());

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
