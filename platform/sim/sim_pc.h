// The public face of the simulated PC, for host tests.
//
// A SimPc is one simulated Windows PC: a virtual clock, windows and message
// queues, threads scheduled one at a time, waitable timers and events, files in
// a temporary folder, the companion application, and the power state. The
// services declared in os_api.h act on the one SimPc that exists at a time.
//
// Threads created through the seam (the supervisor's main thread, its
// workers, threads of a contract check) are real host threads, but only one
// of them runs at a time, and only between scheduling points (every blocking
// service). The test thread is the controller: it is not a simulated thread,
// and while it runs no simulated thread does. Its calls below run the PC until
// every simulated thread is blocked, advance virtual time deadline by
// deadline, and inject events. Nothing waits in real time.
//
// Every service call is recorded in the trace with its virtual time, so that
// a test can assert an expected sequence of calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os_api.h"
#include "sim_policy.h"

namespace sim {

// One recorded service call. text is the call's name and its main arguments,
// in the forms listed here (handles of windows are named by their class,
// other handles by kind and serial number, counted from 1 per SimPc):
//   FindWindowA(ORIELDESK)              CreateWindowExA(DOZEWARD)
//   RegisterClassExA(DOZEWARD)          GetCommandLineA
//   CreateMutexA(DOZEWARD.SingleInstance)
//   SetTimer(DOZEWARD,10000,10000)      KillTimer(DOZEWARD,10000)
//   PostQuitMessage(0)                  DefWindowProcA(DOZEWARD,0x0018)
//   SendMessageA(ORIELDESK,0x0002)      SendMessageTimeoutA(ORIELDESK,0x0002,5000)
//   SendMessageTimeoutA(none,0x0002,5000)  (no target window)
//   PostMessageA(DOZEWARD,0x8002)
//   WinExec("C:\PC\ORB.EXE",1)          (the command line as given)
//   CreateProcessA(none,"C:\PC\ORB.EXE",1,none)  (application name, command line,
//                                        show state, current directory)
//   CloseHandle(process#1)              CloseHandle(thread#1)
//   ReleaseMutex(mutex#1)               GetFileAttributesA(DOZEWARD.LOG)
//   MoveFileExA(DOZEWARD.LOG.new,DOZEWARD.LOG,0x9)
//   CreateThread                        Sleep(1000)
//   CreateWaitableTimerA -> timer#1     SetWaitableTimer(timer#1,-36000000000,resume)
//   CancelWaitableTimer(timer#1)        CloseHandle(timer#1)
//   CreateEventA -> event#1             SetEvent(event#1)
//   WaitForSingleObject(timer#1)        WaitForMultipleObjects(timer#1,event#1)
//   SetSuspendState(1,0,0)              AdjustTokenPrivileges(SeShutdownPrivilege)
//   mouse_event(1,0,1)                  mouse_event(1,0,-1)
//   GetSystemTime                       CreateFileA(DOZEWARD.LOG) ...
// Waits and sends are recorded when they begin; a wait on no handle is
// recorded as WaitForSingleObject(none).
struct TraceEntry {
    std::uint64_t atMs; // virtual monotonic time of the call
    std::string thread; // "main", "worker#1", ... ; "test" for the controller
    std::string text;
};

// What the companion does once WinExec or CreateProcessA starts it.
struct CompanionModel {
    std::uint64_t appearAfterMs = 500; // its ORIELDESK window appears this long after the start
    bool hangsOnClose = false;         // never returns from handling WM_DESTROY
    // Its window never answers a message from the moment it appears. Windows
    // calls a window hung once it has not taken a message for 5 s; a send
    // with SMTO_ABORTIFHUNG to a hung window fails at once.
    bool hungFromStart = false;
    // When it first calls GetMessage, counted from the start; nullopt: never.
    // WinExec returns only then, or when its time-out (30 s) runs out; by
    // default the companion gets there as its window appears.
    std::optional<std::uint64_t> firstGetMessageAfterMs = appearAfterMs;
};

// A fault to inject into the n-th matching call (counted from 1 after
// InjectFault). FailCall counts the file and memory calls: CreateFileA,
// GetFileSize, ReadFile, WriteFile, SetFilePointer, SetEndOfFile,
// FlushFileBuffers, GetFileAttributesA, DeleteFileA, MoveFileExA,
// GlobalAlloc; ProcessEnds counts every service call; the kinds from
// ThreadFail on count their one call each.
enum class FaultKind {
    FailCall,  // the n-th counted call of any kind fails (ERROR_IO_DEVICE, or NULL for GlobalAlloc)
    ShortRead, // the n-th ReadFile delivers half of what was asked (rounded down) and succeeds
    ShortWrite, // the n-th WriteFile writes half of what was asked and reports that count, TRUE
    DiskFull,   // from the n-th WriteFile or SetEndOfFile on, no file may grow: the call writes
                // or extends what fits in the old size, fails with ERROR_DISK_FULL
    AllocFail,  // the n-th GlobalAlloc returns NULL with ERROR_NOT_ENOUGH_MEMORY
    ThreadFail, // the n-th CreateThread returns NULL with ERROR_NOT_ENOUGH_MEMORY
    EventFail,  // the n-th CreateEventA returns NULL with ERROR_NOT_ENOUGH_MEMORY
    TimerFail,  // the n-th CreateWaitableTimerA returns NULL with ERROR_NOT_ENOUGH_MEMORY
    MutexFail,  // the n-th CreateMutexA returns NULL with ERROR_NOT_ENOUGH_MEMORY
    PostFail,   // the n-th PostMessageA posts nothing, returns FALSE, ERROR_NOT_ENOUGH_QUOTA

