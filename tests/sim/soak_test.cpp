// A soak over the simulated PC: a thousand cycles with commands, wake-ups and
// companion changes placed at random points. After every cycle no worker is
// left, the timer slot is empty, no handle is left open and the watchdog is
// armed. The seed is fixed, so that every run of the suite tests the same
// thing; DOZEWARD_SOAK_SEED sets another one ("random" draws one), and it is
// printed either way, so that a failing run can be repeated.
// DOZEWARD_SOAK_CYCLES sets the length.
#include "supervisor_fixture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

constexpr unsigned long DEFAULT_SEED = 20261211;

unsigned long FromEnvironment(const char* name, unsigned long fallback)
{
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return fallback;
    }
    if (std::string(value) == "random") {
        return std::random_device{}();
    }
    return std::strtoul(value, nullptr, 10);
}

using SoakTest = SupervisorTest;

TEST_F(SoakTest, CyclesWithCommandsAtRandomPointsLeaveNothingBehind)
{
    const unsigned long seed = FromEnvironment("DOZEWARD_SOAK_SEED", DEFAULT_SEED);
    const unsigned long cycles = FromEnvironment("DOZEWARD_SOAK_CYCLES", 1000);
    std::printf("soak: seed %lu, %lu cycles\n", seed, cycles);
    SCOPED_TRACE("DOZEWARD_SOAK_SEED=" + std::to_string(seed));
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };

    StartSupervisor();
    const int baselineHandles = pc.OpenHandleCount();
    const std::int32_t delays[] = {-5, 0, 1, 30, 600, 3600};
    const auto realStart = std::chrono::steady_clock::now();
    const std::uint64_t virtualStart = pc.NowMs();

    for (unsigned long cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const std::int32_t delay = delays[random() % std::size(delays)];
        pc.SetHibernationAccepted(chance(70));
        ASSERT_EQ(Command(906, delay), 0);

        std::uint64_t hibernatingSinceMs = 0;
        int steps = 0;
        while (supervisor.cycleUnderWay || pc.LiveThreadCount() != 0) {
            ASSERT_LT(++steps, 20000) << "the cycle does not end";
            pc.Advance(chance(80) ? 1 + random() % 12000 : random() % 900000);
            if (pc.Hibernating()) {
                // Commands cannot reach a sleeping PC; a user may wake it,
                // and one that nothing will wake is woken in the end.
                if (hibernatingSinceMs == 0) {
                    hibernatingSinceMs = pc.NowMs();
                }
                if (chance(20) || pc.NowMs() - hibernatingSinceMs > 2 * HOUR_MS) {
                    pc.WakeUp();
                    hibernatingSinceMs = 0;
                }
                continue;
            }
            hibernatingSinceMs = 0;
            switch (random() % 10) {
            case 0:
                EXPECT_EQ(Command(999), 0);
                break;
            case 1:
                EXPECT_EQ(Command(906, delays[random() % 6]), 0);
                break;
            case 2:
                EXPECT_EQ(Command(static_cast<WPARAM>(random() % 2000), 1), 0);
                break;
            case 3:
                pc.SendFromOutside(control, WM_APP + 2, 0, 0);
                break;
            case 4:
                if (!pc.CompanionWindowPresent()) {
                    pc.StartCompanionByHand();
                }
                break;
            default:
                break;
            }
        }
        pc.RunUntilIdle();
        ASSERT_EQ(pc.LiveThreadCount(), 0);
        ASSERT_EQ(pc.BlockedThreadCount(), 1);
        ASSERT_EQ(supervisor.wakeTimer.load(), nullptr);
        ASSERT_EQ(pc.OpenHandleCount(), baselineHandles);
        ASSERT_TRUE(WatchdogArmed());
        ASSERT_TRUE(pc.ProcessRunning(process));
    }

    const double realSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
    const double virtualSeconds = static_cast<double>(pc.NowMs() - virtualStart) / 1000.0;
    std::printf("soak: %lu cycles in %.2f s real (%.3f ms per cycle), %.0f s virtual "
                "(%.0f simulated seconds per real second)\n",
                cycles, realSeconds, 1000.0 * realSeconds / static_cast<double>(cycles),
                virtualSeconds, virtualSeconds / realSeconds);
}

} // namespace
