// send_command.exe: a small console tool that finds windows by class and
// sends them messages, for the demo and for poking at a running supervisor.
//
// Other programs reach the supervisor only through its control window, found
// by class name, so everything here works by class name too. Each subcommand
// prints one readable line and reports through its exit code, so that a shell
// script can chain them without parsing:
//   find CLASS                      0 found, 1 none
//   wait-window CLASS SECONDS       0 appeared, 1 not in time
//   wait-gone CLASS SECONDS         0 gone, 1 still there
//   send CLASS MSG WPARAM LPARAM    0 handled, 1 no window or no answer
//   post CLASS MSG WPARAM LPARAM    0 posted, 1 no window
//   close CLASS [SECONDS]           WM_CLOSE, then waits for the window's
//                                   process: its exit code, 1 no window,
//                                   2 still running after SECONDS (10)
//   start PROGRAM [ARGS...]         starts PROGRAM with its path quoted, as a
//                                   desktop shell does; does not wait
// MSG is a number (0x8001 or 32769) or one of WM_CLOSE, WM_DESTROY,
// WM_SUPERVISOR_COMMAND.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static const int POLL_INTERVAL_MS = 100;
static const UINT SEND_TIMEOUT_MS = 10000;

static int Usage()
{
    fprintf(stderr, "usage: send_command find|wait-window|wait-gone|send|post|close|start ...\n"
                    "  find CLASS\n"
                    "  wait-window CLASS SECONDS\n"
                    "  wait-gone CLASS SECONDS\n"
                    "  send CLASS MSG WPARAM LPARAM\n"
                    "  post CLASS MSG WPARAM LPARAM\n"
                    "  close CLASS [SECONDS]\n"
                    "  start PROGRAM [ARGS...]\n");
    return 2;
}

static bool ParseNumber(const char* text, long long* value)
{
    char* end = NULL;
    *value = strtoll(text, &end, 0);
    return end != text && *end == '\0';
}

static bool ParseMessage(const char* text, UINT* message)
{
    static const struct {
        const char* name;
        UINT value;
    } NAMES[] = {
        {"WM_CLOSE", WM_CLOSE},
        {"WM_DESTROY", WM_DESTROY},
        {"WM_SUPERVISOR_COMMAND", WM_APP + 1},
    };
    for (const auto& entry : NAMES) {
        if (_stricmp(text, entry.name) == 0) {
            *message = entry.value;
            return true;
        }
    }
    long long value = 0;
    if (!ParseNumber(text, &value) || value < 0 || value > 0xFFFF) {
        return false;
    }
    *message = static_cast<UINT>(value);
    return true;
}

static bool ParseSeconds(const char* text, DWORD* milliseconds)
{
    long long seconds = 0;
    if (!ParseNumber(text, &seconds) || seconds < 0 || seconds > 86400) {
        return false;
    }
    *milliseconds = static_cast<DWORD>(seconds * 1000);
    return true;
}

// Polls rather than hooking window creation: the window belongs to another
// process, and a tenth of a second is far below anything a caller waits for.
static bool WaitForWindowState(const char* className, bool wantPresent, DWORD timeoutMs)
{
    const DWORD startMs = GetTickCount();
    for (;;) {
        const bool present = FindWindowA(className, NULL) != NULL;
        if (present == wantPresent) {
            return true;
        }
        if (GetTickCount() - startMs >= timeoutMs) {
            return false;
        }
        Sleep(POLL_INTERVAL_MS);
    }
}

