// Windows, window classes, message queues and window timers of the simulated PC.
//
// Each simulated thread has one queue, served by GetMessageA in the order
// Windows uses: messages sent from other threads are handled inside the call
// first, then posted messages, then the quit request, then window timer ticks.
// A tick is a flag on its timer rather than a queued message, so a slow loop
// sees one tick, not a backlog, as on Windows. Windows of other programs (the
// companion, a foreign window a test makes) have no thread here: they answer
// inside the sender's call, which is all the supervisor can observe of them.
#include <algorithm>

#include "sim_internal.h"

namespace sim::detail {

namespace {

constexpr std::uintptr_t FIRST_WINDOW_HANDLE = 0x000A0000;
constexpr std::uintptr_t ARROW_CURSOR_BASE = 0x00010000;
constexpr std::uintptr_t STOCK_OBJECT_BASE = 0x01900000;
constexpr int LAST_STOCK_OBJECT = 19;
constexpr std::uintptr_t FIRST_STANDARD_CURSOR = 32512;
constexpr std::uintptr_t LAST_STANDARD_CURSOR = 32651;

bool IsIntResource(LPCSTR name) { return reinterpret_cast<std::uintptr_t>(name) < 0x10000; }

bool InRange(UINT message, UINT minMessage, UINT maxMessage)
{
    return (minMessage == 0 && maxMessage == 0) || (message >= minMessage && message <= maxMessage);
}

MSG MakeMsg(HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::uint64_t nowMs)
{
    return MSG{window, message, wParam, lParam, static_cast<DWORD>(nowMs), POINT{0, 0}};
}

// What a send to a window returned, and whether it completed at all.
struct SendOutcome {
    bool completed;
    LRESULT result;
};

SendOutcome Send(Impl& pc, Lock& lock, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                 std::optional<DWORD> timeoutMs, UINT flags)
{
    SimThread* self = pc.Current();
    WindowRecord* target = pc.Window(window);
    if (target == nullptr || !target->info.exists) {
        self->lastError = ERROR_INVALID_WINDOW_HANDLE;
        return {false, 0};
    }
    std::optional<std::uint64_t> deadline;
    if (timeoutMs) {
        deadline = pc.nowMs + *timeoutMs;
    }
    if (target->owner == nullptr) {
        if (target->hung && (flags & SMTO_ABORTIFHUNG) != 0 &&
            pc.nowMs - target->hungSinceMs >= HUNG_WINDOW_MS) {
            self->lastError = ERROR_TIMEOUT;
            return {false, 0};
        }
        if (pc.ForeignWindowHandles(target, message)) {
            return {true, 0};
        }
        // It never answers: the sender waits out its bound, or for ever,
        // still handling what other threads send to it meanwhile.
        for (;;) {
            WaitEnd end = pc.Block(
                lock, [self] { return !self->sent.empty(); }, deadline);
            if (end != WaitEnd::Completed) {
                self->lastError = ERROR_TIMEOUT;
                return {false, 0};
            }
            pc.ProcessSentMessages(lock, self);
        }
    }
    if (target->owner == self) {
        return {true, pc.CallWindowProc(lock, target, message, wParam, lParam)};
    }
    auto sent = std::make_shared<SentMessage>(SentMessage{window, message, wParam, lParam});
    target->owner->sent.push_back(sent);
    for (;;) {
        WaitEnd end = pc.Block(
            lock, [sent, self] { return sent->done || !self->sent.empty(); }, deadline);
        if (sent->done) {
            return {true, sent->result};
        }
        if (end != WaitEnd::Completed) {
            // The message stays queued; its result, when it comes, is dropped.
            self->lastError = ERROR_TIMEOUT;
            return {false, 0};
        }
        pc.ProcessSentMessages(lock, self);
    }
}

bool TakeMessage(Impl& pc, SimThread* self, HWND filter, UINT minMessage, UINT maxMessage, MSG* msg)
{
    for (auto it = self->posted.begin(); it != self->posted.end(); ++it) {
        if ((filter == NULL || it->hwnd == filter) &&
            InRange(it->message, minMessage, maxMessage)) {
            *msg = *it;
            self->posted.erase(it);
            return true;
        }
    }
    if (self->quitPosted && InRange(WM_QUIT, minMessage, maxMessage)) {
        self->quitPosted = false;
        *msg = MakeMsg(NULL, WM_QUIT, static_cast<WPARAM>(self->quitCode), 0, pc.nowMs);
        return true;
    }
    if (!InRange(WM_TIMER, minMessage, maxMessage)) {
        return false;
    }
    for (auto& timer : pc.windowTimers) {
        if (timer.owner == self && timer.pending && (filter == NULL || timer.window == filter)) {
            timer.pending = false;
            *msg = MakeMsg(timer.window, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.proc),
                           pc.nowMs);
            return true;
        }
    }
    return false;
}

WindowClass* FindClass(Impl& pc, LPCSTR className, HINSTANCE instance)
{
    for (auto& windowClass : pc.classes) {
        if (!windowClass->registered || windowClass->instance != instance) {
            continue;
        }
        if (IsIntResource(className)
                ? windowClass->atom ==
                      static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(className))
                : SameText(windowClass->name, className)) {
            return windowClass.get();
        }
    }
    return nullptr;
}

