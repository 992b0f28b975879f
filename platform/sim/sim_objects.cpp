// Kernel objects of the simulated PC: handles, waitable timers, events,
// mutexes, and the waits on them.
//
// A handle is a record in one table that holds its object; the object lives as
// long as a handle or a waiter holds it, as on Windows, so a handle closed
// while a thread waits on it leaves the waiter waiting on the very object (and
// a timer that still fires). Handles are numbered and never reused within one
// PC, so a stale handle fails rather than reaching a newer object. Waits are
// the scheduler's blocking call with a predicate that takes the signal of an
// auto-reset object when it is true, so one waiter, the first to block, gets
// it.
#include <algorithm>

#include "sim_internal.h"

namespace sim::detail {

namespace {
constexpr std::intptr_t PSEUDO_PROCESS_HANDLE = -1;

std::uint64_t CeilMsFrom100ns(std::uint64_t units) { return (units + 9999) / 10000; }
} // namespace

std::shared_ptr<KernelObject> Impl::NewObject(ObjectKind kind)
{
    auto object = std::make_shared<KernelObject>();
    object->kind = kind;
    objects.push_back(object);
    if (kind == ObjectKind::Timer) {
        timerObjects.push_back(object);
    }
    return object;
}

HANDLE Impl::AddHandle(std::shared_ptr<KernelObject> object, const std::string& kindName)
{
    const int serial = ++handleSerials[kindName];
    const std::uintptr_t value = nextHandle;
    nextHandle += 4;
    SimThread* self = Current();
    HandleRecord record;
    record.seen = object;
    record.object = std::move(object);
    record.process = self->process != nullptr ? self->process->id : 0;
    record.traceName = kindName + "#" + std::to_string(serial);
    handles[value] = std::move(record);
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> Impl::Object(HANDLE handle, std::optional<ObjectKind> kind)
{
    if (reinterpret_cast<std::intptr_t>(handle) == PSEUDO_PROCESS_HANDLE) {
        return !kind || *kind == ObjectKind::Process ? processPseudoObject : nullptr;
    }
    auto it = handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == handles.end() || !it->second.object) {
        return nullptr;
    }
    if (kind && it->second.object->kind != *kind) {
        return nullptr;
    }
    return it->second.object;
}

std::string Impl::HandleName(HANDLE handle) const
{
    if (handle == NULL) {
        return "none";
    }
    if (reinterpret_cast<std::intptr_t>(handle) == PSEUDO_PROCESS_HANDLE) {
        return "process";
    }
    const HandleRecord* record = AnyHandleRecord(handle);
    return record == nullptr ? "invalid" : record->traceName;
}

const HandleRecord* Impl::AnyHandleRecord(HANDLE handle) const
{
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (auto it = handles.find(value); it != handles.end()) {
        return &it->second;
    }
    auto it = closedHandles.find(value);
    return it == closedHandles.end() ? nullptr : &it->second;
}

void Impl::PruneClosedHandles()
{
    for (auto it = handles.begin(); it != handles.end();) {
        if (!it->second.object) {
            closedHandles.insert(*it);
            it = handles.erase(it);
        } else {
            ++it;
        }
    }
}

void Impl::CloseHandleRecord(HandleRecord& record)
{
    // A file's object is held by its handle alone, so this also ends the
    // file's share-mode claim and closes the host descriptor.
    record.object.reset();
}

bool Impl::Signalled(const KernelObject& object, const SimThread* thread) const
{
    switch (object.kind) {
    case ObjectKind::Timer:
    case ObjectKind::Event:
    case ObjectKind::Thread:
        return object.signalled;
    case ObjectKind::Mutex:
        return object.owner == nullptr || object.owner == thread;
    case ObjectKind::File:
        return true; // no I/O is ever pending
    case ObjectKind::Token:
    case ObjectKind::Process:
        return false;
    }
    return false;
}

void Impl::Take(KernelObject& object, SimThread* thread)
{
    if ((object.kind == ObjectKind::Timer || object.kind == ObjectKind::Event) &&
        !object.manualReset) {
        object.signalled = false;
    } else if (object.kind == ObjectKind::Mutex) {
        object.owner = thread;
        ++object.ownerCount;
    }
}

void Impl::FireTimer(KernelObject& timer)
{
    timer.signalled = true;
    if (timer.periodMs > 0) {
        timer.absolute = false;
        while (timer.dueMs <= nowMs) {
            timer.dueMs += static_cast<std::uint64_t>(timer.periodMs);
        }
    } else {
        timer.active = false;
    }
}

void Impl::RecomputeAbsoluteTimers()
{
    const std::int64_t nowFileTime = WallMs() * 10000;
    for (auto& weak : timerObjects) {
        auto timer = weak.lock();
        if (!timer || !timer->active || !timer->absolute) {
            continue;
        }
        if (timer->dueFileTime <= nowFileTime) {
            timer->dueMs = nowMs;
        } else {
            const auto ahead = static_cast<std::uint64_t>(timer->dueFileTime - nowFileTime);
            timer->dueMs = nowMs + CeilMsFrom100ns(ahead);
        }
    }
}

DWORD Impl::Wait(Lock& lock, const std::vector<HANDLE>& waitHandles, bool waitAll, DWORD timeoutMs)
{
    SimThread* self = Current();
    std::vector<std::shared_ptr<KernelObject>> waited;
    for (HANDLE handle : waitHandles) {
        auto object = Object(handle);
        if (!object || object->kind == ObjectKind::Token) {
            self->lastError = ERROR_INVALID_HANDLE;
            return WAIT_FAILED;
        }
        waited.push_back(std::move(object));
    }
    DWORD index = 0;
    auto attempt = [this, &waited, &index, waitAll, self] {
        if (waitAll) {
            for (auto& object : waited) {
                if (!Signalled(*object, self)) {
                    return false;
                }
            }
            for (auto& object : waited) {
                Take(*object, self);
            }
            index = 0;
            return true;
        }
        for (std::size_t i = 0; i < waited.size(); ++i) {
            if (Signalled(*waited[i], self)) {
                Take(*waited[i], self);
                index = static_cast<DWORD>(i);
                return true;
            }
        }
        return false;
    };
    if (attempt()) {
        return WAIT_OBJECT_0 + index;
    }
    if (timeoutMs == 0) {
        return WAIT_TIMEOUT;
    }
    std::optional<std::uint64_t> deadline;
    if (timeoutMs != INFINITE) {
        deadline = nowMs + timeoutMs;
    }
    for (auto& object : waited) {
        ++object->waiters;
    }
    WaitEnd end = WaitEnd::Killed;
    try {
        end = Block(lock, attempt, deadline);
    } catch (...) {
        for (auto& object : waited) {
            --object->waiters;
        }
        throw;
    }
    for (auto& object : waited) {
        --object->waiters;
    }
    switch (end) {
    case WaitEnd::Completed:
        return WAIT_OBJECT_0 + index;
    case WaitEnd::TimedOut:
        return WAIT_TIMEOUT;
    case WaitEnd::Killed:
        break;
    }
    self->lastError = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
}

namespace {

// Timers, events and mutexes share one namespace of names, as on Windows: the
// same name gives a new handle to the existing object, a name held by another
// kind of object fails.
HANDLE CreateNamedObject(Impl& pc, ObjectKind kind, const char* kindName, LPCSTR name,
                         const std::function<void(KernelObject&)>& initialise)
{
    SimThread* self = pc.Current();
    if (name != nullptr) {
        auto it = pc.namedObjects.find(name);
        if (it != pc.namedObjects.end()) {
            if (auto existing = it->second.lock()) {
                if (existing->kind != kind) {
                    self->lastError = ERROR_INVALID_HANDLE;
                    return NULL;
                }
                HANDLE handle = pc.AddHandle(existing, kindName);
                self->lastError = ERROR_ALREADY_EXISTS;
                return handle;
            }
        }
    }
    auto object = pc.NewObject(kind);
    if (name != nullptr) {
        object->name = name;
        pc.namedObjects[name] = object;
    }
    initialise(*object);
    HANDLE handle = pc.AddHandle(object, kindName);
    self->lastError = ERROR_SUCCESS;
    return handle;
}

std::string NameOrNone(LPCSTR name) { return name != nullptr ? name : "none"; }

} // namespace

} // namespace sim::detail

