// The simulated PC's semantics for replacing a file in one step, file
// attributes, starting a program (the waiting WinExec and the CreateProcessA
// that does not wait), mutex release and a process ended from outside.
//
// These are what the event log's atomic update, the supervisor's start of the
// companion and the cancel's guard lean on; each is modelled as Windows
// documents it, and checked here against literal expectations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim_pc.h"

namespace {

using sim::SimPc;

constexpr char COMPANION_COMMAND[] = "\"C:\\PC\\ORB.EXE\"";
constexpr DWORD RW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD REPLACE = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// --- Replacing a file -------------------------------------------------------------------

TEST(SimReplace, RenameReplacesTheTargetInOneStepOnlyWhenAsked)
{
    SimPc pc;
    pc.WriteFileBytes("A.NEW", "new");
    pc.WriteFileBytes("A.LOG", "old");
    EXPECT_EQ(MoveFileExA("A.NEW", "A.LOG", 0), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(pc.ReadFileBytes("A.LOG"), "old");

    EXPECT_NE(MoveFileExA("a.new", "a.log", REPLACE), FALSE);
    EXPECT_EQ(pc.ReadFileBytes("A.LOG"), "new");
    EXPECT_EQ(pc.ReadFileBytes("A.NEW"), std::nullopt);

    EXPECT_EQ(MoveFileExA("A.NEW", "A.LOG", REPLACE), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(SimReplace, AnOpenOrReadOnlyTargetIsNotReplaced)
{
    const struct {
        const char* name;
        DWORD share; // of a program holding the target open for reading
        DWORD error;
    } holders[] = {
        {"held without delete sharing", FILE_SHARE_READ | FILE_SHARE_WRITE, 5},
        {"held with delete sharing", FILE_SHARE_READ | FILE_SHARE_DELETE, 5},
    };
    SimPc pc;
    for (const auto& holder : holders) {
        SCOPED_TRACE(holder.name);
        pc.WriteFileBytes("B.NEW", "new");
        pc.WriteFileBytes("B.LOG", "old");
        ASSERT_TRUE(pc.HoldFileOpen("B.LOG", GENERIC_READ, holder.share));
        EXPECT_EQ(MoveFileExA("B.NEW", "B.LOG", REPLACE), FALSE);
        EXPECT_EQ(GetLastError(), holder.error);
        EXPECT_EQ(pc.ReadFileBytes("B.LOG"), "old");
        EXPECT_EQ(pc.ReadFileBytes("B.NEW"), "new");
        pc.ReleaseHeldFile("B.LOG");
    }

    // The writer's own handle counts like anybody's.
    HANDLE own = CreateFileA("B.LOG", RW, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(MoveFileExA("B.NEW", "B.LOG", REPLACE), FALSE);
    EXPECT_EQ(GetLastError(), 5u);
    CloseHandle(own);

    pc.SetReadOnly("B.LOG", true);
    EXPECT_EQ(MoveFileExA("B.NEW", "B.LOG", REPLACE), FALSE);
    EXPECT_EQ(GetLastError(), 5u);
    pc.SetReadOnly("B.LOG", false);
    EXPECT_NE(MoveFileExA("B.NEW", "B.LOG", REPLACE), FALSE);
    EXPECT_EQ(pc.ReadFileBytes("B.LOG"), "new");
}

TEST(SimReplace, AnOpenSourceMovesOnlyWhenItSharesDeleteAndItsHandleFollows)
{
    SimPc pc;
    pc.WriteFileBytes("C.LOG", "old");
    HANDLE source = CreateFileA("C.NEW", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(source, INVALID_HANDLE_VALUE);
    EXPECT_EQ(MoveFileExA("C.NEW", "C.LOG", REPLACE), FALSE);
    EXPECT_EQ(GetLastError(), 32u);
    CloseHandle(source);

    source = CreateFileA("C.NEW", GENERIC_WRITE, FILE_SHARE_DELETE, NULL, CREATE_ALWAYS, 0, NULL);
    EXPECT_NE(MoveFileExA("C.NEW", "C.LOG", REPLACE), FALSE);
    DWORD written = 0;
    WriteFile(source, "moved", 5, &written, NULL);
    // The file is now the log, and still held: nobody else may read it.
    EXPECT_EQ(CreateFileA("C.LOG", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                          OPEN_EXISTING, 0, NULL),
              INVALID_HANDLE_VALUE);
    CloseHandle(source);
    EXPECT_EQ(pc.ReadFileBytes("C.LOG"), "moved");
}

TEST(SimReplace, AttributesAreKeptReportedAndGuardTheReplaceByCreate)
{
    SimPc pc;
    EXPECT_EQ(GetFileAttributesA("D.LOG"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    pc.WriteFileBytes("D.LOG", "old");
    EXPECT_EQ(GetFileAttributesA("D.LOG"), 0x80u); // normal
    EXPECT_NE(SetFileAttributesA("D.LOG", 0x2 | 0x20), FALSE);
    EXPECT_EQ(GetFileAttributesA("d.log"), 0x22u);

    // A hidden file is not replaced by a create without the hidden attribute.
    EXPECT_EQ(CreateFileA("D.LOG", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0x80, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 5u);
    HANDLE created = CreateFileA("D.NEW", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0x4, NULL);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    CloseHandle(created);
    EXPECT_EQ(GetFileAttributesA("D.NEW"), 0x4u);

    // A rename carries the source's attributes to the target name.
    EXPECT_NE(MoveFileExA("D.NEW", "D.LOG", REPLACE), FALSE);
    EXPECT_EQ(GetFileAttributesA("D.LOG"), 0x4u);
    EXPECT_NE(DeleteFileA("D.LOG"), FALSE);
    EXPECT_EQ(GetFileAttributesA("D.LOG"), INVALID_FILE_ATTRIBUTES);
}

TEST(SimReplace, FaultsReachTheRenameTheAttributesAndTheDelete)
{
    SimPc pc;
    pc.WriteFileBytes("E.NEW", "new");
    pc.WriteFileBytes("E.LOG", "old");
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        pc.InjectFault(sim::FaultKind::FailCall, n);
        // The fault strikes the n-th of these three calls, and only it.
        const bool attributes = GetFileAttributesA("E.LOG") != INVALID_FILE_ATTRIBUTES;
        const bool moved = MoveFileExA("E.NEW", "E.LOG", REPLACE) != FALSE;
        const bool deleted = DeleteFileA("E.OTHER") != FALSE || GetLastError() != ERROR_IO_DEVICE;
        EXPECT_EQ(attributes, n != 1);
        EXPECT_EQ(moved, n != 2);
        EXPECT_EQ(deleted, n != 3);
        EXPECT_TRUE(pc.FaultHit());
        pc.ClearFaults();
        pc.WriteFileBytes("E.NEW", "new");
        pc.WriteFileBytes("E.LOG", "old");
    }
}

// --- A process ended from outside ---------------------------------------------------------

TEST(SimProcessEnds, TheProcessEndsJustBeforeItsNthCallWithItsFilesAsTheyAre)
{
    SimPc pc;
    pc.InjectFault(sim::FaultKind::ProcessEnds, 3);
    int reached = 0;
    const int process = pc.StartProgram([&] {
        HANDLE file = CreateFileA("F.TXT", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ++reached;
        DWORD written = 0;
        WriteFile(file, "half", 4, &written, NULL);
        ++reached;
        CloseHandle(file); // the third call: never made
        ++reached;
        return 0;
    });
    ASSERT_TRUE(pc.RunToExit(process, 1000));
    EXPECT_TRUE(pc.FaultHit());
    EXPECT_EQ(reached, 2);
    EXPECT_NE(pc.ExitCode(process), 0);
    EXPECT_EQ(pc.ReadFileBytes("F.TXT"), "half");
    EXPECT_EQ(pc.OpenHandleCount(), 0) << "the process's handles went with it";
    EXPECT_EQ(pc.TraceTexts({"CloseHandle"}), std::vector<std::string>{});
}

// --- Mutex release ----------------------------------------------------------------------------

TEST(SimMutex, OnlyTheOwnerReleasesAndAWaiterThenTakesIt)
{
    SimPc pc;
    HANDLE mutex = NULL;
    DWORD strangerError = 0;
    std::vector<std::string> order;
    const int owner = pc.StartProgram([&] {
        mutex = CreateMutexA(NULL, TRUE, NULL);
        Sleep(1000);
        order.push_back("owner releases");
        EXPECT_NE(ReleaseMutex(mutex), FALSE);
        Sleep(1000);
        return 0;
    });
    pc.RunUntilIdle();
    const int stranger = pc.StartProgram([&] {
        strangerError = ReleaseMutex(mutex) == FALSE ? GetLastError() : 0;
        WaitForSingleObject(mutex, INFINITE);
        order.push_back("stranger took it");
        ReleaseMutex(mutex);
        return 0;
    });
    pc.RunUntilIdle();
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(pc.RunToExit(stranger, 5000));
    ASSERT_TRUE(pc.RunToExit(owner, 5000));
    EXPECT_EQ(strangerError, 288u);
    EXPECT_EQ(order, (std::vector<std::string>{"owner releases", "stranger took it"}));
}

// --- Starting a program -----------------------------------------------------------------------

// The thread that starts the companion owns a window; another program posts
// to it and sends to it while the start is under way.
struct StartRun {
    std::uint64_t returnedAtMs = 0;
    std::vector<std::pair<std::uint64_t, UINT>> handled; // virtual time, message
};

StartRun* theRun = nullptr;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_APP) {
        theRun->handled.emplace_back(GetTickCount(), message);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

enum class StartBy { WinExec, CreateProcess };

StartRun RunStart(StartBy how, const sim::CompanionModel& model)
{
    StartRun run;
    theRun = &run;
    SimPc pc;
    pc.InstallCompanion(COMPANION_COMMAND, model);
    const int process = pc.StartProgram([&] {
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = RecordingProc;
        windowClass.lpszClassName = "STARTER";
        RegisterClassExA(&windowClass);
        CreateWindowExA(0, "STARTER", "STARTER", WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
        Sleep(100); // the other program's messages come while the start is under way
        if (how == StartBy::WinExec) {
            EXPECT_GT(WinExec(COMPANION_COMMAND, SW_SHOWNORMAL), 31u);
        } else {
            char commandLine[] = "\"C:\\PC\\ORB.EXE\"";
            STARTUPINFOA startup = {};
            startup.cb = sizeof startup;
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = SW_SHOWNORMAL;
            PROCESS_INFORMATION info = {};
            EXPECT_NE(CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                                     &info),
                      FALSE);
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
        run.returnedAtMs = GetTickCount();
        MSG msg;
        while (GetMessageA(&msg, NULL, 0, 0) > 0) {
            DispatchMessageA(&msg);
        }
        return 0;
    });
    pc.Advance(50);
    const HWND window = pc.FindWindow("STARTER");
    pc.PostFromOutside(window, WM_APP + 2, 0, 0);
    pc.Advance(100); // the start is under way
    pc.SendFromOutside(window, WM_APP + 1, 0, 0);
    pc.Advance(60 * 1000);
    pc.PostFromOutside(window, WM_QUIT, 0, 0);
    pc.RunToExit(process, 1000);
    theRun = nullptr;
    return run;
}

TEST(SimStart, WinExecWaitsForTheFirstGetMessageHandlingOnlySentMessages)
{
    const struct {
        const char* name;
        std::optional<std::uint64_t> firstGetMessageAfterMs;
        std::uint64_t returnsAtMs;
    } cases[] = {
        {"reaches its loop as its window appears", 500, 600},
        {"reaches its loop after 10 s", 10000, 10100},
        {"reaches its loop after 30 s: the time-out", 30000, 30100},
        {"never reaches its loop: the time-out", std::nullopt, 30100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::CompanionModel model;
        model.firstGetMessageAfterMs = c.firstGetMessageAfterMs;
        const StartRun run = RunStart(StartBy::WinExec, model);
        EXPECT_EQ(run.returnedAtMs, c.returnsAtMs);
        // The sent message is answered at once, the posted one only after the return.
        const std::vector<std::pair<std::uint64_t, UINT>> expected = {
            {150, WM_APP + 1},
            {c.returnsAtMs, WM_APP + 2},
        };
        EXPECT_EQ(run.handled, expected);
    }
}

TEST(SimStart, CreateProcessReturnsAtOnceWithTwoHandlesToClose)
{
    sim::CompanionModel model;
    model.firstGetMessageAfterMs = std::nullopt;
    const StartRun run = RunStart(StartBy::CreateProcess, model);
    EXPECT_EQ(run.returnedAtMs, 100u);
    const std::vector<std::pair<std::uint64_t, UINT>> expected = {
        {100, WM_APP + 2},
        {150, WM_APP + 1},
    };
    EXPECT_EQ(run.handled, expected);

    SimPc pc;
    pc.InstallCompanion(COMPANION_COMMAND, model);
    std::vector<int> handleCounts;
    BOOL other = TRUE;
    DWORD otherError = 0;
    const int process = pc.StartProgram([&] {
        char commandLine[] = "\"C:\\PC\\ORB.EXE\"";
        char otherLine[] = "\"C:\\PC\\OTHER.EXE\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION info = {};
        CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info);
        handleCounts.push_back(pc.OpenHandleCount());
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        handleCounts.push_back(pc.OpenHandleCount());
        other = CreateProcessA(NULL, otherLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info);
        otherError = GetLastError();
        handleCounts.push_back(pc.OpenHandleCount());
        return 0;
    });
    ASSERT_TRUE(pc.RunToExit(process, 1000));
    EXPECT_EQ(handleCounts, (std::vector<int>{2, 0, 0}));
    EXPECT_EQ(other, FALSE);
    EXPECT_EQ(otherError, ERROR_FILE_NOT_FOUND);
    pc.Advance(500);
    EXPECT_TRUE(pc.CompanionWindowPresent());
    const auto starts = pc.ProcessStarts();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].commandLine, COMPANION_COMMAND);
    EXPECT_EQ(starts[0].showState, 1u);
    EXPECT_EQ(pc.TraceTexts({"CreateProcessA"})[0],
              "CreateProcessA(none,\"C:\\PC\\ORB.EXE\",1,none)");
}

} // namespace
