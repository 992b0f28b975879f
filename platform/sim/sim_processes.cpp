// Processes, threads, the companion application and the power state of the
// simulated PC.
//
// A process is what the supervisor can see of one: a command line, an instance
// handle, a main thread whose return ends it, and an exit code. The companion
// is not a process with threads here but a model inside the PC: WinExec or
// CreateProcessA of its command line makes its window appear after a delay,
// and the window answers WM_DESTROY by going away, or by never answering.
// WinExec also waits for the companion's first GetMessage, as Windows does,
// which a slow companion makes long. Hibernation freezes every
// simulated thread and window timer (the scheduler skips them) until a
// waitable timer armed with resume fires or the test wakes the PC.
#include <algorithm>
#include <cstring>

#include "sim_internal.h"

namespace sim::detail {

namespace {

constexpr UINT WINEXEC_SUCCESS = 33; // any value above 31 means started
constexpr std::uintptr_t FIRST_INSTANCE = 0x00400000;
constexpr std::uintptr_t INSTANCE_STRIDE = 0x00100000;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
// How long WinExec waits at most for the started program's first GetMessage.
constexpr std::uint64_t WINEXEC_TIMEOUT_MS = 30000;
constexpr DWORD COMPANION_PROCESS_ID = 0x1F00;

struct PrivilegeName {
    const char* name;
    DWORD luid;
};
constexpr PrivilegeName PRIVILEGES[] = {
    {"SeShutdownPrivilege", 19},
    {"SeSystemtimePrivilege", 12},
    {"SeDebugPrivilege", 20},
};
constexpr DWORD SHUTDOWN_PRIVILEGE_LUID = 19;

// Where WinMain's arguments start: past the program path (quoted or not) and
// the blanks after it.
std::size_t ArgumentsStart(const std::string& commandLine)
{
    std::size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        i = commandLine.find('"', 1);
        i = i == std::string::npos ? commandLine.size() : i + 1;
    } else {
        while (i < commandLine.size() && commandLine[i] != ' ' && commandLine[i] != '\t') {
            ++i;
        }
    }
    while (i < commandLine.size() && (commandLine[i] == ' ' || commandLine[i] == '\t')) {
        ++i;
    }
    return i;
}

} // namespace

int Impl::StartProcess(const std::string& commandLine,
                       std::function<int(HINSTANCE instance, LPSTR arguments)> main)
{
    Lock lock(mu);
    auto process = std::make_unique<Process>();
    Process* p = process.get();
    p->id = static_cast<int>(processes.size()) + 1;
    p->commandLine = commandLine;
    p->commandLineBuffer.assign(commandLine.begin(), commandLine.end());
    p->commandLineBuffer.push_back('\0');
    p->instance = reinterpret_cast<HINSTANCE>(FIRST_INSTANCE + INSTANCE_STRIDE * p->id);
    processes.push_back(std::move(process));
    const std::string name = p->id == 1 ? "main" : "main#" + std::to_string(p->id);
    LPSTR arguments = p->commandLineBuffer.data() + ArgumentsStart(commandLine);
    p->mainThread = NewThread(
        lock, p, name, [main, p, arguments] { return main(p->instance, arguments); }, false);
    return p->id;
}

bool Impl::StartsCompanion(const std::string& commandLine) const
{
    return companionInstalled && commandLine == companionCommandLine;
}

void Impl::StartCompanionModel()
{
    if (companionModel.appearAfterMs == 0) {
        CreateCompanionWindow();
    } else {
        const std::uint64_t at = nowMs + companionModel.appearAfterMs;
        companionArrivals.insert(
            std::upper_bound(companionArrivals.begin(), companionArrivals.end(), at), at);
    }
}

bool Impl::ForeignWindowHandles(WindowRecord* window, UINT message)
{
    if (!window->companion) {
        return true; // another program's window that answers everything at once
    }
    if (window->hung) {
        return false;
    }
    if (message != WM_DESTROY) {
        return true;
    }
    if (companionModel.hangsOnClose) {
        window->hung = true;
        window->hungSinceMs = nowMs;
        return false;
    }
    DestroyWindowRecord(window); // the companion ends
    return true;
}

} // namespace sim::detail

