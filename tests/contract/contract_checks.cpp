// The platform-behaviour checks shared by the simulated PC and real Windows.
//
// Each check states one thing the supervisor relies on (a window found from
// another thread, a timer that repeats until killed, a wait that fails at
// once on no handle, ...). They are plain functions over the seam's services
// with a counting reporter, so that the same object code shape runs inside a
// SimPc and as a Windows program under Wine. Each check uses its own window
// class and cleans up after itself, because on Windows they all share one
// process.
#include "contract_checks.h"

#include <cstdio>

namespace {

constexpr DWORD WAIT_BOUND_MS = 10000; // far above any due time: a hang shows as a failure
constexpr DWORD TICK_SLACK_MS = 32;    // GetTickCount moves in steps of about 16 ms on Windows
constexpr LONGLONG HUNDRED_NS_PER_MS = 10000;
constexpr DWORD TIMER_DUE_MS = 400;
constexpr DWORD EARLY_PROBE_MS = 100; // well before TIMER_DUE_MS, even on a loaded machine
constexpr UINT REPEAT_PERIOD_MS = 200;
constexpr UINT_PTR REPEAT_TIMER_ID = 7;
constexpr UINT_PTR NEVER_ARMED_TIMER_ID = 8;
constexpr UINT_PTR GUARD_TIMER_ID = 9;
constexpr UINT_PTR SAFETY_TIMER_ID = 99;
constexpr UINT SAFETY_PERIOD_MS = 20000;
constexpr int REPEAT_TICKS = 3;
constexpr char SCRATCH_FILE_NAME[] = "DZCONTRACT.TMP";

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow(const char* className)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = className;
    if (RegisterClassExA(&windowClass) == 0) {
        return NULL;
    }
    return CreateWindowExA(0, className, className, WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                           windowClass.hInstance, NULL);
}

void PumpUntilQuit()
{
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// --- A top-level window is found by class from another thread ----------------

struct FindRequest {
    const char* className;
    HWND found;
};

DWORD WINAPI FindFromThread(LPVOID parameter)
{
    FindRequest* request = static_cast<FindRequest*>(parameter);
    request->found = FindWindowA(request->className, NULL);
    return 0;
}

HWND FindOnAnotherThread(ContractReport& report, const char* className)
{
    FindRequest request = {className, NULL};
    HANDLE thread = CreateThread(NULL, 0, FindFromThread, &request, 0, NULL);
    CONTRACT_EXPECT(report, thread != NULL);
    if (thread == NULL) {
        return NULL;
    }
    CONTRACT_EXPECT(report, WaitForSingleObject(thread, WAIT_BOUND_MS) == WAIT_OBJECT_0);
    CloseHandle(thread);
    return request.found;
}

void CheckFindWindowFromAnotherThread(ContractReport& report)
{
    HWND window = MakeWindow("DZCONTRACTFIND");
    CONTRACT_EXPECT(report, window != NULL);
    if (window == NULL) {
        return; // every search below would "find" NULL
    }
    CONTRACT_EXPECT(report, FindOnAnotherThread(report, "DZCONTRACTFIND") == window);
    // Class names are compared without regard to case.
    CONTRACT_EXPECT(report, FindOnAnotherThread(report, "dzcontractfind") == window);
    CONTRACT_EXPECT(report, FindOnAnotherThread(report, "DZCONTRACTNONE") == NULL);
    CONTRACT_EXPECT(report, DestroyWindow(window) != FALSE);
    CONTRACT_EXPECT(report, FindOnAnotherThread(report, "DZCONTRACTFIND") == NULL);
}

// --- A window timer repeats until killed --------------------------------------

struct TimerLog {
    int ticks;
    DWORD firstTickMs;
    DWORD lastTickMs;
    BOOL killed;
    bool guardArmed;
    bool safetyFired;
};
TimerLog timerLog;

void CALLBACK GuardTimerProc(HWND window, UINT, UINT_PTR, DWORD)
{
    // Three periods after the kill: any tick of the killed timer would be in.
    KillTimer(window, GUARD_TIMER_ID);
    PostQuitMessage(0);
}

void CALLBACK RepeatTimerProc(HWND window, UINT, UINT_PTR timerId, DWORD)
{
    if (timerId != REPEAT_TIMER_ID) {
        return;
    }
    ++timerLog.ticks;
    timerLog.lastTickMs = GetTickCount();
    if (timerLog.ticks == 1) {
        timerLog.firstTickMs = timerLog.lastTickMs;
    }
    if (timerLog.ticks == REPEAT_TICKS) {
        timerLog.killed = KillTimer(window, REPEAT_TIMER_ID);
        timerLog.guardArmed =
            SetTimer(window, GUARD_TIMER_ID, 3 * REPEAT_PERIOD_MS, GuardTimerProc) != 0;
    }
}

void CALLBACK SafetyTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    timerLog.safetyFired = true;
    PostQuitMessage(1);
}