static int Find(const char* className)
{
    HWND window = FindWindowA(className, NULL);
    if (window == NULL) {
        printf("no %s window\n", className);
        return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    printf("found %s window %p, owned by process %lu\n", className, static_cast<void*>(window),
           processId);
    return 0;
}

static int SendOrPost(bool post, const char* className, const char* messageText,
                      const char* wParamText, const char* lParamText)
{
    UINT message = 0;
    long long wParam = 0;
    long long lParam = 0;
    if (!ParseMessage(messageText, &message) || !ParseNumber(wParamText, &wParam) ||
        !ParseNumber(lParamText, &lParam)) {
        return Usage();
    }
    HWND window = FindWindowA(className, NULL);
    if (window == NULL) {
        printf("no %s window\n", className);
        return 1;
    }
    if (post) {
        if (!PostMessageA(window, message, static_cast<WPARAM>(wParam),
                          static_cast<LPARAM>(lParam))) {
            printf("post to %s window failed (error %lu)\n", className, GetLastError());
            return 1;
        }
        printf("posted message 0x%04X (%lld, %lld) to %s window\n", message, wParam, lParam,
               className);
        return 0;
    }
    // A bounded send, so that a hung target cannot hang the script as well.
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, static_cast<WPARAM>(wParam),
                             static_cast<LPARAM>(lParam), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                             SEND_TIMEOUT_MS, &result)) {
        printf("%s window did not answer message 0x%04X\n", className, message);
        return 1;
    }
    printf("sent message 0x%04X (%lld, %lld) to %s window, result %lu\n", message, wParam, lParam,
           className, static_cast<unsigned long>(result));
    return 0;
}

static int Close(const char* className, DWORD timeoutMs)
{
    HWND window = FindWindowA(className, NULL);
    if (window == NULL) {
        printf("no %s window\n", className);
        return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    // Opened before the close, so that the exit code can still be read after
    // the process has gone.
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (process == NULL) {
        printf("cannot open process %lu (error %lu)\n", processId, GetLastError());
        return 2;
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                        &ignored);
    printf("sent WM_CLOSE to %s window of process %lu\n", className, processId);
    int status = 2;
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process, &exitCode);
        printf("process %lu ended with exit code %lu\n", processId, exitCode);
        status = static_cast<int>(exitCode);
    } else {
        printf("process %lu still running after %lu ms\n", processId, timeoutMs);
    }
    CloseHandle(process);
    return status;
}

static int Start(int argc, char** argv)
{
    // Quoted like a desktop shell quotes it: the supervisor finds its own
    // folder from the quoted program path at the head of its command line.
    char commandLine[2048];
    int length = snprintf(commandLine, sizeof commandLine, "\"%s\"", argv[0]);
    for (int i = 1; i < argc && length >= 0 && length < static_cast<int>(sizeof commandLine); ++i) {
        length += snprintf(commandLine + length, sizeof commandLine - length, " %s", argv[i]);
    }
    if (length < 0 || length >= static_cast<int>(sizeof commandLine)) {
        fprintf(stderr, "command line too long\n");
        return 2;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(argv[0], commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &process)) {
        printf("cannot start %s (error %lu)\n", argv[0], GetLastError());
        return 1;
    }
    printf("started process %lu: %s\n", process.dwProcessId, commandLine);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

int main(int argc, char** argv)
{
    // Output usually goes to a file (see the scripts); unbuffered, so that
    // nothing is lost if the caller kills this process.
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 3) {
        return Usage();
    }
    const char* verb = argv[1];
    const char* className = argv[2];
    DWORD timeoutMs = 0;
    if (strcmp(verb, "find") == 0 && argc == 3) {
        return Find(className);
    }
    if ((strcmp(verb, "wait-window") == 0 || strcmp(verb, "wait-gone") == 0) && argc == 4 &&
        ParseSeconds(argv[3], &timeoutMs)) {
        const bool wantPresent = strcmp(verb, "wait-window") == 0;
        if (WaitForWindowState(className, wantPresent, timeoutMs)) {
            printf("%s window %s\n", className, wantPresent ? "appeared" : "is gone");
            return 0;
        }
        printf("%s window %s after %s s\n", className,
               wantPresent ? "did not appear" : "still there", argv[3]);
        return 1;
    }
    if ((strcmp(verb, "send") == 0 || strcmp(verb, "post") == 0) && argc == 6) {
        return SendOrPost(strcmp(verb, "post") == 0, className, argv[3], argv[4], argv[5]);
    }
    if (strcmp(verb, "close") == 0 && (argc == 3 || argc == 4)) {
        timeoutMs = 10000;
        if (argc == 4 && !ParseSeconds(argv[3], &timeoutMs)) {
            return Usage();
        }
        return Close(className, timeoutMs);
    }
    if (strcmp(verb, "start") == 0) {
        return Start(argc - 2, argv + 2);
    }
    return Usage();
}
