// The sleep-and-wake cycle over virtual time: the whole sequence of services
// with their times, and each way the PC, the companion or the delay can
// bend it.
#include "supervisor_fixture.h"

namespace {

// The calls that make up a cycle, as the tests below follow them.
const std::vector<std::string> CYCLE_CALLS = {
    "KillTimer",
    "SetTimer",
    "CreateThread",
    "Sleep",
    "FindWindowA(ORIELDESK)",
    "SendMessage",
    "CreateWaitableTimerA",
    "SetWaitableTimer",
    "AdjustTokenPrivileges",
    "SetSuspendState",
    "WaitFor",
    "ReleaseMutex",
    "mouse_event",
    "CreateProcessA",
    "CloseHandle(process",
    "CloseHandle(thread",
    "CloseHandle(timer",
    "PostMessageA",
};

class CycleTest : public SupervisorTest {
protected:
    explicit CycleTest(sim::CompanionModel companion = {}) : SupervisorTest(companion)
    {
        pc.SetUtcTime(23, 30, 0);
        pc.StartCompanionByHand();
        StartSupervisor();
        baselineHandles = pc.OpenHandleCount();
        pc.ClearTrace(); // the cycles' calls only, not start-up's
    }

    // Everything a finished cycle must leave as it found it.
    void ExpectNothingLeftBehind()
    {
        EXPECT_EQ(pc.LiveThreadCount(), 0);
        EXPECT_EQ(pc.OpenHandleCount(), baselineHandles);
        EXPECT_EQ(supervisor.wakeTimer.load(), nullptr);
        EXPECT_FALSE(supervisor.cycleUnderWay);
        EXPECT_TRUE(WatchdogArmed());
        EXPECT_TRUE(pc.ProcessRunning(process));
    }