void CheckWindowTimerRepeatsUntilKilled(ContractReport& report)
{
    timerLog = TimerLog();
    HWND window = MakeWindow("DZCONTRACTTIMER");
    CONTRACT_EXPECT(report, window != NULL);
    if (window == NULL) {
        return; // SetTimer would make thread timers instead
    }
    CONTRACT_EXPECT(report, KillTimer(window, NEVER_ARMED_TIMER_ID) == FALSE);
    CONTRACT_EXPECT(report,
                    SetTimer(window, REPEAT_TIMER_ID, REPEAT_PERIOD_MS, RepeatTimerProc) != 0);
    CONTRACT_EXPECT(report,
                    SetTimer(window, SAFETY_TIMER_ID, SAFETY_PERIOD_MS, SafetyTimerProc) != 0);
    PumpUntilQuit();
    KillTimer(window, SAFETY_TIMER_ID);
    CONTRACT_EXPECT(report, !timerLog.safetyFired);
    CONTRACT_EXPECT(report, timerLog.ticks == REPEAT_TICKS);
    CONTRACT_EXPECT(report, timerLog.killed != FALSE);
    CONTRACT_EXPECT(report, timerLog.guardArmed);
    CONTRACT_EXPECT(report, timerLog.lastTickMs - timerLog.firstTickMs + TICK_SLACK_MS >=
                                (REPEAT_TICKS - 1) * REPEAT_PERIOD_MS);
    // Killing it again, now that it is not running, does nothing.
    CONTRACT_EXPECT(report, KillTimer(window, REPEAT_TIMER_ID) == FALSE);
    DestroyWindow(window);
}

// --- Waitable timers -----------------------------------------------------------

bool Arm(HANDLE timer, LONGLONG dueTime)
{
    LARGE_INTEGER due;
    due.QuadPart = dueTime;
    return SetWaitableTimer(timer, &due, 0, NULL, NULL, FALSE) != FALSE;
}

void CheckRelativeDueTimeFiresAfterThatLong(ContractReport& report)
{
    HANDLE timer = CreateWaitableTimerA(NULL, TRUE, NULL);
    CONTRACT_EXPECT(report, timer != NULL);
    const DWORD startMs = GetTickCount();
    CONTRACT_EXPECT(report, Arm(timer, -static_cast<LONGLONG>(TIMER_DUE_MS) * HUNDRED_NS_PER_MS));
    CONTRACT_EXPECT(report, WaitForSingleObject(timer, EARLY_PROBE_MS) == WAIT_TIMEOUT);
    CONTRACT_EXPECT(report, WaitForSingleObject(timer, WAIT_BOUND_MS) == WAIT_OBJECT_0);
    CONTRACT_EXPECT(report, GetTickCount() - startMs + TICK_SLACK_MS >= TIMER_DUE_MS);
    // A manual-reset timer stays signalled for the next wait.
    CONTRACT_EXPECT(report, WaitForSingleObject(timer, 0) == WAIT_OBJECT_0);
    CloseHandle(timer);
}

void CheckPastDueTimeIsSignalledAtOnce(ContractReport& report)
{
    // Zero and positive values are absolute times; these lie long in the past.
    const LONGLONG pastDueTimes[] = {0, 37000000000LL};
    for (LONGLONG due : pastDueTimes) {
        HANDLE timer = CreateWaitableTimerA(NULL, FALSE, NULL);
        CONTRACT_EXPECT(report, timer != NULL);
        CONTRACT_EXPECT(report, Arm(timer, due));
        CONTRACT_EXPECT(report, WaitForSingleObject(timer, 0) == WAIT_OBJECT_0);
        // The wait took the signal of the auto-reset timer.
        CONTRACT_EXPECT(report, WaitForSingleObject(timer, 0) == WAIT_TIMEOUT);
        CloseHandle(timer);
    }
}

