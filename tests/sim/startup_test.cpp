// Start-up, the control window and the message loop, over the simulated PC.
#include "supervisor_fixture.h"

#include "app/control_window.h"

namespace {

using StartupTest = SupervisorTest;

TEST_F(StartupTest, RunsIdleWithItsWindowAndWatchdogAndTouchesNothingElse)
{
    StartSupervisor();
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(pc.ProcessRunning(process));
    EXPECT_TRUE(WatchdogArmed());
    EXPECT_EQ(WatchdogDueMs(), pc.NowMs() + 10000);
    EXPECT_STREQ(supervisor.companionCommand.data(), COMPANION_COMMAND_LINE);

    // Until the first check, the companion is not started and nothing is logged.
    pc.Advance(10000 - 1);
    EXPECT_TRUE(pc.ProcessStarts().empty());
    EXPECT_FALSE(pc.ReadFileBytes("DOZEWARD.LOG").has_value());
    EXPECT_EQ(CountCalls("CreateFileA"), 0);
}

TEST_F(StartupTest, WindowAndClassAreSetUpAsTheyMustBe)
{
    StartSupervisor();
    const sim::SimPc::WindowInfo window = pc.Window(control);
    ASSERT_TRUE(window.exists);
    EXPECT_TRUE(window.topLevel);
    EXPECT_FALSE(window.visible);
    EXPECT_EQ(window.exStyle, 0x188U);
    EXPECT_EQ(window.className, "DOZEWARD");
    EXPECT_EQ(window.title, "DOZEWARD");
    EXPECT_EQ(window.style, 0x80000100U);
    EXPECT_EQ(window.x, 0);
    EXPECT_EQ(window.y, 0);
    EXPECT_EQ(window.width, 0);
    EXPECT_EQ(window.height, 0);
    EXPECT_EQ(window.parent, nullptr);
    EXPECT_EQ(window.menu, nullptr);
    EXPECT_EQ(window.createParam, nullptr);
    EXPECT_NE(window.instance, nullptr);

    const WNDCLASSEXA& windowClass = window.windowClass;
    EXPECT_EQ(windowClass.cbSize, sizeof(WNDCLASSEXA));
    EXPECT_EQ(windowClass.style, 0x40U);
    EXPECT_EQ(windowClass.lpfnWndProc, &ControlWndProc);
    EXPECT_EQ(windowClass.cbClsExtra, 0);
    EXPECT_EQ(windowClass.cbWndExtra, 0);
    EXPECT_EQ(windowClass.hInstance, window.instance);
    EXPECT_EQ(windowClass.hIcon, nullptr);
    EXPECT_EQ(windowClass.hIconSm, nullptr);
    EXPECT_EQ(windowClass.hCursor, pc.ArrowCursor());
    EXPECT_EQ(static_cast<HGDIOBJ>(windowClass.hbrBackground), pc.BlackBrush());
    EXPECT_EQ(window.classMenuName, "");
    EXPECT_EQ(supervisor.controlWindow, control);
}

// Every way start-up ends at once: exit code 0 and nothing left behind.
TEST_F(StartupTest, EarlyExitsEndWithZeroAndCreateNothing)
{
    const struct {
        const char* name;
        std::string commandLine;
    } cases[] = {
        {"no double quote", "C:\\PC\\DOZEWARD.EXE"},
        {"empty command line", ""},
        {"first quote at index 255", "C:\\" + std::string(252, 'x') + "\" tail"},
        {"program named without a directory", "\"DOZEWARD.EXE\""},
        {"directory too long for the command", "\"C:\\" + std::string(248, 'd') + "\\x\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetSupervisorState();
        pc.ClearTrace();
        const int early = pc.StartSupervisor(c.commandLine);
        ASSERT_TRUE(pc.RunToExit(early, 1000));
        EXPECT_EQ(pc.ExitCode(early), 0);
        EXPECT_EQ(pc.WindowCount(), 0);
        EXPECT_EQ(pc.RegisteredClassCount(), 0);
        EXPECT_TRUE(pc.WindowTimers().empty());
        EXPECT_TRUE(pc.ProcessStarts().empty());
        EXPECT_EQ(CountCalls("CreateFileA"), 0);
        EXPECT_EQ(CountCalls("SetTimer"), 0);
        EXPECT_EQ(pc.HandlesOpenAtExit(early), 0);
    }
}

TEST_F(StartupTest, SecondInstanceEndsWithZeroAndLeavesTheFirstUntouched)
{
    StartSupervisor();
    const auto timersBefore = pc.WindowTimers().size();
    pc.ClearTrace();

    const int second = pc.StartSupervisor(SUPERVISOR_COMMAND_LINE);
    ASSERT_TRUE(pc.RunToExit(second, 1000));
    EXPECT_EQ(pc.ExitCode(second), 0);
    EXPECT_EQ(pc.HandlesOpenAtExit(second), 0) << "its mutex handle is closed";
    EXPECT_TRUE(pc.ProcessRunning(process));
    EXPECT_EQ(pc.WindowCount(), 1);
    EXPECT_EQ(pc.WindowTimers().size(), timersBefore);
    for (const char* call : {"GetCommandLineA", "RegisterClassExA", "CreateWindowExA", "SetTimer",
                             "KillTimer", "CreateFileA", "WinExec", "CreateProcessA"}) {
        EXPECT_EQ(CountCalls(call), 0) << call;
    }
    EXPECT_STREQ(supervisor.companionCommand.data(), COMPANION_COMMAND_LINE);
}

TEST_F(StartupTest, AnOlderSupervisorKnownOnlyByItsWindowAlsoCounts)
{
    pc.CreateForeignWindow("DOZEWARD");
    const int started = pc.StartSupervisor(SUPERVISOR_COMMAND_LINE);
    ASSERT_TRUE(pc.RunToExit(started, 1000));
    EXPECT_EQ(pc.ExitCode(started), 0);
    EXPECT_EQ(pc.HandlesOpenAtExit(started), 0);
    EXPECT_EQ(pc.WindowCount(), 1);
    EXPECT_EQ(CountCalls("RegisterClassExA"), 0);
}

// The second starts while the first has passed its window search but not yet
// created its window: the search alone cannot tell them apart.
TEST_F(StartupTest, TwoStartedAtTheSameMomentLeaveExactlyOneRunning)
{
    pc.PauseBefore("CreateWindowExA");
    const int first = pc.StartSupervisor(SUPERVISOR_COMMAND_LINE);
    pc.RunUntilIdle();
    ASSERT_TRUE(pc.Paused());

    const int second = pc.StartSupervisor(SUPERVISOR_COMMAND_LINE);
    pc.RunUntilIdle();
    pc.Resume();
    pc.RunUntilIdle();
    EXPECT_TRUE(pc.ProcessRunning(first));
    EXPECT_FALSE(pc.ProcessRunning(second));
    EXPECT_EQ(pc.ExitCode(second), 0);
    EXPECT_EQ(pc.HandlesOpenAtExit(second), 0);
    EXPECT_EQ(pc.WindowCount(), 1);
    EXPECT_EQ(CountCalls("CreateWindowExA"), 1);
}

TEST_F(StartupTest, CloseEndsTheLoopWithZeroAndLeavesTheCompanionRunning)
{
    pc.StartCompanionByHand();
    StartSupervisor();
    pc.ClearTrace();

    EXPECT_EQ(pc.SendFromOutside(control, WM_CLOSE, 0, 0), 0);
    ASSERT_TRUE(pc.RunToExit(process, 1000));
    EXPECT_EQ(pc.ExitCode(process), 0);
    EXPECT_TRUE(pc.CompanionWindowPresent());
    EXPECT_EQ(pc.TraceTexts({"KillTimer", "PostQuitMessage", "SendMessage", "DestroyWindow"}),
              (std::vector<std::string>{"KillTimer(DOZEWARD,10000)", "PostQuitMessage(0)"}));
}

TEST_F(StartupTest, OtherMessagesGetTheDefaultProcedureAndItsResult)
{
    StartSupervisor();
    for (UINT message : {WM_NULL, 0x0018U /* show */, WM_USER + 5, WM_APP, WM_APP + 4, 0xC123U}) {
        pc.ClearTrace();
        EXPECT_EQ(pc.SendFromOutside(control, message, 7, 9), sim::DefWindowProcResult(message))
            << std::hex << message;
        EXPECT_EQ(CountCalls("DefWindowProcA(DOZEWARD"), 1) << std::hex << message;
    }
    EXPECT_TRUE(pc.ProcessRunning(process));
}

} // namespace
