// The inside of the simulated PC, shared by the files of this folder only.
//
// One Impl holds the whole state of one SimPc, guarded by one mutex. The
// services of os_api.h and the SimPc methods are split over one file per
// service family (scheduler and clock, windows and messages, kernel objects
// and waits, files, processes and power), all working on this one struct, so
// that a rule that spans families (a process end closes windows, handles and
// timers; a hibernation freezes threads and window timers) is written once.
//
// Scheduling: simulated threads are host threads, but the baton `running`
// names the one that may run; everyone else waits on its own condition
// variable. The controller (the test thread) holds the baton whenever running
// is null. A blocking service parks its thread with a `ready` predicate that
// the controller evaluates, under the mutex, in the order threads blocked; a
// predicate may take what it waits for (an auto-reset signal) when it returns
// true, so that exactly one waiter gets it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "sim_pc.h"
#include "sim_policy.h"

namespace sim::detail {

// Error codes the sim reports that the core never names.
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_NOT_OWNER = 288;
constexpr DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;
constexpr DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD WS_VISIBLE = 0x10000000;
// Exit code of a process whose thread let a C++ exception escape.
constexpr int UNHANDLED_EXCEPTION_EXIT_CODE = static_cast<int>(0xE06D7363);
// SMTO_ABORTIFHUNG gives up at once on a window that has not answered for this long.
constexpr std::uint64_t HUNG_WINDOW_MS = 5000;
constexpr UINT MINIMUM_TIMER_PERIOD_MS = 10;
// Windows holds at most this many posted messages in one thread's queue.
constexpr std::size_t POSTED_MESSAGE_LIMIT = 10000;

// Thrown out of a blocking call to end a thread whose process has ended or
// whose PC is being destroyed; the thread's trampoline catches it.
struct ThreadExit {};

struct SimThread;
struct Process;

enum class ObjectKind { Timer, Event, Mutex, Thread, File, Token, Process };

// A kernel object. One struct for every kind keeps the waits simple; each kind
// uses its own fields.
struct KernelObject {
    ObjectKind kind;
    std::string name; // named objects share one namespace
    int waiters = 0;
    bool manualReset = false;
    bool signalled = false;
    // Waitable timer.
    bool active = false;
    bool absolute = false;
    std::int64_t dueFileTime = 0; // absolute timers follow the wall clock
    std::uint64_t dueMs = 0;
    LONG periodMs = 0;
    bool resume = false;
    // Mutex.
    SimThread* owner = nullptr;
    int ownerCount = 0;
    // Thread.
    SimThread* thread = nullptr;
    // File.
    int fd = -1;
    std::string fileKey;
    DWORD access = 0;
    DWORD shareMode = 0;
    std::uint64_t pointer = 0;
    ~KernelObject();
};

struct HandleRecord {
    std::shared_ptr<KernelObject> object; // empty once closed
    std::weak_ptr<KernelObject> seen;     // still answers WaitersOn after the close
    int process = 0;                      // 0: the test's own handle, not counted
    std::string traceName;
};

struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
};

enum class ThreadState { Ready, Running, Blocked, Done };

// The right to run, handed from one host thread to the next. It has a lock of
// its own so that the thread that hands it over has already let go of the
// PC's mutex when the next one wakes: each hand-over then costs one wake-up,
// not a wake-up and a second one after a wait for the mutex. A thread that
// has just handed the baton on often gets it back within microseconds (a
// service call of the thread it woke), so it first watches for it for a
// short while before it sleeps.
class Baton {
public:
    void Give()
    {
        {
            std::lock_guard<std::mutex> guard(mu_);
            given_.store(true, std::memory_order_release);
        }
        cv_.notify_one();
    }
    void Take()
    {
        // First a few hundred quick looks (a microsecond or two), then a few
        // dozen with the processor offered to others, then sleep.
        for (int i = 0; i < BUSY_CHECKS + YIELDING_CHECKS; ++i) {
            if (given_.load(std::memory_order_relaxed) &&
                given_.exchange(false, std::memory_order_acquire)) {
                return;
            }
            if (i >= BUSY_CHECKS) {
                std::this_thread::yield();
            }
        }
        std::unique_lock<std::mutex> guard(mu_);
        cv_.wait(guard, [this] { return given_.load(std::memory_order_acquire); });
        given_.store(false, std::memory_order_relaxed);
    }

private:
    static constexpr int BUSY_CHECKS = 200;
    static constexpr int YIELDING_CHECKS = 64;
    std::mutex mu_;
    std::condition_variable cv_;
    std::atomic<bool> given_{false};
};