std::string ClassArg(LPCSTR className)
{
    if (className == nullptr) {
        return "none";
    }
    if (IsIntResource(className)) {
        return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(className));
    }
    return className;
}

} // namespace

WindowRecord* Impl::Window(HWND window) const
{
    auto it = windowByHandle.find(window);
    return it == windowByHandle.end() ? nullptr : it->second;
}

std::string Impl::WindowName(HWND window) const
{
    if (window == NULL) {
        return "none";
    }
    WindowRecord* record = Window(window);
    return record != nullptr ? record->info.className : "invalid";
}

WindowRecord* Impl::FindTopLevel(const char* className, const char* title) const
{
    for (const auto& window : windows) {
        if (window->info.exists && window->info.topLevel &&
            (className == nullptr || SameText(window->info.className, className)) &&
            (title == nullptr || SameText(window->info.title, title))) {
            return window.get();
        }
    }
    return nullptr;
}

WindowRecord* Impl::CreateWindowRecord(const std::string& className)
{
    auto window = std::make_unique<WindowRecord>();
    window->handle = reinterpret_cast<HWND>(FIRST_WINDOW_HANDLE + 2 * windows.size());
    window->info.exists = true;
    window->info.topLevel = true;
    window->info.className = className;
    window->info.title = className;
    WindowRecord* record = window.get();
    windowByHandle[record->handle] = record;
    windows.push_back(std::move(window));
    return record;
}

WindowRecord* Impl::CreateCompanionWindow()
{
    WindowRecord* window = CreateWindowRecord(COMPANION_CLASS_NAME);
    window->companion = true;
    if (companionModel.hungFromStart) {
        window->hung = true;
        window->hungSinceMs = nowMs;
    }
    return window;
}

void Impl::DestroyWindowRecord(WindowRecord* window)
{
    window->info.exists = false;
    windowTimers.erase(std::remove_if(windowTimers.begin(), windowTimers.end(),
                                      [window](const WindowTimerRecord& timer) {
                                          return timer.window == window->handle;
                                      }),
                       windowTimers.end());
}

bool Impl::HasMessage(const SimThread* thread, HWND filter, UINT minMessage, UINT maxMessage) const
{
    if (!thread->sent.empty()) {
        return true;
    }
    for (const MSG& msg : thread->posted) {
        if ((filter == NULL || msg.hwnd == filter) &&
            InRange(msg.message, minMessage, maxMessage)) {
            return true;
        }
    }
    if (thread->quitPosted && InRange(WM_QUIT, minMessage, maxMessage)) {
        return true;
    }
    if (!InRange(WM_TIMER, minMessage, maxMessage)) {
        return false;
    }
    return std::any_of(windowTimers.begin(), windowTimers.end(), [&](const WindowTimerRecord& t) {
        return t.owner == thread && t.pending && (filter == NULL || t.window == filter);
    });
}

