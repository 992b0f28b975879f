// The command protocol over virtual time: sleep, cancel at every point of a
// cycle, a second sleep while one runs, and codes that mean nothing.
#include "supervisor_fixture.h"

#include <algorithm>

namespace {

class CommandTest : public SupervisorTest {
protected:
    CommandTest()
    {
        pc.SetUtcTime(12, 0, 0);
        pc.StartCompanionByHand();
        StartSupervisor();
        baselineHandles = pc.OpenHandleCount();
    }

    void ExpectNothingLeftBehind()
    {
        EXPECT_EQ(pc.LiveThreadCount(), 0);
        EXPECT_EQ(pc.BlockedThreadCount(), 1) << "only the main thread's loop may wait";
        EXPECT_EQ(pc.OpenHandleCount(), baselineHandles);
        EXPECT_EQ(supervisor.wakeTimer.load(), nullptr);
        EXPECT_FALSE(supervisor.cycleUnderWay);
        EXPECT_TRUE(WatchdogArmed());
    }

    // Runs until the worker has armed its timer and waits on it, awake
    // because the hibernation was refused.
    void RunToTheWaitAwake(std::int32_t delaySeconds)
    {
        pc.SetHibernationAccepted(false);
        Command(906, delaySeconds);
        pc.Advance(7 * SECOND_MS);
        ASSERT_EQ(CountCalls("WaitForMultipleObjects"), 1);
    }

