// The seam between the supervisor and the operating system.
//
// The core (app/, supervision/, eventlog/) includes only this header for its
// system calls. "os_api.h" comes from platform/win32 on the Windows build (the
// real API) or from platform/sim on the host build (the simulated PC); the
// build chooses the folder, so the core itself has no conditional code.
// Both declare the services by their Windows names and narrow forms.
//
// Beside the raw services, the few things the supervisor does to the
// companion application and to the power state are named routines here, so
// that the core reads as what it does.
#pragma once

#include "os_api.h"

// The companion application, recognised by its main window's class.
constexpr char COMPANION_CLASS_NAME[] = "ORIELDESK";
constexpr char COMPANION_FILE_NAME[] = "ORB.EXE";

// How long the close of the companion may take before the cycle goes on
// without it; a companion that does not answer must not hold the PC awake.
constexpr UINT COMPANION_CLOSE_TIMEOUT_MS = 5000;

// The companion's main window, or none when it is not running.
HWND FindCompanionWindow();

// Starts the companion from its command line, shown normally, in the
// supervisor's own current directory; does not wait for it in any way. The
// text is not changed, though the call takes it as writable. Returns whether
// the program could be started (its window may come later).
bool StartCompanion(char* companionCommand);

// Sends the close message to the companion's main window (none: nothing
// happens) and returns once it was handled or the bound ran out.
void CloseCompanion(HWND companionWindow);

// Enables the shutdown privilege that hibernation needs, then requests
// hibernation. Returns once the PC has resumed (true) or the request was
// refused (false).
bool RequestHibernation();