void Impl::ProcessSentMessages(Lock& lock, SimThread* thread)
{
    while (!thread->sent.empty()) {
        auto message = thread->sent.front();
        thread->sent.pop_front();
        WindowRecord* window = Window(message->window);
        LRESULT result = 0;
        if (window != nullptr && window->info.exists && window->owner == thread) {
            try {
                result = CallWindowProc(lock, window, message->message, message->wParam,
                                        message->lParam);
            } catch (...) {
                message->done = true; // the sender must not wait on a thread that is ending
                throw;
            }
        }
        message->result = result;
        message->done = true;
    }
}

LRESULT Impl::CallWindowProc(Lock& lock, WindowRecord* window, UINT message, WPARAM wParam,
                             LPARAM lParam)
{
    WNDPROC proc = window->proc;
    if (proc == nullptr) {
        return 0;
    }
    // The window procedure is the program's code: it calls services, which
    // take the mutex, so it runs without it.
    lock.unlock();
    LRESULT result = 0;
    try {
        result = proc(window->handle, message, wParam, lParam);
    } catch (...) {
        lock.lock();
        throw;
    }
    lock.lock();
    return result;
}

} // namespace sim::detail

namespace sim {

using namespace detail;

HWND SimPc::FindWindow(const std::string& className) const
{
    Lock lock(impl_->mu);
    WindowRecord* window = impl_->FindTopLevel(className.c_str(), nullptr);
    return window != nullptr ? window->handle : NULL;
}

LRESULT SimPc::SendFromOutside(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    impl_->RequireController("SendFromOutside");
    Lock lock(impl_->mu);
    // Not traced: the trace is what the PC's own programs call.
    WindowRecord* target = impl_->Window(window);
    if (target == nullptr || !target->info.exists) {
        return 0;
    }
    if (target->owner == nullptr) {
        impl_->ForeignWindowHandles(target, message);
        return 0;
    }
    if (target->owner == &impl_->controller) {
        return impl_->CallWindowProc(lock, target, message, wParam, lParam);
    }
    auto sent = std::make_shared<SentMessage>(SentMessage{window, message, wParam, lParam});
    target->owner->sent.push_back(sent);
    impl_->RunUntilIdleLocked(lock);
    return sent->done ? sent->result : 0;
}

BOOL SimPc::PostFromOutside(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    impl_->RequireController("PostFromOutside");
    Lock lock(impl_->mu);
    DWORD error = 0;
    return impl_->PostToWindow(window, message, wParam, lParam, &error);
}

void SimPc::PostFromOutsideAt(std::uint64_t atMs, HWND window, UINT message, WPARAM wParam,
                              LPARAM lParam)
{
    Lock lock(impl_->mu);
    auto& posts = impl_->scheduledPosts;
    auto at = std::upper_bound(
        posts.begin(), posts.end(), atMs,
        [](std::uint64_t ms, const Impl::ScheduledPost& post) { return ms < post.atMs; });
    posts.insert(at, Impl::ScheduledPost{atMs, window, message, wParam, lParam});
}

BOOL Impl::PostToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD* error)
{
    WindowRecord* target = Window(window);
    if (target == nullptr || !target->info.exists) {
        *error = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    if (target->owner == nullptr) {
        ForeignWindowHandles(target, message);
        return TRUE;
    }
    if (target->owner->posted.size() >= POSTED_MESSAGE_LIMIT) {
        *error = ERROR_NOT_ENOUGH_QUOTA;
        return FALSE;
    }
    target->owner->posted.push_back(MakeMsg(window, message, wParam, lParam, nowMs));
    return TRUE;
}

HWND SimPc::CreateForeignWindow(const std::string& className)
{
    Lock lock(impl_->mu);
    return impl_->CreateWindowRecord(className)->handle;
}

void SimPc::DestroyForeignWindow(HWND window)
{
    Lock lock(impl_->mu);
    WindowRecord* record = impl_->Window(window);
    if (record != nullptr && record->owner == nullptr && record->info.exists) {
        impl_->DestroyWindowRecord(record);
    }
}

SimPc::WindowInfo SimPc::Window(HWND window) const
{
    Lock lock(impl_->mu);
    WindowRecord* record = impl_->Window(window);
    if (record == nullptr) {
        WindowInfo none{};
        none.exists = false;
        return none;
    }
    return record->info;
}

HCURSOR SimPc::ArrowCursor() const
{
    return reinterpret_cast<HCURSOR>(ARROW_CURSOR_BASE + FIRST_STANDARD_CURSOR);
}

HGDIOBJ SimPc::BlackBrush() const
{
    return reinterpret_cast<HGDIOBJ>(STOCK_OBJECT_BASE + BLACK_BRUSH * 0x10);
}

int SimPc::WindowCount() const
{
    Lock lock(impl_->mu);
    return static_cast<int>(std::count_if(impl_->windows.begin(), impl_->windows.end(),
                                          [](const auto& w) { return w->info.exists; }));
}

int SimPc::RegisteredClassCount() const
{
    Lock lock(impl_->mu);
    return static_cast<int>(std::count_if(impl_->classes.begin(), impl_->classes.end(),
                                          [](const auto& c) { return c->registered; }));
}

std::vector<SimPc::WindowTimer> SimPc::WindowTimers() const
{
    Lock lock(impl_->mu);
    std::vector<WindowTimer> timers;
    for (const auto& timer : impl_->windowTimers) {
        timers.push_back(WindowTimer{impl_->WindowName(timer.window), timer.id, timer.periodMs,
                                     timer.nextDueMs});
    }
    return timers;
}

} // namespace sim

