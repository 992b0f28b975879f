// End-to-end checks of DOZECTL.EXE against the real DOZEWARD.EXE, run under
// Wine by CTest.
//
// The operator meets DOZEWARD through DOZECTL: its exit codes and its one
// line of output are what a scheduled task or a person acts on, so they are
// checked here together with the effect each command has on the supervisor,
// the companion and the log. The three programs are copied from beside this
// runner into a folder whose name has a space, the supervisor is started
// with its quoted full path in that folder (so the log lands there), and
// every DOZECTL run is a separate process whose standard output and error go
// to files: under Wine a pipe would wait for every process that inherited it.
//
// The supervisor writes its log with no sharing and drops an entry it cannot
// open, so the runner never polls the log: it waits for what it can see from
// outside (the companion's window) and then reads the log once. The timing
// of each entry is taken from the entry's own time stamp instead.
//
// The checks run in order against one supervisor; each prints PASS or FAIL,
// and the last line is the tally.
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

const char TOOL_FILE[] = "DOZECTL.EXE";
const char LOG_FILE[] = "DOZEWARD.LOG";
const char STAGE_FOLDER[] = "Operator Station";

// Real time under Wine on a shared machine: generous deadlines, and bounds
// asserted only from below, where lateness cannot break them.
// DOZECTL bounds itself (5 s per send, 10 s for a stop to take effect).
const DWORD TOOL_TIMEOUT_MS = 30000;
// The watchdog looks every 10 s.
const DWORD COMPANION_TIMEOUT_MS = 45000;

// The cycle: the companion is closed 1 s after the command, "NEXT WAKEUP" is
// written 6 s after that, the wake-up comes the delay after that and the
// companion is started again 10 s after the wake-up.
const DWORD CLOSE_TIMEOUT_MS = 20000;
const int CYCLE_DELAY_SECONDS = 2;
const DWORD CYCLE_TIMEOUT_MS = 90000;
const int NEXT_WAKE_EARLIEST_SECONDS = 6;      // 7 s, less the time stamps' rounding
const int WAKEUP_AFTER_NEXT_WAKE_SECONDS = 11; // the delay and 10 s, less the rounding
// A cancel lands in the wait for the wake timer, well after "NEXT WAKEUP".
const DWORD CANCEL_AFTER_MS = 9000;
const int CANCELLED_DELAY_SECONDS = 60;
// The watchdog, re-armed by the cancel, starts the companion one period later.
const DWORD RESTART_AFTER_CANCEL_EARLIEST_MS = 5000;
// A command sent by mistake would close the companion 1 s after it arrived.
const DWORD NOTHING_SENT_WAIT_MS = 2500;

struct Process {
    HANDLE handle = NULL;
    DWORD id = 0;
};

struct Context {
    std::string workDir;
    std::string stageDir;
    std::string supervisorPath;
    std::string toolPath;
    std::string logPath;
    std::vector<Process> started; // every supervisor the runner made, for the clean-up
    Process supervisor;
    DWORD supervisorStartTick = 0;
    HWND companionWindow = NULL;
    DWORD cycleEndTick = 0;
};

// Console output written in text mode ends its lines with CR LF.
std::string WithoutCarriageReturns(const std::string& text)
{
    std::string result;
    for (char c : text) {
        if (c != '\r') {
            result += c;
        }
    }
    return result;
}

// The log once, retried briefly if the supervisor holds it; a log that does
// not exist yet reads as empty.
std::string ReadLog(const Context& context)
{
    std::string contents;
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (ReadWholeFile(context.logPath, &contents)) {
            return contents;
        }
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return std::string();
        }
        Sleep(100);
    }
    Fail("cannot read %s (error %lu)", context.logPath.c_str(), GetLastError());
    return std::string();
}

struct LogEntry {
    int secondOfDay; // the entry's UTC time stamp
    std::string text;
};

