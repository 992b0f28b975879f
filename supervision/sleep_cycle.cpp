// The sleep-and-wake cycle.
//
// The worker takes its timer from supervisor.wakeTimer afresh at every use,
// so that a cancel command, which empties the slot on the main thread, acts
// on the very timer the worker arms and waits on. The worker also keeps its
// own copy of the handle, only to release it once nobody uses it any more:
//   - a cancel during the wait wakes the worker through the cycle's
//     cancelled event; the worker then ends without its closing steps, since
//     the cancel has handed the companion back to the watchdog;
//   - a cancel that empties the slot at any other moment signals the same
//     event once it is done with the timer; the worker waits for that signal
//     before it closes the handle, so the handle is never closed under the
//     cancel's feet.
// From the store of the timer until the hibernation request has returned the
// worker holds the cycle's guard, which the cancel command also takes: a
// cancel cannot land between the store and the arming, nor between the
// arming and the request, so no cancelled timer is ever armed and no PC whose
// wake-up was cancelled is put to sleep.
// The window timer of the watchdog belongs to the main thread, which stops it
// before this thread starts; the worker's last act is to post WM_CYCLE_ENDED,
// on which the main thread re-arms it.
#include "supervision/sleep_cycle.h"

#include "app/status.h"
#include "app/supervisor_state.h"
#include "eventlog/event_log.h"
#include "supervision/next_wake.h"

namespace {

constexpr DWORD POST_RETRY_MS = 1000;

void ReportCycleEnd(CycleEndRequest request)
{
    supervisor.cycleEndRequest.store(request);
    // A full message queue must not leave the supervisor believing a cycle
    // still runs; the window lives as long as the process.
    while (PostMessageA(supervisor.controlWindow, WM_CYCLE_ENDED, 0, 0) == FALSE) {
        Sleep(POST_RETRY_MS);
    }
}

void NudgePointer()
{
    mouse_event(MOUSEEVENTF_MOVE, 0, 1, 0, 0);
    Sleep(NUDGE_INTERVAL_MS);
    mouse_event(MOUSEEVENTF_MOVE, 0, static_cast<DWORD>(-1), 0, 0);
}

} // namespace

DWORD WINAPI SleepCycleThread(LPVOID)
{
    Sleep(CLOSE_DELAY_MS);
    CloseCompanion(FindCompanionWindow());
    Sleep(CLOSE_SETTLE_MS);

    SYSTEMTIME now = {};
    GetSystemTime(&now);
    FormatNextWake(now.wHour, now.wMinute, now.wSecond, supervisor.wakeDelaySeconds,
                   supervisor.nextWakeText);
    WriteLogEntry(supervisor.nextWakeText.data());

    LARGE_INTEGER dueTime = {};
    dueTime.QuadPart = WakeDueTime(supervisor.wakeDelaySeconds);
    // Only one cycle runs at a time, so the slot is empty here.
    HANDLE ownTimer = CreateWaitableTimerA(NULL, FALSE, NULL);
    // A cancel waits while the guard is held, so it can neither come between
    // the store and the arming (and be undone by the arming) nor between the
    // arming and the hibernation request (and be followed by a hibernation).
    WaitForSingleObject(supervisor.cycleGuard, INFINITE);
    supervisor.wakeTimer.store(ownTimer);
    const BOOL timerSet =
        SetWaitableTimer(supervisor.wakeTimer.load(), &dueTime, 0, NULL, NULL, TRUE);
    RecordWakeArmed(now, supervisor.wakeDelaySeconds, timerSet != FALSE);

    // The outcome changes nothing here: a refused request still waits for the
    // timer. It is recorded for the status query alone.
    const std::uint32_t requestedAt = PackedUtcNow();
    RecordHibernation(RequestHibernation(), requestedAt);
    RecordCycleStage(STAGE_WAITING);
    ReleaseMutex(supervisor.cycleGuard);

    // Whether a cancel has already told us it is done with ownTimer.
    bool cancelSeen = false;
    HANDLE waitTimer = supervisor.wakeTimer.load();
    if (waitTimer != NULL) {
        const HANDLE objects[2] = {waitTimer, supervisor.cycleCancelled};
        if (WaitForMultipleObjects(2, objects, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            CloseHandle(ownTimer);
            ReportCycleEnd(CYCLE_END_CANCELLED);
            return 0;
        }
    } else if (ownTimer != NULL) {
        // Cancelled between the arming and the wait: the wait ends at once.
        WaitForSingleObject(supervisor.cycleCancelled, INFINITE);
        cancelSeen = true;
    }

    RecordCycleStage(STAGE_FINISHING);
    NudgePointer();
    Sleep(WAKE_SETTLE_MS);
    if (FindCompanionWindow() == NULL) {
        RecordCompanionStart(StartCompanion(supervisor.companionCommand.data()));
        WriteLogEntry(WAKEUP_LOG_MESSAGE);
    }

    HANDLE finishedTimer = supervisor.wakeTimer.exchange(NULL);
    if (finishedTimer == NULL && ownTimer != NULL && !cancelSeen) {
        // A cancel took the spent timer out of the slot during the closing steps.
        WaitForSingleObject(supervisor.cycleCancelled, INFINITE);
    }
    if (ownTimer != NULL) {
        CloseHandle(ownTimer);
    }
    ReportCycleEnd(CYCLE_END_REARM_WATCHDOG);
    return 0;
}
