// The companion watchdog.
//
// It keeps no state of its own: each tick looks for the companion's window and
// starts the companion when there is none. A companion that is slow to show
// its window is started again at the next tick; the watchdog does not look at
// processes.
#include "supervision/watchdog.h"

#include "app/status.h"
#include "app/supervisor_state.h"

void CALLBACK WatchdogTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    if (FindCompanionWindow() == NULL) {
        RecordCompanionStart(StartCompanion(supervisor.companionCommand.data()));
    }
}

void ArmWatchdog()
{
    RecordWatchdogArmed(SetTimer(supervisor.controlWindow, WATCHDOG_TIMER_ID, WATCHDOG_PERIOD_MS,
                                 WatchdogTimerProc) != 0);
}

void StopWatchdog()
{
    KillTimer(supervisor.controlWindow, WATCHDOG_TIMER_ID);
    RecordWatchdogArmed(false);
}

void RearmWatchdog()
{
    StopWatchdog();
    ArmWatchdog();
}
