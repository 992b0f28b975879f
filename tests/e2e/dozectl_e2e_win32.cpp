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
// The same tool built without a console, for scheduled tasks.
const char WINDOWLESS_TOOL_FILE[] = "DOZECTLW.EXE";
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
    std::string windowlessToolPath;
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
bool RunTool(const Context& context, const std::string& arguments, ToolRun* run,
             bool windowless = false)
{
    const std::string& toolPath = windowless ? context.windowlessToolPath : context.toolPath;
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
    std::string commandLine = "\"" + toolPath + "\"";
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
    const BOOL created = CreateProcessA(toolPath.c_str(), mutableLine.data(), NULL, NULL, TRUE, 0,
                                        NULL, context.stageDir.c_str(), &startup, &info);
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

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The line that starts with prefix, without its end, or "".
std::string LineOf(const std::string& text, const std::string& prefix)
{
    std::size_t at = 0;
    if (text.compare(0, prefix.size(), prefix) != 0) {
        at = text.find("\n" + prefix);
        if (at == std::string::npos) {
            return std::string();
        }
        ++at;
    }
    return text.substr(at, text.find('\n', at) - at);
}

// The value of "key=" in key=value output, or "<none>".
std::string ValueOf(const std::string& keyValues, const std::string& key)
{
    const std::string start = key + "=";
    std::size_t at = keyValues.compare(0, start.size(), start) == 0 ? 0 : std::string::npos;
    if (at == std::string::npos) {
        at = keyValues.find("\n" + start);
        if (at == std::string::npos) {
            return "<none>";
        }
        ++at;
    }
    at += start.size();
    return keyValues.substr(at, keyValues.find('\n', at) - at);
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
        {"sleep 0 --no-wake", ""},
        {"cancel", ""},
        {"stop", ""},
        {"status", "supervisor: not running in this session\ncompanion: no window open\n"},
        {"status --format=keyvalue", "supervisor=not running\ncompanion_window=missing\n"},
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
    if (!ExpectTool(context, "status", 0, NULL, &run)) {
        return;
    }
    for (const char* line : {"supervisor: running, version 1.0.0\n", "companion: no window open\n",
                             "cycle: none under way\n", "last hibernation: none requested\n",
                             "watchdog: armed\n", "companion starts: 0; failed starts: 0\n"}) {
        if (!Contains(run.out, line)) {
            Fail("DOZECTL status: no line \"%s\" in \"%s\"", line, run.out.c_str());
            return;
        }
    }
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
    if (!ExpectTool(context, "status --format=keyvalue", 0, NULL, &run)) {
        return;
    }
    const struct {
        const char* key;
        const char* value;
    } expected[] = {{"supervisor", "running"}, {"companion_window", "present"},
                    {"cycle", "none"},         {"watchdog", "armed"},
                    {"version", "1.0.0"},      {"companion_start_failures", "0"}};
    for (const auto& pair : expected) {
        if (ValueOf(run.out, pair.key) != pair.value) {
            Fail("DOZECTL status --format=keyvalue: %s=%s, expected %s in \"%s\"", pair.key,
                 ValueOf(run.out, pair.key).c_str(), pair.value, run.out.c_str());
            return;
        }
    }
    // The watchdog started it (more than once if it was slow to show its window).
    if (ValueOf(run.out, "companion_starts") == "0" ||
        ValueOf(run.out, "last_start_utc").size() != 20) {
        Fail("DOZECTL status: no start recorded in \"%s\"", run.out.c_str());
        return;
    }
    // The windowless twin answers the same, through the same handles.
    ToolRun twin;
    if (RunTool(context, "status --format=keyvalue", &twin, true) &&
        (twin.exitCode != 0 || twin.out != run.out)) {
        Fail("DOZECTLW status: exit code %lu, output \"%s\"", twin.exitCode, twin.out.c_str());
    }
}

// check reads this PC and reports every item, whatever Wine provides of the
// power services; it exits 0 or, when an item would make a cycle fail, 7.
void CheckRunsToItsEnd(Context& context)
{
    if (!SupervisorRuns(context)) {
        return;
    }
    ToolRun run;
    if (!RunTool(context, "check", &run)) {
        return;
    }
    printf("%s", run.out.c_str());
    if (run.exitCode != 0 && run.exitCode != 7) {
        Fail("DOZECTL check: exit code %lu (stderr \"%s\")", run.exitCode, run.err.c_str());
        return;
    }
    for (const char* subject :
         {"the supervisor runs in this session", "ORB.EXE lies beside the supervisor",
          "the log's folder is writable", "hibernation is available", "wake timers on AC power",
          "wake timers on battery", "no sign-in is required on wake",
          "this user holds the shutdown privilege"}) {
        if (!Contains(run.out, subject)) {
            Fail("DOZECTL check: no item \"%s\"", subject);
            return;
        }
    }
    // The supervisor runs here, and ORB.EXE lies beside it in a writable folder.
    for (const char* line : {"OK       the supervisor runs in this session\n",
                             "OK       ORB.EXE lies beside the supervisor\n",
                             "OK       the log's folder is writable\n"}) {
        if (!Contains(run.out, line)) {
            Fail("DOZECTL check: no line \"%s\"", line);
            return;
        }
    }
    const std::string verdict = LineOf(run.out, "check: ");
    const bool failedItems = Contains(run.out, "\nFAILED ");
    if (verdict.empty() || failedItems != (run.exitCode == 7)) {
        Fail("DOZECTL check: exit code %lu with the verdict \"%s\"", run.exitCode, verdict.c_str());
    }
}

// install --print shows the task definitions for the folder DOZECTL lies in
// and the schtasks lines, and runs nothing.
void InstallPrintShowsTheTasks(Context& context)
{
    ToolRun run;
    if (!ExpectTool(context, "install --print --nightly 23:00 --wake-after 21600", 0, NULL, &run)) {
        return;
    }
    const std::string quotedCommand =
        "<Command>\"" + context.stageDir + "\\DOZEWARD.EXE\"</Command>";
    for (const std::string& part :
         {std::string("<LogonTrigger>"), quotedCommand,
          "<WorkingDirectory>" + context.stageDir + "</WorkingDirectory>",
          std::string("<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>"),
          std::string("<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"),
          std::string("<StartBoundary>2025-01-01T23:00:00</StartBoundary>"),
          std::string("\\DOZECTLW.EXE\"</Command>"),
          std::string("<Arguments>sleep 21600</Arguments>"),
          std::string("schtasks /Create /TN \"DOZEWARD\" /XML \""),
          std::string("schtasks /Create /TN \"DOZEWARD nightly sleep\" /XML \"")}) {
        if (!Contains(run.out, part)) {
            Fail("DOZECTL install --print: no \"%s\" in \"%s\"", part.c_str(), run.out.c_str());
            return;
        }
    }
    if (!ExpectTool(context, "uninstall --print", 0,
                    "schtasks /Delete /TN \"DOZEWARD nightly sleep\" /F\n"
                    "schtasks /Delete /TN \"DOZEWARD\" /F\n",
                    &run)) {
        return;
    }
}

// Registering for real needs Wine's schtasks to take a task from XML; where
// it does not, the check says so and skips, as it cannot prove anything.
void InstallRegistersWhereSchtasksCan(Context& context)
{
    ToolRun run;
    if (!RunTool(context, "install", &run)) {
        return;
    }
    if (run.exitCode == 8 && Contains(run.err, "schtasks")) {
        printf("      SKIPPED: this Wine's schtasks does not register the task (%s)\n",
               LineOf(run.err, "DOZECTL: ").c_str());
        return;
    }
    if (run.exitCode != 0 || !Contains(run.out, "registered the task \"DOZEWARD\"")) {
        Fail("DOZECTL install: exit code %lu, stdout \"%s\", stderr \"%s\"", run.exitCode,
             run.out.c_str(), run.err.c_str());
        return;
    }
    printf("      %s\n", LineOf(run.out, "registered").c_str());
    // Removing both: the nightly task was not installed, which uninstall says.
    if (!RunTool(context, "uninstall", &run)) {
        return;
    }
    if (run.exitCode != 8 || !Contains(run.err, "nightly sleep")) {
        Fail("DOZECTL uninstall: exit code %lu, stderr \"%s\"", run.exitCode, run.err.c_str());
    }
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
        {"status --format=json", 2},
        {"--help sleep", 2},
        {"hibernate", 2},
        {"\"\"", 2},
        // No wake-up only when said so.
        {"sleep 0", 2},
        {"sleep -5", 2},
        {"sleep 5 --no-wake", 2},
        {"check now", 2},
        {"install --nightly 25:00 --wake-after 60", 2},
        {"install --nightly 23:00", 2},
        {"uninstall now", 2},
        {"-h", 0},
        {"--help", 0},
        {"/?", 0},
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
    // No arguments at all: the usage, on standard error, and bad usage.
    ToolRun bare;
    if (!RunTool(context, "", &bare)) {
        return;
    }
    if (bare.exitCode != 2 || !bare.out.empty() ||
        bare.err.compare(0, 15, "Usage: DOZECTL ") != 0) {
        Fail("DOZECTL with no arguments: exit code %lu, stdout \"%s\", stderr \"%s\"",
             bare.exitCode, bare.out.c_str(), bare.err.c_str());
        return;
    }
    printf("      %u command lines in %lu ms\n",
           static_cast<unsigned>(sizeof lines / sizeof lines[0] + 1), GetTickCount() - startMs);
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
    // During the cycle: status says so, and a second sleep is refused with 4.
    if (!ExpectTool(context, "status --format=keyvalue", 0, NULL, &run)) {
        return;
    }
    const std::string stage = ValueOf(run.out, "cycle");
    printf("      status during the cycle: cycle=%s\n", stage.c_str());
    if (stage == "none" || stage == "<none>" || ValueOf(run.out, "watchdog") != "stopped" ||
        ValueOf(run.out, "cycles_started") != "1") {
        Fail("DOZECTL status during a cycle: \"%s\"", run.out.c_str());
        return;
    }
    if (!ExpectTool(context, "Sleep " + std::to_string(CYCLE_DELAY_SECONDS), 4, "", &run)) {
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
    // Nothing armed after the cycle: the cancel says so, and changes nothing.
    if (!ExpectTool(context, "cancel", 5, "", &run) ||
        !ExpectTool(context, "status --format=keyvalue", 0, NULL, &run)) {
        return;
    }
    if (ValueOf(run.out, "cycle") != "none" || ValueOf(run.out, "hibernation") == "none" ||
        ValueOf(run.out, "wake_ups_cancelled") != "0" || ValueOf(run.out, "watchdog") != "armed") {
        Fail("DOZECTL status after a cycle: \"%s\"", run.out.c_str());
        return;
    }
    if (!ExpectTool(context, "SLEEP " + std::to_string(CANCELLED_DELAY_SECONDS), 0, "", &run)) {
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
    if (!ExpectTool(context, "status", 0, NULL, &run)) {
        return;
    }
    // Wine accepts the hibernation request and returns at once: waiting.
    printf("      %s\n", LineOf(run.out, "cycle:").c_str());
    if (!Contains(run.out, "cycle: waiting for the wake-up at ")) {
        Fail("DOZECTL status while the cycle waits: \"%s\"", run.out.c_str());
        return;
    }
    if (!ExpectTool(context, "Cancel", 0, "", &run)) {
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

// A folder whose name lies outside the ANSI code page (Greek capital omega
// is not in code page 1252). The manifest's UTF-8 code page lets the
// supervisor's narrow calls carry it whole; without it the command line
// would hold "?" and the companion beside it would never start.
const wchar_t WIDE_STAGE_FOLDER[] = L"Kiosk \u03a9mega";

std::wstring Widen(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    const int count =
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(count > 0 ? count - 1 : 0);
    return wide;
}

void NonAsciiFolderStartsTheCompanion(Context& context)
{
    if (FindWindowA(SUPERVISOR_CLASS, NULL) != NULL || FindWindowA(COMPANION_CLASS, NULL) != NULL) {
        CloseAllWindowsOf(COMPANION_CLASS);
        if (!WaitForNoWindow(COMPANION_CLASS, EXIT_TIMEOUT_MS) ||
            FindWindowA(SUPERVISOR_CLASS, NULL) != NULL) {
            Fail("a supervisor or companion from the earlier checks is still there");
            return;
        }
    }
    const std::wstring folder = Widen(context.workDir) + L"\\" + WIDE_STAGE_FOLDER;
    CreateDirectoryW(folder.c_str(), NULL);
    const std::wstring from = Widen(context.stageDir) + L"\\";
    for (const wchar_t* file : {L"DOZEWARD.EXE", L"ORB.EXE"}) {
        if (!CopyFileW((from + file).c_str(), (folder + L"\\" + file).c_str(), FALSE)) {
            Fail("cannot copy a program into the non-ASCII folder (error %lu)", GetLastError());
            return;
        }
    }
    std::wstring commandLine = L"\"" + folder + L"\\DOZEWARD.EXE\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup,
                        &info)) {
        Fail("cannot start the supervisor in the non-ASCII folder (error %lu)", GetLastError());
        return;
    }
    CloseHandle(info.hThread);
    context.started.push_back({info.hProcess, info.dwProcessId});
    HWND control = WaitForWindow(SUPERVISOR_CLASS, START_TIMEOUT_MS);
    if (control == NULL) {
        Fail("the supervisor in the non-ASCII folder shows no control window");
        return;
    }
    const DWORD startTick = GetTickCount();
    HWND companion = WaitForWindow(COMPANION_CLASS, COMPANION_TIMEOUT_MS);
    if (companion == NULL) {
        Fail("no companion within %lu ms: the folder's name did not reach the supervisor whole",
             COMPANION_TIMEOUT_MS);
    } else {
        printf("      companion started from the non-ASCII folder %lu ms after the supervisor\n",
               GetTickCount() - startTick);
    }
    SendClose(control);
    WaitForSingleObject(info.hProcess, EXIT_TIMEOUT_MS);
    CloseAllWindowsOf(COMPANION_CLASS);
}

const Check<Context> CHECKS[] = {
    {"no supervisor: sleep, cancel, stop, status give exit code 1 and one error line",
     NoSupervisorGivesExitCodeOne},
    {"status: supervisor running, companion not yet", StatusWithSupervisorAndNoCompanion},
    {"status: supervisor and companion running, also from DOZECTLW",
     StatusWithSupervisorAndCompanion},
    {"check: every item, and exit code 0 or 7 as they say", CheckRunsToItsEnd},
    {"install --print and uninstall --print: the tasks, nothing run", InstallPrintShowsTheTasks},
    {"install and uninstall, where Wine's schtasks can", InstallRegistersWhereSchtasksCan},
    {"bad arguments: exit code 2, nothing sent; help: exit code 0", BadArgumentsSendNothing},
    {"sleep 2: one cycle, status during it, a second sleep refused with 4", SleepRunsOneCycle},
    {"cancel with nothing armed: 5; cancel during sleep 60: watchdog restarts the companion",
     CancelDuringCycleHandsBackToWatchdog},
    {"stop: supervisor ends with exit code 0, companion keeps running", StopEndsSupervisorWithZero},
    {"a folder named outside the ANSI code page: the companion starts",
     NonAsciiFolderStartsTheCompanion},
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
    for (const char* file : {SUPERVISOR_FILE, COMPANION_FILE, TOOL_FILE, WINDOWLESS_TOOL_FILE}) {
        if (!CopyBeside(buildDir, context.stageDir, file)) {
            return false;
        }
    }
    context.supervisorPath = context.stageDir + "\\" + SUPERVISOR_FILE;
    context.toolPath = context.stageDir + "\\" + TOOL_FILE;
    context.windowlessToolPath = context.stageDir + "\\" + WINDOWLESS_TOOL_FILE;
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
