// The simulated PC's own semantics, beyond what the contract checks cover.
//
// These are the behaviours the supervisor's sim tests lean on and that real
// Windows cannot show under Wine (a refused SetTimer, read-only files as root,
// hibernation) or that only a simulation has (fault injection, handle and
// thread counts, the trace). Programs run as processes on a fresh SimPc;
// file and fault cases call the services straight from the test thread.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim_pc.h"

namespace {

using sim::SimPc;

constexpr std::uint64_t HOUR_MS = 3600ULL * 1000;
constexpr LONGLONG HUNDRED_NS_PER_MS = 10000;
constexpr char COMPANION_COMMAND[] = "\"C:\\PC\\ORB.EXE\"";
constexpr char LOG_NAME_FOR_TEST[] = "DOZEWARD.LOG";

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow(const char* className, WNDPROC proc = PlainWindowProc)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = className;
    RegisterClassExA(&windowClass);
    return CreateWindowExA(0, className, className, WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                           windowClass.hInstance, NULL);
}

void PumpUntilQuit()
{
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        DispatchMessageA(&msg);
    }
}

bool EnableShutdownPrivilege()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
        return false;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const bool ok = LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) &&
                    AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    CloseHandle(token);
    return ok;
}

HANDLE ArmedTimer(LONGLONG dueTime, bool resume)
{
    HANDLE timer = CreateWaitableTimerA(NULL, FALSE, NULL);
    LARGE_INTEGER due;
    due.QuadPart = dueTime;
    SetWaitableTimer(timer, &due, 0, NULL, NULL, resume);
    return timer;
}

// Sets a flag when the stack frame that owns it is unwound.
struct UnwindFlag {
    bool* flag;
    ~UnwindFlag() { *flag = true; }
};

// --- Threads and processes ------------------------------------------------------

struct BlockedWorker {
    HANDLE event;
    bool unwound = false;
    bool passedWait = false;
};

DWORD WINAPI WaitForEver(LPVOID parameter)
{
    auto* worker = static_cast<BlockedWorker*>(parameter);
    UnwindFlag unwind{&worker->unwound};
    WaitForSingleObject(worker->event, INFINITE);
    worker->passedWait = true;
    return 0;
}

TEST(SimProcesses, MainReturnEndsTheProcessAndItsOtherThreads)
{
    SimPc pc;
    BlockedWorker worker;
    const int process = pc.StartProgram([&] {
        worker.event = CreateEventA(NULL, TRUE, FALSE, NULL);
        CreateThread(NULL, 0, WaitForEver, &worker, 0, NULL);
        MakeWindow("SIMEXIT");
        Sleep(100);
        return 7;
    });
    pc.RunUntilIdle();
    EXPECT_EQ(pc.LiveThreadCount(), 1);
    EXPECT_EQ(pc.BlockedThreadCount(), 2);
    EXPECT_EQ(pc.WaitersOn(worker.event), 1);
    EXPECT_EQ(pc.OpenHandleCount(), 2); // the event and the thread
    ASSERT_TRUE(pc.RunToExit(process, 1000));
    EXPECT_EQ(pc.NowMs(), 100u);
    EXPECT_EQ(pc.ExitCode(process), 7);
    EXPECT_FALSE(pc.ProcessRunning(process));
    EXPECT_TRUE(worker.unwound);
    EXPECT_FALSE(worker.passedWait);
    EXPECT_EQ(pc.LiveThreadCount(), 0);
    EXPECT_EQ(pc.BlockedThreadCount(), 0);
    EXPECT_EQ(pc.OpenHandleCount(), 0);
    EXPECT_EQ(pc.WindowCount(), 0);
    EXPECT_EQ(pc.RegisteredClassCount(), 0);
}

TEST(SimProcesses, DestroyingThePcEndsEveryBlockedThread)
{
    bool mainUnwound = false;
    BlockedWorker worker;
    {
        SimPc pc;
        pc.StartProgram([&] {
            UnwindFlag unwind{&mainUnwound};
            worker.event = CreateEventA(NULL, TRUE, FALSE, NULL);
            CreateThread(NULL, 0, WaitForEver, &worker, 0, NULL);
            MakeWindow("SIMDTOR");
            PumpUntilQuit();
            return 0;
        });
        pc.RunUntilIdle();
        ASSERT_EQ(pc.BlockedThreadCount(), 2);
    }
    EXPECT_TRUE(mainUnwound);
    EXPECT_TRUE(worker.unwound);
    EXPECT_FALSE(worker.passedWait);
}

