// Operations on the companion application and on the PC's power state,
// written once over the seam and shared by both builds.
#include "platform/platform.h"

HWND FindCompanionWindow() { return FindWindowA(COMPANION_CLASS_NAME, NULL); }

bool StartCompanion(char* companionCommand)
{
    // Not WinExec: it returns only once the started program first asks for a
    // message (or after a long time-out), and meanwhile the calling thread
    // handles no posted message and no timer tick, so a slow companion would
    // hold the supervisor's main thread, WM_CLOSE included. CreateProcessA
    // returns as soon as the process exists; nothing of it is kept. Only the
    // Unicode form of the call writes to the command line it is given, so
    // the supervisor's own buffer is passed as it is.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started;
    if (CreateProcessA(NULL, companionCommand, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                       &started) == FALSE) {
        return false;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

void CloseCompanion(HWND companionWindow)
{
    // A plain SendMessageA would wait for ever on a companion that hangs in
    // its close handler, with the watchdog stopped and the PC kept awake.
    DWORD_PTR result = 0;
    SendMessageTimeoutA(companionWindow, WM_DESTROY, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                        COMPANION_CLOSE_TIMEOUT_MS, &result);
}

// Hibernation is refused unless the calling process has the shutdown
// privilege enabled in its token; it is present but disabled by default.
static void EnableShutdownPrivilege()
{
    HANDLE token = NULL;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token) ==
        FALSE) {
        return;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) != FALSE) {
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    }
    CloseHandle(token);
}

bool RequestHibernation()
{
    EnableShutdownPrivilege();
    return SetSuspendState(TRUE, FALSE, FALSE) != FALSE;
}