    int baselineHandles = 0;
};

TEST_F(CommandTest, CodesThatMeanNothingDoNothingAndReturnZero)
{
    pc.ClearTrace();
    const std::pair<WPARAM, LPARAM> cases[] = {
        {0, 0},
        {905, 60},
        {907, 60},
        {998, 0},
        {1000, 0},
        {999 + 0x10000, 0},
        {static_cast<WPARAM>(-1), -1},
        {999, 5}, // no armed timer
    };
    for (const auto& [code, argument] : cases) {
        EXPECT_EQ(Command(code, argument), 0) << code;
    }
    EXPECT_EQ(pc.TraceTexts(
                  {"CreateThread", "KillTimer", "SetTimer", "CancelWaitableTimer", "CreateEventA"}),
              std::vector<std::string>{});
    EXPECT_EQ(WatchdogDueMs(), startedAtMs + 10000);
}

TEST_F(CommandTest, SleepReturnsAtOnceWithTheDelayStoredUnchanged)
{
    pc.SetHibernationAccepted(false);
    for (std::int32_t delay : {-3700, 0, 1, 3600}) {
        SCOPED_TRACE(delay);
        pc.ClearTrace();
        EXPECT_EQ(Command(906, delay), 0);
        EXPECT_EQ(supervisor.wakeDelaySeconds, delay);
        EXPECT_EQ(CountCalls("CreateThread"), 1);
        EXPECT_EQ(CountCalls("FindWindowA(ORIELDESK)"), 0) << "the command does not wait";
        pc.Advance(7 * SECOND_MS + static_cast<std::uint64_t>(std::max(delay, 0)) * SECOND_MS +
                   AFTER_WAKE_MS);
        EXPECT_EQ(CountCalls("mouse_event"), 2);
        ExpectNothingLeftBehind();
    }
}

TEST_F(CommandTest, CancelBeforeTheTimerIsArmedFindsNothingAndTheCycleGoesOn)
{
    const std::uint64_t commandAt = pc.NowMs();
    Command(906, 60);
    for (std::uint64_t at : {500, 3000}) { // in the waits before and after the close
        pc.Advance(commandAt + at - pc.NowMs());
        EXPECT_EQ(Command(999), 0);
    }
    EXPECT_EQ(CountCalls("CancelWaitableTimer"), 0);
    pc.Advance(10 * SECOND_MS);
    EXPECT_EQ(pc.HibernationCount(), 1);
    pc.Advance(60 * SECOND_MS + AFTER_WAKE_MS);
    EXPECT_EQ(CountCalls("mouse_event"), 2);
    ExpectNothingLeftBehind();
}

// A cancel placed just before each call the worker makes from the store of
// its timer up to its wait. Whatever the moment, no timer is armed after the
// cancel took it and no hibernation is requested after that: a cancel that
// comes while the worker arms and requests the hibernation waits until the
// request has returned (the PC woke at the due time), and then acts on the
// spent timer as a cancel during the closing steps does. A cancel before the
// store finds no timer and the cycle goes on.
TEST_F(CommandTest, CancelAtEveryPointFromTheStoreToTheWaitIsNeverUndone)
{
    const struct {
        const char* before;
        bool takesTheTimer;
        const char* firstPast = nullptr; // a call to pass first, where the name is not unique
    } points[] = {
        {"WaitForSingleObject", false}, // the worker's wait for the guard, before the store
        {"SetWaitableTimer", true},
        {"OpenProcessToken", true},
        {"LookupPrivilegeValueA", true},
        {"AdjustTokenPrivileges", true},
        {"CloseHandle", true, "AdjustTokenPrivileges"}, // the token's, not the log's
        {"SetSuspendState", true},
        {"ReleaseMutex", true},
        {"WaitForMultipleObjects", true},
    };
    for (const auto& point : points) {
        SCOPED_TRACE(std::string("cancel before ") + point.before);
        pc.ClearTrace();
        const int hibernationsBefore = pc.HibernationCount();
        Command(906, 3600);
        if (point.firstPast != nullptr) {
            pc.PauseBefore(point.firstPast);
            ASSERT_TRUE(pc.AdvanceUntil([&] { return pc.Paused(); }, 2 * HOUR_MS));
            pc.Resume();
            pc.PauseBefore(point.before);
        } else {
            pc.PauseBefore(point.before);
        }
        ASSERT_TRUE(pc.AdvanceUntil([&] { return pc.Paused(); }, 2 * HOUR_MS));
        if (point.firstPast != nullptr) {
            EXPECT_EQ(pc.Trace().back().text.rfind(point.firstPast, 0), 0U) << "held elsewhere";
        }
        pc.PostFromOutside(control, WM_APP + 1, 999, 0);
        pc.RunUntilIdle();
        pc.Resume();

        if (point.takesTheTimer) {
            ASSERT_TRUE(pc.AdvanceUntil([&] { return CountCalls("CancelWaitableTimer") == 1; },
                                        2 * HOUR_MS));
            // The watchdog's next check comes one period after the cancel.
            const std::vector<TimedCall> cancels = CallsSince(0, {"CancelWaitableTimer"});
            EXPECT_EQ(WatchdogDueMs(), cancels[0].atMs + 10000);
        } else {
            pc.RunUntilIdle();
            EXPECT_FALSE(WatchdogArmed()) << "a cancel that finds nothing re-arms nothing";
        }
        pc.Advance(2 * HOUR_MS);

        // Nothing is armed or hibernated once the cancel has the timer.
        const std::vector<std::string> calls = pc.TraceTexts(
            {"CancelWaitableTimer", "SetWaitableTimer", "SetSuspendState", "CreateWaitableTimerA"});
        const auto cancel = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
            return call.rfind("CancelWaitableTimer", 0) == 0;
        });
        EXPECT_EQ(cancel != calls.end(), point.takesTheTimer);
        if (cancel != calls.end()) {
            EXPECT_EQ(std::vector<std::string>(cancel + 1, calls.end()), std::vector<std::string>{})
                << "armed or hibernated after the cancel";
        }
        EXPECT_EQ(pc.HibernationCount() - hibernationsBefore, 1);
        EXPECT_EQ(CountCalls("CreateWaitableTimerA"), 1);
        // The cycle ran on to its end in every case: the PC woke at the due time.
        EXPECT_EQ(pc.MouseMoves().size() % 2, 0U);
        EXPECT_EQ(CountCalls("mouse_event"), 2);
        ExpectNothingLeftBehind();
    }
}