    // The calling process ends just before its n-th service call, as if killed
    // from outside: nothing of that call happens, and files stay as they are.
    ProcessEnds,
};

// What the simulated DefWindowProcA returns for a message: a value no
// handler of the supervisor returns, so that a test can see it passed through.
constexpr LRESULT DefWindowProcResult(UINT message)
{
    return 0x5EED0000 + static_cast<LRESULT>(message);
}

class SimPc {
public:
    // Makes the PC, with its files in a new temporary folder (the supervisor's
    // current directory) that is removed again by the destructor. There must
    // be at most one SimPc at a time. The destructor ends every simulated
    // thread still alive (as process exit would) before it returns.
    SimPc();
    ~SimPc();
    SimPc(const SimPc&) = delete;
    SimPc& operator=(const SimPc&) = delete;

    // --- The supervisor process -------------------------------------------
    // Starts a process whose main thread calls WinMain (the core's) with a
    // fresh instance handle; GetCommandLineA returns commandLine on its
    // threads. Does not run it: call RunUntilIdle or Advance. Returns a process
    // number (1, 2, ...). When WinMain returns, the process ends: its other
    // threads are ended at their next scheduling point, its windows, timers and
    // handles are gone, and its exit code is kept.
    int StartSupervisor(const std::string& commandLine);
    // Runs an arbitrary function as the main thread of a new process (for the
    // contract checks): the process ends when the function returns.
    int StartProgram(std::function<int()> mainFunction, const std::string& commandLine = "");
    bool ProcessRunning(int process) const;
    std::optional<int> ExitCode(int process) const;
    // The handles the process still had open when its main function returned
    // (its end then closes them), or -1 while it runs or when it ended
    // another way.
    int HandlesOpenAtExit(int process) const;

    // --- Driving time -------------------------------------------------------
    // Runs simulated threads until every one is blocked (or none is left).
    void RunUntilIdle();
    // Runs, then moves the clock forward deadline by deadline (sleeps, window
    // timers, waitable timers, the companion's appearance, send time-outs),
    // running until idle at each, until ms have passed.
    void Advance(std::uint64_t ms);
    // Like Advance, but stops as soon as done() is true (checked when idle);
    // returns whether it became true within maxMs.
    bool AdvanceUntil(const std::function<bool()>& done, std::uint64_t maxMs);
    // Advances until the given process has ended; returns false if it has not
    // within maxMs.
    bool RunToExit(int process, std::uint64_t maxMs = 24ULL * 3600 * 1000);
    std::uint64_t NowMs() const;
    // Sets the UTC wall clock (date fixed at 2026-12-11) to this time of day
    // now; it then moves with the virtual clock.
    void SetUtcTime(int hour, int minute, int second);