using namespace sim::detail;

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("FindWindowA(" + ClassArg(className) +
             (windowName != nullptr ? "," + std::string(windowName) : "") + ")");
    std::string name;
    if (className != nullptr && IsIntResource(className)) {
        for (auto& windowClass : pc.classes) {
            if (windowClass->atom ==
                static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(className))) {
                name = windowClass->name;
            }
        }
        if (name.empty()) {
            return NULL;
        }
    } else if (className != nullptr) {
        name = className;
    }
    WindowRecord* window =
        pc.FindTopLevel(className != nullptr ? name.c_str() : nullptr, windowName);
    return window != nullptr ? window->handle : NULL;
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("RegisterClassExA(" +
             ClassArg(windowClass != nullptr ? windowClass->lpszClassName : nullptr) + ")");
    SimThread* self = pc.Current();
    if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXA) ||
        windowClass->lpszClassName == nullptr || IsIntResource(windowClass->lpszClassName)) {
        self->lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (FindClass(pc, windowClass->lpszClassName, windowClass->hInstance) != nullptr) {
        self->lastError = ERROR_CLASS_ALREADY_EXISTS;
        return 0;
    }
    auto record = std::make_unique<WindowClass>();
    record->atom = static_cast<ATOM>(0xC000 + pc.classes.size());
    record->name = windowClass->lpszClassName;
    record->instance = windowClass->hInstance;
    record->process = self->process != nullptr ? self->process->id : 0;
    record->record = *windowClass;
    record->record.lpszClassName = nullptr;
    record->record.lpszMenuName = nullptr;
    if (windowClass->lpszMenuName != nullptr) {
        record->menuName = ClassArg(windowClass->lpszMenuName);
    }
    const ATOM atom = record->atom;
    pc.classes.push_back(std::move(record));
    return atom;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("CreateWindowExA(" + ClassArg(className) + ")");
    SimThread* self = pc.Current();
    WindowClass* windowClass = className != nullptr ? FindClass(pc, className, instance) : nullptr;
    if (windowClass == nullptr) {
        self->lastError = ERROR_CANNOT_FIND_WND_CLASS;
        return NULL;
    }
    if (parent != NULL && (pc.Window(parent) == nullptr || !pc.Window(parent)->info.exists)) {
        self->lastError = ERROR_INVALID_WINDOW_HANDLE;
        return NULL;
    }
    // No creation messages are sent: the supervisor's window procedure handles
    // none, and the record below is what a test inspects.
    WindowRecord* window = pc.CreateWindowRecord(windowClass->name);
    window->owner = self;
    window->process = self->process != nullptr ? self->process->id : 0;
    window->proc = windowClass->record.lpfnWndProc;
    sim::SimPc::WindowInfo& info = window->info;
    info.topLevel = parent == NULL;
    info.visible = (style & WS_VISIBLE) != 0;
    info.exStyle = exStyle;
    info.title = windowName != nullptr ? windowName : "";
    info.style = style;
    info.x = x;
    info.y = y;
    info.width = width;
    info.height = height;
    info.parent = parent;
    info.menu = menu;
    info.instance = instance;
    info.createParam = param;
    info.windowClass = windowClass->record;
    info.classMenuName = windowClass->menuName;
    return window->handle;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("DestroyWindow(" + pc.WindowName(window) + ")");
    SimThread* self = pc.Current();
    WindowRecord* record = pc.Window(window);
    if (record == nullptr || !record->info.exists) {
        self->lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    if (record->owner != self) {
        self->lastError = ERROR_ACCESS_DENIED; // only the owning thread may destroy it
        return FALSE;
    }
    pc.CallWindowProc(lock, record, WM_DESTROY, 0, 0);
    if (record->info.exists) {
        pc.DestroyWindowRecord(record);
    }
    return TRUE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR cursorName)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("LoadCursorA(" + ClassArg(cursorName) + ")");
    const auto id = reinterpret_cast<std::uintptr_t>(cursorName);
    if (instance == NULL && IsIntResource(cursorName) && id >= FIRST_STANDARD_CURSOR &&
        id <= LAST_STANDARD_CURSOR) {
        return reinterpret_cast<HCURSOR>(ARROW_CURSOR_BASE + id);
    }
    pc.Current()->lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
    return NULL;
}

