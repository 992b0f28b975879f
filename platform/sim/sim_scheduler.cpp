// The simulated PC's scheduler and clock: one simulated thread at a time,
// virtual time moved by the controller, and the clock services.
//
// Every simulated thread is a host thread parked on its own condition
// variable; the mutex of Impl guards all state and the baton `running`. The
// controller (the test thread) runs the ready threads one by one in FIFO order
// until none is ready, then moves the clock to the next deadline. Because the
// controller decides every hand-over, a run is the same on every machine and
// under every sanitizer. Ending a thread that is parked (its process ended, or
// the PC is destroyed) is done by waking it with killRequested set: the
// blocking call throws ThreadExit, which unwinds the thread's own stack to its
// trampoline, so no host thread outlives the SimPc.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <unistd.h>

#include "sim_internal.h"

namespace sim::detail {

Impl* thePc = nullptr;

namespace {
thread_local SimThread* currentThread = nullptr;

constexpr int SIM_YEAR = 2026;
constexpr int SIM_MONTH = 12;
constexpr int SIM_DAY = 11;
constexpr std::int64_t MS_PER_DAY = 86400000;
constexpr std::int64_t DEFAULT_TIME_OF_DAY_MS = 12LL * 3600 * 1000;

[[noreturn]] void Die(const char* why)
{
    std::fprintf(stderr, "simulated PC: %s\n", why);
    std::fflush(stderr);
    std::abort();
}
} // namespace

Impl& Pc()
{
    if (thePc == nullptr) {
        Die("a Windows service was called with no SimPc in existence");
    }
    return *thePc;
}

std::int64_t DaysFrom1601(int year, int month, int day)
{
    // Civil date to a day count (proleptic Gregorian), shifted from 1970 to 1601.
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    constexpr std::int64_t DAYS_1601_TO_1970 = 134774;
    return era * 146097 + dayOfEra - 719468 + DAYS_1601_TO_1970;
}

std::string Hex4(UINT value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

bool SameText(const std::string& a, const std::string& b) { return FileKey(a) == FileKey(b); }

Impl::Impl()
{
    controller.isController = true;
    controller.name = "test";
    controller.state = ThreadState::Running;
    wallBaseMs = DaysFrom1601(SIM_YEAR, SIM_MONTH, SIM_DAY) * MS_PER_DAY + DEFAULT_TIME_OF_DAY_MS;
    processPseudoObject = std::make_shared<KernelObject>();
    processPseudoObject->kind = ObjectKind::Process;
}

SimThread* Impl::Current() { return currentThread != nullptr ? currentThread : &controller; }

void Impl::RequireController(const char* what) const
{
    if (currentThread != nullptr) {
        std::fprintf(stderr, "simulated PC: SimPc::%s called from simulated thread %s\n", what,
                     currentThread->name.c_str());
        Die("the PC is driven from the test thread only");
    }
}

namespace {

// Calls that act only on what the calling thread alone uses here (its files
// and memory, the clock, its own token, the pointer) or that only read what
// no other thread changes. Another thread's step cannot be told apart
// before and after them, so they are no points of choice: a switch there is
// the same as a switch at the next call that is one. This keeps the bounded
// enumeration to the points that matter.
bool IsPrivateCall(const std::string& text)
{
    static const char* const PRIVATE_CALLS[] = {
        "CreateFileA",
        "GetFileSize",
        "ReadFile",
        "WriteFile",
        "SetFilePointer",
        "SetEndOfFile",
        "FlushFileBuffers",
        "DeleteFileA",
        "SetFileAttributesA",
        "GlobalAlloc",
        "GlobalFree",
        "GetSystemTime",
        "GetTickCount",
        "GetCommandLineA",
        "GetModuleHandleA",
        "GetCurrentProcess",
        "TranslateMessage",
        "LoadCursorA",
        "GetStockObject",
        "OpenProcessToken",
        "LookupPrivilegeValueA",
        "AdjustTokenPrivileges",
        "mouse_event",
        "GetFileAttributesA",
        "MoveFileExA",
        "CloseHandle(file#",
        "CloseHandle(token#",
    };
    for (const char* call : PRIVATE_CALLS) {
        const std::size_t length = std::char_traits<char>::length(call);
        if (text.compare(0, length, call) == 0 &&
            (text.size() == length || call[length - 1] == '#' || text[length] == '(' ||
             text[length] == ' ')) {
            return true;
        }
    }
    return false;
}

} // namespace

void Impl::Trace(std::string text)
{
    PauseAt(text.substr(0, text.find_first_of("( ")));
    EndProcessIfDue();
    if (policy != nullptr && currentThread != nullptr) {
        currentThread->privateCall = IsPrivateCall(text);
    }
    if (policy != nullptr && currentThread != nullptr && !currentThread->privateCall) {
        // The service that called Trace holds the mutex through its own lock.
        Lock borrowed(mu, std::adopt_lock);
        struct GiveBack {
            Lock& lock;
            ~GiveBack() { lock.release(); }
        } giveBack{borrowed};
        MayPreempt(borrowed);
    }
    trace.push_back(TraceEntry{nowMs, Current()->name, std::move(text)});
}

ServiceLock::ServiceLock(Impl& pc) : Lock(pc.mu), pc_(pc) {}

ServiceLock::~ServiceLock() noexcept(false)
{
    if (pc_.policy != nullptr && owns_lock() && std::uncaught_exceptions() == 0 &&
        !pc_.Current()->privateCall) {
        pc_.MayPreempt(*this);
    }
}

void Impl::MayPreempt(Lock& lock)
{
    SimThread* self = currentThread;
    if (policy == nullptr || self == nullptr || self->killRequested || shuttingDown ||
        hibernating || pausedThread == self || std::uncaught_exceptions() > 0) {
        return;
    }
    currentThread = nullptr; // the wake-ups are the controller's work
    WakeBlocked();
    currentThread = self;
    if (readyQueue.empty()) {
        return;
    }
    std::vector<int> options{self->serial};
    for (const SimThread* t : readyQueue) {
        options.push_back(t->serial);
    }
    const std::size_t chosen = policy->Choose(options, true);
    if (chosen == 0 || chosen >= options.size()) {
        return;
    }
    SimThread* next = readyQueue[chosen - 1];
    readyQueue.erase(readyQueue.begin() + static_cast<std::ptrdiff_t>(chosen - 1));
    self->state = ThreadState::Ready;
    readyQueue.push_back(self);
    next->state = ThreadState::Running;
    running = next;
    PassBaton(lock, next->baton, self->baton);
    if (self->killRequested) {
        throw ThreadExit{};
    }
}

SimThread* Impl::TakeReady()
{
    std::size_t chosen = 0;
    if (policy != nullptr && readyQueue.size() > 1) {
        std::vector<int> options;
        for (const SimThread* t : readyQueue) {
            options.push_back(t->serial);
        }
        chosen = std::min(policy->Choose(options, false), readyQueue.size() - 1);
    }
    SimThread* t = readyQueue[chosen];
    readyQueue.erase(readyQueue.begin() + static_cast<std::ptrdiff_t>(chosen));
    return t;
}

void Impl::EndProcessIfDue()
{
    SimThread* self = Current();
    // Only a program's own calls count; a thread already unwinding, or one
    // past its body, cannot be ended a second time.
    if (self->isController || self->process == nullptr || !self->process->running || !self->body ||
        std::uncaught_exceptions() > 0) {
        return;
    }
    bool due = false;
    for (Fault& fault : faults) {
        if (fault.kind == FaultKind::ProcessEnds && ++fault.count == fault.n) {
            due = true;
        }
    }
    if (!due) {
        return;
    }
    faultHit = true;
    trace.push_back(TraceEntry{nowMs, self->name, "process ended from outside"});
    EndProcess(self->process, 1);
    throw ThreadExit{};
}

void Impl::PauseAt(const std::string& call)
{
    SimThread* self = Current();
    if (!pauseCall || *pauseCall != call || self->isController) {
        return;
    }
    pauseCall.reset();
    pausedThread = self;
    // The service that called Trace holds the mutex through its own lock;
    // this one borrows it for the wait and never unlocks it on the way out.
    Lock borrowed(mu, std::adopt_lock);
    struct GiveBack {
        Lock& lock;
        ~GiveBack() { lock.release(); }
    } giveBack{borrowed};
    Block(
        borrowed, [this, self] { return pausedThread != self; }, std::nullopt);
}

SimThread* Impl::NewThread(Lock&, Process* process, std::string name, std::function<int()> body,
                           bool byCreateThread)
{
    auto thread = std::make_unique<SimThread>();
    SimThread* t = thread.get();
    t->serial = static_cast<int>(threads.size()) + 1;
    t->name = std::move(name);
    t->process = process;
    t->byCreateThread = byCreateThread;
    t->body = std::move(body);
    t->threadObject = NewObject(ObjectKind::Thread);
    t->threadObject->thread = t;
    t->state = ThreadState::Ready;
    // A thread made while the PC is going down, or by a process that has
    // ended, never runs its body.
    t->killRequested = shuttingDown || (process != nullptr && !process->running);
    threads.push_back(std::move(thread));
    readyQueue.push_back(t);
    t->host = std::thread(&Impl::Trampoline, this, t);
    return t;
}

void Impl::Trampoline(SimThread* t)
{
    currentThread = t;
    bool start = false;
    t->baton.Take();
    {
        Lock lock(mu);
        start = !t->killRequested;
    }
    int code = 0;
    bool crashed = false;
    std::string why;
    if (start) {
        try {
            code = t->body();
        } catch (const ThreadExit&) {
        } catch (const std::exception& e) {
            crashed = true;
            why = e.what();
        } catch (...) {
            crashed = true;
            why = "an exception of unknown type";
        }
    }
    t->body = nullptr; // its captures die on the thread that used them
    Lock lock(mu);
    if (crashed) {
        // A fault that nothing handles ends the process, as on Windows; it is
        // reported so that a broken test says why.
        std::fprintf(stderr, "simulated PC: thread %s ended by %s\n", t->name.c_str(), why.c_str());
        Trace("unhandled exception: " + why);
        if (t->process != nullptr && t->process->running) {
            EndProcess(t->process, UNHANDLED_EXCEPTION_EXIT_CODE);
        }
    }
    if (t->process != nullptr && t == t->process->mainThread && t->process->running) {
        // Counted before the process's end closes them all, so that a leak shows.
        t->process->handlesAtExit =
            static_cast<int>(std::count_if(handles.begin(), handles.end(), [t](const auto& entry) {
                return entry.second.object && entry.second.process == t->process->id;
            }));
        EndProcess(t->process, code);
    }
    EndThread(t);
    t->state = ThreadState::Done;
    ++finishedCount;
    Baton& next = HandOff();
    currentThread = nullptr;
    lock.unlock();
    next.Give();
}

void Impl::EndThread(SimThread* t)
{
    t->threadObject->signalled = true;
    if (pausedThread == t) {
        pausedThread = nullptr;
    }
    for (auto& window : windows) {
        if (window->info.exists && window->owner == t) {
            DestroyWindowRecord(window.get());
        }
    }
    windowTimers.erase(std::remove_if(windowTimers.begin(), windowTimers.end(),
                                      [t](const WindowTimerRecord& r) { return r.owner == t; }),
                       windowTimers.end());
    for (auto& message : t->sent) {
        message->done = true; // the sender gets 0, as from a thread that died
    }
    t->sent.clear();
    t->posted.clear();
    for (auto& weak : objects) {
        if (auto object = weak.lock();
            object && object->kind == ObjectKind::Mutex && object->owner == t) {
            object->owner = nullptr; // abandoned
            object->ownerCount = 0;
        }
    }
    // A thread of an ended process may still have opened something while it
    // unwound; the process's handles are all gone.
    if (t->process != nullptr && !t->process->running) {
        for (auto& [value, record] : handles) {
            if (record.object && record.process == t->process->id) {
                CloseHandleRecord(record);
            }
        }
    }
}

void Impl::EndProcess(Process* process, int exitCode)
{
    process->running = false;
    process->exitCode = exitCode;
    for (auto& thread : threads) {
        SimThread* t = thread.get();
        if (t->process == process && t->state != ThreadState::Done && t != Current()) {
            t->killRequested = true;
            if (t->state == ThreadState::Blocked) {
                MakeReady(t);
            }
        }
    }
    for (auto& window : windows) {
        if (window->info.exists && window->process == process->id) {
            DestroyWindowRecord(window.get());
        }
    }
    for (auto& windowClass : classes) {
        if (windowClass->process == process->id) {
            windowClass->registered = false;
        }
    }
    for (auto& [value, record] : handles) {
        if (record.object && record.process == process->id) {
            CloseHandleRecord(record);
        }
    }
}

WaitEnd Impl::Block(Lock& lock, std::function<bool()> ready,
                    std::optional<std::uint64_t> deadlineMs)
{
    SimThread* self = Current();
    auto killed = [&] {
        // A second throw while the thread already unwinds would terminate the
        // whole test program; the call just fails instead.
        if (std::uncaught_exceptions() > 0) {
            return WaitEnd::Killed;
        }
        throw ThreadExit{};
    };
    if (self->killRequested) {
        return killed();
    }
    if (self->isController) {
        // The test thread has no baton to give away: it runs the PC until
        // what it waits for happens.
        for (;;) {
            RunUntilIdleLocked(lock);
            if (ready()) {
                return WaitEnd::Completed;
            }
            if (deadlineMs && nowMs >= *deadlineMs) {
                return WaitEnd::TimedOut;
            }
            auto next = NextEventMs();
            if (deadlineMs && (!next || *deadlineMs < *next)) {
                next = deadlineMs;
            }
            if (!next) {
                Die("the test thread would wait for ever");
            }
            StepTo(*next);
        }
    }
    self->ready = std::move(ready);
    self->deadlineMs = deadlineMs;
    self->timedOut = false;
    self->state = ThreadState::Blocked;
    blockedQueue.push_back(self);
    PassBaton(lock, HandOff(), self->baton);
    self->ready = nullptr;
    self->deadlineMs.reset();
    if (self->killRequested) {
        return killed();
    }
    return self->timedOut ? WaitEnd::TimedOut : WaitEnd::Completed;
}

void Impl::MakeReady(SimThread* t)
{
    auto it = std::find(blockedQueue.begin(), blockedQueue.end(), t);
    if (it != blockedQueue.end()) {
        blockedQueue.erase(it);
    }
    t->state = ThreadState::Ready;
    readyQueue.push_back(t);
}

void Impl::WakeBlocked()
{
    for (auto it = blockedQueue.begin(); it != blockedQueue.end();) {
        SimThread* t = *it;
        bool go = false;
        if (t->killRequested || shuttingDown) {
            go = true;
        } else if (hibernating) {
            go = false; // frozen
        } else if (t->ready && t->ready()) {
            go = true;
        } else if (t->deadlineMs && nowMs >= *t->deadlineMs) {
            t->timedOut = true;
            go = true;
        }
        if (go) {
            it = blockedQueue.erase(it);
            t->state = ThreadState::Ready;
            readyQueue.push_back(t);
        } else {
            ++it;
        }
    }
}

void Impl::RunUntilIdleLocked(Lock& lock)
{
    for (;;) {
        ProcessDue();
        WakeBlocked();
        if (readyQueue.empty() || (hibernating && !shuttingDown)) {
            break;
        }
        SimThread* t = TakeReady();
        t->state = ThreadState::Running;
        running = t;
        PassBaton(lock, t->baton, controller.baton);
    }
    JoinFinished();
}

void Impl::ProcessDue()
{
    if (shuttingDown) {
        return;
    }
    std::vector<std::shared_ptr<KernelObject>> timers;
    timerObjects.erase(
        std::remove_if(timerObjects.begin(), timerObjects.end(),
                       [](const std::weak_ptr<KernelObject>& w) { return w.expired(); }),
        timerObjects.end());
    for (auto& weak : timerObjects) {
        if (auto object = weak.lock(); object && object->active && object->dueMs <= nowMs) {
            timers.push_back(object);
        }
    }
    if (hibernating) {
        // Only a timer armed with resume wakes the PC; the others, like every
        // thread and window timer, wait for the resume.
        for (auto& timer : timers) {
            if (timer->resume) {
                hibernating = false;
            }
        }
        if (hibernating) {
            return;
        }
    }
    for (auto& timer : timers) {
        FireTimer(*timer);
    }
    for (auto& timer : windowTimers) {
        if (timer.nextDueMs <= nowMs) {
            timer.pending = true; // a tick not yet taken is not queued twice
            timer.nextDueMs = nowMs + timer.periodMs;
        }
    }
    while (!companionArrivals.empty() && companionArrivals.front() <= nowMs) {
        companionArrivals.erase(companionArrivals.begin());
        CreateCompanionWindow();
    }
    while (!scheduledPosts.empty() && scheduledPosts.front().atMs <= nowMs) {
        const ScheduledPost post = scheduledPosts.front();
        scheduledPosts.erase(scheduledPosts.begin());
        DWORD error = 0;
        PostToWindow(post.window, post.message, post.wParam, post.lParam, &error);
    }
}

std::optional<std::uint64_t> Impl::NextEventMs() const
{
    std::optional<std::uint64_t> best;
    auto consider = [&](std::uint64_t ms) {
        if (!best || ms < *best) {
            best = ms;
        }
    };
    if (!hibernating) {
        for (const SimThread* t : blockedQueue) {
            if (t->deadlineMs) {
                consider(*t->deadlineMs);
            }
        }
        for (const auto& timer : windowTimers) {
            consider(timer.nextDueMs);
        }
        for (std::uint64_t ms : companionArrivals) {
            consider(ms);
        }
        if (!scheduledPosts.empty()) {
            consider(scheduledPosts.front().atMs);
        }
    }
    for (const auto& weak : timerObjects) {
        if (auto object = weak.lock();
            object && object->active && (!hibernating || object->resume)) {
            consider(object->dueMs);
        }
    }
    return best;
}

void Impl::StepTo(std::uint64_t ms) { nowMs = std::max(nowMs, ms); }

void Impl::JoinFinished()
{
    // A finished thread has released the mutex before the controller can hold
    // it again, so joining here waits only for its last return.
    if (finishedCount == 0) {
        return;
    }
    finishedCount = 0;
    for (auto& thread : threads) {
        if (thread->state == ThreadState::Done && thread->host.joinable()) {
            thread->host.join();
            // Its handles keep the object alive for as long as they are open.
            thread->threadObject.reset();
        }
    }
    objects.erase(std::remove_if(objects.begin(), objects.end(),
                                 [](const std::weak_ptr<KernelObject>& w) { return w.expired(); }),
                  objects.end());
    PruneClosedHandles();
}

Baton& Impl::HandOff()
{
    // What follows is the controller's work; done on a simulated thread, it
    // must see the PC as the controller does.
    SimThread* const caller = currentThread;
    currentThread = nullptr;
    ProcessDue();
    WakeBlocked();
    currentThread = caller;
    SimThread* next = nullptr;
    if (!readyQueue.empty() && !(hibernating && !shuttingDown)) {
        next = TakeReady();
        next->state = ThreadState::Running;
    }
    running = next;
    return next != nullptr ? next->baton : controller.baton;
}

void Impl::PassBaton(Lock& lock, Baton& next, Baton& own)
{
    lock.unlock();
    next.Give();
    own.Take();
    lock.lock();
}

void Impl::ShutDown(Lock& lock)
{
    shuttingDown = true;
    hibernating = false;
    for (;;) {
        bool anyAlive = false;
        for (auto& thread : threads) {
            if (thread->state != ThreadState::Done) {
                anyAlive = true;
                thread->killRequested = true;
                if (thread->state == ThreadState::Blocked) {
                    MakeReady(thread.get());
                }
            }
        }
        if (!anyAlive) {
            break;
        }
        RunUntilIdleLocked(lock);
    }
    JoinFinished();
}

} // namespace sim::detail

namespace sim {

using namespace detail;

SimPc::SimPc() : impl_(std::make_unique<Impl>())
{
    if (thePc != nullptr) {
        std::fprintf(stderr, "simulated PC: a second SimPc while one exists\n");
        std::abort();
    }
    impl_->RequireController("SimPc");
    char folder[] = "/tmp/dozeward-sim-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("simulated PC: mkdtemp");
        std::abort();
    }
    impl_->folder = folder;
    thePc = impl_.get();
}

SimPc::~SimPc()
{
    impl_->RequireController("~SimPc");
    {
        Lock lock(impl_->mu);
        impl_->ShutDown(lock);
        for (auto& [value, record] : impl_->handles) {
            if (record.object) {
                impl_->CloseHandleRecord(record);
            }
        }
        for (void* block : impl_->liveBlocks) {
            std::free(block);
        }
        impl_->liveBlocks.clear();
    }
    std::error_code ignored;
    std::filesystem::remove_all(impl_->folder, ignored);
    thePc = nullptr;
}

void SimPc::RunUntilIdle()
{
    impl_->RequireController("RunUntilIdle");
    Lock lock(impl_->mu);
    impl_->RunUntilIdleLocked(lock);
}

void SimPc::Advance(std::uint64_t ms)
{
    impl_->RequireController("Advance");
    Lock lock(impl_->mu);
    const std::uint64_t target = impl_->nowMs + ms;
    impl_->RunUntilIdleLocked(lock);
    for (;;) {
        auto next = impl_->NextEventMs();
        if (!next || *next > target) {
            break;
        }
        impl_->StepTo(*next);
        impl_->RunUntilIdleLocked(lock);
    }
    impl_->StepTo(target);
    impl_->RunUntilIdleLocked(lock);
}

bool SimPc::AdvanceUntil(const std::function<bool()>& done, std::uint64_t maxMs)
{
    impl_->RequireController("AdvanceUntil");
    std::uint64_t target = 0;
    {
        Lock lock(impl_->mu);
        target = impl_->nowMs + maxMs;
        impl_->RunUntilIdleLocked(lock);
    }
    // done() is the test's own code and may inspect the PC, so it runs with
    // the mutex released.
    for (;;) {
        if (done()) {
            return true;
        }
        Lock lock(impl_->mu);
        if (impl_->nowMs >= target) {
            return false;
        }
        auto next = impl_->NextEventMs();
        impl_->StepTo(!next || *next > target ? target : *next);
        impl_->RunUntilIdleLocked(lock);
    }
}

bool SimPc::RunToExit(int process, std::uint64_t maxMs)
{
    return AdvanceUntil([&] { return !ProcessRunning(process); }, maxMs);
}

std::uint64_t SimPc::NowMs() const
{
    Lock lock(impl_->mu);
    return impl_->nowMs;
}

void SimPc::SetUtcTime(int hour, int minute, int second)
{
    Lock lock(impl_->mu);
    const std::int64_t dayMs = DaysFrom1601(2026, 12, 11) * 86400000LL;
    const std::int64_t timeMs = ((hour * 60LL + minute) * 60 + second) * 1000;
    impl_->wallBaseMs = dayMs + timeMs - static_cast<std::int64_t>(impl_->nowMs);
    impl_->RecomputeAbsoluteTimers();
}

std::vector<TraceEntry> SimPc::Trace() const
{
    Lock lock(impl_->mu);
    return impl_->trace;
}

void SimPc::ClearTrace()
{
    Lock lock(impl_->mu);
    impl_->trace.clear();
}

std::vector<std::string> SimPc::TraceTexts(const std::vector<std::string>& prefixes) const
{
    Lock lock(impl_->mu);
    std::vector<std::string> texts;
    for (const auto& entry : impl_->trace) {
        bool wanted = prefixes.empty();
        for (const auto& prefix : prefixes) {
            wanted = wanted || entry.text.compare(0, prefix.size(), prefix) == 0;
        }
        if (wanted) {
            texts.push_back(entry.text);
        }
    }
    return texts;
}

void SimPc::PauseBefore(const std::string& call)
{
    Lock lock(impl_->mu);
    impl_->pauseCall = call;
}

bool SimPc::Paused() const
{
    Lock lock(impl_->mu);
    return impl_->pausedThread != nullptr;
}

void SimPc::Resume()
{
    Lock lock(impl_->mu);
    impl_->pauseCall.reset();
    impl_->pausedThread = nullptr;
}

int SimPc::LiveThreadCount() const
{
    Lock lock(impl_->mu);
    int count = 0;
    for (const auto& thread : impl_->threads) {
        count += thread->byCreateThread && thread->state != ThreadState::Done ? 1 : 0;
    }
    return count;
}

void SimPc::SetSchedulePolicy(SchedulePolicy* policy)
{
    impl_->RequireController("SetSchedulePolicy");
    Lock lock(impl_->mu);
    impl_->policy = policy;
}

int SimPc::BlockedThreadCount() const
{
    Lock lock(impl_->mu);
    return static_cast<int>(impl_->blockedQueue.size());
}

} // namespace sim