enum class WaitEnd { Completed, TimedOut, Killed };

struct SimThread {
    int serial = 0;
    std::string name;
    Process* process = nullptr;
    bool isController = false;
    bool byCreateThread = false;
    std::function<int()> body;
    std::thread host;
    Baton baton;
    ThreadState state = ThreadState::Ready;
    bool killRequested = false;
    DWORD lastError = 0;
    bool privateCall = false; // the service being called is no point of choice
    // The current wait.
    std::function<bool()> ready;
    std::optional<std::uint64_t> deadlineMs;
    bool timedOut = false;
    // The message queue.
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::deque<MSG> posted;
    bool quitPosted = false;
    int quitCode = 0;
    std::shared_ptr<KernelObject> threadObject;
};

struct Process {
    int id = 0;
    std::string commandLine;
    std::vector<char> commandLineBuffer; // what GetCommandLineA hands out
    HINSTANCE instance = NULL;
    bool running = true;
    std::optional<int> exitCode;
    int handlesAtExit = -1; // its handles still open when its main function returned
    SimThread* mainThread = nullptr;
};

struct WindowClass {
    bool registered = true;
    ATOM atom = 0;
    std::string name;
    HINSTANCE instance = NULL;
    int process = 0;
    WNDCLASSEXA record{};
    std::string menuName;
};

struct WindowRecord {
    HWND handle = NULL;
    SimThread* owner = nullptr; // null: a window of another program
    int process = 0;
    bool companion = false;
    bool hung = false;
    std::uint64_t hungSinceMs = 0;
    WNDPROC proc = nullptr;
    SimPc::WindowInfo info{};
};

struct WindowTimerRecord {
    HWND window = NULL;
    UINT_PTR id = 0;
    UINT periodMs = 0;
    std::uint64_t nextDueMs = 0;
    TIMERPROC proc = nullptr;
    SimThread* owner = nullptr;
    bool pending = false;
};

struct HeldFile {
    std::string key;
    DWORD access;
    DWORD shareMode;
};

struct Fault {
    FaultKind kind;
    int n;
    int count = 0;
};

// Which of the counted calls is being made, for fault injection.
enum class CountedCall {
    CreateFile,
    GetFileSize,
    ReadFile,
    WriteFile,
    SetFilePointer,
    SetEndOfFile,
    FlushFileBuffers,
    GetFileAttributes,
    DeleteFile,
    MoveFile,
    GlobalAlloc,
    CreateThread,
    CreateEvent,
    CreateWaitableTimer,
    CreateMutex,
    PostMessage
};
struct FaultEffect {
    bool fail = false;
    bool shortRead = false;
    bool shortWrite = false;
    bool diskFull = false;
    bool allocFail = false;
};

using Lock = std::unique_lock<std::mutex>;
struct Impl;

// The lock a service holds on the PC. When it lets go at the end of the
// service, the call has acted, which is a point where another thread may be
// let run (Impl::MayPreempt).
class ServiceLock : public Lock {
public:
    explicit ServiceLock(Impl& pc);
    ~ServiceLock() noexcept(false);
    ServiceLock(const ServiceLock&) = delete;
    ServiceLock& operator=(const ServiceLock&) = delete;

private:
    Impl& pc_;
};

struct Impl {
    mutable std::mutex mu;
    SimThread* running = nullptr;     // null: the controller holds the baton
    SchedulePolicy* policy = nullptr; // null: run each thread until it blocks, FIFO
    bool shuttingDown = false;
    std::vector<std::unique_ptr<SimThread>> threads;
    SimThread controller;
    std::deque<SimThread*> readyQueue;
    std::deque<SimThread*> blockedQueue; // in the order the threads blocked
    int workerSerial = 0;
    int finishedCount = 0; // threads done since the last JoinFinished