// Newest first, as the log is written; every line must be a well-formed
// entry ending in CR LF, or the check fails.
std::vector<LogEntry> ParseLog(const std::string& contents)
{
    std::vector<LogEntry> entries;
    std::size_t start = 0;
    while (start < contents.size()) {
        const std::size_t end = contents.find("\r\n", start);
        if (end == std::string::npos) {
            Fail("log line without CR LF: \"%s\"", contents.substr(start).c_str());
            break;
        }
        const std::string line = contents.substr(start, end - start);
        int hours = 0;
        int minutes = 0;
        int seconds = 0;
        char text[128] = "";
        if (sscanf(line.c_str(), "%2d'%2d'%2d ( %127[^)] )", &hours, &minutes, &seconds, text) !=
                4 ||
            line.size() < 14 || line.compare(line.size() - 2, 2, " )") != 0) {
            Fail("malformed log line \"%s\"", line.c_str());
            break;
        }
        std::string message = text;
        while (!message.empty() && message.back() == ' ') {
            message.pop_back();
        }
        entries.push_back({(hours * 60 + minutes) * 60 + seconds, message});
        start = end + 2;
    }
    return entries;
}

int UtcSecondOfDay()
{
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    return (now.wHour * 60 + now.wMinute) * 60 + now.wSecond;
}

// Seconds from one time of day to a later one, across midnight if need be.
int SecondsBetween(int fromSecondOfDay, int toSecondOfDay)
{
    return ((toSecondOfDay - fromSecondOfDay) % 86400 + 86400) % 86400;
}

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out; // standard output, without CRs
    std::string err; // standard error, without CRs
};

HANDLE CreateOutputFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

// Runs DOZECTL with the given argument text (quoted as on a command prompt)
// and waits for it. Returns false, having failed the check, if it could not
// be run or did not end in time.
bool RunTool(const Context& context, const std::string& arguments, ToolRun* run)
{
    const std::string outPath = context.workDir + "\\dozectl.out";
    const std::string errPath = context.workDir + "\\dozectl.err";
    HANDLE out = CreateOutputFile(outPath);
    HANDLE err = CreateOutputFile(errPath);
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
        Fail("cannot create DOZECTL's output files (error %lu)", GetLastError());
        if (out != INVALID_HANDLE_VALUE) {
            CloseHandle(out);
        }
        if (err != INVALID_HANDLE_VALUE) {
            CloseHandle(err);
        }
        return false;
    }
    std::string commandLine = "\"" + context.toolPath + "\"";
    if (!arguments.empty()) {
        commandLine += " " + arguments;
    }
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = NULL;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info = {};
    const BOOL created = CreateProcessA(context.toolPath.c_str(), mutableLine.data(), NULL, NULL,
                                        TRUE, 0, NULL, context.stageDir.c_str(), &startup, &info);
    const DWORD createError = GetLastError();
    CloseHandle(out);
    CloseHandle(err);
    if (!created) {
        Fail("cannot start DOZECTL %s (error %lu)", arguments.c_str(), createError);
        return false;
    }
    CloseHandle(info.hThread);
    bool ended = WaitForSingleObject(info.hProcess, TOOL_TIMEOUT_MS) == WAIT_OBJECT_0;
    if (ended) {
        GetExitCodeProcess(info.hProcess, &run->exitCode);
    } else {
        Fail("DOZECTL %s still running after %lu ms", arguments.c_str(), TOOL_TIMEOUT_MS);
        TerminateProcess(info.hProcess, 99);
    }
    CloseHandle(info.hProcess);
    std::string text;
    run->out = ReadWholeFile(outPath, &text) ? WithoutCarriageReturns(text) : std::string();
    run->err = ReadWholeFile(errPath, &text) ? WithoutCarriageReturns(text) : std::string();
    return ended;
}

bool IsOneLine(const std::string& text)
{
    return !text.empty() && text.find('\n') == text.size() - 1;
}

