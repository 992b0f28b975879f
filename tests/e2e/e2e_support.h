// What the end-to-end runners under Wine share: the failure of the check under
// way, staging programs into a folder, reading a file whole, closing windows
// and companions, and running a table of checks to the "N passed, M failed"
// tally that CTest and a reader look for.
//
// Each runner is one translation unit, so everything here is inline.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <string>

namespace e2e {

// The programs under test, as another program on the PC knows them.
const char SUPERVISOR_CLASS[] = "DOZEWARD";
const char COMPANION_CLASS[] = "ORIELDESK";
const char SUPERVISOR_FILE[] = "DOZEWARD.EXE";
const char COMPANION_FILE[] = "ORB.EXE";

// Real time under Wine on a shared machine: generous bounds, never tight.
const DWORD START_TIMEOUT_MS = 20000;
const DWORD POLL_MS = 50;
const DWORD SEND_TIMEOUT_MS = 10000;
const DWORD EXIT_TIMEOUT_MS = 20000;

// What went wrong in the check under way; empty while all is well.
inline std::string failure;

inline void Fail(const char* format, ...)
{
    if (!failure.empty()) {
        return; // the first cause is the one worth reading
    }
    char text[768];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    failure = text;
}

inline std::string Directory(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The folder of this runner, where the build put the programs it starts.
inline std::string BuildDirectory()
{
    char modulePath[MAX_PATH] = "";
    GetModuleFileNameA(NULL, modulePath, sizeof modulePath);
    return Directory(modulePath);
}

// A folder of the given name in the working directory, made if missing.
inline std::string MakeStageFolder(const char* name)
{
    char currentDir[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof currentDir, currentDir);
    const std::string folder = std::string(currentDir) + "\\" + name;
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

inline bool CopyBeside(const std::string& fromDir, const std::string& toDir, const char* file)
{
    const std::string from = fromDir + "\\" + file;
    const std::string to = toDir + "\\" + file;
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) {
        printf("cannot copy %s to %s (error %lu)\n", from.c_str(), to.c_str(), GetLastError());
        return false;
    }
    return true;
}

// The whole file, or false if it cannot be opened (missing, or held by the
// supervisor at this instant: the caller decides whether to try again).
inline bool ReadWholeFile(const std::string& path, std::string* contents)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    contents->clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) {
        contents->append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

inline bool SendClose(HWND window)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                               SEND_TIMEOUT_MS, &result) != 0;
}

// Every window of the class gets its close; a process that does not end on
// it is terminated, so that a run leaves nothing behind.
inline void CloseAllWindowsOf(const char* className)
{
    for (HWND window = FindWindowA(className, NULL); window != NULL;
         window = FindWindowA(className, NULL)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, owner);
        SendClose(window);
        if (process != NULL) {
            if (WaitForSingleObject(process, EXIT_TIMEOUT_MS) != WAIT_OBJECT_0) {
                printf("%s process %lu did not end on WM_CLOSE; terminated\n", className, owner);
                TerminateProcess(process, 99);
            }
            CloseHandle(process);
        }
    }
}

template <typename Context> struct Check {
    const char* name;
    void (*run)(Context&);
};

// Runs the checks in order against one context, each printing PASS or FAIL
// with its time and the first cause of a failure; returns how many failed.
template <typename Context, std::size_t N>
int RunChecks(const Check<Context> (&checks)[N], Context& context)
{
    int passed = 0;
    int failed = 0;
    for (const Check<Context>& check : checks) {
        failure.clear();
        const DWORD startMs = GetTickCount();
        check.run(context);
        const DWORD elapsedMs = GetTickCount() - startMs;
        if (failure.empty()) {
            ++passed;
            printf("PASS  %-78s %6lu ms\n", check.name, elapsedMs);
        } else {
            ++failed;
            printf("FAIL  %-78s %6lu ms\n      %s\n", check.name, elapsedMs, failure.c_str());
        }
    }
    return failed;
}

// The closing line; passed and failed are counts of checks.
inline int Tally(std::size_t checks, int failed)
{
    printf("%d passed, %d failed\n", static_cast<int>(checks) - failed, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace e2e