void CheckCancelledTimerNeverFires(ContractReport& report)
{
    HANDLE timer = CreateWaitableTimerA(NULL, FALSE, NULL);
    CONTRACT_EXPECT(report, timer != NULL);
    CONTRACT_EXPECT(report, Arm(timer, -static_cast<LONGLONG>(TIMER_DUE_MS) * HUNDRED_NS_PER_MS));
    CONTRACT_EXPECT(report, CancelWaitableTimer(timer) != FALSE);
    CONTRACT_EXPECT(report, WaitForSingleObject(timer, 3 * TIMER_DUE_MS) == WAIT_TIMEOUT);
    CloseHandle(timer);

    // A cancel leaves a timer that has already fired signalled.
    HANDLE fired = CreateWaitableTimerA(NULL, TRUE, NULL);
    CONTRACT_EXPECT(report, fired != NULL);
    CONTRACT_EXPECT(report, Arm(fired, 0));
    CONTRACT_EXPECT(report, CancelWaitableTimer(fired) != FALSE);
    CONTRACT_EXPECT(report, WaitForSingleObject(fired, 0) == WAIT_OBJECT_0);
    CloseHandle(fired);
}

// --- A wait on no timer ---------------------------------------------------------

void CheckWaitOnNoHandleFailsAtOnce(ContractReport& report)
{
    // A wait that blocked would end in WAIT_TIMEOUT, so no clock is needed.
    CONTRACT_EXPECT(report, WaitForSingleObject(NULL, 2000) == WAIT_FAILED);
    CONTRACT_EXPECT(report, GetLastError() == ERROR_INVALID_HANDLE);
    HANDLE none[1] = {NULL};
    CONTRACT_EXPECT(report, WaitForMultipleObjects(1, none, FALSE, 2000) == WAIT_FAILED);
}

// --- Share modes ------------------------------------------------------------------

HANDLE Open(DWORD access, DWORD shareMode, DWORD creation)
{
    return CreateFileA(SCRATCH_FILE_NAME, access, shareMode, NULL, creation, FILE_ATTRIBUTE_NORMAL,
                       NULL);
}