TEST_F(CommandTest, CancelDuringTheWaitEndsTheWorkerWithoutItsClosingSteps)
{
    RunToTheWaitAwake(3600);
    pc.Advance(100 * SECOND_MS);
    const std::uint64_t cancelAt = pc.NowMs();
    const std::string logBefore = Log();
    EXPECT_EQ(Command(999), 0);
    pc.RunUntilIdle();
    EXPECT_EQ(pc.LiveThreadCount(), 0) << "the worker must not wait for ever";
    EXPECT_EQ(WatchdogDueMs(), cancelAt + 10000);

    // The watchdog, not the worker, brings the companion back, and nothing is logged.
    pc.Advance(2 * HOUR_MS);
    EXPECT_TRUE(pc.MouseMoves().empty());
    EXPECT_EQ(CompanionStartTimes(), std::vector<std::uint64_t>{cancelAt + 10000});
    EXPECT_EQ(Log(), logBefore);
    EXPECT_EQ(CountCalls("CloseHandle(timer"), 1);
    ExpectNothingLeftBehind();
}

TEST_F(CommandTest, CancelAfterAnEarlyWakeUpHandsTheCompanionBackToTheWatchdog)
{
    Command(906, 3600);
    pc.Advance(60 * SECOND_MS);
    ASSERT_TRUE(pc.Hibernating());
    pc.WakeUp();
    pc.RunUntilIdle();
    const std::uint64_t cancelAt = pc.NowMs();
    Command(999);
    pc.Advance(HOUR_MS);
    EXPECT_EQ(CompanionStartTimes(), std::vector<std::uint64_t>{cancelAt + 10000});
    EXPECT_TRUE(pc.MouseMoves().empty());
    ExpectNothingLeftBehind();
}

TEST_F(CommandTest, CancelAfterTheTimerFiredEmptiesTheSlotAndTheCycleStillEnds)
{
    RunToTheWaitAwake(60);
    pc.Advance(60 * SECOND_MS + 5 * SECOND_MS); // fired, worker in its settling wait
    ASSERT_EQ(pc.MouseMoves().size(), 2U);
    const std::uint64_t cancelAt = pc.NowMs();
    Command(999);
    EXPECT_EQ(supervisor.wakeTimer.load(), nullptr);
    EXPECT_EQ(WatchdogDueMs(), cancelAt + 10000);
    pc.Advance(AFTER_WAKE_MS);
    // The worker's own steps still run: restart, log, re-arm at its end.
    EXPECT_EQ(CompanionStartTimes().size(), 1U);
    EXPECT_NE(Log().find("( WAKEUP )"), std::string::npos);
    EXPECT_EQ(CountCalls("CloseHandle(timer"), 1);
    ExpectNothingLeftBehind();
}

// The cancel takes the spent timer out of the slot and is held just before it
// cancels it, while the worker reaches the end of its cycle: the worker must
// not release the timer until the cancel is done with it.
TEST_F(CommandTest, TimerTakenByACancelIsReleasedOnlyAfterTheCancelIsDoneWithIt)
{
    RunToTheWaitAwake(60);
    pc.Advance(60 * SECOND_MS + SECOND_MS); // fired; the worker waits its 10 s
    pc.PauseBefore("CancelWaitableTimer");
    Command(999);
    ASSERT_TRUE(pc.Paused());
    pc.Advance(AFTER_WAKE_MS); // the worker reaches its release meanwhile
    pc.Resume();
    pc.Advance(SECOND_MS);

    const std::vector<std::string> calls =
        pc.TraceTexts({"CancelWaitableTimer", "CloseHandle(timer"});
    ASSERT_EQ(calls.size(), 2U);
    EXPECT_EQ(calls[0].rfind("CancelWaitableTimer", 0), 0U) << "released under the cancel's feet";
    ExpectNothingLeftBehind();
}

