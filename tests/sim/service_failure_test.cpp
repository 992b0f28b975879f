// The sleep command and the cycle when the PC's services fail or refuse:
// no event, no thread or no waitable timer to be had, an end-of-cycle post
// that is refused, a control window's queue that is full, and a companion
// that has hung before the cycle closes it.
#include "supervisor_fixture.h"

namespace {

class ServiceFailureTest : public SupervisorTest {
protected:
    explicit ServiceFailureTest(sim::CompanionModel companion = {}) : SupervisorTest(companion)
    {
        pc.SetUtcTime(23, 30, 0);
        pc.StartCompanionByHand();
        StartSupervisor();
        baselineHandles = pc.OpenHandleCount();
        pc.ClearTrace();
    }

    void ExpectAtRest()
    {
        EXPECT_EQ(pc.LiveThreadCount(), 0);
        EXPECT_EQ(pc.BlockedThreadCount(), 1);
        EXPECT_EQ(pc.OpenHandleCount(), baselineHandles);
        EXPECT_EQ(supervisor.wakeTimer.load(), nullptr);
        EXPECT_FALSE(supervisor.cycleUnderWay);
        EXPECT_TRUE(WatchdogArmed());
    }

    // A sleep command after the failure runs a whole cycle as usual.
    void ExpectTheNextCommandRunsACycle()
    {
        pc.ClearTrace();
        pc.SetHibernationAccepted(false);
        Command(906, 60);
        pc.Advance(7000 + 60000 + 10100);
        EXPECT_EQ(CountCalls("CreateThread"), 1);
        EXPECT_EQ(CountCalls("PostMessageA(DOZEWARD,0x8002)"), 1);
        ExpectAtRest();
    }