namespace sim {

using namespace detail;

int SimPc::StartProgram(std::function<int()> mainFunction, const std::string& commandLine)
{
    impl_->RequireController("StartProgram");
    return impl_->StartProcess(commandLine,
                               [mainFunction](HINSTANCE, LPSTR) { return mainFunction(); });
}

int SimPc::HandlesOpenAtExit(int process) const
{
    Lock lock(impl_->mu);
    if (process < 1 || process > static_cast<int>(impl_->processes.size())) {
        return -1;
    }
    return impl_->processes[process - 1]->handlesAtExit;
}

bool SimPc::ProcessRunning(int process) const
{
    Lock lock(impl_->mu);
    return process >= 1 && process <= static_cast<int>(impl_->processes.size()) &&
           impl_->processes[process - 1]->running;
}

std::optional<int> SimPc::ExitCode(int process) const
{
    Lock lock(impl_->mu);
    if (process < 1 || process > static_cast<int>(impl_->processes.size())) {
        return std::nullopt;
    }
    return impl_->processes[process - 1]->exitCode;
}

void SimPc::InstallCompanion(const std::string& commandLine, CompanionModel model)
{
    Lock lock(impl_->mu);
    impl_->companionInstalled = true;
    impl_->companionCommandLine = commandLine;
    impl_->companionModel = model;
}

void SimPc::StartCompanionByHand()
{
    Lock lock(impl_->mu);
    impl_->CreateCompanionWindow();
}

bool SimPc::CompanionWindowPresent() const
{
    Lock lock(impl_->mu);
    return std::any_of(impl_->windows.begin(), impl_->windows.end(),
                       [](const auto& w) { return w->companion && w->info.exists; });
}

std::vector<SimPc::ProcessStart> SimPc::ProcessStarts() const
{
    Lock lock(impl_->mu);
    return impl_->processStarts;
}

void SimPc::SetHibernationAccepted(bool accepted)
{
    Lock lock(impl_->mu);
    impl_->hibernationAccepted = accepted;
}

bool SimPc::Hibernating() const
{
    Lock lock(impl_->mu);
    return impl_->hibernating;
}

void SimPc::WakeUp()
{
    // Does not run anything: the threads go on at the next RunUntilIdle or Advance.
    Lock lock(impl_->mu);
    impl_->hibernating = false;
}

int SimPc::HibernationCount() const
{
    Lock lock(impl_->mu);
    return impl_->hibernationCount;
}

std::vector<SimPc::MouseMove> SimPc::MouseMoves() const
{
    Lock lock(impl_->mu);
    return impl_->mouseMoves;
}

bool SimPc::ShutdownPrivilegeEnabled() const
{
    Lock lock(impl_->mu);
    return impl_->shutdownPrivilegeEnabled;
}

void SimPc::SetHibernationNeedsPrivilege(bool needs)
{
    Lock lock(impl_->mu);
    impl_->hibernationNeedsPrivilege = needs;
}

} // namespace sim

using namespace sim::detail;

LPSTR WINAPI GetCommandLineA()
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("GetCommandLineA");
    static char noCommandLine[1] = "";
    Process* process = pc.Current()->process;
    return process != nullptr ? process->commandLineBuffer.data() : noCommandLine;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace(std::string("GetModuleHandleA(") + (moduleName != nullptr ? moduleName : "none") +
             ")");
    if (moduleName != nullptr) {
        pc.Current()->lastError = ERROR_MOD_NOT_FOUND;
        return NULL;
    }
    Process* process = pc.Current()->process;
    return process != nullptr ? process->instance : reinterpret_cast<HINSTANCE>(FIRST_INSTANCE);
}