TEST_F(CommandTest, SecondSleepWhileACycleIsUnderWayIsIgnoredAtEveryPhase)
{
    const struct {
        const char* phase;
        std::uint64_t afterMs; // from the first command; the hibernation is refused
    } phases[] = {
        {"before the close", 500},
        {"after the close", 4000},
        {"waiting for the timer", 30 * SECOND_MS},
        {"in the closing steps", 60 * SECOND_MS + 7 * SECOND_MS + 5 * SECOND_MS},
    };
    pc.SetHibernationAccepted(false);
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.phase);
        pc.ClearTrace();
        pc.WriteFileBytes("DOZEWARD.LOG", "");
        pc.SetUtcTime(12, 0, 0);
        Command(906, 60);
        pc.Advance(phase.afterMs);
        EXPECT_EQ(Command(906, 7200), 0);
        pc.Advance(2 * 60 * SECOND_MS);
        EXPECT_EQ(CountCalls("CreateThread"), 1);
        EXPECT_EQ(CountCalls("CreateWaitableTimerA"), 1);
        EXPECT_NE(Log().find("NEXT WAKEUP 12:01"), std::string::npos) << Log();
        ExpectNothingLeftBehind();
    }
    // Once the cycle has ended, the next sleep command runs a cycle again.
    pc.ClearTrace();
    Command(906, 60);
    EXPECT_EQ(CountCalls("CreateThread"), 1);
}

// While a wake-up is armed, a code that only looks like the cancel (or like
// nothing at all) must leave it armed.
TEST_F(CommandTest, CodesThatMeanNothingLeaveAnArmedWakeUpAlone)
{
    RunToTheWaitAwake(600);
    pc.ClearTrace();
    for (WPARAM code : {WPARAM{0}, WPARAM{905}, WPARAM{998}, WPARAM{1000}, WPARAM{999 + 0x10000},
                        static_cast<WPARAM>(-1)}) {
        EXPECT_EQ(Command(code, 0), 0) << code;
    }
    EXPECT_EQ(
        pc.TraceTexts({"CancelWaitableTimer", "SetEvent", "KillTimer", "SetTimer", "CreateThread"}),
        std::vector<std::string>{});
    EXPECT_NE(supervisor.wakeTimer.load(), nullptr);
    pc.Advance(600 * SECOND_MS + AFTER_WAKE_MS);
    EXPECT_EQ(pc.MouseMoves().size(), 2U) << "the wake-up came as armed";
    ExpectNothingLeftBehind();
}

TEST_F(CommandTest, CycleEndMessageFromAnotherProgramDoesNothing)
{
    Command(906, 60);
    pc.Advance(2 * SECOND_MS);
    pc.ClearTrace();
    EXPECT_EQ(pc.SendFromOutside(control, WM_APP + 2, 0, 0), 0);
    EXPECT_EQ(pc.TraceTexts({"SetTimer", "KillTimer"}), std::vector<std::string>{});
    EXPECT_FALSE(WatchdogArmed());
    EXPECT_TRUE(supervisor.cycleUnderWay);
    Command(906, 60);
    EXPECT_EQ(CountCalls("CreateThread"), 0);

    // Nor once a real cycle has ended and its end has been taken.
    pc.Advance(7 * SECOND_MS + 60 * SECOND_MS + AFTER_WAKE_MS);
    ASSERT_FALSE(supervisor.cycleUnderWay);
    const std::uint64_t dueBefore = WatchdogDueMs();
    pc.ClearTrace();
    EXPECT_EQ(pc.SendFromOutside(control, WM_APP + 2, 0, 0), 0);
    EXPECT_EQ(pc.TraceTexts({"SetTimer", "KillTimer", "CloseHandle"}), std::vector<std::string>{});
    EXPECT_EQ(WatchdogDueMs(), dueBefore);
    ExpectNothingLeftBehind();
}

} // namespace
