// The companion watchdog: a repeating window timer on the control window
// whose ticks, on the main thread, start the companion when its window is
// missing. Only the main thread may arm or stop it, since the window belongs
// to that thread.
#pragma once

#include "platform/platform.h"

void CALLBACK WatchdogTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD tickCount);

void ArmWatchdog();
void StopWatchdog();
// Stop, then arm: the next check comes one full period later.
void RearmWatchdog();