    // --- Events from outside: another program ---------------------------------
    // The first top-level window of that class, or NULL.
    HWND FindWindow(const std::string& className) const;
    // Sends a message as another program would (SendMessageA across
    // processes): queues it for the window's thread, runs until it is handled,
    // and returns its result. Returns 0 at once if the window does not exist.
    LRESULT SendFromOutside(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Posts a message as another program would; does not run anything.
    // Fails as PostMessageA does when the window's queue holds 10,000 posted
    // messages already.
    BOOL PostFromOutside(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Posts it when the virtual clock reaches atMs (the time NowMs reports),
    // before any thread runs at that time; not while the PC sleeps.
    void PostFromOutsideAt(std::uint64_t atMs, HWND window, UINT message, WPARAM wParam,
                           LPARAM lParam);
    // A window of the given class belonging to another program (an older
    // supervisor, say), until DestroyForeignWindow.
    HWND CreateForeignWindow(const std::string& className);
    void DestroyForeignWindow(HWND window);

    // --- The companion ----------------------------------------------------------
    // Makes WinExec or CreateProcessA of exactly this command line start the
    // companion; any other command line fails with ERROR_FILE_NOT_FOUND and
    // starts nothing. Without this call no command line starts anything.
    // WinExec then waits as Windows documents it: until the companion first
    // calls GetMessage or 30 s have passed, handling the messages sent to the
    // calling thread meanwhile but not its posted messages or timer ticks.
    // CreateProcessA does not wait.
    void InstallCompanion(const std::string& commandLine, CompanionModel model = {});
    // The companion's window appears now, as if started by hand.
    void StartCompanionByHand();
    bool CompanionWindowPresent() const;
    // Every WinExec and CreateProcessA call: command line as given, show
    // state (SW_SHOWDEFAULT from a CreateProcessA that names none), and its
    // virtual time.
    struct ProcessStart {
        std::string commandLine;
        UINT showState;
        std::uint64_t atMs;
    };
    std::vector<ProcessStart> ProcessStarts() const;

    // --- Power ----------------------------------------------------------------
    // Whether SetSuspendState is accepted (the default) or refused (returns
    // FALSE at once). An accepted request freezes every simulated thread and
    // window timer until the earliest waitable timer armed with resume fires,
    // or until WakeUp; the call returns after the resume.
    void SetHibernationAccepted(bool accepted);
    bool Hibernating() const;
    // Wakes the PC now, as a user pressing the power button would.
    void WakeUp();
    int HibernationCount() const;
    // Every mouse_event call: dx, dy and virtual time.
    struct MouseMove {
        int dx;
        int dy;
        std::uint64_t atMs;
    };
    std::vector<MouseMove> MouseMoves() const;
    // Whether AdjustTokenPrivileges has enabled SeShutdownPrivilege in this PC.
    bool ShutdownPrivilegeEnabled() const;
    // Real Windows refuses hibernation without the shutdown privilege enabled;
    // the PC models that when this is on (the default).
    void SetHibernationNeedsPrivilege(bool needs);

    // --- Files ------------------------------------------------------------------
    // The host path of the temporary folder that is the current directory.
    std::string Folder() const;
    // Whole contents of a file in that folder, or nullopt if it does not exist.
    std::optional<std::string> ReadFileBytes(const std::string& name) const;
    void WriteFileBytes(const std::string& name, const std::string& bytes);
    void SetReadOnly(const std::string& name, bool readOnly);
    // Holds the file open as another program would, with the given access and
    // share mode, until ReleaseHeldFile. Returns false if the open was refused.
    bool HoldFileOpen(const std::string& name, DWORD access, DWORD shareMode);
    void ReleaseHeldFile(const std::string& name);
    // Makes GetFileSize report this size for the named file (for sizes the
    // host cannot hold cheaply); nullopt ends it.
    void SetReportedFileSize(const std::string& name, std::optional<std::uint64_t> size);

    // --- Faults ---------------------------------------------------------------
    void InjectFault(FaultKind kind, int n);
    void ClearFaults();
    // Whether the injected fault was reached since InjectFault.
    bool FaultHit() const;

    // --- Pausing at a call --------------------------------------------------------
    // The next call of the named service (the name as the trace writes it) by a
    // simulated thread holds that thread before the call does anything, until
    // Resume; the rest of the PC runs on and time may pass. This places a test's
    // event at an exact point of a thread's path. One pause point at a time.
    void PauseBefore(const std::string& call);
    // Whether a thread is held at the pause point now.
    bool Paused() const;
    // Lets the held thread go on; it runs at the next RunUntilIdle or Advance.
    void Resume();

    // --- Exploring the orders of threads ----------------------------------------
    // From now on the policy decides who runs wherever more than one thread
    // could (see sim_policy.h); null goes back to running each thread until it
    // blocks. The policy must outlive its use by this PC.
    void SetSchedulePolicy(SchedulePolicy* policy);

    // --- Inspection -------------------------------------------------------------
    std::vector<TraceEntry> Trace() const;
    void ClearTrace();
    // The trace's texts only, from entries whose text starts with one of the
    // prefixes (all of them when prefixes is empty).
    std::vector<std::string> TraceTexts(const std::vector<std::string>& prefixes = {}) const;

    // A window as it was created, and its class as registered.
    struct WindowInfo {
        bool exists;
        bool topLevel;
        bool visible;
        DWORD exStyle;
        std::string className;
        std::string title;
        DWORD style;
        int x, y, width, height;
        HWND parent;
        HMENU menu;
        HINSTANCE instance;
        LPVOID createParam;
        WNDCLASSEXA windowClass; // as passed to RegisterClassExA (name pointers not kept)
        std::string classMenuName;
    };
    WindowInfo Window(HWND window) const;
    HCURSOR ArrowCursor() const; // what LoadCursorA(NULL, IDC_ARROW) returns
    HGDIOBJ BlackBrush() const;  // what GetStockObject(BLACK_BRUSH) returns
    int WindowCount() const;     // windows of all processes that exist
    int RegisteredClassCount() const;
    // Window timers that are armed: window class name and identifier, period.
    struct WindowTimer {
        std::string windowClass;
        UINT_PTR id;
        UINT periodMs;
        std::uint64_t nextDueMs;
    };
    std::vector<WindowTimer> WindowTimers() const;

    int OpenHandleCount() const;    // kernel handles open in supervisor processes
    int LiveThreadCount() const;    // threads made by CreateThread still alive
    int BlockedThreadCount() const; // simulated threads blocked in a wait right now
    int LiveBlockCount() const;     // GlobalAlloc blocks not yet freed
    // Simulated threads waiting on the given handle right now.
    int WaitersOn(HANDLE object) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sim
