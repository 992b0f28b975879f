// Operations on the companion application and on the PC's power state,
// written once over the seam and shared by both builds.
#include "platform/platform.h"

HWND FindCompanionWindow() { return FindWindowA(COMPANION_CLASS_NAME, NULL); }

bool StartCompanion(const char* companionCommand)
{
    // WinExec reports failure as a value of 31 or less.
    return WinExec(companionCommand, SW_SHOWNORMAL) > 31;
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