    // Clock.
    std::uint64_t nowMs = 0;
    std::int64_t wallBaseMs = 0; // wall clock (ms since 1601-01-01 UTC) = wallBaseMs + nowMs

    // Trace, and the pause point keyed by a call's traced name.
    std::vector<TraceEntry> trace;
    std::optional<std::string> pauseCall;
    SimThread* pausedThread = nullptr;

    // Processes.
    std::vector<std::unique_ptr<Process>> processes;
    bool companionInstalled = false;
    std::string companionCommandLine;
    CompanionModel companionModel;
    std::vector<std::uint64_t> companionArrivals;
    // Messages that other programs post at a set virtual time, in time order.
    struct ScheduledPost {
        std::uint64_t atMs;
        HWND window;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<ScheduledPost> scheduledPosts;
    std::vector<SimPc::ProcessStart> processStarts;

    // Power.
    bool hibernationAccepted = true;
    bool hibernationNeedsPrivilege = true;
    bool shutdownPrivilegeEnabled = false;
    bool hibernating = false;
    int hibernationCount = 0;
    std::vector<SimPc::MouseMove> mouseMoves;

    // Windows.
    std::vector<std::unique_ptr<WindowClass>> classes;
    std::vector<std::unique_ptr<WindowRecord>> windows; // creation order, never removed
    std::map<HWND, WindowRecord*> windowByHandle;
    std::vector<WindowTimerRecord> windowTimers; // arming order
    UINT_PTR nextThreadTimerId = 1;

    // Kernel objects and handles.
    // Open handles, and those closed since the last prune (object empty);
    // PruneClosedHandles moves the closed ones to closedHandles, where a
    // stale handle still has its name, so that the walks over open handles
    // stay short however long a run has been.
    std::map<std::uintptr_t, HandleRecord> handles;
    std::map<std::uintptr_t, HandleRecord> closedHandles;
    std::uintptr_t nextHandle = 0x100;
    std::map<std::string, int> handleSerials; // per kind name
    std::vector<std::weak_ptr<KernelObject>> objects;
    std::vector<std::weak_ptr<KernelObject>> timerObjects; // the waitable timers of objects
    std::map<std::string, std::weak_ptr<KernelObject>> namedObjects;
    std::shared_ptr<KernelObject> processPseudoObject;

    // Files and memory.
    std::string folder;
    std::set<std::string> readOnlyKeys;
    // Attributes other than read-only that a file carries (hidden, system,
    // archive); a file with none has FILE_ATTRIBUTE_NORMAL.
    std::map<std::string, DWORD> otherAttributes;
    std::map<std::string, std::uint64_t> reportedSizes;
    std::vector<HeldFile> heldFiles;
    std::vector<Fault> faults;
    bool faultHit = false;
    std::set<void*> liveBlocks;

    Impl();

    // --- Scheduler (sim_scheduler.cpp) ---
    SimThread* Current();
    void RequireController(const char* what) const;
    SimThread* NewThread(Lock& lock, Process* process, std::string name, std::function<int()> body,
                         bool byCreateThread);
    void Trampoline(SimThread* thread);
    void EndThread(SimThread* thread);
    void EndProcess(Process* process, int exitCode);
    // Parks the current thread until ready() is true (it may take what it waited
    // for) or the deadline passes. The controller instead runs the PC meanwhile.
    WaitEnd Block(Lock& lock, std::function<bool()> ready, std::optional<std::uint64_t> deadlineMs);
    void MakeReady(SimThread* thread);
    void WakeBlocked();
    void RunUntilIdleLocked(Lock& lock);
    void ProcessDue();
    std::optional<std::uint64_t> NextEventMs() const;
    void StepTo(std::uint64_t ms);
    void JoinFinished();
    // Chooses who runs after the calling simulated thread, which has already
    // left the Running state: the next ready thread, or the controller when
    // none is ready. Handing over directly, instead of through the
    // controller, halves the host thread switches. Returns the baton to give.
    Baton& HandOff();
    // Takes the thread that runs next out of the ready queue: its front, or
    // the policy's choice.
    SimThread* TakeReady();
    // A point where the policy may let another ready thread run before the
    // calling simulated thread goes on (each service call, before and after
    // it acts). A thread whose process ended meanwhile ends here.
    void MayPreempt(Lock& lock);
    // Gives the baton away with the mutex released, then waits until it
    // comes back and takes the mutex again.
    void PassBaton(Lock& lock, Baton& next, Baton& own);
    void ShutDown(Lock& lock);