// Runs DOZECTL and fails the check unless it ends with the exit code, prints
// exactly the expected standard output (unless that is NULL, for the usage),
// and prints one "DOZECTL: " line on standard error exactly when it fails.
bool ExpectTool(const Context& context, const std::string& arguments, DWORD exitCode,
                const char* expectedOut, ToolRun* run)
{
    if (!RunTool(context, arguments, run)) {
        return false;
    }
    const bool failed = exitCode != 0;
    if (run->exitCode != exitCode) {
        Fail("DOZECTL %s: exit code %lu, expected %lu (stderr \"%s\")", arguments.c_str(),
             run->exitCode, exitCode, run->err.c_str());
    } else if (expectedOut != NULL && run->out != expectedOut) {
        Fail("DOZECTL %s: stdout \"%s\", expected \"%s\"", arguments.c_str(), run->out.c_str(),
             expectedOut);
    } else if (failed && (!IsOneLine(run->err) || run->err.compare(0, 9, "DOZECTL: ") != 0)) {
        Fail("DOZECTL %s: stderr \"%s\", expected one line \"DOZECTL: ...\"", arguments.c_str(),
             run->err.c_str());
    } else if (!failed && !run->err.empty()) {
        Fail("DOZECTL %s: unexpected stderr \"%s\"", arguments.c_str(), run->err.c_str());
    }
    return failure.empty();
}

HWND WaitForWindow(const char* className, DWORD timeoutMs)
{
    const DWORD startMs = GetTickCount();
    for (;;) {
        HWND window = FindWindowA(className, NULL);
        if (window != NULL || GetTickCount() - startMs >= timeoutMs) {
            return window;
        }
        Sleep(POLL_MS);
    }
}

bool WaitForNoWindow(const char* className, DWORD timeoutMs)
{
    const DWORD startMs = GetTickCount();
    while (FindWindowA(className, NULL) != NULL) {
        if (GetTickCount() - startMs >= timeoutMs) {
            return false;
        }
        Sleep(POLL_MS);
    }
    return true;
}

bool SupervisorRuns(const Context& context)
{
    if (context.supervisor.handle == NULL ||
        WaitForSingleObject(context.supervisor.handle, 0) != WAIT_TIMEOUT) {
        Fail("no running supervisor from the earlier checks");
        return false;
    }
    return true;
}

// --- The checks -------------------------------------------------------------

void NoSupervisorGivesExitCodeOne(Context& context)
{
    if (FindWindowA(SUPERVISOR_CLASS, NULL) != NULL) {
        Fail("a supervisor is already running");
        return;
    }
    const struct {
        const char* arguments;
        const char* expectedOut; // all of its standard output
    } commands[] = {
        {"sleep 60", ""},
        {"cancel", ""},
        {"stop", ""},
        {"status", "supervisor: not running\ncompanion: not running\n"},
    };
    for (const auto& command : commands) {
        ToolRun run;
        if (!ExpectTool(context, command.arguments, 1, command.expectedOut, &run)) {
            return;
        }
    }
}

void StatusWithSupervisorAndNoCompanion(Context& context)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string commandLine = "\"" + context.supervisorPath + "\"";
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    if (!CreateProcessA(context.supervisorPath.c_str(), mutableLine.data(), NULL, NULL, FALSE, 0,
                        NULL, context.stageDir.c_str(), &startup, &info)) {
        Fail("cannot start the supervisor (error %lu)", GetLastError());
        return;
    }
    CloseHandle(info.hThread);
    context.supervisor.handle = info.hProcess;
    context.supervisor.id = info.dwProcessId;
    context.supervisorStartTick = GetTickCount();
    context.started.push_back(context.supervisor);
    if (WaitForWindow(SUPERVISOR_CLASS, START_TIMEOUT_MS) == NULL) {
        Fail("no control window within %lu ms", START_TIMEOUT_MS);
        return;
    }
    // The watchdog's first look is 10 s away: the companion is not there yet.
    if (FindWindowA(COMPANION_CLASS, NULL) != NULL) {
        Fail("a companion runs %lu ms after the supervisor's start",
             GetTickCount() - context.supervisorStartTick);
        return;
    }
    ToolRun run;
    ExpectTool(context, "status", 0, "supervisor: running\ncompanion: not running\n", &run);
}

void StatusWithSupervisorAndCompanion(Context& context)
{
    if (!SupervisorRuns(context)) {
        return;
    }
    context.companionWindow = WaitForWindow(COMPANION_CLASS, COMPANION_TIMEOUT_MS);
    if (context.companionWindow == NULL) {
        Fail("the watchdog started no companion within %lu ms", COMPANION_TIMEOUT_MS);
        return;
    }
    printf("      companion started %lu ms after the supervisor\n",
           GetTickCount() - context.supervisorStartTick);
    ToolRun run;
    ExpectTool(context, "status", 0, "supervisor: running\ncompanion: running\n", &run);
}

