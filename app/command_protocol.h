// The commands other programs send to the control window, and the report of
// a cycle's end from its worker. Both run on the main thread.
#pragma once

#include "platform/platform.h"

// CMD_SLEEP_AND_WAKE starts a cycle with lParam seconds of delay, unless a
// cycle is under way (then it is ignored); CMD_CANCEL_WAKE cancels the armed
// wake-up and hands the companion back to the watchdog; other codes do
// nothing.
void HandleSupervisorCommand(WPARAM code, LPARAM argument);

// A worker has posted WM_CYCLE_ENDED: the cycle is over, and the watchdog is
// re-armed unless a cancel already did it. A WM_CYCLE_ENDED that no worker
// asked for does nothing.
void HandleCycleEnded();