HGDIOBJ WINAPI GetStockObject(int object)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("GetStockObject(" + std::to_string(object) + ")");
    if (object < 0 || object > LAST_STOCK_OBJECT) {
        return NULL;
    }
    return reinterpret_cast<HGDIOBJ>(STOCK_OBJECT_BASE +
                                     static_cast<std::uintptr_t>(object) * 0x10);
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("DefWindowProcA(" + pc.WindowName(window) + "," + Hex4(message) + ")");
    return sim::DefWindowProcResult(message);
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("GetMessageA");
    SimThread* self = pc.Current();
    for (;;) {
        pc.ProcessSentMessages(lock, self);
        if (TakeMessage(pc, self, window, filterMin, filterMax, msg)) {
            return msg->message == WM_QUIT ? FALSE : TRUE;
        }
        WaitEnd end = pc.Block(
            lock, [&] { return pc.HasMessage(self, window, filterMin, filterMax); }, std::nullopt);
        if (end == WaitEnd::Killed) {
            *msg = MakeMsg(NULL, WM_QUIT, 0, 0, pc.nowMs);
            return FALSE;
        }
    }
}

BOOL WINAPI TranslateMessage(const MSG*)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("TranslateMessage");
    return FALSE; // no keyboard input ever arrives
}

LRESULT WINAPI DispatchMessageA(const MSG* msg)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("DispatchMessageA(" + pc.WindowName(msg->hwnd) + "," + Hex4(msg->message) + ")");
    SimThread* self = pc.Current();
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        const auto time = static_cast<DWORD>(pc.nowMs);
        lock.unlock();
        proc(msg->hwnd, WM_TIMER, msg->wParam, time);
        return 0;
    }
    WindowRecord* window = pc.Window(msg->hwnd);
    if (window == nullptr || !window->info.exists || window->owner != self) {
        self->lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    return pc.CallWindowProc(lock, window, msg->message, msg->wParam, msg->lParam);
}

