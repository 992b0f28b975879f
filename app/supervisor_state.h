// The supervisor's process-wide state and the constants that other programs
// and the supervisor's own parts share.
//
// One SupervisorState lives for the life of the process. The main thread owns
// everything in it except wakeTimer, which the cancel command (main thread)
// and a running cycle (worker thread) both take and clear without a lock; it
// is atomic so that each of them acts on the very timer the other stored.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/platform.h"

// The command protocol: a message to the control window, found by its class.
constexpr UINT WM_SUPERVISOR_COMMAND = WM_APP + 1;
constexpr WPARAM CMD_SLEEP_AND_WAKE = 906;
constexpr WPARAM CMD_CANCEL_WAKE = 999;

// Posted by a cycle's worker to the control window when the cycle ends, so that
// the main thread, which owns the window's timers, re-arms the watchdog. The
// message carries nothing: what to do is read from cycleEndRequest, which only
// a worker sets, so another program sending it achieves nothing.
constexpr UINT WM_CYCLE_ENDED = WM_APP + 2;

constexpr char CONTROL_CLASS_NAME[] = "DOZEWARD";
constexpr char LOG_FILE_NAME[] = "DOZEWARD.LOG";

// Taken before the window search, so that two supervisors started at the same
// moment cannot both pass the single-instance check.
constexpr char SINGLE_INSTANCE_MUTEX_NAME[] = "DOZEWARD.SingleInstance";

constexpr UINT_PTR WATCHDOG_TIMER_ID = 10000;
constexpr UINT WATCHDOG_PERIOD_MS = 10000;

constexpr std::size_t COMPANION_COMMAND_SIZE = 260;
constexpr std::size_t NEXT_WAKE_TEXT_SIZE = 80;

// What a worker asks of the main thread when its cycle ends.
enum CycleEndRequest : int {
    CYCLE_END_NONE = 0,           // no cycle has ended since the last request was taken
    CYCLE_END_REARM_WATCHDOG = 1, // the cycle ran to its end: re-arm the watchdog
    CYCLE_END_CANCELLED = 2,      // the wake-up was cancelled, which re-armed it already
};

struct SupervisorState {
    HWND controlWindow = NULL;
    std::atomic<HANDLE> wakeTimer{NULL};
    std::int32_t wakeDelaySeconds = 0;
    std::array<char, NEXT_WAKE_TEXT_SIZE> nextWakeText{};
    std::array<char, COMPANION_COMMAND_SIZE> companionCommand{};

    // Main thread only: a cycle's worker exists. A sleep command that arrives
    // meanwhile is ignored, so there is never more than one worker and one
    // wake timer.
    bool cycleUnderWay = false;
    // Signalled by the cancel command once it has taken the running cycle's
    // timer out of wakeTimer and is done with it; created for each cycle and
    // closed by its worker.
    HANDLE cycleCancelled = NULL;
    // A mutex, created for each cycle and closed with it. The worker holds it
    // from the store of its timer in wakeTimer until its hibernation request
    // has returned; the cancel command takes wakeTimer only while holding it.
    // So a cancel either comes before the store, finds nothing and lets the
    // cycle go on, or comes after the request, once the timer is armed: never
    // in between, where the worker would arm a cancelled timer or hibernate
    // a PC whose wake-up was cancelled.
    HANDLE cycleGuard = NULL;
    // Set by the worker just before it posts WM_CYCLE_ENDED.
    std::atomic<int> cycleEndRequest{CYCLE_END_NONE};
};

extern SupervisorState supervisor;

// Puts every field back to its start-up value. The process calls it never; the
// tests, which start many supervisors in one host process, call it before each.
void ResetSupervisorState();
