// The status query: what the supervisor is doing, read by other programs
// without changing anything.
//
// Another program sends WM_SUPERVISOR_STATUS to the control window with one
// STATUS_* code in wParam; the result is that field's value, a 32-bit
// unsigned number. A reading takes one message per field: the reply carries
// no pointer and no buffer, so an untrusted sender can neither make the
// supervisor write into memory nor read past anything. A reader that wants
// one coherent picture reads STATUS_CHANGE_COUNT before and after the other
// fields and reads again if it moved.
//
// The fields are written by the thread that does the thing (the cycle's
// worker for its stages, the main thread for the watchdog) and read by the
// main thread when a query arrives, hence the atomics in status.cpp.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr UINT WM_SUPERVISOR_STATUS = WM_APP + 3;

// Field codes (wParam). An unknown code answers 0, as does a supervisor that
// predates the query; STATUS_VERSION is never 0 here, so it tells the two apart.
constexpr WPARAM STATUS_VERSION = 1;      // (major << 16) | (minor << 8) | patch
constexpr WPARAM STATUS_CHANGE_COUNT = 2; // moves on every change to any field below
constexpr WPARAM STATUS_CYCLE_STAGE = 3;  // a CycleStage
// Times are UTC, packed as PackUtcTime (app/utc_time.h) does; 0 is none.
constexpr WPARAM STATUS_WAKE_ARMED_AT = 4; // when a pending wake-up was armed; 0: none pending
constexpr WPARAM STATUS_HIBERNATION = 5;   // a HibernationOutcome of the last request
constexpr WPARAM STATUS_HIBERNATION_AT = 6;
constexpr WPARAM STATUS_WATCHDOG_ARMED = 7; // 1 or 0
constexpr WPARAM STATUS_COMPANION_STARTS = 8;
constexpr WPARAM STATUS_COMPANION_START_FAILURES = 9;
constexpr WPARAM STATUS_LAST_START_AT = 10; // 0: never started
constexpr WPARAM STATUS_CYCLES_STARTED = 11;
constexpr WPARAM STATUS_WAKE_UPS_CANCELLED = 12;
constexpr WPARAM STATUS_WAKE_DELAY_SECONDS = 13; // of the pending wake-up: due = armed at + this
constexpr WPARAM STATUS_FIELD_COUNT = 14;        // codes are below this

enum CycleStage : std::uint32_t {
    STAGE_NONE = 0,      // no cycle under way
    STAGE_CLOSING = 1,   // closing the companion, before the wake timer is armed
    STAGE_ARMED = 2,     // the wake timer is armed and hibernation requested
    STAGE_WAITING = 3,   // the hibernation request returned: waiting for the wake-up
    STAGE_FINISHING = 4, // woken: nudge, settle and restart the companion
};

enum HibernationOutcome : std::uint32_t {
    HIBERNATION_NONE = 0, // not requested since the supervisor started
    HIBERNATION_ACCEPTED = 1,
    HIBERNATION_REFUSED = 2,
};

// The answer to WM_SUPERVISOR_STATUS for one field code.
LRESULT QuerySupervisorStatus(WPARAM field);

// Recording, by the parts that act. None of them changes what the supervisor
// does; each only writes what happened.
// Main thread: STAGE_CLOSING before the worker is started, then
// RecordCycleStarted once it has been; the worker records the later stages.
void RecordCycleStarted();
void RecordCycleStage(CycleStage stage);
// The worker, once it has set its wake timer: the stage becomes STAGE_ARMED
// and the due time is kept, unless no wake-up is pending (the timer could not
// be set, or a delay of 0 or less made it fire at once).
void RecordWakeArmed(const SYSTEMTIME& armedAt, std::int32_t delaySeconds, bool timerSet);
// When the hibernation request returns, with the time it was made.
void RecordHibernation(bool accepted, std::uint32_t requestedAt);
void RecordWatchdogArmed(bool armed);    // main thread
void RecordCompanionStart(bool started); // whoever started it
void RecordWakeCancelled();              // main thread

// The UTC time now, packed.
std::uint32_t PackedUtcNow();

void ResetSupervisorStatus();
