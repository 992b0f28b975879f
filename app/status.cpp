// The supervisor's status: written where things happen, answered on the main
// thread when another program asks.
//
// Every field is a 32-bit atomic, since the cycle's worker writes some of them
// while the main thread answers queries. The stage is answered as STAGE_NONE
// whenever no cycle is under way, by the main thread's own flag, so that a
// finished or failed cycle can never be reported as still running.
#include "app/status.h"

#include <atomic>

#include "app/supervisor_state.h"
#include "app/utc_time.h"
#include "version.h"

namespace {

std::atomic<std::uint32_t> statusFields[STATUS_FIELD_COUNT];

void Store(WPARAM field, std::uint32_t value)
{
    statusFields[field].store(value);
    statusFields[STATUS_CHANGE_COUNT].fetch_add(1);
}

void Increment(WPARAM field)
{
    statusFields[field].fetch_add(1);
    statusFields[STATUS_CHANGE_COUNT].fetch_add(1);
}

} // namespace

LRESULT QuerySupervisorStatus(WPARAM field)
{
    if (field == 0 || field >= STATUS_FIELD_COUNT) {
        return 0;
    }
    if (field == STATUS_VERSION) {
        return static_cast<LRESULT>(DOZEWARD_VERSION_PACKED);
    }
    if (field == STATUS_CYCLE_STAGE && !supervisor.cycleUnderWay) {
        return STAGE_NONE;
    }
    return static_cast<LRESULT>(statusFields[field].load());
}

namespace {

std::uint32_t Pack(const SYSTEMTIME& time)
{
    return PackUtcTime(time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond);
}

} // namespace

std::uint32_t PackedUtcNow()
{
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    return Pack(now);
}

void RecordCycleStarted() { Increment(STATUS_CYCLES_STARTED); }

void RecordCycleStage(CycleStage stage)
{
    if (stage == STAGE_CLOSING) {
        // The last cycle's wake-up is no longer ahead.
        Store(STATUS_WAKE_ARMED_AT, 0);
        Store(STATUS_WAKE_DELAY_SECONDS, 0);
    }
    Store(STATUS_CYCLE_STAGE, stage);
}

void RecordWakeArmed(const SYSTEMTIME& armedAt, std::int32_t delaySeconds, bool timerSet)
{
    const bool pending = timerSet && delaySeconds > 0;
    Store(STATUS_WAKE_DELAY_SECONDS, pending ? static_cast<std::uint32_t>(delaySeconds) : 0);
    Store(STATUS_WAKE_ARMED_AT, pending ? Pack(armedAt) : 0);
    Store(STATUS_CYCLE_STAGE, STAGE_ARMED);
}

void RecordHibernation(bool accepted, std::uint32_t requestedAt)
{
    Store(STATUS_HIBERNATION_AT, requestedAt);
    Store(STATUS_HIBERNATION, accepted ? HIBERNATION_ACCEPTED : HIBERNATION_REFUSED);
}

void RecordWatchdogArmed(bool armed) { Store(STATUS_WATCHDOG_ARMED, armed ? 1 : 0); }

void RecordCompanionStart(bool started)
{
    if (started) {
        Store(STATUS_LAST_START_AT, PackedUtcNow());
        Increment(STATUS_COMPANION_STARTS);
    } else {
        Increment(STATUS_COMPANION_START_FAILURES);
    }
}

void RecordWakeCancelled() { Increment(STATUS_WAKE_UPS_CANCELLED); }

void ResetSupervisorStatus()
{
    for (std::atomic<std::uint32_t>& field : statusFields) {
        field.store(0);
    }
}