namespace sim {

using namespace detail;

int SimPc::OpenHandleCount() const
{
    Lock lock(impl_->mu);
    int count = 0;
    for (const auto& [value, record] : impl_->handles) {
        count += record.object && record.process != 0 ? 1 : 0;
    }
    return count;
}

int SimPc::WaitersOn(HANDLE object) const
{
    Lock lock(impl_->mu);
    if (reinterpret_cast<std::intptr_t>(object) == -1) {
        return impl_->processPseudoObject->waiters;
    }
    const HandleRecord* record = impl_->AnyHandleRecord(object);
    if (record == nullptr) {
        return 0;
    }
    auto seen = record->seen.lock();
    return seen ? seen->waiters : 0;
}

} // namespace sim

using namespace sim::detail;

HANDLE WINAPI CreateWaitableTimerA(LPSECURITY_ATTRIBUTES, BOOL manualReset, LPCSTR name)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.PauseAt("CreateWaitableTimerA"); // traced below, once the handle is known
    if (pc.CheckFault(CountedCall::CreateWaitableTimer).fail) {
        pc.Trace("CreateWaitableTimerA -> none");
        pc.Current()->lastError = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    HANDLE handle =
        CreateNamedObject(pc, ObjectKind::Timer, "timer", name,
                          [&](KernelObject& timer) { timer.manualReset = manualReset; });
    pc.Trace(std::string("CreateWaitableTimerA") +
             (name != nullptr ? "(" + std::string(name) + ")" : "") + " -> " +
             pc.HandleName(handle));
    return handle;
}

