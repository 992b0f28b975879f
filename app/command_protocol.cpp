// The command branch of the control window.
//
// One cycle at a time: a sleep command while a cycle is under way is
// ignored, so there is only ever one worker and one wake timer, and no worker
// can be left waiting on a timer that another cycle pushed out of the slot.
// The main thread does the timer work of the cycle, since the watchdog's
// window timer belongs to it: it stops the watchdog before it starts the
// worker and re-arms it when the worker reports the end.
#include "app/command_protocol.h"

#include <cstdint>

#include "app/status.h"
#include "app/supervisor_state.h"
#include "supervision/sleep_cycle.h"
#include "supervision/watchdog.h"

namespace {

void StartSleepCycle(std::int32_t delaySeconds)
{
    if (supervisor.cycleUnderWay) {
        return;
    }
    supervisor.wakeDelaySeconds = delaySeconds;
    HANDLE cancelled = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (cancelled == NULL) {
        return;
    }
    HANDLE guard = CreateMutexA(NULL, FALSE, NULL);
    if (guard == NULL) {
        CloseHandle(cancelled);
        return;
    }
    supervisor.cycleCancelled = cancelled;
    supervisor.cycleGuard = guard;
    supervisor.cycleUnderWay = true;
    RecordCycleStage(STAGE_CLOSING);
    StopWatchdog();

    HANDLE worker = CreateThread(NULL, 0, SleepCycleThread, NULL, 0, NULL);
    if (worker == NULL) {
        // No cycle after all: the companion stays supervised.
        supervisor.cycleUnderWay = false;
        supervisor.cycleCancelled = NULL;
        supervisor.cycleGuard = NULL;
        CloseHandle(guard);
        CloseHandle(cancelled);
        ArmWatchdog();
        return;
    }
    CloseHandle(worker);
    RecordCycleStarted();
}

void CancelWake()
{
    if (!supervisor.cycleUnderWay) {
        return; // no cycle, so no timer
    }
    // The worker holds the guard from the store of its timer until its
    // hibernation request has returned, so a cancel in between waits here and
    // then finds the timer armed and the PC awake again. Taking the timer out
    // of the slot in one step makes it this thread's alone: from then on the
    // worker finds the slot empty, arms nothing, and leaves the handle be
    // until the cancelled event below tells it this thread is done with it.
    WaitForSingleObject(supervisor.cycleGuard, INFINITE);
    HANDLE timer = supervisor.wakeTimer.exchange(NULL);
    ReleaseMutex(supervisor.cycleGuard);
    if (timer == NULL) {
        return;
    }
    CancelWaitableTimer(timer);
    RecordWakeCancelled();
    RearmWatchdog();
    SetEvent(supervisor.cycleCancelled);
}

} // namespace

void HandleSupervisorCommand(WPARAM code, LPARAM argument)
{
    if (code == CMD_SLEEP_AND_WAKE) {
        // The delay is a signed 32-bit count whatever the width of lParam.
        StartSleepCycle(static_cast<std::int32_t>(static_cast<std::uint32_t>(argument)));
    } else if (code == CMD_CANCEL_WAKE) {
        CancelWake();
    }
}

void HandleCycleEnded()
{
    const int request = supervisor.cycleEndRequest.exchange(CYCLE_END_NONE);
    if (request == CYCLE_END_NONE) {
        return;
    }
    supervisor.cycleUnderWay = false;
    CloseHandle(supervisor.cycleCancelled);
    supervisor.cycleCancelled = NULL;
    CloseHandle(supervisor.cycleGuard);
    supervisor.cycleGuard = NULL;
    if (request == CYCLE_END_REARM_WATCHDOG) {
        RearmWatchdog();
    }
}
