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

// --- Named mutexes -------------------------------------------------------------------

void CheckNamedMutexTellsWhetherItExisted(ContractReport& report)
{
    // A stale code from an earlier call must not pass for "it existed".
    SetLastError(ERROR_ALREADY_EXISTS);
    HANDLE first = CreateMutexA(NULL, FALSE, "DZCONTRACT.Mutex");
    CONTRACT_EXPECT(report, first != NULL);
    CONTRACT_EXPECT(report, GetLastError() == ERROR_SUCCESS);
    HANDLE second = CreateMutexA(NULL, FALSE, "DZCONTRACT.Mutex");
    CONTRACT_EXPECT(report, second != NULL);
    CONTRACT_EXPECT(report, GetLastError() == ERROR_ALREADY_EXISTS);
    CloseHandle(second);
    CloseHandle(first);
    // With every handle closed the name is free again.
    SetLastError(ERROR_ACCESS_DENIED);
    HANDLE again = CreateMutexA(NULL, FALSE, "DZCONTRACT.Mutex");
    CONTRACT_EXPECT(report, again != NULL);
    CONTRACT_EXPECT(report, GetLastError() == ERROR_SUCCESS);
    CloseHandle(again);
}

// --- A wait on a timer and an event --------------------------------------------------

struct CancelThenSignal {
    HANDLE timer;
    HANDLE event;
};

DWORD WINAPI CancelTimerThenSetEvent(LPVOID parameter)
{
    const CancelThenSignal* pair = static_cast<const CancelThenSignal*>(parameter);
    Sleep(EARLY_PROBE_MS);
    CancelWaitableTimer(pair->timer);
    // Long past the timer's due time: only the event can end the wait.
    Sleep(2 * TIMER_DUE_MS);
    SetEvent(pair->event);
    return 0;
}

void CheckWaitOnTimerAndEvent(ContractReport& report)
{
    HANDLE timer = CreateWaitableTimerA(NULL, FALSE, NULL);
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    CONTRACT_EXPECT(report, timer != NULL && event != NULL);
    const HANDLE both[2] = {timer, event};

    // Both signalled: the lower index wins and only its signal is taken.
    CONTRACT_EXPECT(report, Arm(timer, 0));
    CONTRACT_EXPECT(report, SetEvent(event) != FALSE);
    CONTRACT_EXPECT(report, WaitForMultipleObjects(2, both, FALSE, 0) == WAIT_OBJECT_0);
    CONTRACT_EXPECT(report, WaitForMultipleObjects(2, both, FALSE, 0) == WAIT_OBJECT_0 + 1);
    CONTRACT_EXPECT(report, WaitForMultipleObjects(2, both, FALSE, 0) == WAIT_TIMEOUT);

    // A timer cancelled during the wait leaves the event to end it.
    CONTRACT_EXPECT(report, Arm(timer, -static_cast<LONGLONG>(TIMER_DUE_MS) * HUNDRED_NS_PER_MS));
    CancelThenSignal pair = {timer, event};
    const DWORD startMs = GetTickCount();
    HANDLE thread = CreateThread(NULL, 0, CancelTimerThenSetEvent, &pair, 0, NULL);
    CONTRACT_EXPECT(report, thread != NULL);
    CONTRACT_EXPECT(report,
                    WaitForMultipleObjects(2, both, FALSE, WAIT_BOUND_MS) == WAIT_OBJECT_0 + 1);
    CONTRACT_EXPECT(report,
                    GetTickCount() - startMs + TICK_SLACK_MS >= EARLY_PROBE_MS + 2 * TIMER_DUE_MS);
    if (thread != NULL) {
        WaitForSingleObject(thread, WAIT_BOUND_MS);
        CloseHandle(thread);
    }
    CloseHandle(event);
    CloseHandle(timer);
}

// --- Sends with a bound -------------------------------------------------------------

constexpr UINT STUCK_MESSAGE = WM_APP + 7;
constexpr UINT QUIT_MESSAGE = WM_APP + 8;
constexpr UINT ORDERED_MESSAGE = WM_APP + 9;
constexpr UINT SEND_BOUND_MS = 300;
constexpr int ORDERED_COUNT = 50;

// What a window on a thread of its own saw, for the checks across threads.
struct OtherThreadWindow {
    const char* className;
    HANDLE ready;   // set once the window exists
    HANDLE release; // lets a procedure stuck in STUCK_MESSAGE return
    HWND window;
    int received[ORDERED_COUNT];
    int receivedCount;
};
OtherThreadWindow* otherThreadWindow = nullptr;

