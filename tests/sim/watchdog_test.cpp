// The watchdog over virtual time: a check every 10 s from start-up on, one
// start attempt per check while the companion's window is missing.
#include "supervisor_fixture.h"

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

} // namespace
