// The control window: registration, creation and its window procedure.
//
// The window is a top-level window so that searches by its class name find
// it: the single-instance check and every program that sends commands rely on
// that. Its procedure handles the commands, the end of a cycle and WM_CLOSE;
// everything else goes to the default procedure.
#include "app/control_window.h"

#include "app/command_protocol.h"
#include "app/status.h"
#include "app/supervisor_state.h"
#include "supervision/watchdog.h"

HWND CreateControlWindow(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_CLASSDC;
    windowClass.lpfnWndProc = ControlWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = NULL;
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = CONTROL_CLASS_NAME;
    windowClass.hIconSm = NULL;
    RegisterClassExA(&windowClass);

    supervisor.controlWindow =
        CreateWindowExA(WS_EX_PALETTEWINDOW, CONTROL_CLASS_NAME, CONTROL_CLASS_NAME,
                        CONTROL_WINDOW_STYLE, 0, 0, 0, 0, NULL, NULL, instance, NULL);
    return supervisor.controlWindow;
}

LRESULT CALLBACK ControlWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SUPERVISOR_COMMAND:
        HandleSupervisorCommand(wParam, lParam);
        return 0;
    case WM_SUPERVISOR_STATUS:
        return QuerySupervisorStatus(wParam);
    case WM_CYCLE_ENDED:
        HandleCycleEnded();
        return 0;
    case WM_CLOSE:
        // The window stays; the loop ends at the quit message. A cycle under
        // way is not waited for: it ends with the process.
        StopWatchdog();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
