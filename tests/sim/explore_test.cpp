// The orders in which the supervisor's threads can run, explored.
//
// Each scenario is a cycle and one or two messages that other programs post
// to the control window, each at a chosen virtual time. At that time the
// sender, the supervisor's main thread and the cycle's worker may all be
// ready, and the simulated PC lets a scheduling policy decide, at every
// service call, who runs: every schedule with at most two preemptions is run
// (BoundedSearch), then a number of random ones (RandomPriorities). After
// every schedule the supervisor must be at rest with nothing lost:
//   - no thread or handle left behind, no worker left waiting;
//   - the wake timer's slot empty, the watchdog armed;
//   - no waitable timer armed again after it was cancelled;
//   - the log holds its old contents, alone or behind whole new entries.
// The number of schedules and the time each scenario takes are printed.
// DOZEWARD_EXPLORE_SEED sets the first seed of the random schedules (the
// default is fixed, and it is printed either way), DOZEWARD_EXPLORE_RUNS their
// number per scenario.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "app/supervisor_state.h"
#include "sim_pc.h"

namespace {

constexpr char OLD_LOG[] = "11'00'00 ( OLD ENTRY )\r\n";
constexpr std::uint64_t HOUR_MS = 3600 * 1000;
// A scenario stops exploring at this many failed schedules: they tell enough.
constexpr std::size_t MAX_FAILURES_SHOWN = 5;

// A message another program posts to the control window at atMs (virtual
// time from the scenario's start).
struct Sender {
    std::uint64_t atMs;
    UINT message;
    WPARAM code;
    LPARAM argument;
};

Sender SleepAt(std::uint64_t atMs, LPARAM delaySeconds)
{
    return {atMs, WM_APP + 1, 906, delaySeconds};
}
Sender CancelAt(std::uint64_t atMs) { return {atMs, WM_APP + 1, 999, 0}; }
Sender CloseAt(std::uint64_t atMs) { return {atMs, WM_CLOSE, 0, 0}; }

struct Scenario {
    std::vector<Sender> senders;
    bool hibernationAccepted;
    bool closes; // the supervisor is to end, with exit code 0
    sim::CompanionModel companion = {};
};

// The virtual times at which a cycle of one second's delay acts, from the
// sleep command on: the close of the companion, the log entry and the wake
// timer with the hibernation, the wake-up, the pointer's second move, and the
// restart of the companion with the end of the cycle. 7500 falls into the
// wait on the wake timer (when awake).
const std::uint64_t CYCLE_MOMENTS_MS[] = {0, 1000, 7000, 7500, 8000, 8040, 18040};

std::string CheckLog(const sim::SimPc& pc)
{
    const std::string log = pc.ReadFileBytes("DOZEWARD.LOG").value_or("<no log>");
    static const std::regex wellFormed(
        "([0-9]{2}'[0-9]{2}'[0-9]{2} \\( (NEXT WAKEUP [0-9]{2}:[0-9]{2}|WAKEUP) \\)\r\n)*" +
        std::string("11'00'00 \\( OLD ENTRY \\)\r\n"));
    return std::regex_match(log, wellFormed) ? "" : "log is \"" + log + "\"";
}

std::string CheckCancelledTimersStayDisarmed(const sim::SimPc& pc)
{
    std::vector<std::string> cancelled;
    for (const std::string& text : pc.TraceTexts({"CancelWaitableTimer(", "SetWaitableTimer("})) {
        if (text.rfind("CancelWaitableTimer(", 0) == 0) {
            cancelled.push_back(text.substr(20, text.size() - 21));
            continue;
        }
        const std::string timer = text.substr(17, text.find(',') - 17);
        for (const std::string& gone : cancelled) {
            if (gone == timer) {
                return "cancelled " + timer + " armed again: " + text;
            }
        }
    }
    return "";
}

bool WatchdogArmed(const sim::SimPc& pc)
{
    for (const sim::SimPc::WindowTimer& timer : pc.WindowTimers()) {
        if (timer.windowClass == "DOZEWARD" && timer.id == 10000 && timer.periodMs == 10000) {
            return true;
        }
    }
    return false;
}

// Runs the scenario once under the policy; returns what is wrong at the end,
// or "" when nothing is.
std::string RunSchedule(const Scenario& scenario, sim::SchedulePolicy& policy)
{
    ResetSupervisorState();
    sim::SimPc pc;
    pc.InstallCompanion("\"C:\\PC\\ORB.EXE\"", scenario.companion);
    pc.SetUtcTime(12, 0, 0);
    pc.StartCompanionByHand();
    pc.WriteFileBytes("DOZEWARD.LOG", OLD_LOG);
    pc.SetHibernationAccepted(scenario.hibernationAccepted);
    const int supervisorProcess = pc.StartSupervisor("\"C:\\PC\\DOZEWARD.EXE\"");
    pc.RunUntilIdle();
    const HWND control = pc.FindWindow("DOZEWARD");
    const int baselineHandles = pc.OpenHandleCount();
    const std::uint64_t startMs = pc.NowMs();

    for (const Sender& sender : scenario.senders) {
        pc.PostFromOutsideAt(startMs + sender.atMs, control, sender.message, sender.code,
                             sender.argument);
    }
    pc.SetSchedulePolicy(&policy);
    auto atRest = [&] {
        if (pc.Hibernating()) {
            pc.WakeUp(); // as a user would, when nothing else wakes the PC
            return false;
        }
        return pc.LiveThreadCount() == 0 && (scenario.closes ? !pc.ProcessRunning(supervisorProcess)
                                                             : !supervisor.cycleUnderWay);
    };
    const bool rested = pc.AdvanceUntil(atRest, HOUR_MS);
    pc.SetSchedulePolicy(nullptr);

    std::string failure;
    auto expect = [&](bool holds, const std::string& what) {
        if (!holds && failure.empty()) {
            failure = what;
        }
    };
    expect(rested, "not at rest after an hour: a cycle never ended");
    expect(pc.LiveThreadCount() == 0, "a worker is left");
    if (scenario.closes) {
        expect(!pc.ProcessRunning(supervisorProcess), "the supervisor still runs");
        expect(pc.ExitCode(supervisorProcess) == 0, "exit code is not 0");
        expect(pc.WindowTimers().empty(), "a window timer outlived the process");
    } else {
        expect(pc.ProcessRunning(supervisorProcess), "the supervisor ended");
        expect(pc.BlockedThreadCount() == 1, "a thread other than the main loop waits");
        expect(pc.OpenHandleCount() == baselineHandles,
               "open handles: " + std::to_string(pc.OpenHandleCount()) + ", at start " +
                   std::to_string(baselineHandles));
        expect(supervisor.wakeTimer.load() == NULL, "the wake timer's slot is not empty");
        expect(!supervisor.cycleUnderWay, "a cycle is still under way");
        expect(WatchdogArmed(pc), "the watchdog is not armed");
    }
    const std::string rearmed = CheckCancelledTimersStayDisarmed(pc);
    expect(rearmed.empty(), rearmed);
    const std::string log = CheckLog(pc);
    expect(log.empty(), log);
    return failure;
}

struct Tally {
    long schedules = 0;
    std::vector<std::string> failures;
};

std::string Describe(const Scenario& scenario)
{
    std::string text = scenario.hibernationAccepted ? "hibernating" : "awake";
    for (const Sender& sender : scenario.senders) {
        text += ", " +
                std::string(sender.message == WM_CLOSE ? "WM_CLOSE"
                            : sender.code == 906       ? "sleep"
                                                       : "cancel") +
                " at " + std::to_string(sender.atMs) + " ms";
    }
    return text;
}

void ExploreBounded(const Scenario& scenario, int maxPreemptions, Tally& tally)
{
    sim::BoundedSearch search(maxPreemptions);
    do {
        ++tally.schedules;
        const std::string failure = RunSchedule(scenario, search);
        ASSERT_FALSE(search.Diverged()) << "a replayed schedule took another path";
        if (!failure.empty()) {
            tally.failures.push_back(Describe(scenario) + ", schedule " + search.Describe() + ": " +
                                     failure);
        }
    } while (tally.failures.size() < MAX_FAILURES_SHOWN && search.NextSchedule());
}

unsigned long FromEnvironment(const char* name, unsigned long fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::strtoul(value, nullptr, 10) : fallback;
}

void ExploreRandom(const Scenario& scenario, Tally& tally)
{
    const unsigned long firstSeed = FromEnvironment("DOZEWARD_EXPLORE_SEED", 20261211);
    const unsigned long runs = FromEnvironment("DOZEWARD_EXPLORE_RUNS", 20);
    for (unsigned long run = 0; run < runs && tally.failures.size() < MAX_FAILURES_SHOWN; ++run) {
        const unsigned long seed = firstSeed + run;
        sim::RandomPriorities policy(seed, 2, 40);
        ++tally.schedules;
        const std::string failure = RunSchedule(scenario, policy);
        if (!failure.empty()) {
            tally.failures.push_back(Describe(scenario) + ", DOZEWARD_EXPLORE_SEED=" +
                                     std::to_string(seed) + " DOZEWARD_EXPLORE_RUNS=1: " + failure);
        }
    }
}

// Explores every scenario the factory makes, bounded and at random, and
// prints the figures.
void Explore(const char* name, const std::vector<Scenario>& scenarios, int maxPreemptions)
{
    const auto start = std::chrono::steady_clock::now();
    Tally bounded;
    Tally random;
    for (const Scenario& scenario : scenarios) {
        if (bounded.failures.size() < MAX_FAILURES_SHOWN) {
            ExploreBounded(scenario, maxPreemptions, bounded);
        }
        if (random.failures.size() < MAX_FAILURES_SHOWN) {
            ExploreRandom(scenario, random);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("explore %s: %ld schedules with at most %d preemptions, %ld random (first seed "
                "%lu), %.2f s\n",
                name, bounded.schedules, maxPreemptions, random.schedules,
                FromEnvironment("DOZEWARD_EXPLORE_SEED", 20261211), seconds);
    std::fflush(stdout);
    for (const std::string& failure : bounded.failures) {
        ADD_FAILURE() << failure;
    }
    for (const std::string& failure : random.failures) {
        ADD_FAILURE() << failure;
    }
}

std::vector<Scenario> AtEveryMoment(const std::function<Sender(std::uint64_t)>& second, bool closes)
{
    std::vector<Scenario> scenarios;
    for (bool hibernationAccepted : {false, true}) {
        for (std::uint64_t atMs : CYCLE_MOMENTS_MS) {
            scenarios.push_back({{SleepAt(0, 1), second(atMs)}, hibernationAccepted, closes});
        }
    }
    return scenarios;
}

TEST(ExploreTest, CycleWithACancelAtAnyMoment)
{
    Explore("cancel at any moment", AtEveryMoment(CancelAt, false), 2);
}

TEST(ExploreTest, CycleWithCloseAtAnyMoment)
{
    Explore("WM_CLOSE at any moment", AtEveryMoment(CloseAt, true), 2);
}

TEST(ExploreTest, TwoSleepCommands)
{
    Explore("two sleep commands",
            AtEveryMoment([](std::uint64_t atMs) { return SleepAt(atMs, 2); }, false), 2);
}

TEST(ExploreTest, CycleWhoseCompanionIsSlowToStart)
{
    // The cycle starts the companion again at its end (18040 ms); its window
    // appears 15 s later, after the watchdog's first check. A cancel meets
    // the start, or the check.
    sim::CompanionModel slow;
    slow.appearAfterMs = 15000;
    std::vector<Scenario> scenarios;
    for (bool hibernationAccepted : {false, true}) {
        for (std::uint64_t atMs : {18040, 28040}) {
            scenarios.push_back(
                {{SleepAt(0, 1), CancelAt(atMs)}, hibernationAccepted, false, slow});
        }
    }
    Explore("slow companion", scenarios, 2);
}

TEST(ExploreTest, CycleWhoseEndMeetsACancel)
{
    // The closing steps take the spent timer out of its slot while the
    // cancel may take it too: explored one preemption deeper.
    Explore("end meets a cancel",
            {{{SleepAt(0, 1), CancelAt(18040)}, false, false},
             {{SleepAt(0, 1), CancelAt(18040)}, true, false}},
            3);
}

} // namespace
