// End-to-end checks of the real DOZEWARD.EXE, run under Wine by CTest.
//
// The runner is itself a Windows program because what it checks is what
// another Windows program sees: the exact command line the supervisor gets
// (CreateProcessA's lpCommandLine is what GetCommandLineA returns), its exit
// code, and its control window found by class from a different process.
// DOZEWARD.EXE and ORB.EXE are copied from beside the runner into a folder
// whose name has a space, as real install folders do.
//
// The checks run in order against one set of processes; each prints PASS or
// FAIL with what it saw, and the last line is the tally. A new check is one
// function and one line in CHECKS; SendSupervisorCommand is there for the
// ones that drive the command protocol.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using namespace e2e;

const char STAGE_FOLDER[] = "Station A";
const UINT WM_SUPERVISOR_COMMAND = WM_APP + 1;

// The watchdog looks every 10 s; the companion may take a while to appear.
const DWORD COMPANION_TIMEOUT_MS = 45000;
// No companion may appear before half a watchdog period has passed: start-up
// itself never starts it. Only an early start can break this bound.
const DWORD COMPANION_EARLIEST_MS = 5000;

struct Process {
    HANDLE handle = NULL;
    DWORD id = 0;
    DWORD startTick = 0;
};

struct Context {
    std::string stageDir;
    std::string supervisorPath;
    std::string companionPath;
    std::vector<Process> started; // every process the runner made, for the clean-up
    Process first;                // the supervisor that the later checks talk to
    HWND firstWindow = NULL;
    HWND companionWindow = NULL;
    DWORD companionProcessId = 0;
};

// Starts the supervisor with exactly this command line, in the stage folder.
bool StartSupervisor(Context& context, const std::string& commandLine, Process* process)
{
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(context.supervisorPath.c_str(), mutableLine.data(), NULL, NULL, FALSE, 0,
                        NULL, context.stageDir.c_str(), &startup, &info)) {
        Fail("CreateProcessA failed with error %lu", GetLastError());
        return false;
    }
    CloseHandle(info.hThread);
    process->handle = info.hProcess;
    process->id = info.dwProcessId;
    process->startTick = GetTickCount();
    context.started.push_back(*process);
    return true;
}

bool IsRunning(const Process& process)
{
    return process.handle != NULL && WaitForSingleObject(process.handle, 0) == WAIT_TIMEOUT;
}

// Waits for the process to end; all the while, no window of the given class
// may belong to it. Returns false (and fails the check) if it did not end.
bool WaitForExitWithoutWindow(const Process& process, const char* className, DWORD* exitCode)
{
    const DWORD startMs = GetTickCount();
    for (;;) {
        const bool ended = WaitForSingleObject(process.handle, POLL_MS) == WAIT_OBJECT_0;
        HWND window = FindWindowA(className, NULL);
        if (window != NULL) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == process.id) {
                Fail("a %s window of process %lu appeared", className, process.id);
            }
        }
        if (ended) {
            GetExitCodeProcess(process.handle, exitCode);
            return true;
        }
        if (GetTickCount() - startMs >= EXIT_TIMEOUT_MS) {
            Fail("process %lu still running after %lu ms", process.id, EXIT_TIMEOUT_MS);
            return false;
        }
    }
}

bool WaitForExit(const Process& process, DWORD timeoutMs, DWORD* exitCode)
{
    if (WaitForSingleObject(process.handle, timeoutMs) != WAIT_OBJECT_0) {
        Fail("process %lu still running after %lu ms", process.id, timeoutMs);
        return false;
    }
    GetExitCodeProcess(process.handle, exitCode);
    return true;
}

// The window of the class owned by the process, once it exists.
HWND WaitForWindowOf(const char* className, DWORD processId, DWORD timeoutMs)
{
    const DWORD startMs = GetTickCount();
    for (;;) {
        for (HWND window = FindWindowExA(NULL, NULL, className, NULL); window != NULL;
             window = FindWindowExA(NULL, window, className, NULL)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (processId == 0 || owner == processId) {
                return window;
            }
        }
        if (GetTickCount() - startMs >= timeoutMs) {
            return NULL;
        }
        Sleep(POLL_MS);
    }
}

