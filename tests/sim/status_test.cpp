// The status query over virtual time: what another program reads at each
// stage of a cycle, after a refused hibernation, after an early wake-up and
// after a cancel, and that asking changes nothing.
#include "app/status.h"

#include "supervisor_fixture.h"

namespace {

// 2026-12-11 (the simulated PC's date) at the times the cycles below reach,
// packed: (year - 2000) << 26 | month << 22 | day << 17 | second of the day.
constexpr std::uint32_t AT_23_00_07 = 1796686711u;
constexpr std::uint32_t AT_00_00_17_NEXT_DAY = 1796734993u;

class StatusTest : public SupervisorTest {
protected:
    StatusTest()
    {
        pc.SetUtcTime(23, 0, 0);
        pc.StartCompanionByHand();
        StartSupervisor();
    }

    std::uint32_t Status(WPARAM field)
    {
        return static_cast<std::uint32_t>(
            pc.SendFromOutside(control, WM_SUPERVISOR_STATUS, field, 0));
    }
};

TEST_F(StatusTest, AtRestNothingIsUnderWayAndTheWatchdogIsArmed)
{
    EXPECT_EQ(Status(STATUS_VERSION), 0x010000u);
    EXPECT_EQ(Status(STATUS_CYCLE_STAGE), 0u);
    EXPECT_EQ(Status(STATUS_WAKE_ARMED_AT), 0u);
    EXPECT_EQ(Status(STATUS_WAKE_DELAY_SECONDS), 0u);
    EXPECT_EQ(Status(STATUS_HIBERNATION), 0u);
    EXPECT_EQ(Status(STATUS_WATCHDOG_ARMED), 1u);
    EXPECT_EQ(Status(STATUS_COMPANION_STARTS), 0u);
    EXPECT_EQ(Status(STATUS_CYCLES_STARTED), 0u);
    // Codes outside the table answer 0, like a supervisor without the query.
    for (WPARAM unknown : {WPARAM{0}, WPARAM{14}, WPARAM{999}, ~WPARAM{0}}) {
        EXPECT_EQ(Status(unknown), 0u) << unknown;
    }
}

// A query touches no service and leaves every field as it was.
TEST_F(StatusTest, AskingChangesNothing)
{
    const std::uint32_t changes = Status(STATUS_CHANGE_COUNT);
    pc.ClearTrace();
    for (WPARAM field = 0; field < 20; ++field) {
        Status(field);
    }
    EXPECT_EQ(pc.TraceTexts({"DefWindowProcA", "SetTimer", "KillTimer", "WinExec", "Create"}),
              std::vector<std::string>{});
    EXPECT_EQ(Status(STATUS_CHANGE_COUNT), changes);
    EXPECT_TRUE(WatchdogArmed());
}

TEST_F(StatusTest, EveryStageOfACycleThatHibernatesAndWakesOnTime)
{
    const std::uint32_t changesBefore = Status(STATUS_CHANGE_COUNT);
    Command(906, 3600);
    pc.Advance(500);
    EXPECT_EQ(Status(STATUS_CYCLE_STAGE), static_cast<std::uint32_t>(STAGE_CLOSING));
    EXPECT_EQ(Status(STATUS_WATCHDOG_ARMED), 0u);
    EXPECT_EQ(Status(STATUS_CYCLES_STARTED), 1u);
    EXPECT_NE(Status(STATUS_CHANGE_COUNT), changesBefore);

    // Held just before the hibernation request: armed, with its due time.
    pc.PauseBefore("SetSuspendState");
    ASSERT_TRUE(pc.AdvanceUntil([&] { return pc.Paused(); }, 10 * SECOND_MS));
    EXPECT_EQ(Status(STATUS_CYCLE_STAGE), static_cast<std::uint32_t>(STAGE_ARMED));
    EXPECT_EQ(Status(STATUS_WAKE_ARMED_AT), AT_23_00_07);
    EXPECT_EQ(Status(STATUS_WAKE_DELAY_SECONDS), 3600u);
    EXPECT_EQ(Status(STATUS_HIBERNATION), 0u);
    pc.Resume();
    pc.RunUntilIdle();
    ASSERT_TRUE(pc.Hibernating());

    // Woken by the timer: the closing steps, which last 10 s.
    ASSERT_TRUE(pc.AdvanceUntil([&] { return !pc.Hibernating(); }, 2 * HOUR_MS));
    pc.Advance(5 * SECOND_MS);
    EXPECT_EQ(Status(STATUS_CYCLE_STAGE), static_cast<std::uint32_t>(STAGE_FINISHING));
    EXPECT_EQ(Status(STATUS_HIBERNATION), static_cast<std::uint32_t>(HIBERNATION_ACCEPTED));
    EXPECT_EQ(Status(STATUS_HIBERNATION_AT), AT_23_00_07);
    EXPECT_EQ(Status(STATUS_WATCHDOG_ARMED), 0u);

    pc.Advance(6 * SECOND_MS);
    EXPECT_EQ(Status(STATUS_CYCLE_STAGE), static_cast<std::uint32_t>(STAGE_NONE));
    EXPECT_EQ(Status(STATUS_WATCHDOG_ARMED), 1u);
    EXPECT_EQ(Status(STATUS_COMPANION_STARTS), 1u);
    EXPECT_EQ(Status(STATUS_LAST_START_AT), AT_00_00_17_NEXT_DAY);
    EXPECT_EQ(Status(STATUS_COMPANION_START_FAILURES), 0u);
    EXPECT_EQ(Status(STATUS_WAKE_UPS_CANCELLED), 0u);
}

// The cycle goes on exactly as before; only the record says it was refused.
TEST_F(StatusTest, RefusedHibernationIsRecordedAndTheCycleStillWaits)
{
    pc.SetHibernationAccepted(false);
    Command(906, 3600);
    pc.Advance(8 * SECOND_MS);
    EXPECT_EQ(Status(STATUS_CYCLE_STAGE), static_cast<std::uint32_t>(STAGE_WAITING));
    EXPECT_EQ(Status(STATUS_HIBERNATION), static_cast<std::uint32_t>(HIBERNATION_REFUSED));
    EXPECT_EQ(Status(STATUS_HIBERNATION_AT), AT_23_00_07);
    EXPECT_EQ(Status(STATUS_WAKE_ARMED_AT), AT_23_00_07);
    EXPECT_EQ(Status(STATUS_WAKE_DELAY_SECONDS), 3600u);
    EXPECT_FALSE(pc.CompanionWindowPresent());
    EXPECT_EQ(CountCalls("mouse_event"), 0);
}

TEST_F(StatusTest, EarlyWakeUpShowsAnAcceptedHibernationStillWaiting)
{
    Command(906, 3600);
    pc.Advance(8 * SECOND_MS);
    ASSERT_TRUE(pc.Hibernating());
    pc.Advance(600 * SECOND_MS);
    pc.WakeUp();
    pc.RunUntilIdle();
    EXPECT_EQ(Status(STATUS_CYCLE_STAGE), static_cast<std::uint32_t>(STAGE_WAITING));
    EXPECT_EQ(Status(STATUS_HIBERNATION), static_cast<std::uint32_t>(HIBERNATION_ACCEPTED));
    EXPECT_EQ(Status(STATUS_WAKE_ARMED_AT), AT_23_00_07);
    EXPECT_EQ(Status(STATUS_WAKE_DELAY_SECONDS), 3600u);
}

TEST_F(StatusTest, CancelEndsTheCycleAndIsCounted)
{
    pc.SetHibernationAccepted(false);
    Command(999); // nothing armed: not counted
    EXPECT_EQ(Status(STATUS_WAKE_UPS_CANCELLED), 0u);

    Command(906, 3600);
    pc.Advance(8 * SECOND_MS);
    Command(999);
    pc.RunUntilIdle();
    EXPECT_EQ(Status(STATUS_WAKE_UPS_CANCELLED), 1u);
    EXPECT_EQ(Status(STATUS_CYCLE_STAGE), static_cast<std::uint32_t>(STAGE_NONE));
    EXPECT_EQ(Status(STATUS_WATCHDOG_ARMED), 1u);

    // A second sleep while none runs starts a second cycle: counted.
    Command(906, 3600);
    EXPECT_EQ(Status(STATUS_CYCLES_STARTED), 2u);
    EXPECT_EQ(Status(STATUS_WAKE_ARMED_AT), 0u);
    EXPECT_EQ(Status(STATUS_WAKE_DELAY_SECONDS), 0u); // not armed yet
    // A sleep during it is ignored: not counted.
    Command(906, 60);
    EXPECT_EQ(Status(STATUS_CYCLES_STARTED), 2u);
}

// A delay of 0 or less leaves no wake-up pending: no due time to show.
TEST_F(StatusTest, NoDueTimeWithoutAPendingWakeUp)
{
    pc.SetHibernationAccepted(false);
    Command(906, 0);
    pc.PauseBefore("SetSuspendState");
    ASSERT_TRUE(pc.AdvanceUntil([&] { return pc.Paused(); }, 10 * SECOND_MS));
    EXPECT_EQ(Status(STATUS_CYCLE_STAGE), static_cast<std::uint32_t>(STAGE_ARMED));
    EXPECT_EQ(Status(STATUS_WAKE_ARMED_AT), 0u);
    EXPECT_EQ(Status(STATUS_WAKE_DELAY_SECONDS), 0u);
    pc.Resume();
}

// The supervisor in another folder than the companion: every start fails.
TEST_F(SupervisorTest, FailedStartsOfTheCompanionAreCountedApart)
{
    StartSupervisor("\"C:\\Elsewhere\\DOZEWARD.EXE\"");
    pc.Advance(30 * SECOND_MS + 1);
    const auto status = [&](WPARAM field) {
        return static_cast<std::uint32_t>(
            pc.SendFromOutside(control, WM_SUPERVISOR_STATUS, field, 0));
    };
    EXPECT_EQ(CountCalls("CreateProcessA"), 3);
    EXPECT_EQ(status(STATUS_COMPANION_START_FAILURES), 3u);
    EXPECT_EQ(status(STATUS_COMPANION_STARTS), 0u);
    EXPECT_EQ(status(STATUS_LAST_START_AT), 0u);
}

} // namespace