HANDLE WINAPI GetCurrentProcess()
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("GetCurrentProcess");
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD, LPDWORD threadId)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("CreateThread");
    SimThread* self = pc.Current();
    if (start == nullptr) {
        self->lastError = ERROR_INVALID_PARAMETER;
        return NULL;
    }
    if (pc.CheckFault(CountedCall::CreateThread).fail) {
        self->lastError = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    const std::string name = "worker#" + std::to_string(++pc.workerSerial);
    // The new thread is ready but runs only when the creator reaches a
    // scheduling point, as a thread of equal priority would.
    SimThread* thread = pc.NewThread(
        lock, self->process, name,
        [start, parameter] { return static_cast<int>(start(parameter)); }, true);
    if (threadId != nullptr) {
        *threadId = static_cast<DWORD>(thread->serial);
    }
    return pc.AddHandle(thread->threadObject, "thread");
}

UINT WINAPI WinExec(LPCSTR commandLine, UINT showState)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    const std::string line = commandLine != nullptr ? commandLine : "";
    pc.Trace("WinExec(" + line + "," + std::to_string(showState) + ")");
    pc.processStarts.push_back(sim::SimPc::ProcessStart{line, showState, pc.nowMs});
    SimThread* self = pc.Current();
    if (commandLine == nullptr || !pc.StartsCompanion(line)) {
        self->lastError = ERROR_FILE_NOT_FOUND;
        return ERROR_FILE_NOT_FOUND;
    }
    pc.StartCompanionModel();
    // As documented: the call returns once the started program first calls
    // GetMessage, or when the time-out runs out. Messages sent to this thread
    // are handled meanwhile; its posted messages and timer ticks wait.
    std::uint64_t returnAtMs = pc.nowMs + WINEXEC_TIMEOUT_MS;
    if (const auto& first = pc.companionModel.firstGetMessageAfterMs;
        first && *first < WINEXEC_TIMEOUT_MS) {
        returnAtMs = pc.nowMs + *first;
    }
    while (pc.nowMs < returnAtMs) {
        const WaitEnd end = pc.Block(
            lock, [self] { return !self->sent.empty(); }, returnAtMs);
        if (end == WaitEnd::Killed) {
            break;
        }
        pc.ProcessSentMessages(lock, self);
    }
    return WINEXEC_SUCCESS;
}