    int baselineHandles = 0;
};

TEST_F(ServiceFailureTest, NoEventMeansNoCycleAndTheWatchdogRunsOn)
{
    pc.InjectFault(sim::FaultKind::EventFail, 1);
    EXPECT_EQ(Command(906, 60), 0);
    pc.Advance(20000);
    EXPECT_TRUE(pc.FaultHit());
    EXPECT_EQ(pc.TraceTexts({"CreateEventA", "KillTimer", "CreateThread", "SetTimer"}),
              std::vector<std::string>{"CreateEventA -> none"});
    EXPECT_EQ(pc.HibernationCount(), 0);
    ExpectAtRest();
    ExpectTheNextCommandRunsACycle();
}

TEST_F(ServiceFailureTest, NoGuardMeansNoCycleAndTheEventIsClosedAgain)
{
    pc.InjectFault(sim::FaultKind::MutexFail, 1);
    EXPECT_EQ(Command(906, 60), 0);
    pc.Advance(20000);
    EXPECT_TRUE(pc.FaultHit());
    EXPECT_EQ(pc.TraceTexts({"CreateEventA", "CreateMutexA", "CloseHandle", "KillTimer",
                             "CreateThread", "SetTimer"}),
              (std::vector<std::string>{"CreateEventA -> event#1", "CreateMutexA(none)",
                                        "CloseHandle(event#1)"}));
    EXPECT_EQ(pc.HibernationCount(), 0);
    ExpectAtRest();
    ExpectTheNextCommandRunsACycle();
}

TEST_F(ServiceFailureTest, NoThreadMeansNoCycleAndTheWatchdogIsArmedAgain)
{
    pc.InjectFault(sim::FaultKind::ThreadFail, 1);
    const std::uint64_t commandAt = pc.NowMs();
    EXPECT_EQ(Command(906, 60), 0);
    pc.Advance(20000);
    EXPECT_TRUE(pc.FaultHit());
    EXPECT_EQ(CallsSince(commandAt, {"CreateEventA", "CreateMutexA", "KillTimer", "CreateThread",
                                     "CloseHandle", "SetTimer"}),
              (std::vector<TimedCall>{{0, "CreateEventA -> event#"},
                                      {0, "CreateMutexA(none)"},
                                      {0, "KillTimer(DOZEWARD,10000)"},
                                      {0, "CreateThread"},
                                      {0, "CloseHandle(mutex#)"},
                                      {0, "CloseHandle(event#)"},
                                      {0, "SetTimer(DOZEWARD,10000,10000)"}}));
    EXPECT_EQ(pc.HibernationCount(), 0);
    ExpectAtRest();
    ExpectTheNextCommandRunsACycle();
}

TEST_F(ServiceFailureTest, NoWakeTimerStillHibernatesAndEndsTheCycleAfterAManualWakeUp)
{
    pc.InjectFault(sim::FaultKind::TimerFail, 1);
    Command(906, 60);
    pc.Advance(7000);
    EXPECT_TRUE(pc.FaultHit());
    ASSERT_TRUE(pc.Hibernating());
    pc.Advance(3 * HOUR_MS);
    EXPECT_TRUE(pc.Hibernating()) << "no timer was armed to wake the PC";
    pc.WakeUp();
    pc.Advance(10100);
    EXPECT_EQ(pc.TraceTexts({"CreateWaitableTimerA", "SetWaitableTimer", "WaitForMultiple"}),
              (std::vector<std::string>{"CreateWaitableTimerA -> none",
                                        "SetWaitableTimer(none,-600000000,resume)"}));
    EXPECT_EQ(pc.MouseMoves().size(), 2U);
    EXPECT_EQ(pc.ProcessStarts().size(), 1U);
    ExpectAtRest();
    ExpectTheNextCommandRunsACycle();
}

TEST_F(ServiceFailureTest, RefusedEndOfCyclePostIsRetriedASecondLater)
{
    pc.SetHibernationAccepted(false);
    Command(906, 60);
    pc.Advance(7000 + 60000 + 10040 - 1);
    pc.InjectFault(sim::FaultKind::PostFail, 1);
    const std::uint64_t endAt = pc.NowMs() + 1;
    pc.Advance(2000);
    EXPECT_TRUE(pc.FaultHit());
    EXPECT_EQ(CallsSince(endAt, {"PostMessageA", "Sleep", "SetTimer"}),
              (std::vector<TimedCall>{{0, "PostMessageA(DOZEWARD,0x8002)"},
                                      {0, "Sleep(1000)"},
                                      {1000, "PostMessageA(DOZEWARD,0x8002)"},
                                      {1000, "SetTimer(DOZEWARD,10000,10000)"}}));
    ExpectAtRest();
}

TEST_F(ServiceFailureTest, FullQueueRefusesTheEndOfCyclePostUntilTheMainThreadHasDrainedIt)
{
    pc.SetHibernationAccepted(false);
    Command(906, 60);
    pc.Advance(7000 + 60000 + 10040 - 1000);
    // Hold the main thread in the middle of a message, and fill its queue
    // behind it: 10,000 posted messages fit, the next one does not.
    pc.PauseBefore("DispatchMessageA");
    ASSERT_TRUE(pc.PostFromOutside(control, WM_USER, 0, 0));
    pc.RunUntilIdle();
    ASSERT_TRUE(pc.Paused());
    for (int i = 0; i < 10000; ++i) {
        ASSERT_TRUE(pc.PostFromOutside(control, WM_USER, 0, 0)) << i;
    }
    EXPECT_FALSE(pc.PostFromOutside(control, WM_USER, 0, 0));
    const std::uint64_t endAt = pc.NowMs() + 1000;
    pc.Advance(1000);
    EXPECT_EQ(pc.LiveThreadCount(), 1) << "the worker cannot report its end";
    pc.Resume();
    pc.Advance(1000);
    EXPECT_EQ(CallsSince(endAt, {"PostMessageA", "Sleep(1000)", "SetTimer"}),
              (std::vector<TimedCall>{{0, "PostMessageA(DOZEWARD,0x8002)"},
                                      {0, "Sleep(1000)"},
                                      {1000, "PostMessageA(DOZEWARD,0x8002)"},
                                      {1000, "SetTimer(DOZEWARD,10000,10000)"}}));
    ExpectAtRest();
}

class CompanionHungBeforeTheCloseTest : public ServiceFailureTest {
protected:
    CompanionHungBeforeTheCloseTest() : ServiceFailureTest(MakeHungModel()) {}
    static sim::CompanionModel MakeHungModel()
    {
        sim::CompanionModel model;
        model.hungFromStart = true;
        return model;
    }
};

// Windows gives up at once on a window that has not taken a message for 5 s,
// where a plain bounded send waits its 5 s out.
TEST_F(CompanionHungBeforeTheCloseTest, CloseGivesUpAtOnceAndTheCycleGoesOn)
{
    pc.Advance(5000);
    const std::uint64_t commandAt = pc.NowMs();
    Command(906, 60);
    pc.Advance(HOUR_MS);
    EXPECT_EQ(CallsSince(commandAt, {"SendMessageTimeoutA", "Sleep(6000)", "SetSuspendState"}),
              (std::vector<TimedCall>{{1000, "SendMessageTimeoutA(ORIELDESK,0x0002,5000)"},
                                      {1000, "Sleep(6000)"},
                                      {7000, "SetSuspendState(1,0,0)"}}));
    EXPECT_EQ(pc.MouseMoves().size(), 2U);
    EXPECT_TRUE(pc.CompanionWindowPresent()) << "the hung companion is still there";
    EXPECT_TRUE(pc.ProcessStarts().empty());
    ExpectAtRest();
}

} // namespace