int CountWindows(const char* className)
{
    int count = 0;
    for (HWND window = FindWindowExA(NULL, NULL, className, NULL); window != NULL;
         window = FindWindowExA(NULL, window, className, NULL)) {
        ++count;
    }
    return count;
}

// For the checks that drive the command protocol (sleep 906, cancel 999).
bool SendSupervisorCommand(HWND window, WPARAM command, LPARAM argument, DWORD_PTR* result)
{
    return SendMessageTimeoutA(window, WM_SUPERVISOR_COMMAND, command, argument,
                               SMTO_NORMAL | SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, result) != 0;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The program path without quotes, padded with spaces so that the next
// character stands at the given index.
std::string PaddedTo(const std::string& path, std::size_t index)
{
    std::string line = path;
    if (line.size() < index) {
        line.append(index - line.size(), ' ');
    }
    return line;
}

// --- The checks -------------------------------------------------------------

void UnquotedCommandLineEndsAtOnce(Context& context)
{
    Process process;
    if (!StartSupervisor(context, context.supervisorPath, &process)) {
        return;
    }
    DWORD exitCode = 1;
    if (WaitForExitWithoutWindow(process, SUPERVISOR_CLASS, &exitCode) && exitCode != 0) {
        Fail("exit code %lu, expected 0", exitCode);
    }
}

// The scan for the first quote covers indices 1 to 254: a quote at 255 counts
// as none, one at 254 is found. Both sides of the boundary are checked.
void QuoteAtIndex255EndsAtOnce(Context& context)
{
    std::string line = PaddedTo(context.supervisorPath, 255) + "\"x\"";
    if (line.find('"') != 255) {
        Fail("stage path too long for this check: %s", context.supervisorPath.c_str());
        return;
    }
    Process process;
    if (!StartSupervisor(context, line, &process)) {
        return;
    }
    DWORD exitCode = 1;
    if (WaitForExitWithoutWindow(process, SUPERVISOR_CLASS, &exitCode) && exitCode != 0) {
        Fail("exit code %lu, expected 0", exitCode);
    }
}

void QuoteAtIndex254Runs(Context& context)
{
    std::string line = PaddedTo(context.supervisorPath, 254) + "\"";
    if (line.find('"') != 254) {
        Fail("stage path too long for this check: %s", context.supervisorPath.c_str());
        return;
    }
    Process process;
    if (!StartSupervisor(context, line, &process)) {
        return;
    }
    HWND window = WaitForWindowOf(SUPERVISOR_CLASS, process.id, START_TIMEOUT_MS);
    if (window == NULL) {
        Fail("no control window within %lu ms", START_TIMEOUT_MS);
        TerminateProcess(process.handle, 99);
        return;
    }
    // Closed well inside the first watchdog period, before it could start a
    // companion from this odd command line.
    SendClose(window);
    DWORD exitCode = 1;
    if (WaitForExit(process, EXIT_TIMEOUT_MS, &exitCode) && exitCode != 0) {
        Fail("exit code %lu after WM_CLOSE, expected 0", exitCode);
    }
}

void ControlWindowFoundFromAnotherProcess(Context& context)
{
    if (CountWindows(SUPERVISOR_CLASS) != 0 || CountWindows(COMPANION_CLASS) != 0) {
        Fail("a supervisor or companion window is left over from an earlier check");
        return;
    }
    if (!StartSupervisor(context, Quoted(context.supervisorPath), &context.first)) {
        return;
    }
    // FindWindowA with the class alone, as the command senders do.
    const DWORD startMs = GetTickCount();
    HWND window = NULL;
    while (window == NULL && GetTickCount() - startMs < START_TIMEOUT_MS) {
        window = FindWindowA(SUPERVISOR_CLASS, NULL);
        if (window == NULL) {
            Sleep(POLL_MS);
        }
    }
    if (window == NULL) {
        Fail("FindWindowA(\"%s\", NULL) found nothing within %lu ms", SUPERVISOR_CLASS,
             START_TIMEOUT_MS);
        return;
    }
    printf("      control window after %lu ms\n", GetTickCount() - context.first.startTick);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    if (owner != context.first.id) {
        Fail("window owned by process %lu, not by the supervisor %lu", owner, context.first.id);
    } else if (strcmp(title, SUPERVISOR_CLASS) != 0) {
        Fail("window title \"%s\", expected \"%s\"", title, SUPERVISOR_CLASS);
    } else if (IsWindowVisible(window)) {
        Fail("the control window is visible");
    } else if (GetParent(window) != NULL) {
        Fail("the control window is not a top-level window");
    }
    context.firstWindow = window;
}

void SecondInstanceEndsAndLeavesFirst(Context& context)
{
    if (!IsRunning(context.first) || context.firstWindow == NULL) {
        Fail("no running supervisor from the earlier check");
        return;
    }
    Process second;
    if (!StartSupervisor(context, Quoted(context.supervisorPath), &second)) {
        return;
    }
    DWORD exitCode = 1;
    if (WaitForExitWithoutWindow(second, SUPERVISOR_CLASS, &exitCode) && exitCode != 0) {
        Fail("second instance exit code %lu, expected 0", exitCode);
    }
    if (!IsRunning(context.first)) {
        Fail("the first supervisor ended");
    } else if (FindWindowA(SUPERVISOR_CLASS, NULL) != context.firstWindow ||
               CountWindows(SUPERVISOR_CLASS) != 1) {
        Fail("the first supervisor's control window is no longer the only one");
    }
}

void WatchdogStartsCompanionFromOwnFolder(Context& context)
{
    if (!IsRunning(context.first)) {
        Fail("no running supervisor from the earlier check");
        return;
    }
    HWND window = WaitForWindowOf(COMPANION_CLASS, 0, COMPANION_TIMEOUT_MS);
    const DWORD afterMs = GetTickCount() - context.first.startTick;
    if (window == NULL) {
        Fail("no %s window within %lu ms of the supervisor's start", COMPANION_CLASS,
             COMPANION_TIMEOUT_MS);
        return;
    }
    printf("      companion window %lu ms after the supervisor's start\n", afterMs);
    GetWindowThreadProcessId(window, &context.companionProcessId);
    context.companionWindow = window;
    if (afterMs < COMPANION_EARLIEST_MS) {
        Fail("companion started %lu ms after start-up; start-up must leave it to the watchdog",
             afterMs);
        return;
    }
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, context.companionProcessId);
    char image[MAX_PATH] = "";
    DWORD size = sizeof image;
    if (process == NULL || !QueryFullProcessImageNameA(process, 0, image, &size)) {
        Fail("cannot read the companion's program path (error %lu)", GetLastError());
    } else if (_stricmp(image, context.companionPath.c_str()) != 0) {
        Fail("companion runs %s, expected %s", image, context.companionPath.c_str());
    }
    if (process != NULL) {
        CloseHandle(process);
    }
}