BOOL WINAPI CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR currentDirectory,
                           LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    const std::string line = commandLine != nullptr ? commandLine : "";
    const UINT showState =
        startupInfo != nullptr && (startupInfo->dwFlags & STARTF_USESHOWWINDOW) != 0
            ? startupInfo->wShowWindow
            : static_cast<UINT>(SW_SHOWDEFAULT);
    pc.Trace(std::string("CreateProcessA(") +
             (applicationName != nullptr ? applicationName : "none") + "," + line + "," +
             std::to_string(showState) + "," +
             (currentDirectory != nullptr ? currentDirectory : "none") + ")");
    SimThread* self = pc.Current();
    if (startupInfo == nullptr || processInformation == nullptr ||
        startupInfo->cb != sizeof(STARTUPINFOA)) {
        self->lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    pc.processStarts.push_back(sim::SimPc::ProcessStart{line, showState, pc.nowMs});
    // Only the companion exists on this PC, started by its command line alone.
    if (commandLine == nullptr || applicationName != nullptr || !pc.StartsCompanion(line)) {
        self->lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    pc.StartCompanionModel();
    processInformation->hProcess = pc.AddHandle(pc.NewObject(ObjectKind::Process), "process");
    processInformation->hThread = pc.AddHandle(pc.NewObject(ObjectKind::Thread), "thread");
    processInformation->dwProcessId = COMPANION_PROCESS_ID;
    processInformation->dwThreadId = COMPANION_PROCESS_ID + 4;
    return TRUE;
}

BOOLEAN WINAPI SetSuspendState(BOOLEAN hibernate, BOOLEAN force, BOOLEAN wakeEventsDisabled)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("SetSuspendState(" + std::to_string(hibernate) + "," + std::to_string(force) + "," +
             std::to_string(wakeEventsDisabled) + ")");
    SimThread* self = pc.Current();
    if (!pc.hibernationAccepted) {
        self->lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (pc.hibernationNeedsPrivilege && !pc.shutdownPrivilegeEnabled) {
        self->lastError = ERROR_PRIVILEGE_NOT_HELD;
        return FALSE;
    }
    pc.hibernating = true;
    ++pc.hibernationCount;
    WaitEnd end = pc.Block(
        lock, [&pc] { return !pc.hibernating; }, std::nullopt);
    return end == WaitEnd::Completed ? TRUE : FALSE;
}

void WINAPI mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD, ULONG_PTR)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    // Relative moves are signed values passed in unsigned parameters.
    const int signedDx = static_cast<LONG>(dx);
    const int signedDy = static_cast<LONG>(dy);
    pc.Trace("mouse_event(" + std::to_string(flags) + "," + std::to_string(signedDx) + "," +
             std::to_string(signedDy) + ")");
    pc.mouseMoves.push_back(sim::SimPc::MouseMove{signedDx, signedDy, pc.nowMs});
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("OpenProcessToken");
    SimThread* self = pc.Current();
    if (reinterpret_cast<std::intptr_t>(process) != -1) {
        self->lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (token == nullptr) {
        self->lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    auto object = pc.NewObject(ObjectKind::Token);
    object->access = access;
    *token = pc.AddHandle(object, "token");
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR, LPCSTR name, PLUID luid)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace(std::string("LookupPrivilegeValueA(") + (name != nullptr ? name : "none") + ")");
    for (const auto& privilege : PRIVILEGES) {
        if (name != nullptr && luid != nullptr && SameText(privilege.name, name)) {
            luid->LowPart = privilege.luid;
            luid->HighPart = 0;
            return TRUE;
        }
    }
    pc.Current()->lastError = ERROR_NO_SUCH_PRIVILEGE;
    return FALSE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                  DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                  LPDWORD returnLength)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    // The array is declared with one element and used with PrivilegeCount.
    const LUID_AND_ATTRIBUTES* entries = newState != nullptr ? &newState->Privileges[0] : nullptr;
    const DWORD count = newState != nullptr && !disableAll ? newState->PrivilegeCount : 0;
    std::string names;
    for (DWORD i = 0; i < count; ++i) {
        std::string name = "#" + std::to_string(entries[i].Luid.LowPart);
        for (const auto& privilege : PRIVILEGES) {
            if (privilege.luid == entries[i].Luid.LowPart && entries[i].Luid.HighPart == 0) {
                name = privilege.name;
            }
        }
        names += (i > 0 ? "," : "") + name;
    }
    pc.Trace("AdjustTokenPrivileges(" + (disableAll ? std::string("disable all") : names) + ")");
    SimThread* self = pc.Current();
    auto object = pc.Object(token, ObjectKind::Token);
    if (!object) {
        self->lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if ((object->access & TOKEN_ADJUST_PRIVILEGES) == 0) {
        self->lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (previousState != nullptr && bufferLength >= sizeof(TOKEN_PRIVILEGES)) {
        previousState->PrivilegeCount = 0;
    }
    if (returnLength != nullptr) {
        *returnLength = sizeof(TOKEN_PRIVILEGES);
    }
    if (disableAll) {
        pc.shutdownPrivilegeEnabled = false;
        self->lastError = ERROR_SUCCESS;
        return TRUE;
    }
    bool allAssigned = true;
    for (DWORD i = 0; i < count; ++i) {
        const bool known =
            std::any_of(std::begin(PRIVILEGES), std::end(PRIVILEGES),
                        [&](const PrivilegeName& p) { return p.luid == entries[i].Luid.LowPart; });
        allAssigned = allAssigned && known && entries[i].Luid.HighPart == 0;
        if (entries[i].Luid.LowPart == SHUTDOWN_PRIVILEGE_LUID && entries[i].Luid.HighPart == 0) {
            pc.shutdownPrivilegeEnabled = (entries[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    // Success with ERROR_NOT_ALL_ASSIGNED is how Windows says a privilege the
    // account lacks was skipped.
    self->lastError = allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED;
    return TRUE;
}