// Each line must be refused before anything is sent: the usage error, or the
// usage itself. They run back to back; a command sent by mistake would show
// one watch later as a closed companion or a new log entry.
void BadArgumentsSendNothing(Context& context)
{
    if (!SupervisorRuns(context)) {
        return;
    }
    const std::string logBefore = ReadLog(context);
    const struct {
        const char* arguments;
        DWORD exitCode;
    } lines[] = {
        {"sleep", 2},
        {"sleep 1 70", 2},
        {"sleep \"\"", 2},
        {"sleep -", 2},
        {"sleep 1.5", 2},
        {"sleep 1s", 2},
        {"sleep \" 1\"", 2},
        {"sleep \"1 \"", 2},
        {"sleep 0x10", 2},
        {"sleep 2147483648", 2},
        {"sleep -2147483649", 2},
        {"sleep one", 2},
        {"cancel now", 2},
        {"stop 1", 2},
        {"status -v", 2},
        {"--help sleep", 2},
        {"hibernate", 2},
        {"SLEEP 1", 2},
        {"\"\"", 2},
        {"", 0},
        {"-h", 0},
        {"--help", 0},
    };
    const DWORD startMs = GetTickCount();
    for (const auto& line : lines) {
        ToolRun run;
        if (!ExpectTool(context, line.arguments, line.exitCode, line.exitCode == 0 ? NULL : "",
                        &run)) {
            return;
        }
        if (line.exitCode == 0 && run.out.compare(0, 15, "Usage: DOZECTL ") != 0) {
            Fail("DOZECTL %s: stdout \"%s\", expected the usage", line.arguments, run.out.c_str());
            return;
        }
    }
    printf("      %u command lines in %lu ms\n",
           static_cast<unsigned>(sizeof lines / sizeof lines[0]), GetTickCount() - startMs);
    Sleep(NOTHING_SENT_WAIT_MS);
    if (FindWindowA(COMPANION_CLASS, NULL) != context.companionWindow) {
        Fail("the companion's window changed: a command was sent");
    } else if (ReadLog(context) != logBefore) {
        Fail("the log changed: a command was sent");
    }
}

