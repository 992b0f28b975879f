// The one SupervisorState of the process.
#include "app/supervisor_state.h"

#include "app/status.h"

SupervisorState supervisor;

void ResetSupervisorState()
{
    supervisor.controlWindow = NULL;
    supervisor.wakeTimer.store(NULL);
    supervisor.wakeDelaySeconds = 0;
    supervisor.nextWakeText.fill('\0');
    supervisor.companionCommand.fill('\0');
    supervisor.cycleUnderWay = false;
    supervisor.cycleCancelled = NULL;
    supervisor.cycleGuard = NULL;
    supervisor.cycleEndRequest.store(CYCLE_END_NONE);
    ResetSupervisorStatus();
}