    // --- Clock ---
    std::int64_t WallMs() const { return wallBaseMs + static_cast<std::int64_t>(nowMs); }

    // --- Trace ---
    // Records a service call; every service calls it before it acts, so it is
    // also where a thread stops at the pause point.
    void Trace(std::string text);
    void PauseAt(const std::string& call);

    // --- Handles (sim_objects.cpp) ---
    HANDLE AddHandle(std::shared_ptr<KernelObject> object, const std::string& kindName);
    std::shared_ptr<KernelObject> Object(HANDLE handle, std::optional<ObjectKind> kind = {});
    std::string HandleName(HANDLE handle) const;
    std::shared_ptr<KernelObject> NewObject(ObjectKind kind);
    void CloseHandleRecord(HandleRecord& record);
    void PruneClosedHandles();
    // The record of a handle value, open or closed, or null.
    const HandleRecord* AnyHandleRecord(HANDLE handle) const;
    bool Signalled(const KernelObject& object, const SimThread* thread) const;
    void Take(KernelObject& object, SimThread* thread);
    void FireTimer(KernelObject& timer);
    void RecomputeAbsoluteTimers();
    DWORD Wait(Lock& lock, const std::vector<HANDLE>& handles, bool waitAll, DWORD timeoutMs);

    // --- Windows (sim_windows.cpp) ---
    WindowRecord* Window(HWND window) const;
    std::string WindowName(HWND window) const;
    WindowRecord* FindTopLevel(const char* className, const char* title) const;
    WindowRecord* CreateWindowRecord(const std::string& className);
    // The companion's window, as the companion model says it behaves.
    WindowRecord* CreateCompanionWindow();
    void DestroyWindowRecord(WindowRecord* window);
    bool HasMessage(const SimThread* thread, HWND filter, UINT minMessage, UINT maxMessage) const;
    void ProcessSentMessages(Lock& lock, SimThread* thread);
    LRESULT CallWindowProc(Lock& lock, WindowRecord* window, UINT message, WPARAM wParam,
                           LPARAM lParam);
    // Posts to a window's queue (or to another program's window); FALSE with
    // the error code in *error when there is no such window or its thread's
    // queue is full.
    BOOL PostToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD* error);
    // A message that a window of another program receives; false if it never
    // comes back from handling it.
    bool ForeignWindowHandles(WindowRecord* window, UINT message);

    // --- Files (sim_files.cpp) ---
    FaultEffect CheckFault(CountedCall call);
    // Ends the calling thread's process here, as a kill from outside would,
    // if an injected ProcessEnds fault has come due: throws ThreadExit.
    void EndProcessIfDue();
    DWORD Attributes(const std::string& key) const;
    std::string HostName(const std::string& name) const;
    bool ShareConflict(const std::string& key, DWORD access, DWORD shareMode) const;

    // --- Processes (sim_processes.cpp) ---
    // Starts a process whose main thread runs main with the process's instance
    // handle and the arguments part of its command line.
    int StartProcess(const std::string& commandLine,
                     std::function<int(HINSTANCE instance, LPSTR arguments)> main);
    bool StartsCompanion(const std::string& commandLine) const;
    // The companion's window appears after the model's delay.
    void StartCompanionModel();
};

extern Impl* thePc;
// The one SimPc's state; aborts if there is none, since a service called
// without a PC is a broken test, not a condition to handle.
Impl& Pc();
std::string FileKey(const std::string& name);
bool SameText(const std::string& a, const std::string& b);
std::string Hex4(UINT value);
// Days from 1601-01-01 to the given civil date.
std::int64_t DaysFrom1601(int year, int month, int day);

} // namespace sim::detail

namespace sim {
struct SimPc::Impl : detail::Impl {};
} // namespace sim
