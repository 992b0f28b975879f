// The watchdog over virtual time: a check every 10 s from start-up on, one
// start attempt per check while the companion's window is missing.
#include "supervisor_fixture.h"

#include <cstdio>
#include <optional>

namespace {

using WatchdogTest = SupervisorTest;

TEST_F(WatchdogTest, StartsTheMissingCompanionAtTheFirstCheckTenSecondsAfterStartUp)
{
    StartSupervisor();
    const std::uint64_t startedAt = pc.NowMs();
    pc.Advance(10000 - 1);
    EXPECT_TRUE(CompanionStartTimes().empty());
    pc.Advance(1);
    EXPECT_EQ(CompanionStartTimes(), std::vector<std::uint64_t>{startedAt + 10000});

    // Once its window is there, later checks start nothing.
    pc.Advance(10 * 10000);
    EXPECT_TRUE(pc.CompanionWindowPresent());
    EXPECT_EQ(CompanionStartTimes().size(), 1U);
    EXPECT_EQ(Log(), "<no log>");
}

TEST_F(WatchdogTest, CompanionRunningAtEveryCheckIsNeverStarted)
{
    pc.StartCompanionByHand();
    StartSupervisor();
    pc.Advance(60 * 10000);
    EXPECT_TRUE(pc.ProcessStarts().empty());
    EXPECT_EQ(CountCalls("FindWindowA(ORIELDESK)"), 60);
}

class MissingExecutableTest : public SupervisorTest {
protected:
    MissingExecutableTest() { pc.InstallCompanion("\"C:\\ELSEWHERE\\ORB.EXE\""); }
};

TEST_F(MissingExecutableTest, EveryCheckTriesOnceMoreWithoutLimitOrLog)
{
    StartSupervisor();
    const std::uint64_t startedAt = pc.NowMs();
    pc.Advance(6 * 10000);
    std::vector<std::uint64_t> expected;
    for (std::uint64_t tick = 1; tick <= 6; ++tick) {
        expected.push_back(startedAt + tick * 10000);
    }
    EXPECT_EQ(CompanionStartTimes(), expected);
    EXPECT_FALSE(pc.CompanionWindowPresent());
    EXPECT_EQ(Log(), "<no log>");
}

class SlowCompanionTest : public SupervisorTest {
protected:
    SlowCompanionTest() : SupervisorTest(sim::CompanionModel{15 * SECOND_MS, false}) {}
};

TEST_F(SlowCompanionTest, IsStartedAgainAtTheNextCheckWhileItsWindowIsMissing)
{
    StartSupervisor();
    const std::uint64_t startedAt = pc.NowMs();
    pc.Advance(6 * 10000);
    EXPECT_EQ(CompanionStartTimes(),
              (std::vector<std::uint64_t>{startedAt + 10000, startedAt + 2 * 10000}));
}

// A companion that is slow to reach its message loop, or never does, must not
// hold the supervisor: while it starts, a posted cancel is handled at once and
// WM_CLOSE ends the supervisor at once.
struct SlowStart {
    const char* name;
    std::optional<std::uint64_t> firstGetMessageAfterMs;
};

const SlowStart SLOW_STARTS[] = {
    {"ReachesItsMessageLoopAfter30s", 30 * SECOND_MS},
    {"NeverReachesItsMessageLoop", std::nullopt},
};

class SlowStartTest : public SupervisorTest, public ::testing::WithParamInterface<SlowStart> {
protected:
    SlowStartTest() : SupervisorTest(Model(GetParam())) {}

    static sim::CompanionModel Model(const SlowStart& start)
    {
        sim::CompanionModel model;
        model.appearAfterMs = 30 * SECOND_MS;
        model.firstGetMessageAfterMs = start.firstGetMessageAfterMs;
        return model;
    }
};

TEST_P(SlowStartTest, WhileTheCompanionStartsACancelIsHandledAndCloseEndsAtOnce)
{
    StartSupervisor();
    pc.SetHibernationAccepted(false);
    pc.Advance(10000); // the first check starts the companion
    const std::uint64_t startAt = pc.NowMs();
    ASSERT_EQ(CompanionStartTimes(), std::vector<std::uint64_t>{startAt});
    // A cycle is asked for while the companion starts, and arms its timer 7 s
    // later; the operator then cancels it.
    Command(906, 3600);
    pc.Advance(8 * SECOND_MS);
    ASSERT_EQ(CountCalls("SetWaitableTimer"), 1);
    pc.PostFromOutside(control, WM_APP + 1, 999, 0);
    pc.RunUntilIdle();
    EXPECT_EQ(CallsSince(startAt, {"CancelWaitableTimer"}),
              (std::vector<TimedCall>{{8000, "CancelWaitableTimer(timer#)"}}));

    pc.Advance(SECOND_MS);
    const std::uint64_t closeAt = pc.NowMs();
    pc.SendFromOutside(control, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pc.RunToExit(process, HOUR_MS));
    std::printf("%s: the supervisor ended %llu ms (virtual) after WM_CLOSE\n", GetParam().name,
                static_cast<unsigned long long>(pc.NowMs() - closeAt));
    EXPECT_EQ(pc.NowMs(), closeAt) << "WM_CLOSE must end the supervisor at once";
    EXPECT_EQ(pc.ExitCode(process), 0);
}

INSTANTIATE_TEST_SUITE_P(Companions, SlowStartTest, ::testing::ValuesIn(SLOW_STARTS),
                         [](const ::testing::TestParamInfo<SlowStart>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