// A whole cycle, with a second sleep command in the middle of it that must
// change nothing: one "NEXT WAKEUP" and one "WAKEUP" in the log, in that
// order, spaced as the cycle spaces them.
void SleepRunsOneCycle(Context& context)
{
    if (!SupervisorRuns(context)) {
        return;
    }
    if (ReadLog(context).size() != 0) {
        Fail("the log is not empty before the first cycle");
        return;
    }
    const int commandSecond = UtcSecondOfDay();
    ToolRun run;
    if (!ExpectTool(context, "sleep " + std::to_string(CYCLE_DELAY_SECONDS), 0, "", &run)) {
        return;
    }
    const DWORD commandTick = GetTickCount();
    if (!WaitForNoWindow(COMPANION_CLASS, CLOSE_TIMEOUT_MS)) {
        Fail("the companion still runs %lu ms after the sleep command", CLOSE_TIMEOUT_MS);
        return;
    }
    printf("      companion closed %lu ms after the command\n", GetTickCount() - commandTick);
    if (!ExpectTool(context, "sleep " + std::to_string(CYCLE_DELAY_SECONDS), 0, "", &run)) {
        return;
    }
    // Only the cycle starts the companion again: the watchdog is off meanwhile.
    context.companionWindow = WaitForWindow(COMPANION_CLASS, CYCLE_TIMEOUT_MS);
    if (context.companionWindow == NULL) {
        Fail("no companion within %lu ms of the sleep command", CYCLE_TIMEOUT_MS);
        return;
    }
    printf("      companion started again %lu ms after the command\n",
           GetTickCount() - commandTick);
    Sleep(1000); // the entry is written just after the start; let the file go
    context.cycleEndTick = GetTickCount();
    const std::vector<LogEntry> entries = ParseLog(ReadLog(context));
    if (!failure.empty()) {
        return;
    }
    if (entries.size() != 2 || entries[0].text != "WAKEUP" ||
        entries[1].text.compare(0, 12, "NEXT WAKEUP ") != 0) {
        Fail("log has %u entries, expected WAKEUP above NEXT WAKEUP",
             static_cast<unsigned>(entries.size()));
        return;
    }
    const int nextWakeAfter = SecondsBetween(commandSecond, entries[1].secondOfDay);
    const int wakeupAfter = SecondsBetween(entries[1].secondOfDay, entries[0].secondOfDay);
    printf("      log: NEXT WAKEUP %d s after the command, WAKEUP %d s after that\n", nextWakeAfter,
           wakeupAfter);
    const int due = (entries[1].secondOfDay + CYCLE_DELAY_SECONDS) % 86400;
    char expected[32];
    snprintf(expected, sizeof expected, "NEXT WAKEUP %02d:%02d", due / 3600, due / 60 % 60);
    if (entries[1].text != expected) {
        Fail("\"%s\" for an entry at %02d:%02d:%02d, expected \"%s\"", entries[1].text.c_str(),
             entries[1].secondOfDay / 3600, entries[1].secondOfDay / 60 % 60,
             entries[1].secondOfDay % 60, expected);
    } else if (nextWakeAfter < NEXT_WAKE_EARLIEST_SECONDS) {
        Fail("NEXT WAKEUP written %d s after the command, expected at least %d", nextWakeAfter,
             NEXT_WAKE_EARLIEST_SECONDS);
    } else if (wakeupAfter < WAKEUP_AFTER_NEXT_WAKE_SECONDS) {
        Fail("WAKEUP written %d s after NEXT WAKEUP, expected at least %d", wakeupAfter,
             WAKEUP_AFTER_NEXT_WAKE_SECONDS);
    }
}

void CancelDuringCycleHandsBackToWatchdog(Context& context)
{
    if (!SupervisorRuns(context) || context.cycleEndTick == 0) {
        Fail("no finished cycle from the earlier check");
        return;
    }
    // The cycle hands the companion back just after its WAKEUP entry.
    const DWORD sinceCycleMs = GetTickCount() - context.cycleEndTick;
    if (sinceCycleMs < 2000) {
        Sleep(2000 - sinceCycleMs);
    }
    const std::vector<LogEntry> before = ParseLog(ReadLog(context));
    ToolRun run;
    if (!ExpectTool(context, "sleep " + std::to_string(CANCELLED_DELAY_SECONDS), 0, "", &run)) {
        return;
    }
    const DWORD commandTick = GetTickCount();
    Sleep(CANCEL_AFTER_MS);
    std::vector<LogEntry> entries = ParseLog(ReadLog(context));
    for (int wait = 0; failure.empty() && entries.size() == before.size() && wait < 20; ++wait) {
        Sleep(1000); // late under load: the cancel must come after the arming
        entries = ParseLog(ReadLog(context));
    }
    if (!failure.empty()) {
        return;
    }
    if (entries.size() != before.size() + 1 ||
        entries[0].text.compare(0, 12, "NEXT WAKEUP ") != 0) {
        Fail("no NEXT WAKEUP entry for the cycle before the cancel");
        return;
    }
    if (FindWindowA(COMPANION_CLASS, NULL) != NULL) {
        Fail("the companion runs during the cycle");
        return;
    }
    if (!ExpectTool(context, "cancel", 0, "", &run)) {
        return;
    }
    const DWORD cancelTick = GetTickCount();
    printf("      cancel %lu ms after the sleep command\n", cancelTick - commandTick);
    context.companionWindow = WaitForWindow(COMPANION_CLASS, COMPANION_TIMEOUT_MS);
    const DWORD restartMs = GetTickCount() - cancelTick;
    if (context.companionWindow == NULL) {
        Fail("no companion within %lu ms of the cancel", COMPANION_TIMEOUT_MS);
        return;
    }
    printf("      companion started %lu ms after the cancel\n", restartMs);
    if (restartMs < RESTART_AFTER_CANCEL_EARLIEST_MS) {
        Fail("companion started %lu ms after the cancel: before the watchdog's period", restartMs);
        return;
    }
    Sleep(1000);
    const std::vector<LogEntry> after = ParseLog(ReadLog(context));
    if (failure.empty() && (after.size() != entries.size() || after[0].text != entries[0].text)) {
        Fail("the log changed after the cancel (top entry \"%s\")",
             after.empty() ? "" : after[0].text.c_str());
    }
}