LRESULT CALLBACK OtherThreadProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case STUCK_MESSAGE:
        WaitForSingleObject(otherThreadWindow->release, WAIT_BOUND_MS);
        return 1;
    case ORDERED_MESSAGE:
        if (otherThreadWindow->receivedCount < ORDERED_COUNT) {
            otherThreadWindow->received[otherThreadWindow->receivedCount++] =
                static_cast<int>(wParam);
        }
        return 0;
    case QUIT_MESSAGE:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

DWORD WINAPI OtherThreadWindowMain(LPVOID)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = OtherThreadProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = otherThreadWindow->className;
    RegisterClassExA(&windowClass);
    otherThreadWindow->window =
        CreateWindowExA(0, otherThreadWindow->className, otherThreadWindow->className, WS_POPUP, 0,
                        0, 0, 0, NULL, NULL, windowClass.hInstance, NULL);
    SetEvent(otherThreadWindow->ready);
    if (otherThreadWindow->window != NULL) {
        PumpUntilQuit();
        DestroyWindow(otherThreadWindow->window);
    }
    return 0;
}

// Starts the thread and waits for its window; returns the thread, or NULL.
HANDLE StartOtherThreadWindow(ContractReport& report, OtherThreadWindow& state,
                              const char* className)
{
    state = OtherThreadWindow();
    state.className = className;
    state.ready = CreateEventA(NULL, TRUE, FALSE, NULL);
    state.release = CreateEventA(NULL, TRUE, FALSE, NULL);
    otherThreadWindow = &state;
    HANDLE thread = CreateThread(NULL, 0, OtherThreadWindowMain, NULL, 0, NULL);
    CONTRACT_EXPECT(report, thread != NULL);
    CONTRACT_EXPECT(report, WaitForSingleObject(state.ready, WAIT_BOUND_MS) == WAIT_OBJECT_0);
    CONTRACT_EXPECT(report, state.window != NULL);
    return thread;
}