void WINAPI PostQuitMessage(int exitCode)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("PostQuitMessage(" + std::to_string(exitCode) + ")");
    SimThread* self = pc.Current();
    self->quitPosted = true;
    self->quitCode = exitCode;
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("PostMessageA(" + pc.WindowName(window) + "," + Hex4(message) + ")");
    SimThread* self = pc.Current();
    if (pc.CheckFault(CountedCall::PostMessage).fail) {
        self->lastError = ERROR_NOT_ENOUGH_QUOTA;
        return FALSE;
    }
    if (window == NULL) {
        // As on Windows: a message for no window goes to the calling thread.
        if (self->posted.size() >= POSTED_MESSAGE_LIMIT) {
            self->lastError = ERROR_NOT_ENOUGH_QUOTA;
            return FALSE;
        }
        self->posted.push_back(MakeMsg(NULL, message, wParam, lParam, pc.nowMs));
        return TRUE;
    }
    DWORD error = 0;
    if (pc.PostToWindow(window, message, wParam, lParam, &error) == FALSE) {
        self->lastError = error;
        return FALSE;
    }
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("SendMessageA(" + pc.WindowName(window) + "," + Hex4(message) + ")");
    return Send(pc, lock, window, message, wParam, lParam, std::nullopt, 0).result;
}

LRESULT WINAPI SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT flags, UINT timeoutMs, DWORD_PTR* result)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("SendMessageTimeoutA(" + pc.WindowName(window) + "," + Hex4(message) + "," +
             std::to_string(timeoutMs) + ")");
    SendOutcome outcome = Send(pc, lock, window, message, wParam, lParam, timeoutMs, flags);
    if (!outcome.completed) {
        return 0;
    }
    if (result != nullptr) {
        *result = static_cast<DWORD_PTR>(outcome.result);
    }
    return 1;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR timerId, UINT periodMs, TIMERPROC timerProc)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("SetTimer(" + pc.WindowName(window) + "," + std::to_string(timerId) + "," +
             std::to_string(periodMs) + ")");
    SimThread* self = pc.Current();
    if (window != NULL) {
        WindowRecord* record = pc.Window(window);
        if (record == nullptr || !record->info.exists) {
            self->lastError = ERROR_INVALID_WINDOW_HANDLE;
            return 0;
        }
        if (record->owner != self) {
            // Windows binds a window's timers to the window's own thread.
            self->lastError = ERROR_ACCESS_DENIED;
            return 0;
        }
    }
    const UINT period = std::clamp<UINT>(periodMs, MINIMUM_TIMER_PERIOD_MS, 0x7FFFFFFF);
    auto existing = std::find_if(
        pc.windowTimers.begin(), pc.windowTimers.end(), [&](const WindowTimerRecord& t) {
            return t.window == window && t.id == timerId && (window != NULL || t.owner == self);
        });
    if (existing != pc.windowTimers.end() && (window != NULL || timerId != 0)) {
        // Re-arming starts a full period afresh.
        existing->periodMs = period;
        existing->proc = timerProc;
        existing->nextDueMs = pc.nowMs + period;
        existing->pending = false;
        return window != NULL ? (timerId != 0 ? timerId : 1) : timerId;
    }
    WindowTimerRecord timer;
    timer.window = window;
    timer.id = window != NULL ? timerId : pc.nextThreadTimerId++;
    timer.periodMs = period;
    timer.nextDueMs = pc.nowMs + period;
    timer.proc = timerProc;
    timer.owner = self;
    pc.windowTimers.push_back(timer);
    return window != NULL ? (timerId != 0 ? timerId : 1) : timer.id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR timerId)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("KillTimer(" + pc.WindowName(window) + "," + std::to_string(timerId) + ")");
    SimThread* self = pc.Current();
    if (window != NULL) {
        WindowRecord* record = pc.Window(window);
        if (record == nullptr || !record->info.exists) {
            self->lastError = ERROR_INVALID_WINDOW_HANDLE;
            return FALSE;
        }
        if (record->owner != self) {
            self->lastError = ERROR_ACCESS_DENIED;
            return FALSE;
        }
    }
    auto it = std::find_if(
        pc.windowTimers.begin(), pc.windowTimers.end(), [&](const WindowTimerRecord& t) {
            return t.window == window && t.id == timerId && (window != NULL || t.owner == self);
        });
    if (it == pc.windowTimers.end()) {
        return FALSE; // not running: nothing to stop
    }
    pc.windowTimers.erase(it);
    return TRUE;
}