void StopEndsSupervisorWithZero(Context& context)
{
    if (!SupervisorRuns(context)) {
        return;
    }
    ToolRun run;
    if (!ExpectTool(context, "stop", 0, "", &run)) {
        return;
    }
    if (WaitForSingleObject(context.supervisor.handle, EXIT_TIMEOUT_MS) != WAIT_OBJECT_0) {
        Fail("the supervisor still runs %lu ms after DOZECTL stop", EXIT_TIMEOUT_MS);
        return;
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(context.supervisor.handle, &exitCode);
    if (exitCode != 0) {
        Fail("supervisor exit code %lu, expected 0", exitCode);
    } else if (FindWindowA(SUPERVISOR_CLASS, NULL) != NULL) {
        Fail("a control window is still there");
    } else if (FindWindowA(COMPANION_CLASS, NULL) != context.companionWindow) {
        Fail("the companion's window went with the supervisor");
    }
}

const Check<Context> CHECKS[] = {
    {"no supervisor: sleep, cancel, stop, status give exit code 1 and one error line",
     NoSupervisorGivesExitCodeOne},
    {"status: supervisor running, companion not yet", StatusWithSupervisorAndNoCompanion},
    {"status: supervisor and companion running", StatusWithSupervisorAndCompanion},
    {"bad arguments: exit code 2, nothing sent; help: exit code 0", BadArgumentsSendNothing},
    {"sleep 2: one cycle, a second sleep during it ignored", SleepRunsOneCycle},
    {"cancel during sleep 60: no WAKEUP, watchdog restarts the companion",
     CancelDuringCycleHandsBackToWatchdog},
    {"stop: supervisor ends with exit code 0, companion keeps running", StopEndsSupervisorWithZero},
};

bool Stage(Context& context)
{
    char modulePath[MAX_PATH] = "";
    GetModuleFileNameA(NULL, modulePath, sizeof modulePath);
    char currentDir[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof currentDir, currentDir);
    context.workDir = currentDir;
    context.stageDir = context.workDir + "\\" + STAGE_FOLDER;
    CreateDirectoryA(context.stageDir.c_str(), NULL);
    context.logPath = context.stageDir + "\\" + LOG_FILE;
    // A log left by an earlier run would say nothing about this one.
    DeleteFileA(context.logPath.c_str());
    const std::string buildDir = Directory(modulePath);
    for (const char* file : {SUPERVISOR_FILE, COMPANION_FILE, TOOL_FILE}) {
        if (!CopyBeside(buildDir, context.stageDir, file)) {
            return false;
        }
    }
    context.supervisorPath = context.stageDir + "\\" + SUPERVISOR_FILE;
    context.toolPath = context.stageDir + "\\" + TOOL_FILE;
    printf("stage folder: %s\n", context.stageDir.c_str());
    return true;
}

// Leaves nothing running: companions get their close, a supervisor that
// still runs is ended.
void CleanUp(Context& context)
{
    for (const Process& process : context.started) {
        if (WaitForSingleObject(process.handle, 0) == WAIT_TIMEOUT) {
            printf("supervisor %lu still running at the end; terminated\n", process.id);
            TerminateProcess(process.handle, 99);
            WaitForSingleObject(process.handle, EXIT_TIMEOUT_MS);
        }
        CloseHandle(process.handle);
    }
    CloseAllWindowsOf(COMPANION_CLASS);
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
    const DWORD runStartMs = GetTickCount();
    const int failed = RunChecks(CHECKS, context);
    CleanUp(context);
    printf("checks took %lu ms\n", GetTickCount() - runStartMs);
    return Tally(std::size(CHECKS), failed);
}