void StopOtherThreadWindow(ContractReport& report, OtherThreadWindow& state, HANDLE thread)
{
    SetEvent(state.release);
    if (state.window != NULL) {
        CONTRACT_EXPECT(report, PostMessageA(state.window, QUIT_MESSAGE, 0, 0) != FALSE);
    }
    if (thread != NULL) {
        CONTRACT_EXPECT(report, WaitForSingleObject(thread, WAIT_BOUND_MS) == WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    CloseHandle(state.ready);
    CloseHandle(state.release);
    otherThreadWindow = nullptr;
}

void CheckBoundedSendFailsAtOnceOrAfterTheBound(ContractReport& report)
{
    DWORD_PTR result = 0;
    // No window at all, and a window that is gone: no wait.
    DWORD startMs = GetTickCount();
    CONTRACT_EXPECT(report, SendMessageTimeoutA(NULL, WM_APP, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                                WAIT_BOUND_MS, &result) == 0);
    HWND gone = MakeWindow("DZCONTRACTGONE");
    CONTRACT_EXPECT(report, gone != NULL && DestroyWindow(gone) != FALSE);
    CONTRACT_EXPECT(report, SendMessageTimeoutA(gone, WM_APP, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                                WAIT_BOUND_MS, &result) == 0);
    CONTRACT_EXPECT(report, GetTickCount() - startMs < WAIT_BOUND_MS / 2);

    // A thread stuck in its window procedure: the send gives up after the bound.
    OtherThreadWindow state;
    HANDLE thread = StartOtherThreadWindow(report, state, "DZCONTRACTSTUCK");
    if (state.window != NULL) {
        startMs = GetTickCount();
        CONTRACT_EXPECT(report, SendMessageTimeoutA(state.window, STUCK_MESSAGE, 0, 0, SMTO_NORMAL,
                                                    SEND_BOUND_MS, &result) == 0);
        const DWORD elapsedMs = GetTickCount() - startMs;
        CONTRACT_EXPECT(report, elapsedMs + TICK_SLACK_MS >= SEND_BOUND_MS);
        CONTRACT_EXPECT(report, elapsedMs < WAIT_BOUND_MS);
    }
    StopOtherThreadWindow(report, state, thread);
}

void CheckPostedMessagesArriveInOrder(ContractReport& report)
{
    OtherThreadWindow state;
    HANDLE thread = StartOtherThreadWindow(report, state, "DZCONTRACTORDER");
    if (state.window != NULL) {
        for (int i = 0; i < ORDERED_COUNT; ++i) {
            CONTRACT_EXPECT(report, PostMessageA(state.window, ORDERED_MESSAGE,
                                                 static_cast<WPARAM>(i), 0) != FALSE);
        }
    }
    StopOtherThreadWindow(report, state, thread);
    CONTRACT_EXPECT(report, state.receivedCount == (state.window != NULL ? ORDERED_COUNT : 0));
    bool inOrder = true;
    for (int i = 0; i < state.receivedCount; ++i) {
        inOrder = inOrder && state.received[i] == i;
    }
    CONTRACT_EXPECT(report, inOrder);
}

// Windows binds a window's timers to the thread that owns the window. Wine
// lets another thread arm one, so this check runs on the simulated PC only.
void CheckTimerOnAnotherThreadsWindowIsRefused(ContractReport& report)
{
    OtherThreadWindow state;
    HANDLE thread = StartOtherThreadWindow(report, state, "DZCONTRACTFOREIGN");
    if (state.window != NULL) {
        CONTRACT_EXPECT(report,
                        SetTimer(state.window, REPEAT_TIMER_ID, REPEAT_PERIOD_MS, NULL) == 0);
        CONTRACT_EXPECT(report, GetLastError() == ERROR_ACCESS_DENIED);
    }
    StopOtherThreadWindow(report, state, thread);
}

// --- A window timer armed again starts its period over ----------------------------

DWORD rearmTickMs = 0;

void CALLBACK RearmedTimerProc(HWND window, UINT, UINT_PTR timerId, DWORD)
{
    rearmTickMs = GetTickCount();
    KillTimer(window, timerId);
    PostQuitMessage(0);
}

void CheckRearmedWindowTimerTicksOnePeriodLater(ContractReport& report)
{
    HWND window = MakeWindow("DZCONTRACTREARM");
    CONTRACT_EXPECT(report, window != NULL);
    if (window == NULL) {
        return;
    }
    // Killed and set again, as the watchdog is; and set again over itself.
    const bool killFirstModes[] = {true, false};
    for (bool killFirst : killFirstModes) {
        rearmTickMs = 0;
        CONTRACT_EXPECT(
            report, SetTimer(window, REPEAT_TIMER_ID, 2 * REPEAT_PERIOD_MS, RearmedTimerProc) != 0);
        Sleep(REPEAT_PERIOD_MS);
        if (killFirst) {
            CONTRACT_EXPECT(report, KillTimer(window, REPEAT_TIMER_ID) != FALSE);
        }
        const DWORD rearmedMs = GetTickCount();
        CONTRACT_EXPECT(
            report, SetTimer(window, REPEAT_TIMER_ID, 2 * REPEAT_PERIOD_MS, RearmedTimerProc) != 0);
        CONTRACT_EXPECT(report,
                        SetTimer(window, SAFETY_TIMER_ID, SAFETY_PERIOD_MS, SafetyTimerProc) != 0);
        PumpUntilQuit();
        KillTimer(window, SAFETY_TIMER_ID);
        CONTRACT_EXPECT(report, rearmTickMs != 0);
        CONTRACT_EXPECT(report, rearmTickMs - rearmedMs + TICK_SLACK_MS >= 2 * REPEAT_PERIOD_MS);
    }
    DestroyWindow(window);
}

// --- Files at and past their end ----------------------------------------------------

DWORD ReadCount(HANDLE file, char* buffer, DWORD size)
{
    DWORD count = 0xFFFF;
    return ReadFile(file, buffer, size, &count, NULL) != FALSE ? count : 0xFFFFFFFF;
}

void CheckOpenAlwaysTellsWhetherTheFileExisted(ContractReport& report)
{
    DeleteFileA(SCRATCH_FILE_NAME);
    SetLastError(ERROR_ALREADY_EXISTS);
    HANDLE created = Open(GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
    CONTRACT_EXPECT(report, created != INVALID_HANDLE_VALUE);
    CONTRACT_EXPECT(report, GetLastError() == ERROR_SUCCESS);
    CloseHandle(created);
    HANDLE opened = Open(GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
    CONTRACT_EXPECT(report, opened != INVALID_HANDLE_VALUE);
    CONTRACT_EXPECT(report, GetLastError() == ERROR_ALREADY_EXISTS);
    CloseHandle(opened);

    // A reader that shares everything still keeps out an open that shares nothing.
    HANDLE reader =
        Open(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    CONTRACT_EXPECT(report, reader != INVALID_HANDLE_VALUE);
    ExpectSharingViolation(report, Open(GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS));
    CloseHandle(reader);
    CONTRACT_EXPECT(report, DeleteFileA(SCRATCH_FILE_NAME) != FALSE);
}

void CheckFileCallsAtAndPastTheEnd(ContractReport& report)
{
    HANDLE file = Open(GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    CONTRACT_EXPECT(report, file != INVALID_HANDLE_VALUE);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    char buffer[16] = {};
    DWORD written = 0;
    CONTRACT_EXPECT(report, WriteFile(file, "abc", 3, &written, NULL) != FALSE && written == 3);
    // At the end, and past it, a read succeeds with nothing.
    CONTRACT_EXPECT(report, ReadCount(file, buffer, sizeof buffer) == 0);
    CONTRACT_EXPECT(report, SetFilePointer(file, 10, NULL, FILE_BEGIN) == 10);
    CONTRACT_EXPECT(report, ReadCount(file, buffer, sizeof buffer) == 0);
    CONTRACT_EXPECT(report, GetFileSize(file, NULL) == 3);
    // The end set past the old end fills the gap with zeros.
    CONTRACT_EXPECT(report, SetEndOfFile(file) != FALSE);
    CONTRACT_EXPECT(report, GetFileSize(file, NULL) == 10);
    // A write past the end does the same up to where it writes.
    CONTRACT_EXPECT(report, SetFilePointer(file, 12, NULL, FILE_BEGIN) == 12);
    CONTRACT_EXPECT(report, WriteFile(file, "z", 1, &written, NULL) != FALSE && written == 1);
    CONTRACT_EXPECT(report, GetFileSize(file, NULL) == 13);
    CONTRACT_EXPECT(report, SetFilePointer(file, 0, NULL, FILE_BEGIN) == 0);
    CONTRACT_EXPECT(report, ReadCount(file, buffer, sizeof buffer) == 13);
    const char expected[13] = {'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 0, 0, 'z'};
    bool same = true;
    for (int i = 0; i < 13; ++i) {
        same = same && buffer[i] == expected[i];
    }
    CONTRACT_EXPECT(report, same);
    // Cut back below the old end; a move before the start fails and stays put.
    CONTRACT_EXPECT(report, SetFilePointer(file, 2, NULL, FILE_BEGIN) == 2);
    CONTRACT_EXPECT(report, SetEndOfFile(file) != FALSE);
    CONTRACT_EXPECT(report, GetFileSize(file, NULL) == 2);
    CONTRACT_EXPECT(report,
                    SetFilePointer(file, -5, NULL, FILE_CURRENT) == INVALID_SET_FILE_POINTER);
    CONTRACT_EXPECT(report, GetLastError() == 131); // ERROR_NEGATIVE_SEEK
    CONTRACT_EXPECT(report, SetFilePointer(file, 0, NULL, FILE_CURRENT) == 2);
    CloseHandle(file);
    CONTRACT_EXPECT(report, DeleteFileA(SCRATCH_FILE_NAME) != FALSE);
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
    {"NamedMutexTellsWhetherItExisted", CheckNamedMutexTellsWhetherItExisted},
    {"WaitOnTimerAndEvent", CheckWaitOnTimerAndEvent},
    {"BoundedSendFailsAtOnceOrAfterTheBound", CheckBoundedSendFailsAtOnceOrAfterTheBound},
    {"PostedMessagesArriveInOrder", CheckPostedMessagesArriveInOrder},
    {"RearmedWindowTimerTicksOnePeriodLater", CheckRearmedWindowTimerTicksOnePeriodLater},
    {"OpenAlwaysTellsWhetherTheFileExisted", CheckOpenAlwaysTellsWhetherTheFileExisted},
    {"FileCallsAtAndPastTheEnd", CheckFileCallsAtAndPastTheEnd},
    // Windows refuses this and Wine allows it: see the check.
    {"TimerOnAnotherThreadsWindowIsRefused", CheckTimerOnAnotherThreadsWindowIsRefused, true},
};
const int CONTRACT_CHECK_COUNT = sizeof CONTRACT_CHECKS / sizeof CONTRACT_CHECKS[0];