TEST(SimProcesses, AnEscapingExceptionEndsTheProcess)
{
    SimPc pc;
    const int process = pc.StartProgram([]() -> int { throw std::runtime_error("boom"); });
    ASSERT_TRUE(pc.RunToExit(process, 1000));
    EXPECT_EQ(pc.ExitCode(process), static_cast<int>(0xE06D7363));
    EXPECT_EQ(pc.TraceTexts({"unhandled"}), std::vector<std::string>{"unhandled exception: boom"});
}

// --- Messages -------------------------------------------------------------------------

std::vector<UINT> handledMessages;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_APP) {
        handledMessages.push_back(message);
    }
    if (message == WM_APP + 9) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_APP + 3) {
        return DefWindowProcA(window, message, wParam, lParam) + static_cast<LRESULT>(wParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND sendTarget = NULL;
LRESULT crossThreadResult = 0;

DWORD WINAPI SendFromWorker(LPVOID)
{
    PostMessageA(sendTarget, WM_APP + 4, 0, 0);
    crossThreadResult = SendMessageA(sendTarget, WM_APP + 3, 5, 0);
    PostMessageA(sendTarget, WM_APP + 9, 0, 0);
    return 0;
}

TEST(SimMessages, ASendFromAnotherThreadIsHandledByTheOwnerBeforePostedMessages)
{
    SimPc pc;
    handledMessages.clear();
    const int process = pc.StartProgram([] {
        sendTarget = MakeWindow("SIMSEND", RecordingWindowProc);
        // A send on the window's own thread calls the procedure at once.
        SendMessageA(sendTarget, WM_APP + 2, 0, 0);
        CloseHandle(CreateThread(NULL, 0, SendFromWorker, NULL, 0, NULL));
        PumpUntilQuit();
        return 0;
    });
    ASSERT_TRUE(pc.RunToExit(process, 1000));
    EXPECT_EQ(handledMessages, (std::vector<UINT>{WM_APP + 2, WM_APP + 3, WM_APP + 4, WM_APP + 9}));
    EXPECT_EQ(crossThreadResult, sim::DefWindowProcResult(WM_APP + 3) + 5);
    bool handledOnMain = false;
    for (const auto& entry : pc.Trace()) {
        if (entry.text == "DefWindowProcA(SIMSEND,0x8003)") {
            handledOnMain = entry.thread == "main";
        }
        if (entry.text == "SendMessageA(SIMSEND,0x8003)") {
            EXPECT_EQ(entry.thread, "worker#1");
        }
    }
    EXPECT_TRUE(handledOnMain);
}

TEST(SimMessages, SendsAndPostsToNoWindowDoNothing)
{
    SimPc pc;
    pc.StartCompanionByHand();
    HWND gone = pc.FindWindow(COMPANION_CLASS_NAME);
    pc.PostFromOutside(gone, WM_DESTROY, 0, 0);
    ASSERT_FALSE(pc.CompanionWindowPresent());
    for (HWND target : {static_cast<HWND>(NULL), gone}) {
        DWORD_PTR result = 77;
        SetLastError(0);
        EXPECT_EQ(SendMessageA(target, WM_DESTROY, 0, 0), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
        SetLastError(0);
        EXPECT_EQ(SendMessageTimeoutA(target, WM_DESTROY, 0, 0, SMTO_NORMAL, 5000, &result), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
        EXPECT_EQ(result, 77u);
    }
    EXPECT_EQ(PostMessageA(gone, WM_DESTROY, 0, 0), FALSE);
    EXPECT_EQ(pc.NowMs(), 0u);
}

// --- Window timers ------------------------------------------------------------------

struct TimerRefusal {
    HWND window;
    UINT_PTR setResult;
    DWORD setError;
    BOOL killResult;
    DWORD killError;
};
TimerRefusal refusal;

DWORD WINAPI TouchTimerFromWorker(LPVOID)
{
    refusal.setResult = SetTimer(refusal.window, 1, 100, NULL);
    refusal.setError = GetLastError();
    refusal.killResult = KillTimer(refusal.window, 1);
    refusal.killError = GetLastError();
    return 0;
}

TEST(SimTimers, OnlyTheWindowsOwnThreadMaySetOrKillItsTimers)
{
    SimPc pc;
    refusal = TimerRefusal();
    const int process = pc.StartProgram([] {
        refusal.window = MakeWindow("SIMOWNER");
        SetTimer(refusal.window, 1, 1000, NULL);
        HANDLE worker = CreateThread(NULL, 0, TouchTimerFromWorker, NULL, 0, NULL);
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
        Sleep(100); // the test looks at the timers meanwhile
        return 0;
    });
    pc.Advance(10);
    EXPECT_EQ(refusal.setResult, 0u);
    EXPECT_EQ(refusal.setError, ERROR_ACCESS_DENIED);
    EXPECT_EQ(refusal.killResult, FALSE);
    EXPECT_EQ(refusal.killError, ERROR_ACCESS_DENIED);
    const auto timers = pc.WindowTimers();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0].windowClass, "SIMOWNER");
    EXPECT_EQ(timers[0].periodMs, 1000u); // untouched by the refused call
    EXPECT_EQ(timers[0].nextDueMs, 1000u);
    EXPECT_TRUE(pc.RunToExit(process, 100));
    EXPECT_TRUE(pc.WindowTimers().empty());
}

std::vector<DWORD> tickTimes;

void CALLBACK RecordTick(HWND window, UINT, UINT_PTR timerId, DWORD timeMs)
{
    tickTimes.push_back(timeMs);
    if (tickTimes.size() == 2) {
        KillTimer(window, timerId);
        PostQuitMessage(0);
    }
}

TEST(SimTimers, RearmingStartsAFullPeriodAndMissedTicksDoNotPileUp)
{
    SimPc pc;
    tickTimes.clear();
    const int process = pc.StartProgram([] {
        HWND window = MakeWindow("SIMTICK");
        SetTimer(window, 1, 1000, RecordTick);
        Sleep(400);
        SetTimer(window, 1, 1000, RecordTick);
        Sleep(5000); // ticks come due meanwhile, none is taken
        PumpUntilQuit();
        return 0;
    });
    pc.Advance(500);
    ASSERT_EQ(pc.WindowTimers().size(), 1u);
    EXPECT_EQ(pc.WindowTimers()[0].nextDueMs, 1400u);
    ASSERT_TRUE(pc.RunToExit(process, 10000));
    EXPECT_EQ(tickTimes, (std::vector<DWORD>{5400, 6400}));
}

// --- Power -----------------------------------------------------------------------------

struct HibernationCase {
    const char* name;
    bool accepted;
    bool needsPrivilege;
    bool enablePrivilege;
    bool resumeTimer;
    std::uint64_t wakeUpAtMs; // 0: no WakeUp
    BOOL expectResult;
    std::uint64_t expectReturnAtMs;
    std::uint64_t expectTimerWaitEndsAtMs;
    int expectHibernations;
};

const HibernationCase HIBERNATION_CASES[] = {
    {"ResumedByTimer", true, true, true, true, 0, TRUE, HOUR_MS, HOUR_MS, 1},
    {"WokenEarly", true, true, true, true, HOUR_MS / 4, TRUE, HOUR_MS / 4, HOUR_MS, 1},
    {"TimerWithoutResumeDoesNotWake", true, true, true, false, 2 * HOUR_MS, TRUE, 2 * HOUR_MS,
     2 * HOUR_MS, 1},
    {"Refused", false, true, true, true, 0, FALSE, 0, HOUR_MS, 0},
    {"WithoutPrivilege", true, true, false, true, 0, FALSE, 0, HOUR_MS, 0},
    {"PrivilegeNotNeeded", true, false, false, true, 0, TRUE, HOUR_MS, HOUR_MS, 1},
};

class SimHibernation : public ::testing::TestWithParam<HibernationCase> {};

int beats = 0;

DWORD WINAPI Beat(LPVOID)
{
    for (;;) {
        Sleep(1000);
        ++beats;
    }
}

TEST_P(SimHibernation, ReturnsAfterTheResume)
{
    const HibernationCase& c = GetParam();
    SimPc pc;
    pc.SetHibernationAccepted(c.accepted);
    pc.SetHibernationNeedsPrivilege(c.needsPrivilege);
    beats = 0;
    BOOL result = -1;
    DWORD returnedAtMs = 0;
    DWORD timerWaitEndedAtMs = 0;
    const int process = pc.StartProgram([&] {
        if (c.enablePrivilege) {
            EnableShutdownPrivilege();
        }
        CloseHandle(CreateThread(NULL, 0, Beat, NULL, 0, NULL));
        HANDLE timer =
            ArmedTimer(-static_cast<LONGLONG>(HOUR_MS) * HUNDRED_NS_PER_MS, c.resumeTimer);
        result = SetSuspendState(TRUE, FALSE, FALSE);
        returnedAtMs = GetTickCount();
        WaitForSingleObject(timer, INFINITE);
        timerWaitEndedAtMs = GetTickCount();
        CloseHandle(timer);
        return 0;
    });
    pc.Advance(HOUR_MS / 8);
    const bool hibernating = c.expectHibernations > 0;
    EXPECT_EQ(pc.Hibernating(), hibernating);
    // Frozen: the beating thread has not run since the request.
    EXPECT_EQ(beats, hibernating ? 0 : static_cast<int>(HOUR_MS / 8 / 1000));
    if (c.wakeUpAtMs != 0) {
        pc.Advance(c.wakeUpAtMs - pc.NowMs());
        EXPECT_TRUE(pc.Hibernating());
        pc.WakeUp();
    }
    ASSERT_TRUE(pc.RunToExit(process, 3 * HOUR_MS));
    EXPECT_EQ(result, c.expectResult);
    EXPECT_EQ(returnedAtMs, c.expectReturnAtMs);
    EXPECT_EQ(timerWaitEndedAtMs, c.expectTimerWaitEndsAtMs);
    EXPECT_EQ(pc.HibernationCount(), c.expectHibernations);
    EXPECT_EQ(pc.ShutdownPrivilegeEnabled(), c.enablePrivilege);
    EXPECT_EQ(pc.LiveThreadCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SimHibernation, ::testing::ValuesIn(HIBERNATION_CASES),
                         [](const ::testing::TestParamInfo<HibernationCase>& info) {
                             return std::string(info.param.name);
                         });

// --- The companion ---------------------------------------------------------------------

enum class CloseBy { Send, SendWithTimeout, Post };

struct CompanionCase {
    const char* name;
    bool hangs;
    CloseBy closeBy;
    bool expectReturns;
    LRESULT expectResult;
    DWORD expectError;
    std::uint64_t expectReturnAtMs;
    bool expectGone;
};

const CompanionCase COMPANION_CASES[] = {
    {"SendCloses", false, CloseBy::Send, true, 0, 0, 500, true},
    {"SendWithTimeoutCloses", false, CloseBy::SendWithTimeout, true, 1, 0, 500, true},
    {"PostCloses", false, CloseBy::Post, true, TRUE, 0, 500, true},
    {"HangingSendNeverReturns", true, CloseBy::Send, false, 0, 0, 0, false},
    {"HangingSendWithTimeoutTimesOut", true, CloseBy::SendWithTimeout, true, 0, ERROR_TIMEOUT, 5500,
     false},
    {"HangingPostReturns", true, CloseBy::Post, true, TRUE, 0, 500, false},
};

class SimCompanion : public ::testing::TestWithParam<CompanionCase> {};

TEST_P(SimCompanion, AppearsAfterItsDelayAndAnswersTheClose)
{
    const CompanionCase& c = GetParam();
    SimPc pc;
    sim::CompanionModel model;
    model.appearAfterMs = 500;
    model.hangsOnClose = c.hangs;
    pc.InstallCompanion(COMPANION_COMMAND, model);
    BOOL started = FALSE;
    UINT other = 0;
    bool returned = false;
    LRESULT result = -1;
    DWORD error = 0;
    DWORD returnedAtMs = 0;
    const int process = pc.StartProgram([&] {
        char commandLine[] = "\"C:\\PC\\ORB.EXE\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        started =
            CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        other = WinExec("C:\\PC\\OTHER.EXE", SW_SHOWNORMAL); // fails at once: no wait
        Sleep(500);
        HWND window = FindWindowA(COMPANION_CLASS_NAME, NULL);
        SetLastError(0);
        switch (c.closeBy) {
        case CloseBy::Send:
            result = SendMessageA(window, WM_DESTROY, 0, 0);
            break;
        case CloseBy::SendWithTimeout:
            result = SendMessageTimeoutA(window, WM_DESTROY, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                         COMPANION_CLOSE_TIMEOUT_MS, NULL);
            break;
        case CloseBy::Post:
            result = PostMessageA(window, WM_DESTROY, 0, 0);
            break;
        }
        error = GetLastError();
        returnedAtMs = GetTickCount();
        returned = true;
        return 0;
    });
    pc.Advance(499);
    EXPECT_FALSE(pc.CompanionWindowPresent());
    pc.Advance(1);
    EXPECT_EQ(pc.RunToExit(process, HOUR_MS), c.expectReturns);
    EXPECT_EQ(returned, c.expectReturns);
    if (c.expectReturns) {
        EXPECT_EQ(result, c.expectResult);
        EXPECT_EQ(error, c.expectError);
        EXPECT_EQ(returnedAtMs, c.expectReturnAtMs);
    } else {
        EXPECT_EQ(pc.BlockedThreadCount(), 1);
    }
    EXPECT_EQ(pc.CompanionWindowPresent(), !c.expectGone);
    EXPECT_TRUE(started);
    EXPECT_EQ(other, static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    const auto starts = pc.ProcessStarts();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].commandLine, COMPANION_COMMAND);
    EXPECT_EQ(starts[0].showState, 10u) << "no show state given: the default";
    EXPECT_EQ(starts[1].commandLine, "C:\\PC\\OTHER.EXE");
    EXPECT_EQ(pc.WindowCount(), c.expectGone ? 0 : 1); // the other program never started
}

INSTANTIATE_TEST_SUITE_P(Cases, SimCompanion, ::testing::ValuesIn(COMPANION_CASES),
                         [](const ::testing::TestParamInfo<CompanionCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(SimCompanionStart, NothingStartsWithoutAnInstalledCompanion)
{
    SimPc pc;
    EXPECT_EQ(WinExec(COMPANION_COMMAND, SW_SHOWNORMAL), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    pc.Advance(HOUR_MS);
    EXPECT_FALSE(pc.CompanionWindowPresent());
    EXPECT_EQ(pc.ProcessStarts().size(), 1u);
}

// --- Files ------------------------------------------------------------------------------

constexpr DWORD RW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD SHARE_RW = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct ShareCase {
    DWORD firstAccess;
    DWORD firstShare;
    DWORD secondAccess;
    DWORD secondShare;
    bool expectOpen;
};

const ShareCase SHARE_CASES[] = {
    {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
    {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, SHARE_RW, false}, // first does not share writing
    {GENERIC_READ, SHARE_RW, GENERIC_WRITE, SHARE_RW, true},
    {GENERIC_WRITE, SHARE_RW, GENERIC_READ, FILE_SHARE_READ,
     false}, // second does not share writing
    {GENERIC_READ, SHARE_RW | FILE_SHARE_DELETE, RW, 0, false},
    {RW, 0, GENERIC_READ, SHARE_RW | FILE_SHARE_DELETE, false},
    {0, 0, RW, 0, true}, // an open for neither reading nor writing takes no part
};

TEST(SimFiles, ShareModesFollowTheWindowsRule)
{
    SimPc pc;
    pc.WriteFileBytes("S.TXT", "x");
    for (const ShareCase& c : SHARE_CASES) {
        SCOPED_TRACE(testing::Message() << std::hex << c.firstAccess << "/" << c.firstShare
                                        << " then " << c.secondAccess << "/" << c.secondShare);
        HANDLE first =
            CreateFileA("S.TXT", c.firstAccess, c.firstShare, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second =
            CreateFileA("s.txt", c.secondAccess, c.secondShare, NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.expectOpen);
        if (second != INVALID_HANDLE_VALUE) {
            CloseHandle(second);
        } else {
            EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        }
        CloseHandle(first);
    }
}

TEST(SimFiles, AHeldFileAndAReadOnlyFileRefuseTheExclusiveOpen)
{
    SimPc pc;
    pc.WriteFileBytes("dozeward.log", "old\r\n");
    auto openExclusive = [] {
        return CreateFileA(LOG_NAME_FOR_TEST, RW, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           NULL);
    };
    ASSERT_TRUE(pc.HoldFileOpen("DOZEWARD.LOG", GENERIC_READ, SHARE_RW | FILE_SHARE_DELETE));
    EXPECT_EQ(openExclusive(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    pc.ReleaseHeldFile("DOZEWARD.LOG");

    pc.SetReadOnly("DOZEWARD.LOG", true);
    EXPECT_EQ(openExclusive(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(DeleteFileA(LOG_NAME_FOR_TEST), FALSE);
    HANDLE reader = CreateFileA(LOG_NAME_FOR_TEST, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);

    EXPECT_TRUE(SetFileAttributesA(LOG_NAME_FOR_TEST, FILE_ATTRIBUTE_NORMAL));
    HANDLE file = openExclusive();
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS); // the one file, whatever its case
    CloseHandle(file);
    EXPECT_EQ(pc.ReadFileBytes("Dozeward.Log"), "old\r\n");

    EXPECT_EQ(CreateFileA("logs\\X.LOG", RW, 0, NULL, OPEN_ALWAYS, 0, NULL), INVALID_HANDLE_VALUE);
    EXPECT_EQ(pc.ReadFileBytes("X.LOG"), std::nullopt);
}

TEST(SimFiles, GetFileSizeReportsTheHighPart)
{
    SimPc pc;
    pc.WriteFileBytes("BIG.LOG", "tiny");
    pc.SetReportedFileSize("BIG.LOG", (5ULL << 30) + 3);
    HANDLE file = CreateFileA("BIG.LOG", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    DWORD high = 0;
    EXPECT_EQ(GetFileSize(file, &high), (1u << 30) + 3);
    EXPECT_EQ(high, 1u);
    pc.SetReportedFileSize("BIG.LOG", std::nullopt);
    EXPECT_EQ(GetFileSize(file, &high), 4u);
    EXPECT_EQ(high, 0u);
    CloseHandle(file);
}

// One pass over every counted call, each outcome written as a short token:
// C create, S size, A alloc, P pointer, W write, R read, E end of file, F flush;
// "+" or a count for success, "!" and the error code for failure.
std::string RunFileSequence()
{
    std::string out;
    auto add = [&](const std::string& token) { out += (out.empty() ? "" : " ") + token; };
    auto failed = [](const char* call) {
        return std::string(call) + "!" + std::to_string(GetLastError());
    };
    HANDLE file = CreateFileA("F.TXT", RW, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        add(failed("C"));
        return out;
    }
    add("C+");
    const DWORD size = GetFileSize(file, NULL);
    add(size == INVALID_FILE_SIZE ? failed("S") : "S" + std::to_string(size));
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, 64);
    add(block == NULL ? failed("A") : "A+");
    add(SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ? failed("P") : "P+");
    DWORD count = 0;
    const BOOL wrote = WriteFile(file, "0123456789", 10, &count, NULL);
    add(wrote ? "W" + std::to_string(count) : failed("W") + ":" + std::to_string(count));
    add(SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ? failed("P") : "P+");
    char buffer[16];
    add(ReadFile(file, buffer, 10, &count, NULL) ? "R" + std::to_string(count) : failed("R"));
    add(SetFilePointer(file, 12, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ? failed("P")
                                                                               : "P+");
    add(SetEndOfFile(file) ? "E+" : failed("E"));
    add(FlushFileBuffers(file) ? "F+" : failed("F"));
    CloseHandle(file);
    GlobalFree(block);
    return out;
}

struct FaultCase {
    const char* name;
    sim::FaultKind kind;
    int n;
    const char* expectCalls;
    std::string expectFile;
    bool expectHit;
};

const std::string ZEROS(8, '\0');

const FaultCase FAULT_CASES[] = {
    {"None", sim::FaultKind::FailCall, 11, "C+ S4 A+ P+ W10 P+ R10 P+ E+ F+",
     std::string("0123456789") + ZEROS.substr(0, 2), false},
    {"FailCreate", sim::FaultKind::FailCall, 1, "C!1117", "abcd", true},
    {"FailSize", sim::FaultKind::FailCall, 2, "C+ S!1117 A+ P+ W10 P+ R10 P+ E+ F+",
     std::string("0123456789") + ZEROS.substr(0, 2), true},
    {"FailAllocAsCall", sim::FaultKind::FailCall, 3, "C+ S4 A!8 P+ W10 P+ R10 P+ E+ F+",
     std::string("0123456789") + ZEROS.substr(0, 2), true},
    {"FailWrite", sim::FaultKind::FailCall, 5, "C+ S4 A+ P+ W!1117:0 P+ R4 P+ E+ F+",
     "abcd" + ZEROS, true},
    {"FailFlush", sim::FaultKind::FailCall, 10, "C+ S4 A+ P+ W10 P+ R10 P+ E+ F!1117",
     std::string("0123456789") + ZEROS.substr(0, 2), true},
    {"ShortRead", sim::FaultKind::ShortRead, 1, "C+ S4 A+ P+ W10 P+ R5 P+ E+ F+",
     std::string("0123456789") + ZEROS.substr(0, 2), true},
    {"ShortWrite", sim::FaultKind::ShortWrite, 1, "C+ S4 A+ P+ W5 P+ R5 P+ E+ F+",
     "01234" + ZEROS.substr(0, 7), true},
    {"DiskFull", sim::FaultKind::DiskFull, 1, "C+ S4 A+ P+ W!112:4 P+ R4 P+ E!112 F+", "0123",
     true},
    {"DiskFullFromTheSecond", sim::FaultKind::DiskFull, 2, "C+ S4 A+ P+ W10 P+ R10 P+ E!112 F+",
     "0123456789", true},
    {"AllocFail", sim::FaultKind::AllocFail, 1, "C+ S4 A!8 P+ W10 P+ R10 P+ E+ F+",
     std::string("0123456789") + ZEROS.substr(0, 2), true},
};

class SimFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimFaults, TheNthCountedCallFailsAsInjected)
{
    const FaultCase& c = GetParam();
    SimPc pc;
    pc.WriteFileBytes("F.TXT", "abcd");
    pc.InjectFault(c.kind, c.n);
    EXPECT_EQ(RunFileSequence(), c.expectCalls);
    EXPECT_EQ(pc.ReadFileBytes("F.TXT"), c.expectFile);
    EXPECT_EQ(pc.FaultHit(), c.expectHit);
    EXPECT_EQ(pc.LiveBlockCount(), 0);
    pc.ClearFaults();
    EXPECT_FALSE(pc.FaultHit());
}

INSTANTIATE_TEST_SUITE_P(Cases, SimFaults, ::testing::ValuesIn(FAULT_CASES),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

// --- Counts and kernel objects ---------------------------------------------------------

DWORD WINAPI ReturnAtOnce(LPVOID) { return 0; }

TEST(SimCounts, HandlesThreadsAndBlocksAreCounted)
{
    SimPc pc;
    std::vector<int> handleCounts;
    DWORD secondMutexError = 0;
    int threadsWhileRunning = -1;
    const int process = pc.StartProgram([&] {
        auto count = [&] { handleCounts.push_back(pc.OpenHandleCount()); };
        count();
        HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
        GetCurrentProcess(); // a pseudo-handle, not counted
        count();
        HANDLE token = NULL;
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
        count();
        CloseHandle(token);
        count();
        CreateMutexA(NULL, FALSE, "SIM.Mutex");
        CreateMutexA(NULL, FALSE, "SIM.Mutex");
        secondMutexError = GetLastError();
        count();
        HANDLE thread = CreateThread(NULL, 0, ReturnAtOnce, NULL, 0, NULL);
        threadsWhileRunning = pc.LiveThreadCount();
        WaitForSingleObject(thread, INFINITE); // signalled when the thread has ended
        count();
        CloseHandle(event);
        CloseHandle(thread);
        count();
        GlobalAlloc(GMEM_FIXED, 16); // never freed
        GlobalFree(GlobalAlloc(GMEM_FIXED, 16));
        return 0;
    });
    ASSERT_TRUE(pc.RunToExit(process, 1000));
    EXPECT_EQ(handleCounts, (std::vector<int>{0, 1, 2, 1, 3, 4, 2}));
    EXPECT_EQ(secondMutexError, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(threadsWhileRunning, 1);
    EXPECT_EQ(pc.LiveThreadCount(), 0);
    EXPECT_EQ(pc.OpenHandleCount(), 0); // the two mutex handles went with the process
    EXPECT_EQ(pc.LiveBlockCount(), 1);  // a leaked block stays visible after the exit

    // The name died with its last handle.
    HANDLE fresh = CreateMutexA(NULL, FALSE, "SIM.Mutex");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(fresh);
}

TEST(SimKernelObjects, AWaiterOnAClosedTimerKeepsWaitingUntilItFires)
{
    SimPc pc;
    HANDLE timer = NULL;
    DWORD waitResult = 0;
    DWORD endedAtMs = 0;
    const int process = pc.StartProgram([&] {
        timer = ArmedTimer(-1500 * HUNDRED_NS_PER_MS - 1, false); // rounds up to 1501 ms
        waitResult = WaitForSingleObject(timer, INFINITE);
        endedAtMs = GetTickCount();
        return 0;
    });
    pc.RunUntilIdle();
    ASSERT_EQ(pc.WaitersOn(timer), 1);
    EXPECT_TRUE(CloseHandle(timer)); // the test thread closes the program's handle
    EXPECT_EQ(pc.WaitersOn(timer), 1);
    ASSERT_TRUE(pc.RunToExit(process, 5000));
    EXPECT_EQ(waitResult, WAIT_OBJECT_0);
    EXPECT_EQ(endedAtMs, 1501u);
    EXPECT_EQ(pc.WaitersOn(timer), 0);
}

TEST(SimKernelObjects, WaitForMultipleObjectsReturnsTheLowestSignalledIndex)
{
    SimPc pc;
    HANDLE events[3] = {CreateEventA(NULL, FALSE, FALSE, NULL),
                        CreateEventA(NULL, TRUE, TRUE, NULL),
                        CreateEventA(NULL, FALSE, TRUE, NULL)};
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    ResetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 250), WAIT_TIMEOUT); // auto-reset: taken
    EXPECT_EQ(pc.NowMs(), 250u);
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0);
    for (HANDLE event : events) {
        CloseHandle(event);
    }
}

TEST(SimClock, AbsoluteDueTimesAndTheSystemTimeFollowTheWallClock)
{
    SimPc pc;
    pc.SetUtcTime(23, 59, 30);
    constexpr LONGLONG DAYS_1601_TO_SIM_DATE = 155572; // 2026-12-11
    constexpr LONGLONG MIDNIGHT_AFTER =
        (DAYS_1601_TO_SIM_DATE + 1) * 86400LL * 1000 * HUNDRED_NS_PER_MS;
    SYSTEMTIME before = {};
    SYSTEMTIME after = {};
    DWORD firedAtMs = 0;
    const int process = pc.StartProgram([&] {
        GetSystemTime(&before);
        HANDLE timer = ArmedTimer(MIDNIGHT_AFTER, false);
        WaitForSingleObject(timer, INFINITE);
        firedAtMs = GetTickCount();
        GetSystemTime(&after);
        CloseHandle(timer);
        return 0;
    });
    ASSERT_TRUE(pc.RunToExit(process, HOUR_MS));
    EXPECT_EQ(firedAtMs, 30000u);
    EXPECT_EQ(std::vector<int>({before.wYear, before.wMonth, before.wDay, before.wDayOfWeek,
                                before.wHour, before.wMinute, before.wSecond}),
              std::vector<int>({2026, 12, 11, 5, 23, 59, 30}));
    EXPECT_EQ(std::vector<int>({after.wYear, after.wMonth, after.wDay, after.wDayOfWeek,
                                after.wHour, after.wMinute, after.wSecond}),
              std::vector<int>({2026, 12, 12, 6, 0, 0, 0}));
}

// --- The pause point ---------------------------------------------------------------------

TEST(SimPause, AThreadIsHeldBeforeTheNamedCallUntilResumed)
{
    SimPc pc;
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    pc.PauseBefore("SetEvent");
    const int process = pc.StartProgram([event] {
        Sleep(100);
        SetEvent(event);
        SetEvent(event); // the pause was for one call only
        return 0;
    });
    pc.Advance(1000);
    EXPECT_TRUE(pc.Paused());
    EXPECT_TRUE(pc.ProcessRunning(process));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT); // the call has not acted
    EXPECT_TRUE(pc.TraceTexts({"SetEvent"}).empty());
    pc.Resume();
    EXPECT_FALSE(pc.Paused());
    pc.RunUntilIdle();
    EXPECT_FALSE(pc.ProcessRunning(process));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(pc.TraceTexts({"SetEvent"}).size(), 2u);
    EXPECT_EQ(pc.Trace().back().atMs, 1000u);
    CloseHandle(event);
}

// --- The trace -----------------------------------------------------------------------------

TEST(SimTrace, CallsAreRecordedInTheirDocumentedForms)
{
    SimPc pc;
    const int process = pc.StartProgram([] {
        CreateMutexA(NULL, FALSE, "DOZEWARD.SingleInstance");
        HANDLE timer = CreateWaitableTimerA(NULL, FALSE, NULL);
        LARGE_INTEGER due;
        due.QuadPart = -36000000000LL;
        SetWaitableTimer(timer, &due, 0, NULL, NULL, TRUE);
        HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
        HANDLE both[2] = {timer, event};
        WaitForMultipleObjects(2, both, FALSE, 0);
        CancelWaitableTimer(timer);
        CloseHandle(timer);
        WaitForSingleObject(NULL, 0);
        Sleep(1000);
        mouse_event(MOUSEEVENTF_MOVE, 0, 1, 0, 0);
        mouse_event(MOUSEEVENTF_MOVE, 0, static_cast<DWORD>(-1), 0, 0);
        WinExec(COMPANION_COMMAND, SW_SHOWNORMAL);
        SendMessageTimeoutA(FindWindowA(COMPANION_CLASS_NAME, NULL), WM_DESTROY, 0, 0, SMTO_NORMAL,
                            5000, NULL);
        return 0;
    });
    ASSERT_TRUE(pc.RunToExit(process, 5000));
    EXPECT_EQ(pc.TraceTexts(), (std::vector<std::string>{
                                   "CreateMutexA(DOZEWARD.SingleInstance)",
                                   "CreateWaitableTimerA -> timer#1",
                                   "SetWaitableTimer(timer#1,-36000000000,resume)",
                                   "CreateEventA -> event#1",
                                   "WaitForMultipleObjects(timer#1,event#1)",
                                   "CancelWaitableTimer(timer#1)",
                                   "CloseHandle(timer#1)",
                                   "WaitForSingleObject(none)",
                                   "Sleep(1000)",
                                   "mouse_event(1,0,1)",
                                   "mouse_event(1,0,-1)",
                                   "WinExec(\"C:\\PC\\ORB.EXE\",1)",
                                   "FindWindowA(ORIELDESK)",
                                   "SendMessageTimeoutA(none,0x0002,5000)",
                               }));
    const auto trace = pc.Trace();
    EXPECT_EQ(trace.front().thread, "main");
    EXPECT_EQ(trace.back().atMs, 1000u);
    EXPECT_EQ(pc.MouseMoves().size(), 2u);
    EXPECT_EQ(pc.MouseMoves()[1].dy, -1);
}

} // namespace