// The event log in the stage folder, or empty when there is none yet. The
// supervisor holds it open exclusively for an instant while it writes, so a
// refused open is tried again.
std::string ReadLog(const Context& context)
{
    const std::string path = context.stageDir + "\\DOZEWARD.LOG";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string contents;
        if (ReadWholeFile(path, &contents)) {
            return contents;
        }
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return "";
        }
        Sleep(POLL_MS);
    }
    Fail("the log stayed locked");
    return "";
}

// The log's size, read from the directory without opening the file: a
// reader that held the log open while the supervisor writes would make it
// drop the entry, so the checks watch the size and read the contents only
// once an entry is complete, when nothing else is due for seconds.
long long LogSize(const Context& context)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA((context.stageDir + "\\DOZEWARD.LOG").c_str(), GetFileExInfoStandard,
                              &data)) {
        return 0;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

const DWORD ENTRY_SETTLE_MS = 300;

int CountOccurrences(const std::string& text, const char* what)
{
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// Waits until done() holds; returns the milliseconds since fromTick, or
// -1 (and fails the check, naming what) when it did not within timeoutMs.
template <typename Condition>
long WaitUntil(Condition done, DWORD fromTick, DWORD timeoutMs, const char* what)
{
    for (;;) {
        if (done()) {
            return static_cast<long>(GetTickCount() - fromTick);
        }
        if (GetTickCount() - fromTick >= timeoutMs) {
            Fail("%s did not happen within %lu ms", what, timeoutMs);
            return -1;
        }
        Sleep(POLL_MS);
    }
}

// The first line of the log, without its CR LF.
std::string FirstLogLine(const std::string& log) { return log.substr(0, log.find("\r\n")); }

// "HH'MM'SS ( message )": the time of day, two digits each, before the message.
bool IsEntry(const std::string& line, const std::string& messagePrefix)
{
    if (line.size() < 15 || line[2] != '\'' || line[5] != '\'' || line.compare(8, 3, " ( ") != 0 ||
        line.compare(line.size() - 2, 2, " )") != 0) {
        return false;
    }
    for (int digit : {0, 1, 3, 4, 6, 7}) {
        if (line[digit] < '0' || line[digit] > '9') {
            return false;
        }
    }
    return line.compare(11, messagePrefix.size(), messagePrefix) == 0;
}

// Expected times, from the command: the close comes 1 s after it, the entry
// 7 s after it, the wake-up after the delay, the restart 10 s after that.
// The lower bounds are what the supervisor's own waits guarantee; the upper
// ones only keep a stuck run from hanging.
const DWORD CYCLE_DELAY_SECONDS = 3;
const long CLOSE_EARLIEST_MS = 900;
const long ENTRY_EARLIEST_MS = 6900;
const long RESTART_EARLIEST_MS = 19900;
const DWORD CYCLE_TIMEOUT_MS = 60000;

void CycleClosesLogsWakesAndRestarts(Context& context)
{
    if (!IsRunning(context.first) || context.companionWindow == NULL) {
        Fail("no running supervisor and companion from the earlier checks");
        return;
    }
    const std::string logBefore = ReadLog(context);
    const DWORD commandTick = GetTickCount();
    DWORD_PTR result = 1;
    if (!SendSupervisorCommand(context.firstWindow, 906, CYCLE_DELAY_SECONDS, &result) ||
        result != 0) {
        Fail("the sleep command was not answered with 0");
        return;
    }
    const long closedMs = WaitUntil([] { return FindWindowA(COMPANION_CLASS, NULL) == NULL; },
                                    commandTick, CYCLE_TIMEOUT_MS, "the companion's close");
    const long long sizeBefore = LogSize(context);
    const long entryMs = WaitUntil([&] { return LogSize(context) > sizeBefore; }, commandTick,
                                   CYCLE_TIMEOUT_MS, "the NEXT WAKEUP entry");
    Sleep(ENTRY_SETTLE_MS);
    const std::string firstEntry = FirstLogLine(ReadLog(context));
    const long long sizeAfterEntry = LogSize(context);
    const long wakeupMs = WaitUntil([&] { return LogSize(context) > sizeAfterEntry; }, commandTick,
                                    CYCLE_TIMEOUT_MS, "the WAKEUP entry");
    Sleep(ENTRY_SETTLE_MS);
    HWND restarted = WaitForWindowOf(COMPANION_CLASS, 0, CYCLE_TIMEOUT_MS);
    const long restartedMs = static_cast<long>(GetTickCount() - commandTick);
    if (!failure.empty()) {
        return;
    }
    printf("      companion closed %ld ms, NEXT WAKEUP %ld ms, WAKEUP %ld ms, companion back %ld ms"
           " after the command\n",
           closedMs, entryMs, wakeupMs, restartedMs);
    const std::string log = ReadLog(context);
    printf("      log: %s", log.substr(0, log.size() - logBefore.size()).c_str());
    if (!IsEntry(firstEntry, "NEXT WAKEUP ") || !IsEntry(FirstLogLine(log), "WAKEUP )")) {
        Fail("the entries are not NEXT WAKEUP, then WAKEUP above it");
    } else if (closedMs < CLOSE_EARLIEST_MS || entryMs < ENTRY_EARLIEST_MS ||
               wakeupMs < RESTART_EARLIEST_MS) {
        Fail("a step came earlier than the cycle's waits allow");
    } else if (restarted == NULL) {
        Fail("the companion did not come back after the wake-up");
    } else if (log.size() <= logBefore.size() ||
               log.compare(log.size() - logBefore.size(), logBefore.size(), logBefore) != 0) {
        Fail("the log's old contents did not stay behind the new entries");
    } else if (CountOccurrences(log, "NEXT WAKEUP") !=
                   CountOccurrences(logBefore, "NEXT WAKEUP") + 1 ||
               CountOccurrences(log, "( WAKEUP )") !=
                   CountOccurrences(logBefore, "( WAKEUP )") + 1) {
        Fail("the cycle did not write exactly one entry of each kind");
    }
    if (!failure.empty()) {
        return;
    }

    // The watchdog is active again: a companion that goes is started anew.
    context.companionWindow = restarted;
    SendClose(restarted);
    const DWORD goneTick = GetTickCount();
    WaitUntil([&] { return FindWindowA(COMPANION_CLASS, NULL) == NULL; }, goneTick,
              CYCLE_TIMEOUT_MS, "the companion's end");
    context.companionWindow = WaitForWindowOf(COMPANION_CLASS, 0, COMPANION_TIMEOUT_MS);
    if (context.companionWindow == NULL) {
        Fail("the watchdog did not start the companion again after the cycle");
        return;
    }
    printf("      watchdog restarted the companion %lu ms after it ended\n",
           GetTickCount() - goneTick);
}

// Cancelled while the cycle waits for its timer: no WAKEUP, and the watchdog,
// re-armed by the cancel, brings the companion back one period later.
const DWORD LONG_DELAY_SECONDS = 120;
const long WATCHDOG_EARLIEST_MS = 9500;

void CancelDuringTheWaitHandsBackToTheWatchdog(Context& context)
{
    if (!IsRunning(context.first) || context.companionWindow == NULL) {
        Fail("no running supervisor and companion from the earlier checks");
        return;
    }
    const long long sizeBefore = LogSize(context);
    const int wakeupsBefore = CountOccurrences(ReadLog(context), "( WAKEUP )");
    const DWORD commandTick = GetTickCount();
    DWORD_PTR result = 1;
    if (!SendSupervisorCommand(context.firstWindow, 906, LONG_DELAY_SECONDS, &result)) {
        Fail("the sleep command was not answered");
        return;
    }
    WaitUntil([&] { return LogSize(context) > sizeBefore; }, commandTick, CYCLE_TIMEOUT_MS,
              "the NEXT WAKEUP entry");
    // Past the arming of the timer, which follows the entry at once.
    Sleep(1000);
    if (FindWindowA(COMPANION_CLASS, NULL) != NULL) {
        Fail("the companion was not closed by the cycle");
    }
    if (!failure.empty()) {
        return;
    }
    const DWORD cancelTick = GetTickCount();
    if (!SendSupervisorCommand(context.firstWindow, 999, 0, &result) || result != 0) {
        Fail("the cancel was not answered with 0");
        return;
    }
    const long backMs = WaitUntil([] { return FindWindowA(COMPANION_CLASS, NULL) != NULL; },
                                  cancelTick, CYCLE_TIMEOUT_MS, "the companion's restart");
    // The cancelled worker must not go on to its closing steps.
    Sleep(12000);
    const std::string log = ReadLog(context);
    printf("      companion back %ld ms after the cancel\n", backMs);
    if (!failure.empty()) {
        return;
    }
    if (backMs < WATCHDOG_EARLIEST_MS) {
        Fail("the companion came back %ld ms after the cancel, before the watchdog's period",
             backMs);
    } else if (CountOccurrences(log, "( WAKEUP )") != wakeupsBefore) {
        Fail("a cancelled cycle logged WAKEUP");
    } else if (!IsEntry(FirstLogLine(log), "NEXT WAKEUP ")) {
        Fail("the newest entry is not the cancelled cycle's NEXT WAKEUP");
    }
    context.companionWindow = FindWindowA(COMPANION_CLASS, NULL);
}

void CloseEndsWithZeroAndLeavesCompanion(Context& context)
{
    if (!IsRunning(context.first) || context.firstWindow == NULL) {
        Fail("no running supervisor from the earlier check");
        return;
    }
    if (context.companionWindow == NULL) {
        Fail("no companion from the earlier check");
        return;
    }
    if (!SendClose(context.firstWindow)) {
        Fail("WM_CLOSE was not answered within %lu ms", SEND_TIMEOUT_MS);
        return;
    }
    DWORD exitCode = 1;
    if (!WaitForExit(context.first, EXIT_TIMEOUT_MS, &exitCode)) {
        return;
    }
    if (exitCode != 0) {
        Fail("exit code %lu after WM_CLOSE, expected 0", exitCode);
    } else if (FindWindowA(SUPERVISOR_CLASS, NULL) != NULL) {
        Fail("a control window is still there after the supervisor ended");
    } else if (FindWindowA(COMPANION_CLASS, NULL) != context.companionWindow) {
        Fail("the companion's window went with the supervisor");
    }
}

const Check<Context> CHECKS[] = {
    {"unquoted command line: exit code 0 at once, no control window",
     UnquotedCommandLineEndsAtOnce},
    {"first quote at index 255: exit code 0 at once, no control window", QuoteAtIndex255EndsAtOnce},
    {"first quote at index 254: runs, control window, exit code 0 on WM_CLOSE",
     QuoteAtIndex254Runs},
    {"quoted path: hidden top-level control window found by class from another process",
     ControlWindowFoundFromAnotherProcess},
    {"second instance: exit code 0, first keeps running", SecondInstanceEndsAndLeavesFirst},
    {"watchdog: starts ORB.EXE from the supervisor's folder, not at start-up",
     WatchdogStartsCompanionFromOwnFolder},
    {"cycle: companion closed, NEXT WAKEUP, WAKEUP after the timer, watchdog active again",
     CycleClosesLogsWakesAndRestarts},
    {"cancel during the wait: no WAKEUP, watchdog restarts the companion a period later",
     CancelDuringTheWaitHandsBackToTheWatchdog},
    {"WM_CLOSE: exit code 0, companion keeps running", CloseEndsWithZeroAndLeavesCompanion},
};

bool Stage(Context& context)
{
    context.stageDir = MakeStageFolder(STAGE_FOLDER);
    // A log left by an earlier run would say nothing about this one.
    DeleteFileA((context.stageDir + "\\DOZEWARD.LOG").c_str());
    const std::string buildDir = BuildDirectory();
    if (!CopyBeside(buildDir, context.stageDir, SUPERVISOR_FILE) ||
        !CopyBeside(buildDir, context.stageDir, COMPANION_FILE)) {
        return false;
    }
    context.supervisorPath = context.stageDir + "\\" + SUPERVISOR_FILE;
    context.companionPath = context.stageDir + "\\" + COMPANION_FILE;
    printf("stage folder: %s\n", context.stageDir.c_str());
    return true;
}

// Leaves nothing running: companions get their close, everything else that
// the runner started and that still runs is ended.
void CleanUp(Context& context)
{
    CloseAllWindowsOf(COMPANION_CLASS);
    for (const Process& process : context.started) {
        if (IsRunning(process)) {
            printf("process %lu still running at the end; terminated\n", process.id);
            TerminateProcess(process.handle, 99);
        }
        CloseHandle(process.handle);
    }
}

} // namespace

int main()
{
    setvbuf(stdout, NULL, _IONBF, 0);
    Context context;
    if (!Stage(context)) {
        printf("0 passed, 1 failed\n");
        return 1;
    }
    const int failed = RunChecks(CHECKS, context);
    CleanUp(context);
    return Tally(std::size(CHECKS), failed);
}
