// What the supervisor's behaviour tests share: a simulated PC with the
// supervisor installed in C:\PC beside its companion, and short ways to start
// it, command it and read what it did.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/supervisor_state.h"
#include "sim_pc.h"

constexpr char SUPERVISOR_COMMAND_LINE[] = "\"C:\\PC\\DOZEWARD.EXE\"";
constexpr char COMPANION_COMMAND_LINE[] = "\"C:\\PC\\ORB.EXE\"";
constexpr std::uint64_t SECOND_MS = 1000;
constexpr std::uint64_t HOUR_MS = 3600 * SECOND_MS;
// From the wake-up past the cycle's end: the nudge, the settling wait, the restart.
constexpr std::uint64_t AFTER_WAKE_MS = 10100;

// A trace text with its handle serial numbers taken out ("timer#3" becomes
// "timer#"), so that expected sequences do not depend on how many handles
// came before.
inline std::string WithoutSerials(const std::string& text)
{
    static const std::regex serial("#[0-9]+");
    return std::regex_replace(text, serial, "#");
}

struct TimedCall {
    std::uint64_t atMs;
    std::string text;
    bool operator==(const TimedCall& other) const
    {
        return atMs == other.atMs && text == other.text;
    }
};

inline std::ostream& operator<<(std::ostream& out, const TimedCall& call)
{
    return out << "{" << call.atMs << ", \"" << call.text << "\"}";
}

class SupervisorTest : public ::testing::Test {
protected:
    explicit SupervisorTest(sim::CompanionModel companion = {})
    {
        ResetSupervisorState();
        pc.InstallCompanion(COMPANION_COMMAND_LINE, companion);
    }

    // Starts the supervisor and runs it until it waits in its message loop.
    void StartSupervisor(const std::string& commandLine = SUPERVISOR_COMMAND_LINE)
    {
        process = pc.StartSupervisor(commandLine);
        startedAtMs = pc.NowMs();
        pc.RunUntilIdle();
        control = pc.FindWindow("DOZEWARD");
    }

    LRESULT Command(WPARAM code, LPARAM argument = 0)
    {
        return pc.SendFromOutside(control, WM_APP + 1, code, argument);
    }

    // The calls since `sinceMs` whose text starts with one of the prefixes,
    // with their times relative to `sinceMs` and without handle serials.
    std::vector<TimedCall> CallsSince(std::uint64_t sinceMs,
                                      const std::vector<std::string>& prefixes) const
    {
        std::vector<TimedCall> calls;
        for (const sim::TraceEntry& entry : pc.Trace()) {
            if (entry.atMs < sinceMs) {
                continue;
            }
            for (const std::string& prefix : prefixes) {
                if (entry.text.compare(0, prefix.size(), prefix) == 0) {
                    calls.push_back({entry.atMs - sinceMs, WithoutSerials(entry.text)});
                    break;
                }
            }
        }
        return calls;
    }

    int CountCalls(const std::string& prefix) const
    {
        return static_cast<int>(pc.TraceTexts({prefix}).size());
    }

    std::string Log() const { return pc.ReadFileBytes("DOZEWARD.LOG").value_or("<no log>"); }

    bool WatchdogArmed() const
    {
        for (const sim::SimPc::WindowTimer& timer : pc.WindowTimers()) {
            if (timer.windowClass == "DOZEWARD" && timer.id == 10000 && timer.periodMs == 10000) {
                return true;
            }
        }
        return false;
    }

    std::uint64_t WatchdogDueMs() const
    {
        for (const sim::SimPc::WindowTimer& timer : pc.WindowTimers()) {
            if (timer.windowClass == "DOZEWARD" && timer.id == 10000) {
                return timer.nextDueMs;
            }
        }
        ADD_FAILURE() << "the watchdog is not armed";
        return 0;
    }

    std::vector<std::uint64_t> CompanionStartTimes() const
    {
        std::vector<std::uint64_t> times;
        for (const sim::SimPc::ProcessStart& start : pc.ProcessStarts()) {
            EXPECT_EQ(start.commandLine, COMPANION_COMMAND_LINE);
            EXPECT_EQ(start.showState, static_cast<UINT>(SW_SHOWNORMAL));
            times.push_back(start.atMs);
        }
        return times;
    }

    sim::SimPc pc;
    int process = 0;
    std::uint64_t startedAtMs = 0;
    HWND control = NULL;
};
