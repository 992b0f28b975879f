// The sleep-and-wake cycle, run on a worker thread of its own.
#pragma once

#include "platform/platform.h"

// Close the companion, log the next wake-up, arm the wake timer, hibernate,
// and after the wake-up nudge the pointer, restart the companion if needed
// and hand back to the watchdog. The main thread stops the watchdog before it
// starts this thread and re-arms it when the thread reports the cycle's end.
DWORD WINAPI SleepCycleThread(LPVOID unused);

constexpr DWORD CLOSE_DELAY_MS = 1000;  // before the companion is closed
constexpr DWORD CLOSE_SETTLE_MS = 6000; // for the companion to end
constexpr DWORD NUDGE_INTERVAL_MS = 40; // between the two pointer moves
constexpr DWORD WAKE_SETTLE_MS = 10000; // after the wake-up, before the restart
constexpr char WAKEUP_LOG_MESSAGE[] = "WAKEUP";