    int baselineHandles = 0;
};

TEST_F(CycleTest, WholeCycleRunsItsStepsInOrderAtTheirTimes)
{
    const std::uint64_t commandAt = pc.NowMs();
    EXPECT_EQ(Command(906, 3600), 0);
    pc.Advance(7 * SECOND_MS + HOUR_MS + 10040 + 1);

    const std::uint64_t woke = 7000 + HOUR_MS;
    const std::uint64_t restart = woke + 10040;
    const std::vector<TimedCall> expected = {
        {0, "KillTimer(DOZEWARD,10000)"},
        {0, "CreateThread"},
        {0, "CloseHandle(thread#)"},
        {0, "Sleep(1000)"},
        {1000, "FindWindowA(ORIELDESK)"},
        {1000, "SendMessageTimeoutA(ORIELDESK,0x0002,5000)"},
        {1000, "Sleep(6000)"},
        {7000, "CreateWaitableTimerA -> timer#"},
        {7000, "WaitForSingleObject(mutex#)"},
        {7000, "SetWaitableTimer(timer#,-36000000000,resume)"},
        {7000, "AdjustTokenPrivileges(SeShutdownPrivilege)"},
        {7000, "SetSuspendState(1,0,0)"},
        {woke, "ReleaseMutex(mutex#)"},
        {woke, "WaitForMultipleObjects(timer#,event#)"},
        {woke, "mouse_event(1,0,1)"},
        {woke, "Sleep(40)"},
        {woke + 40, "mouse_event(1,0,-1)"},
        {woke + 40, "Sleep(10000)"},
        {restart, "FindWindowA(ORIELDESK)"},
        // Shown normally, in the supervisor's own current directory; both
        // handles closed at once.
        {restart, "CreateProcessA(none,\"C:\\PC\\ORB.EXE\",1,none)"},
        {restart, "CloseHandle(thread#)"},
        {restart, "CloseHandle(process#)"},
        {restart, "CloseHandle(timer#)"},
        {restart, "PostMessageA(DOZEWARD,0x8002)"},
        {restart, "KillTimer(DOZEWARD,10000)"},
        {restart, "SetTimer(DOZEWARD,10000,10000)"},
    };
    EXPECT_EQ(CallsSince(commandAt, CYCLE_CALLS), expected);
    EXPECT_EQ(Log(), "00'30'17 ( WAKEUP )\r\n23'30'07 ( NEXT WAKEUP 00:30 )\r\n");
    EXPECT_EQ(pc.HibernationCount(), 1);
    EXPECT_TRUE(pc.ShutdownPrivilegeEnabled());
    EXPECT_EQ(WatchdogDueMs(), commandAt + restart + 10000);
    ExpectNothingLeftBehind();

    // Supervision goes on: the restarted companion is left alone while it runs.
    pc.Advance(3 * 10000);
    EXPECT_EQ(CompanionStartTimes().size(), 1U);
    EXPECT_TRUE(pc.CompanionWindowPresent());
}

TEST_F(CycleTest, CompanionAlreadyRunningAfterTheWakeUpIsNeitherStartedNorLogged)
{
    Command(906, 60);
    ASSERT_TRUE(pc.AdvanceUntil([&] { return CountCalls("mouse_event") == 2; }, HOUR_MS));
    pc.StartCompanionByHand();
    pc.Advance(AFTER_WAKE_MS);
    EXPECT_TRUE(pc.ProcessStarts().empty());
    EXPECT_EQ(Log(), "23'30'07 ( NEXT WAKEUP 23:31 )\r\n");
    ExpectNothingLeftBehind();
}

// A delay of zero or less arms a timer that is due at once: no wake-up is
// pending, the PC resumes only by other means, and the wait then ends at once.
TEST_F(CycleTest, DelayOfZeroOrLessDoesNotWaitAfterTheResume)
{
    const struct {
        std::int32_t delay;
        const char* dueTime;
        const char* entry;
    } cases[] = {
        {0, "SetWaitableTimer(timer#,0,resume)", "23'30'07 ( NEXT WAKEUP 23:30 )\r\n"},
        {-3700, "SetWaitableTimer(timer#,37000000000,resume)",
         "23'30'07 ( NEXT WAKEUP 22:28 )\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.delay);
        pc.WriteFileBytes("DOZEWARD.LOG", "");
        pc.SetUtcTime(23, 30, 0);
        if (!pc.CompanionWindowPresent()) {
            pc.StartCompanionByHand();
        }
        const std::uint64_t commandAt = pc.NowMs();
        Command(906, c.delay);
        pc.Advance(7 * SECOND_MS);
        ASSERT_TRUE(pc.Hibernating());
        pc.Advance(HOUR_MS);
        EXPECT_TRUE(pc.Hibernating()) << "nothing is armed to wake the PC";
        pc.WakeUp();
        const std::uint64_t wokeAt = pc.NowMs();
        pc.RunUntilIdle();
        const auto moves = pc.MouseMoves();
        ASSERT_FALSE(moves.empty());
        EXPECT_EQ(moves.back().atMs, wokeAt);
        pc.Advance(AFTER_WAKE_MS);
        EXPECT_EQ(CallsSince(commandAt, {"SetWaitableTimer"}),
                  (std::vector<TimedCall>{{7000, c.dueTime}}));
        const std::string log = Log();
        const std::string entry = c.entry;
        ASSERT_GE(log.size(), entry.size());
        EXPECT_EQ(log.substr(log.size() - entry.size()), entry) << log;
        ExpectNothingLeftBehind();
    }
}

TEST_F(CycleTest, RefusedHibernationWaitsForTheTimerAwake)
{
    pc.SetHibernationAccepted(false);
    Command(906, 600);
    pc.Advance(7 * SECOND_MS);
    EXPECT_FALSE(pc.Hibernating());
    EXPECT_EQ(pc.BlockedThreadCount(), 2); // the main thread's loop and the waiting worker
    pc.Advance(600 * SECOND_MS - 1);
    EXPECT_TRUE(pc.MouseMoves().empty());
    pc.Advance(1);
    EXPECT_EQ(pc.MouseMoves().size(), 1U);
    pc.Advance(AFTER_WAKE_MS);
    EXPECT_EQ(CompanionStartTimes().size(), 1U);
    ExpectNothingLeftBehind();
}

TEST_F(CycleTest, EarlyWakeLeavesTheCompanionClosedUntilTheTimerIsDue)
{
    const std::uint64_t commandAt = pc.NowMs();
    Command(906, 3600);
    pc.Advance(7 * SECOND_MS + 100 * SECOND_MS);
    pc.WakeUp();
    pc.Advance(HOUR_MS - 100 * SECOND_MS - 1);
    EXPECT_TRUE(pc.ProcessStarts().empty());
    EXPECT_FALSE(pc.CompanionWindowPresent());
    EXPECT_TRUE(pc.MouseMoves().empty());
    pc.Advance(1);
    ASSERT_EQ(pc.MouseMoves().size(), 1U);
    EXPECT_EQ(pc.MouseMoves()[0].atMs, commandAt + 7000 + HOUR_MS);
    pc.Advance(AFTER_WAKE_MS);
    EXPECT_EQ(CompanionStartTimes().size(), 1U);
    ExpectNothingLeftBehind();
}

TEST_F(CycleTest, CloseDuringACycleEndsWithZeroAndLeavesNoThread)
{
    Command(906, 3600);
    pc.Advance(3 * SECOND_MS);
    EXPECT_EQ(pc.LiveThreadCount(), 1);
    EXPECT_EQ(pc.SendFromOutside(control, WM_CLOSE, 0, 0), 0);
    ASSERT_TRUE(pc.RunToExit(process, 1000));
    EXPECT_EQ(pc.ExitCode(process), 0);
    EXPECT_EQ(pc.LiveThreadCount(), 0);
    EXPECT_TRUE(pc.WindowTimers().empty());
}

TEST_F(CycleTest, MainThreadAnswersThroughoutTheCycle)
{
    Command(906, 60);
    // Every half second until the cycle has ended, outside the hibernation.
    int answered = 0;
    while (supervisor.cycleUnderWay || answered == 0) {
        pc.Advance(500);
        if (pc.Hibernating()) {
            continue;
        }
        EXPECT_EQ(Command(12345, 1), 0);
        EXPECT_EQ(pc.SendFromOutside(control, WM_USER, 0, 0), sim::DefWindowProcResult(WM_USER));
        ++answered;
        ASSERT_LT(answered, 400);
    }
    ExpectNothingLeftBehind();
}

class HungCompanionTest : public CycleTest {
protected:
    HungCompanionTest() : CycleTest(sim::CompanionModel{500, true}) {}
};

TEST_F(HungCompanionTest, CloseIsBoundedAndTheCycleGoesOn)
{
    const std::uint64_t commandAt = pc.NowMs();
    Command(906, 60);
    pc.Advance(HOUR_MS);
    const std::vector<TimedCall> expected = {
        {1000, "SendMessageTimeoutA(ORIELDESK,0x0002,5000)"},
        {6000, "Sleep(6000)"},
        {12000, "SetSuspendState(1,0,0)"},
    };
    EXPECT_EQ(CallsSince(commandAt, {"SendMessage", "Sleep(6000)", "SetSuspendState"}), expected);
    EXPECT_EQ(pc.MouseMoves().size(), 2U);
    ExpectNothingLeftBehind();
}

} // namespace