BOOL WINAPI SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* dueTime, LONG periodMs,
                             PTIMERAPCROUTINE, LPVOID, BOOL resume)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    std::string text = "SetWaitableTimer(" + pc.HandleName(timer) + "," +
                       (dueTime != nullptr ? std::to_string(dueTime->QuadPart) : "none");
    if (periodMs != 0) {
        text += "," + std::to_string(periodMs);
    }
    pc.Trace(text + (resume ? ",resume)" : ",noresume)"));
    SimThread* self = pc.Current();
    auto object = pc.Object(timer, ObjectKind::Timer);
    if (!object) {
        self->lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (dueTime == nullptr || periodMs < 0) {
        self->lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // Arming (or re-arming) makes the timer not signalled until it fires.
    object->signalled = false;
    object->active = true;
    object->periodMs = periodMs;
    object->resume = resume != FALSE;
    const LONGLONG due = dueTime->QuadPart;
    if (due < 0) {
        const std::uint64_t units = static_cast<std::uint64_t>(-(due + 1)) + 1;
        object->absolute = false;
        object->dueMs = pc.nowMs + CeilMsFrom100ns(units);
    } else {
        // Zero and every positive value are absolute times (100 ns since
        // 1601-01-01 UTC); one in the past is due now.
        object->absolute = true;
        object->dueFileTime = due;
        pc.RecomputeAbsoluteTimers();
        if (object->dueMs <= pc.nowMs) {
            pc.FireTimer(*object);
        }
    }
    self->lastError = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI CancelWaitableTimer(HANDLE timer)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("CancelWaitableTimer(" + pc.HandleName(timer) + ")");
    auto object = pc.Object(timer, ObjectKind::Timer);
    if (!object) {
        pc.Current()->lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    object->active = false; // the signalled state stays as it is
    return TRUE;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.PauseAt("CreateEventA"); // traced below, once the handle is known
    if (pc.CheckFault(CountedCall::CreateEvent).fail) {
        pc.Trace("CreateEventA -> none");
        pc.Current()->lastError = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    HANDLE handle =
        CreateNamedObject(pc, ObjectKind::Event, "event", name, [&](KernelObject& event) {
            event.manualReset = manualReset;
            event.signalled = initialState;
        });
    pc.Trace(std::string("CreateEventA") + (name != nullptr ? "(" + std::string(name) + ")" : "") +
             " -> " + pc.HandleName(handle));
    return handle;
}

static BOOL SetEventState(const char* call, HANDLE event, bool signalled)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace(std::string(call) + "(" + pc.HandleName(event) + ")");
    auto object = pc.Object(event, ObjectKind::Event);
    if (!object) {
        pc.Current()->lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    object->signalled = signalled;
    return TRUE;
}

BOOL WINAPI SetEvent(HANDLE event) { return SetEventState("SetEvent", event, true); }

BOOL WINAPI ResetEvent(HANDLE event) { return SetEventState("ResetEvent", event, false); }

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("CreateMutexA(" + NameOrNone(name) + ")");
    SimThread* self = pc.Current();
    if (pc.CheckFault(CountedCall::CreateMutex).fail) {
        self->lastError = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    return CreateNamedObject(pc, ObjectKind::Mutex, "mutex", name, [&](KernelObject& mutex) {
        if (initialOwner) {
            mutex.owner = self;
            mutex.ownerCount = 1;
        }
    });
}

BOOL WINAPI ReleaseMutex(HANDLE mutex)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("ReleaseMutex(" + pc.HandleName(mutex) + ")");
    SimThread* self = pc.Current();
    auto object = pc.Object(mutex, ObjectKind::Mutex);
    if (!object) {
        self->lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (object->owner != self) {
        self->lastError = ERROR_NOT_OWNER;
        return FALSE;
    }
    if (--object->ownerCount == 0) {
        object->owner = nullptr;
    }
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD timeoutMs)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("WaitForSingleObject(" + pc.HandleName(object) + ")");
    return pc.Wait(lock, {object}, false, timeoutMs);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll,
                                    DWORD timeoutMs)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    std::string text = "WaitForMultipleObjects(";
    const DWORD shown = objects != nullptr ? std::min(count, MAXIMUM_WAIT_OBJECTS) : 0;
    for (DWORD i = 0; i < shown; ++i) {
        text += (i > 0 ? "," : "") + pc.HandleName(objects[i]);
    }
    pc.Trace(text + ")");
    if (objects == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
        pc.Current()->lastError = ERROR_INVALID_PARAMETER;
        return WAIT_FAILED;
    }
    return pc.Wait(lock, std::vector<HANDLE>(objects, objects + count), waitAll != FALSE,
                   timeoutMs);
}

BOOL WINAPI CloseHandle(HANDLE object)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("CloseHandle(" + pc.HandleName(object) + ")");
    if (reinterpret_cast<std::intptr_t>(object) == -1) {
        return TRUE; // closing the pseudo-handle does nothing
    }
    auto it = pc.handles.find(reinterpret_cast<std::uintptr_t>(object));
    if (it == pc.handles.end() || !it->second.object) {
        pc.Current()->lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    pc.CloseHandleRecord(it->second);
    return TRUE;
}