void ExpectSharingViolation(ContractReport& report, HANDLE file)
{
    const DWORD error = GetLastError();
    CONTRACT_EXPECT(report, file == INVALID_HANDLE_VALUE);
    CONTRACT_EXPECT(report, error == ERROR_SHARING_VIOLATION);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

void CheckUnsharedOpenFailsWhileAnotherIsOpen(ContractReport& report)
{
    const DWORD readWrite = GENERIC_READ | GENERIC_WRITE;
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

    HANDLE exclusive = Open(readWrite, 0, CREATE_ALWAYS);
    CONTRACT_EXPECT(report, exclusive != INVALID_HANDLE_VALUE);
    // The holder shares nothing: even a reader that shares everything is refused.
    ExpectSharingViolation(report, Open(GENERIC_READ, shareAll, OPEN_EXISTING));
    CloseHandle(exclusive);

    HANDLE reader = Open(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    CONTRACT_EXPECT(report, reader != INVALID_HANDLE_VALUE);
    // The new open shares nothing while a reader is open.
    ExpectSharingViolation(report, Open(readWrite, 0, OPEN_ALWAYS));
    // Two readers that share reading get on.
    HANDLE secondReader = Open(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    CONTRACT_EXPECT(report, secondReader != INVALID_HANDLE_VALUE);
    CloseHandle(secondReader);
    CloseHandle(reader);

    HANDLE again = Open(readWrite, 0, OPEN_ALWAYS);
    CONTRACT_EXPECT(report, again != INVALID_HANDLE_VALUE);
    CloseHandle(again);
    CONTRACT_EXPECT(report, DeleteFileA(SCRATCH_FILE_NAME) != FALSE);
}

// --- A file replaced in one step ------------------------------------------------------

constexpr char REPLACEMENT_FILE_NAME[] = "DZCONTRACT.NEW";
constexpr DWORD REPLACE_FLAGS = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

bool WriteScratch(const char* name, const char* text, DWORD length)
{
    HANDLE file =
        CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    const bool whole = file != INVALID_HANDLE_VALUE &&
                       WriteFile(file, text, length, &written, NULL) != FALSE && written == length;
    CloseHandle(file);
    return whole;
}

DWORD ScratchSize()
{
    HANDLE file = Open(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    const DWORD size = GetFileSize(file, NULL);
    CloseHandle(file);
    return size;
}

void CheckRenameReplacesAClosedTargetOnly(ContractReport& report)
{
    CONTRACT_EXPECT(report, WriteScratch(SCRATCH_FILE_NAME, "old", 3));
    CONTRACT_EXPECT(report, WriteScratch(REPLACEMENT_FILE_NAME, "new!", 4));
    // A reader that does not share delete keeps the target as it is.
    HANDLE reader = Open(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    CONTRACT_EXPECT(report, reader != INVALID_HANDLE_VALUE);
    CONTRACT_EXPECT(report,
                    MoveFileExA(REPLACEMENT_FILE_NAME, SCRATCH_FILE_NAME, REPLACE_FLAGS) == FALSE);
    CONTRACT_EXPECT(report, GetLastError() == ERROR_ACCESS_DENIED);
    CloseHandle(reader);
    CONTRACT_EXPECT(report, ScratchSize() == 3);

    // A source held open without delete sharing cannot be moved.
    HANDLE source = CreateFileA(REPLACEMENT_FILE_NAME, GENERIC_READ, FILE_SHARE_READ, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    CONTRACT_EXPECT(report, source != INVALID_HANDLE_VALUE);
    CONTRACT_EXPECT(report,
                    MoveFileExA(REPLACEMENT_FILE_NAME, SCRATCH_FILE_NAME, REPLACE_FLAGS) == FALSE);
    CONTRACT_EXPECT(report, GetLastError() == ERROR_SHARING_VIOLATION);
    CloseHandle(source);
    CONTRACT_EXPECT(report, ScratchSize() == 3);

    // Not asked to replace: the target stays.
    CONTRACT_EXPECT(report, MoveFileExA(REPLACEMENT_FILE_NAME, SCRATCH_FILE_NAME, 0) == FALSE);
    CONTRACT_EXPECT(report, GetLastError() == ERROR_ALREADY_EXISTS);

    // Closed, it is replaced, and the source's name is gone.
    CONTRACT_EXPECT(report,
                    MoveFileExA(REPLACEMENT_FILE_NAME, SCRATCH_FILE_NAME, REPLACE_FLAGS) != FALSE);
    CONTRACT_EXPECT(report, ScratchSize() == 4);
    CONTRACT_EXPECT(report, GetFileAttributesA(REPLACEMENT_FILE_NAME) == INVALID_FILE_ATTRIBUTES);
    CONTRACT_EXPECT(report, GetLastError() == ERROR_FILE_NOT_FOUND);
    CONTRACT_EXPECT(report, DeleteFileA(SCRATCH_FILE_NAME) != FALSE);
}

// --- The message loop ends at WM_QUIT ----------------------------------------------

void CheckGetMessageEndsAtQuit(ContractReport& report)
{
    HWND window = MakeWindow("DZCONTRACTQUIT");
    CONTRACT_EXPECT(report, window != NULL);
    if (window == NULL) {
        return; // a post to NULL would go to the thread and pass for the wrong reason
    }
    const UINT posted = WM_APP + 5;
    CONTRACT_EXPECT(report, PostMessageA(window, posted, 1, 2) != FALSE);
    PostQuitMessage(42);
    MSG msg = {};
    // A message posted before the quit still comes first.
    CONTRACT_EXPECT(report, GetMessageA(&msg, NULL, 0, 0) > 0);
    CONTRACT_EXPECT(report, msg.message == posted && msg.hwnd == window && msg.wParam == 1);
    CONTRACT_EXPECT(report, GetMessageA(&msg, NULL, 0, 0) == 0);
    CONTRACT_EXPECT(report, msg.message == WM_QUIT);
    CONTRACT_EXPECT(report, msg.wParam == 42);
    DestroyWindow(window);
}

} // namespace

void ContractExpect(ContractReport& report, bool ok, const char* what, const char* file, int line)
{
    if (ok) {
        ++report.passed;
        return;
    }
    ++report.failed;
    std::printf("contract check failed: %s (%s:%d)\n", what, file, line);
    std::fflush(stdout);
}

const ContractCheck CONTRACT_CHECKS[] = {
    {"FindWindowFromAnotherThread", CheckFindWindowFromAnotherThread},
    {"WindowTimerRepeatsUntilKilled", CheckWindowTimerRepeatsUntilKilled},
    {"RelativeDueTimeFiresAfterThatLong", CheckRelativeDueTimeFiresAfterThatLong},
    {"PastDueTimeIsSignalledAtOnce", CheckPastDueTimeIsSignalledAtOnce},
    {"CancelledTimerNeverFires", CheckCancelledTimerNeverFires},
    {"WaitOnNoHandleFailsAtOnce", CheckWaitOnNoHandleFailsAtOnce},
    {"UnsharedOpenFailsWhileAnotherIsOpen", CheckUnsharedOpenFailsWhileAnotherIsOpen},
    {"GetMessageEndsAtQuit", CheckGetMessageEndsAtQuit},
    {"RenameReplacesAClosedTargetOnly", CheckRenameReplacesAClosedTargetOnly},
};
const int CONTRACT_CHECK_COUNT = sizeof CONTRACT_CHECKS / sizeof CONTRACT_CHECKS[0];