using namespace sim::detail;

// The clock services and the per-thread error code.

void WINAPI Sleep(DWORD periodMs)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("Sleep(" + std::to_string(periodMs) + ")");
    std::optional<std::uint64_t> deadline;
    if (periodMs != INFINITE) {
        deadline = pc.nowMs + periodMs;
    }
    pc.Block(
        lock, [] { return false; }, deadline);
}

void WINAPI GetSystemTime(LPSYSTEMTIME time)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("GetSystemTime");
    const std::int64_t wallMs = pc.WallMs();
    const std::int64_t days1601 = wallMs / 86400000;
    const std::int64_t msOfDay = wallMs % 86400000;
    // Day count back to a civil date.
    const std::int64_t z = days1601 - 134774 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    time->wYear = static_cast<WORD>(year);
    time->wMonth = static_cast<WORD>(month);
    time->wDay = static_cast<WORD>(day);
    time->wDayOfWeek = static_cast<WORD>((days1601 + 1) % 7); // 1601-01-01 was a Monday
    time->wHour = static_cast<WORD>(msOfDay / 3600000);
    time->wMinute = static_cast<WORD>(msOfDay / 60000 % 60);
    time->wSecond = static_cast<WORD>(msOfDay / 1000 % 60);
    time->wMilliseconds = static_cast<WORD>(msOfDay % 1000);
}

DWORD WINAPI GetTickCount()
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("GetTickCount");
    return static_cast<DWORD>(pc.nowMs);
}

// The error code is the calling thread's own, so these two are not traced:
// they say nothing about what the program did to the PC.
DWORD WINAPI GetLastError() { return Pc().Current()->lastError; }

void WINAPI SetLastError(DWORD error) { Pc().Current()->lastError = error; }
