// End-to-end check, run under Wine by CTest: a companion that is slow to
// reach its message loop does not hold the supervisor.
//
// The demo companion is made slow with ORB_DEMO_START_DELAY_MS, set here and
// inherited through the supervisor. The supervisor is started in a folder of
// its own beside its companion and DOZECTL; its watchdog starts the slow
// companion 10 s later. While that companion is still loading, DOZECTL stop
// must end the supervisor within 2 s, as it does when the companion is quick.
// Every program started here writes its output to files: under Wine a pipe
// would wait for every process that inherited it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using namespace e2e;

const char TOOL_FILE[] = "DOZECTL.EXE";
const char STAGE_FOLDER[] = "Slow Station";
// Longer than DOZECTL's own 10 s bound for a stop, so that a supervisor held
// until the companion asks for its first message fails the check clearly.
const char START_DELAY_MS[] = "15000";
// The watchdog looks 10 s after start-up.
const DWORD COMPANION_PROCESS_TIMEOUT_MS = 30000;
// Inside the companion's start, well before it asks for a message.
const DWORD STOP_AFTER_START_MS = 1000;
const DWORD STOP_BOUND_MS = 2000;
const DWORD TOOL_TIMEOUT_MS = 30000;
const DWORD COMPANION_WINDOW_TIMEOUT_MS = 40000;

struct Context {
    std::string stageDir;
    std::string supervisorPath;
    std::string toolPath;
    HANDLE supervisor = NULL;
    DWORD stopMs = 0;
};

bool CompanionProcessRuns()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry)) {
        found = lstrcmpiA(entry.szExeFile, COMPANION_FILE) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

HANDLE OutputFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

// Starts a program in the stage folder with its output going to a file.
HANDLE Start(const Context& context, const std::string& path, const std::string& arguments,
             const char* outputName)
{
    HANDLE output = OutputFile(context.stageDir + "\\" + outputName);
    std::string commandLine = "\"" + path + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION info = {};
    const BOOL created = CreateProcessA(path.c_str(), mutableLine.data(), NULL, NULL, TRUE, 0, NULL,
                                        context.stageDir.c_str(), &startup, &info);
    const DWORD error = GetLastError();
    CloseHandle(output);
    if (!created) {
        Fail("cannot start %s (error %lu)", path.c_str(), error);
        return NULL;
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

void StopEndsTheSupervisorWhileASlowCompanionStarts(Context& context)
{
    context.supervisor = Start(context, context.supervisorPath, "", "supervisor.out");
    if (context.supervisor == NULL) {
        return;
    }
    const DWORD startTick = GetTickCount();
    while (!CompanionProcessRuns()) {
        if (GetTickCount() - startTick > COMPANION_PROCESS_TIMEOUT_MS) {
            Fail("the watchdog started no companion within %lu ms", COMPANION_PROCESS_TIMEOUT_MS);
            return;
        }
        Sleep(POLL_MS);
    }
    printf("      companion process started %lu ms after the supervisor\n",
           GetTickCount() - startTick);
    Sleep(STOP_AFTER_START_MS);
    if (FindWindowA(COMPANION_CLASS, NULL) != NULL) {
        Fail("the companion was not slow: its window is already there");
        return;
    }

    const DWORD stopTick = GetTickCount();
    HANDLE tool = Start(context, context.toolPath, "stop", "dozectl.out");
    if (tool == NULL) {
        return;
    }
    // The supervisor's own end is what is timed; DOZECTL ends just after it.
    const bool ended = WaitForSingleObject(context.supervisor, TOOL_TIMEOUT_MS) == WAIT_OBJECT_0;
    context.stopMs = GetTickCount() - stopTick;
    DWORD toolExit = 99;
    WaitForSingleObject(tool, TOOL_TIMEOUT_MS);
    GetExitCodeProcess(tool, &toolExit);
    CloseHandle(tool);
    if (!ended) {
        Fail("the supervisor still runs %lu ms after DOZECTL stop", TOOL_TIMEOUT_MS);
        return;
    }
    printf("      supervisor ended %lu ms after DOZECTL stop was started; DOZECTL exit code %lu\n",
           context.stopMs, toolExit);
    DWORD exitCode = 1;
    GetExitCodeProcess(context.supervisor, &exitCode);
    if (toolExit != 0) {
        Fail("DOZECTL stop gave exit code %lu", toolExit);
    } else if (exitCode != 0) {
        Fail("supervisor exit code %lu, expected 0", exitCode);
    } else if (context.stopMs > STOP_BOUND_MS) {
        Fail("the supervisor took %lu ms to end, more than %lu ms", context.stopMs, STOP_BOUND_MS);
    }
}

const Check<Context> CHECKS[] = {
    {"stop while a slow companion starts: the supervisor ends within 2 s",
     StopEndsTheSupervisorWhileASlowCompanionStarts},
};

bool Stage(Context& context)
{
    context.stageDir = MakeStageFolder(STAGE_FOLDER);
    const std::string from = BuildDirectory();
    context.supervisorPath = context.stageDir + "\\" + SUPERVISOR_FILE;
    context.toolPath = context.stageDir + "\\" + TOOL_FILE;
    return CopyBeside(from, context.stageDir, SUPERVISOR_FILE) &&
           CopyBeside(from, context.stageDir, COMPANION_FILE) &&
           CopyBeside(from, context.stageDir, TOOL_FILE);
}

} // namespace

int main()
{
    setvbuf(stdout, NULL, _IONBF, 0);
    Context context;
    if (!Stage(context)) {
        return Tally(1, 1);
    }
    if (FindWindowA(SUPERVISOR_CLASS, NULL) != NULL) {
        printf("a supervisor from elsewhere is running; close it first\n");
        return Tally(1, 1);
    }
    SetEnvironmentVariableA("ORB_DEMO_START_DELAY_MS", START_DELAY_MS);
    const int failed = RunChecks(CHECKS, context);

    // Nothing is left running: the supervisor, and the companion once it is
    // far enough to have a window to close.
    if (context.supervisor != NULL) {
        if (WaitForSingleObject(context.supervisor, 0) != WAIT_OBJECT_0) {
            TerminateProcess(context.supervisor, 99);
        }
        CloseHandle(context.supervisor);
    }
    const DWORD waitTick = GetTickCount();
    while (CompanionProcessRuns() && FindWindowA(COMPANION_CLASS, NULL) == NULL &&
           GetTickCount() - waitTick < COMPANION_WINDOW_TIMEOUT_MS) {
        Sleep(POLL_MS);
    }
    CloseAllWindowsOf(COMPANION_CLASS);
    return Tally(std::size(CHECKS), failed);
}
