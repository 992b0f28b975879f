// Process entry: the single-instance rule, the companion command, the control
// window, the watchdog and the message loop.
//
// The supervisor ends quietly with exit code 0 when another one runs or when
// no companion command can be derived from its command line. Otherwise it
// runs until WM_CLOSE and returns the quit message's code.
#include "app/companion_command.h"
#include "app/control_window.h"
#include "app/supervisor_state.h"
#include "supervision/watchdog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // Two supervisors started at the same moment could both miss each other's
    // window; the named mutex decides between them. It is held, never
    // released, for the life of the process. The window search stays too: an
    // older supervisor is known by its window alone.
    HANDLE instanceMutex = CreateMutexA(NULL, FALSE, SINGLE_INSTANCE_MUTEX_NAME);
    if (instanceMutex != NULL && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(instanceMutex);
        return 0;
    }
    // Without its window nobody could command or close the supervisor, and
    // its mutex would keep any other from starting: that too ends it.
    if (FindWindowA(CONTROL_CLASS_NAME, NULL) != NULL ||
        !DeriveCompanionCommand(GetCommandLineA(), supervisor.companionCommand) ||
        CreateControlWindow(instance) == NULL) {
        if (instanceMutex != NULL) {
            CloseHandle(instanceMutex);
        }
        return 0;
    }
    ArmWatchdog();

    MSG message = {};
    while (GetMessageA(&message, NULL, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
