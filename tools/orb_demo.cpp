// ORB.EXE for demos and tests: a stand-in for the companion application.
//
// The supervisor knows the companion only by its top-level window of class
// "ORIELDESK" and by the fact that it ends when that window gets WM_DESTROY,
// so this program is exactly that and nothing more. It takes no arguments,
// because the supervisor starts it with none; the window title carries the
// process id so that a person watching a demo can tell restarts apart.
//
// A companion that is slow to start is simulated with the environment
// variable ORB_DEMO_START_DELAY_MS (inherited from whoever started the
// supervisor): the program waits that long before it creates its window and
// first asks for a message, as a heavy application loading its data would.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>

static const char ORB_CLASS_NAME[] = "ORIELDESK";

static LRESULT CALLBACK OrbWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        // Ending on WM_DESTROY itself, not on a later WM_QUIT from somewhere
        // else, is the behaviour the supervisor's close relies on.
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static DWORD StartDelayMs()
{
    char text[16] = "";
    const DWORD length = GetEnvironmentVariableA("ORB_DEMO_START_DELAY_MS", text, sizeof text);
    return length > 0 && length < sizeof text ? strtoul(text, NULL, 10) : 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState)
{
    Sleep(StartDelayMs());

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = OrbWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = ORB_CLASS_NAME;
    if (!RegisterClassExA(&windowClass)) {
        return 1;
    }

    char title[64];
    snprintf(title, sizeof title, "ORB demo companion (process %lu)", GetCurrentProcessId());
    HWND window = CreateWindowExA(0, ORB_CLASS_NAME, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 360, 120, NULL, NULL, instance, NULL);
    if (window == NULL) {
        return 1;
    }
    ShowWindow(window, showState);

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
