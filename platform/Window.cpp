#include "Window.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cwctype>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Hooks.h"
#include "Shell.h"
#include "ThreadWait.h"

// Locking: the registry mutex may be held while taking a queue mutex, never the other
// way round, and at most one queue mutex is held at a time. No procedure is ever called
// with any of them held.

namespace {

using Clock = std::chrono::steady_clock;

struct ThreadQueue;

// A message sent from another thread, waiting for its owner to run the procedure.
struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::shared_ptr<ThreadQueue> sender;
    // Both guarded by the sender's queue mutex, which the sender waits on.
    LRESULT result = 0;
    bool done = false;
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    Clock::duration period;
    TIMERPROC proc;
    Clock::time_point due;
};

struct ThreadQueue {
    explicit ThreadQueue(DWORD id) : threadId(id) {}

    const DWORD threadId;
    std::mutex mutex;
    // The owning thread waits here, in the message loop and in its own sends.
    std::condition_variable wake;
    bool alive = true;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> incoming;
    std::vector<Timer> timers;
};

struct Window {
    WNDPROC proc;
    std::wstring classKey;
    std::wstring title;
    DWORD style;
    DWORD exStyle;
    long x, y, width, height;
    HWND parent;
    HMENU menu;
    HINSTANCE instance;
    LONG_PTR userData = 0;
    DWORD ownerThread;
    std::shared_ptr<ThreadQueue> owner;
    bool destroying = false;
    bool endHeld = false;  // its DestroyWindow waits for the page code under way (HoldWindowEnds)
    std::optional<HRGN__> region;
    double z = 0;          // higher is nearer the top of its band
    DWORD trackFlags = 0;  // TME_HOVER | TME_LEAVE armed
    DWORD hoverTime = 0;
};

struct WindowClass {
    ATOM atom;
    WNDPROC proc;
};

struct Registry {
    std::mutex mutex;
    // Ordered by handle, so the newest window is last.
    std::map<std::uintptr_t, Window> windows;
    std::map<std::wstring, WindowClass> classes;  // keyed by lower-case name
    std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>> threads;
    std::uintptr_t lastHandle = 0x10000;
    ATOM lastAtom = 0xC000;
    UINT_PTR lastThreadTimer = 0x1000;
    HWND foreground = nullptr;
    HWND active = nullptr;
    // The next z values: above every window, below every window.
    double zTop = 0;
    double zBottom = 0;
    std::optional<RECT> workArea;
};

Registry& Reg() {
    static Registry registry;
    return registry;
}

std::atomic<int> g_screenWidth{1920};
std::atomic<int> g_screenHeight{1080};
std::atomic<DWORD> g_lastThreadId{0};

thread_local DWORD t_threadId = 0;
// Set once the thread's queue has been torn down; later calls must not revive it.
thread_local bool t_ending = false;

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));

std::uintptr_t Key(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }
HWND Handle(std::uintptr_t key) { return reinterpret_cast<HWND>(key); }

DWORD Stamp(Clock::time_point when) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    return static_cast<DWORD>(ms);
}

bool IsAtom(const wchar_t* name) { return reinterpret_cast<std::uintptr_t>(name) <= 0xFFFF; }

std::wstring Lower(const wchar_t* s) {
    std::wstring out(s);
    for (auto& c : out) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return out;
}

Window* Find(Registry& reg, HWND hwnd) {
    auto it = reg.windows.find(Key(hwnd));
    return it == reg.windows.end() ? nullptr : &it->second;
}

// The class named by a string or an atom, with its key; null when none.
const WindowClass* FindClass(Registry& reg, const wchar_t* name, std::wstring* key) {
    if (name == nullptr) return nullptr;
    if (IsAtom(name)) {
        auto atom = static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name));
        for (auto& [k, c] : reg.classes) {
            if (c.atom == atom) {
                *key = k;
                return &c;
            }
        }
        return nullptr;
    }
    auto it = reg.classes.find(Lower(name));
    if (it == reg.classes.end()) return nullptr;
    *key = it->first;
    return &it->second;
}

void Complete(SentMessage& sent, LRESULT result) {
    std::lock_guard lock(sent.sender->mutex);
    if (!sent.done) {
        sent.done = true;
        sent.result = result;
    }
    sent.sender->wake.notify_all();
}

void FailAll(std::deque<std::shared_ptr<SentMessage>>& sends) {
    for (auto& s : sends) Complete(*s, 0);
}

// Tears the thread's queue down when the thread ends: its windows go (their procedures
// cannot run any more) and whoever is still waiting on a send to it gets 0.
struct ThreadState {
    std::shared_ptr<ThreadQueue> queue;

    ThreadState() = default;
    ThreadState(const ThreadState&) = delete;
    ThreadState& operator=(const ThreadState&) = delete;

    ~ThreadState() {
        t_ending = true;
        if (!queue) return;
        std::deque<std::shared_ptr<SentMessage>> orphans;
        {
            auto& reg = Reg();
            std::lock_guard regLock(reg.mutex);
            for (auto it = reg.windows.begin(); it != reg.windows.end();) {
                if (it->second.ownerThread == queue->threadId) {
                    if (reg.foreground == Handle(it->first)) reg.foreground = nullptr;
                    if (reg.active == Handle(it->first)) reg.active = nullptr;
                    it = reg.windows.erase(it);
                } else {
                    ++it;
                }
            }
            reg.threads.erase(queue->threadId);
            std::lock_guard lock(queue->mutex);
            queue->alive = false;
            orphans.swap(queue->incoming);
            queue->posted.clear();
            queue->timers.clear();
        }
        FailAll(orphans);
    }
};

thread_local ThreadState t_state;

// The calling thread's queue, made on first use; null once the thread is ending.
std::shared_ptr<ThreadQueue> Self() {
    if (t_ending) return nullptr;
    if (!t_state.queue) {
        auto queue = std::make_shared<ThreadQueue>(GetCurrentThreadId());
        auto& reg = Reg();
        std::lock_guard lock(reg.mutex);
        reg.threads[queue->threadId] = queue;
        t_state.queue = std::move(queue);
    }
    return t_state.queue;
}

// What the calling thread asked to run once the send it serves has been answered
// (AfterTheAnswer), and how many sends from other threads it is serving now, nested.
thread_local std::vector<std::function<void()>> t_afterAnswer;
thread_local unsigned t_serving = 0;

// Runs, in order, what was asked since `base` (and what that asks in turn).
void RunAfterAnswer(std::size_t base) {
    while (t_afterAnswer.size() > base) {
        std::function<void()> work = std::move(t_afterAnswer[base]);
        t_afterAnswer.erase(t_afterAnswer.begin() + static_cast<std::ptrdiff_t>(base));
        work();
    }
}

// While page code runs on the thread (HoldWindowEnds), the ends of its windows wait here.
thread_local unsigned t_endsHeld = 0;
thread_local std::vector<HWND> t_heldEnds;

BOOL Destroy(HWND hwnd, bool mayHold);

LRESULT CallProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = nullptr;
    {
        auto& reg = Reg();
        std::lock_guard lock(reg.mutex);
        Window* w = Find(reg, hwnd);
        if (w == nullptr) return 0;
        proc = w->proc;
        // Hover and leave notices are one-shot: the window arms tracking again.
        if (message == WM_MOUSEHOVER) w->trackFlags &= ~TME_HOVER;
        if (message == WM_MOUSELEAVE) w->trackFlags = 0;
    }
    return proc != nullptr ? proc(hwnd, message, wParam, lParam) : 0;
}

// Runs one message sent by another thread, if any. The lock is on queue.mutex and is
// released while the procedure runs.
bool ServeOneSent(ThreadQueue& queue, std::unique_lock<std::mutex>& lock) {
    if (queue.incoming.empty()) return false;
    auto sent = std::move(queue.incoming.front());
    queue.incoming.pop_front();
    lock.unlock();
    const std::size_t after = t_afterAnswer.size();
    ++t_serving;
    LRESULT result = CallProc(sent->hwnd, sent->message, sent->wParam, sent->lParam);
    --t_serving;
    Complete(*sent, result);
    RunAfterAnswer(after);
    lock.lock();
    return true;
}

struct Filter {
    HWND hwnd;
    UINT min;
    UINT max;

    bool Matches(HWND target, UINT message) const {
        // WM_QUIT ends the loop whatever window the loop is waiting for.
        if (message != WM_QUIT) {
            if (hwnd == kThreadMessagesOnly) {
                if (target != nullptr) return false;
            } else if (hwnd != nullptr && target != hwnd) {
                return false;
            }
        }
        if (min == 0 && max == 0) return true;
        return message >= min && message <= max;
    }
};

// With queue.mutex held: the next posted message, else a due timer.
bool TakeMessage(ThreadQueue& queue, const Filter& filter, bool remove, Clock::time_point now, MSG* out) {
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (filter.Matches(it->hwnd, it->message)) {
            *out = *it;
            if (remove) queue.posted.erase(it);
            return true;
        }
    }
    Timer* next = nullptr;
    for (auto& t : queue.timers) {
        if (t.due <= now && filter.Matches(t.hwnd, WM_TIMER) && (next == nullptr || t.due < next->due)) next = &t;
    }
    if (next == nullptr) return false;
    *out = MSG{next->hwnd, WM_TIMER, next->id, reinterpret_cast<LPARAM>(next->proc), Stamp(now)};
    if (remove) next->due = now + next->period;
    return true;
}

std::optional<Clock::time_point> NextDue(const ThreadQueue& queue, const Filter& filter) {
    std::optional<Clock::time_point> due;
    for (auto& t : queue.timers) {
        if (filter.Matches(t.hwnd, WM_TIMER) && (!due || t.due < *due)) due = t.due;
    }
    return due;
}

bool Post(ThreadQueue& queue, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(queue.mutex);
    if (!queue.alive) return false;
    queue.posted.push_back(MSG{hwnd, message, wParam, lParam, Stamp(Clock::now())});
    queue.wake.notify_all();
    return true;
}

// Removes a window whose procedure has had its last message.
void Forget(HWND hwnd) {
    std::deque<std::shared_ptr<SentMessage>> orphans;
    {
        auto& reg = Reg();
        std::lock_guard regLock(reg.mutex);
        auto it = reg.windows.find(Key(hwnd));
        if (it == reg.windows.end()) return;
        auto owner = it->second.owner;
        reg.windows.erase(it);
        if (reg.foreground == hwnd) reg.foreground = nullptr;
        if (reg.active == hwnd) reg.active = nullptr;
        std::lock_guard lock(owner->mutex);
        std::erase_if(owner->posted, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
        std::erase_if(owner->timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
        for (auto s = owner->incoming.begin(); s != owner->incoming.end();) {
            if ((*s)->hwnd == hwnd) {
                orphans.push_back(std::move(*s));
                s = owner->incoming.erase(s);
            } else {
                ++s;
            }
        }
    }
    FailAll(orphans);
}

// One line on standard error for what a desktop would show; nothing is drawn here.
__attribute__((format(printf, 1, 2))) void Trace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

bool IsTopLevel(const Window& w) { return w.parent == nullptr; }
bool IsTopmost(const Window& w) { return (w.exStyle & WS_EX_TOPMOST) != 0; }

// Top-level windows from the top of the screen down.
std::vector<std::pair<HWND, const Window*>> ZOrder(Registry& reg) {
    std::vector<std::pair<HWND, const Window*>> order;
    for (auto& [key, w] : reg.windows) {
        if (IsTopLevel(w)) order.emplace_back(Handle(key), &w);
    }
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        if (IsTopmost(*a.second) != IsTopmost(*b.second)) return IsTopmost(*a.second);
        return a.second->z > b.second->z;
    });
    return order;
}

// Moves w in the z-order as SetWindowPos's insertAfter asks; what changed, for the
// trace (null when nothing did). With the registry lock held.
const char* PlaceInZOrder(Registry& reg, HWND self, Window& w, HWND after) {
    if (after == HWND_TOPMOST || after == HWND_NOTOPMOST || after == HWND_TOP) {
        if (after == HWND_TOPMOST) w.exStyle |= WS_EX_TOPMOST;
        if (after == HWND_NOTOPMOST) w.exStyle &= ~WS_EX_TOPMOST;
        w.z = ++reg.zTop;
        return after == HWND_TOPMOST ? "topmost" : after == HWND_NOTOPMOST ? "not topmost" : "top";
    }
    if (after == HWND_BOTTOM) {
        w.exStyle &= ~WS_EX_TOPMOST;  // the bottom lies below every topmost window too
        w.z = --reg.zBottom;
        return "bottom";
    }
    const Window* above = after != self ? Find(reg, after) : nullptr;
    if (above == nullptr || !IsTopLevel(*above)) return nullptr;
    w.exStyle = (w.exStyle & ~WS_EX_TOPMOST) | (above->exStyle & WS_EX_TOPMOST);
    // Halfway to the next lower window of that band, or one below when there is none.
    double below = above->z - 2;
    for (auto& [key, other] : reg.windows) {
        if (&other != &w && &other != above && IsTopLevel(other) && IsTopmost(other) == IsTopmost(*above) &&
            other.z < above->z && other.z > below)
            below = other.z;
    }
    w.z = (above->z + below) / 2;
    return "below another";
}

// What SetWindowPos's handler left, applied to the window; the z-order change, if any.
// With the registry lock held.
const char* ApplyPosition(HWND hwnd, Window& w, const WINDOWPOS& pos) {
    if ((pos.flags & SWP_NOMOVE) == 0) {
        w.x = pos.x;
        w.y = pos.y;
    }
    if ((pos.flags & SWP_NOSIZE) == 0) {
        w.width = pos.cx;
        w.height = pos.cy;
    }
    if ((pos.flags & SWP_SHOWWINDOW) != 0) w.style |= WS_VISIBLE;
    if ((pos.flags & SWP_HIDEWINDOW) != 0) w.style &= ~WS_VISIBLE;
    return (pos.flags & SWP_NOZORDER) == 0 ? PlaceInZOrder(Reg(), hwnd, w, pos.hwndInsertAfter) : nullptr;
}

// Runs f on the window's state under the registry lock; `fallback` for a dead handle.
template <typename F, typename R>
R WithWindow(HWND hwnd, R fallback, F&& f) {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    Window* w = Find(reg, hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return fallback;
    }
    return f(*w);
}

}  // namespace

DWORD GetCurrentThreadId() {
    if (t_threadId == 0) t_threadId = ++g_lastThreadId;
    return t_threadId;
}

ATOM RegisterClassExW(const WNDCLASSEXW* wc) {
    if (wc == nullptr || wc->lpfnWndProc == nullptr || wc->lpszClassName == nullptr || IsAtom(wc->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    auto key = Lower(wc->lpszClassName);
    if (reg.classes.count(key) != 0) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    ATOM atom = ++reg.lastAtom;
    reg.classes.emplace(std::move(key), WindowClass{atom, wc->lpfnWndProc});
    return atom;
}

BOOL UnregisterClassW(const wchar_t* className, HINSTANCE) {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    std::wstring key;
    if (FindClass(reg, className, &key) == nullptr) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (auto& [h, w] : reg.windows) {
        if (w.classKey == key) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    reg.classes.erase(key);
    return TRUE;
}

HWND CreateWindowExW(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    auto self = Self();
    if (self == nullptr) return nullptr;
    if (x == CW_USEDEFAULT) x = y = 0;
    if (width == CW_USEDEFAULT) width = height = 0;
    HWND hwnd = nullptr;
    {
        auto& reg = Reg();
        std::lock_guard lock(reg.mutex);
        std::wstring key;
        const WindowClass* cls = FindClass(reg, className, &key);
        if (cls == nullptr) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        if (parent != nullptr && parent != HWND_MESSAGE && Find(reg, parent) == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        reg.lastHandle += 4;
        hwnd = Handle(reg.lastHandle);
        Window w{};
        w.proc = cls->proc;
        w.classKey = key;
        w.title = title != nullptr ? title : L"";
        w.style = style;
        w.exStyle = exStyle;
        w.x = x;
        w.y = y;
        w.width = width;
        w.height = height;
        w.parent = parent;
        w.menu = menu;
        w.instance = instance;
        w.ownerThread = self->threadId;
        w.owner = self;
        w.z = ++reg.zTop;
        reg.windows.emplace(reg.lastHandle, std::move(w));
    }
    CREATESTRUCTW cs{param, instance, menu, parent, height, width, y, x,
                     static_cast<long>(style), title, className, exStyle};
    if (CallProc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        Destroy(hwnd, false);  // it never was: nothing of it runs yet
        return nullptr;
    }
    // The procedure may have destroyed the window itself while being created.
    return IsWindow(hwnd) ? hwnd : nullptr;
}

namespace {

// DestroyWindow's work; `mayHold`: held back under a HoldWindowEnds.
BOOL Destroy(HWND hwnd, bool mayHold) {
    {
        auto& reg = Reg();
        std::lock_guard lock(reg.mutex);
        Window* w = Find(reg, hwnd);
        if (w == nullptr || w->destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (w->ownerThread != GetCurrentThreadId()) {
            SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
            return FALSE;
        }
        if (mayHold && t_endsHeld > 0) {
            if (!std::exchange(w->endHeld, true)) t_heldEnds.push_back(hwnd);
            return TRUE;
        }
        w->destroying = true;
        w->endHeld = false;
    }
    CallProc(hwnd, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    {
        auto& reg = Reg();
        std::lock_guard lock(reg.mutex);
        for (auto& [h, w] : reg.windows) {
            if (w.parent == hwnd) children.push_back(Handle(h));
        }
    }
    for (HWND child : children) Destroy(child, false);
    CallProc(hwnd, WM_NCDESTROY, 0, 0);
    Forget(hwnd);
    return TRUE;
}

}  // namespace

BOOL DestroyWindow(HWND hwnd) { return Destroy(hwnd, true); }

BOOL IsWindow(HWND hwnd) {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    return Find(reg, hwnd) != nullptr ? TRUE : FALSE;
}

HWND GetParent(HWND hwnd) {
    return WithWindow(hwnd, HWND{}, [](Window& w) { return w.parent == HWND_MESSAGE ? nullptr : w.parent; });
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
    DWORD owner = WithWindow(hwnd, DWORD{0}, [](Window& w) { return w.ownerThread; });
    if (processId != nullptr) *processId = owner != 0 ? static_cast<DWORD>(getpid()) : 0;
    return owner;
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CLOSE) DestroyWindow(hwnd);
    if (msg == WM_SETICON || msg == WM_GETICON) return DefWindowIconProc(hwnd, msg, wParam, lParam);
    return 0;
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
    return WithWindow(hwnd, LONG_PTR{0}, [&](Window& w) -> LONG_PTR {
        LONG_PTR old = 0;
        switch (index) {
        case GWLP_USERDATA:
            old = w.userData;
            w.userData = value;
            break;
        case GWLP_WNDPROC:
            old = reinterpret_cast<LONG_PTR>(w.proc);
            w.proc = reinterpret_cast<WNDPROC>(value);
            break;
        case GWL_STYLE:
            old = static_cast<LONG_PTR>(w.style);
            w.style = static_cast<DWORD>(value);
            break;
        case GWL_EXSTYLE:
            old = static_cast<LONG_PTR>(w.exStyle);
            w.exStyle = static_cast<DWORD>(value);
            break;
        case GWLP_ID:
            old = reinterpret_cast<LONG_PTR>(w.menu);
            w.menu = reinterpret_cast<HMENU>(value);
            break;
        case GWLP_HINSTANCE:
            old = reinterpret_cast<LONG_PTR>(w.instance);
            w.instance = reinterpret_cast<HINSTANCE>(value);
            break;
        case GWLP_HWNDPARENT:
            old = reinterpret_cast<LONG_PTR>(w.parent);
            w.parent = reinterpret_cast<HWND>(value);
            break;
        default:
            SetLastError(ERROR_INVALID_INDEX);
        }
        return old;
    });
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
    return WithWindow(hwnd, LONG_PTR{0}, [&](Window& w) -> LONG_PTR {
        switch (index) {
        case GWLP_USERDATA:
            return w.userData;
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(w.proc);
        case GWL_STYLE:
            return static_cast<LONG_PTR>(w.style);
        case GWL_EXSTYLE:
            return static_cast<LONG_PTR>(w.exStyle);
        case GWLP_ID:
            return reinterpret_cast<LONG_PTR>(w.menu);
        case GWLP_HINSTANCE:
            return reinterpret_cast<LONG_PTR>(w.instance);
        case GWLP_HWNDPARENT:
            return reinterpret_cast<LONG_PTR>(w.parent);
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
        }
    });
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hwnd == nullptr) {
        auto self = Self();
        return self != nullptr && Post(*self, nullptr, msg, wParam, lParam) ? TRUE : FALSE;
    }
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    Window* w = Find(reg, hwnd);
    if (w == nullptr || !Post(*w->owner, hwnd, msg, wParam, lParam)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    auto it = reg.threads.find(threadId);
    if (it == reg.threads.end() || !Post(*it->second, nullptr, msg, wParam, lParam)) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    if (auto self = Self()) Post(*self, nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

namespace {

// Queues the message for the window's owner; null when the window is the calling thread's
// own (the caller runs the procedure) and *failed when it cannot be sent.
std::shared_ptr<SentMessage> Queue(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                   const std::shared_ptr<ThreadQueue>& self, bool* failed) {
    auto& reg = Reg();
    std::lock_guard regLock(reg.mutex);
    Window* w = Find(reg, hwnd);
    *failed = w == nullptr;
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (w->ownerThread == GetCurrentThreadId()) return nullptr;
    std::lock_guard lock(w->owner->mutex);
    *failed = self == nullptr || !w->owner->alive;
    if (*failed) return nullptr;
    auto sent = std::make_shared<SentMessage>(SentMessage{hwnd, msg, wParam, lParam, self});
    w->owner->incoming.push_back(sent);
    w->owner->wake.notify_all();
    return sent;
}

// Waits for the owner to answer, serving what is sent to this thread's windows meanwhile,
// without the thread's script-call lock (ThreadWait.h); false once `deadline`
// has passed (the message stays queued, as on Windows).
bool AwaitAnswer(ThreadQueue& self, const SentMessage& sent, std::optional<Clock::time_point> deadline) {
    const LockGivenUp given;
    std::unique_lock lock(self.mutex);
    for (;;) {
        if (sent.done) return true;
        if (ServeOneSent(self, lock)) continue;
        if (!deadline) {
            self.wake.wait(lock);
        } else if (self.wake.wait_until(lock, *deadline) == std::cv_status::timeout && !sent.done) {
            return false;
        }
    }
}

}  // namespace

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto self = Self();
    bool failed = false;
    const std::shared_ptr<SentMessage> sent = Queue(hwnd, msg, wParam, lParam, self, &failed);
    if (failed) return 0;
    if (sent == nullptr) return CallProc(hwnd, msg, wParam, lParam);
    AwaitAnswer(*self, *sent, std::nullopt);
    std::lock_guard lock(self->mutex);
    return sent->result;
}

LRESULT SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT, UINT timeoutMs,
                            DWORD_PTR* result) {
    auto self = Self();
    bool failed = false;
    const std::shared_ptr<SentMessage> sent = Queue(hwnd, msg, wParam, lParam, self, &failed);
    LRESULT answer = 0;
    if (failed) return 0;
    if (sent == nullptr) {
        answer = CallProc(hwnd, msg, wParam, lParam);
    } else if (AwaitAnswer(*self, *sent, Clock::now() + std::chrono::milliseconds(timeoutMs))) {
        std::lock_guard lock(self->mutex);
        answer = sent->result;
    } else {
        SetLastError(ERROR_TIMEOUT);
        return 0;
    }
    if (result != nullptr) *result = static_cast<DWORD_PTR>(answer);
    return 1;
}

BOOL GetMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    auto self = Self();
    if (msg == nullptr || self == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const Filter filter{hwnd, filterMin, filterMax};
    std::unique_lock lock(self->mutex);
    for (;;) {
        if (ServeOneSent(*self, lock)) continue;
        if (TakeMessage(*self, filter, true, Clock::now(), msg)) return msg->message == WM_QUIT ? FALSE : TRUE;
        if (auto due = NextDue(*self, filter)) {
            self->wake.wait_until(lock, *due);
        } else {
            self->wake.wait(lock);
        }
    }
}

BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    auto self = Self();
    if (msg == nullptr || self == nullptr) return FALSE;
    std::unique_lock lock(self->mutex);
    while (ServeOneSent(*self, lock)) {
    }
    const Filter filter{hwnd, filterMin, filterMax};
    return TakeMessage(*self, filter, (removeFlags & PM_REMOVE) != 0, Clock::now(), msg) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* msg) {
    if (msg == nullptr) return 0;
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        if (msg->hwnd != nullptr && !IsWindow(msg->hwnd)) return 0;
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
    }
    if (msg->hwnd == nullptr) return 0;
    return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC timerProc) {
    const Clock::duration period = std::chrono::milliseconds(std::max(elapseMs, USER_TIMER_MINIMUM));
    const auto due = Clock::now() + period;
    auto& reg = Reg();
    std::shared_ptr<ThreadQueue> queue;
    std::unique_lock regLock(reg.mutex);
    if (hwnd != nullptr) {
        Window* w = Find(reg, hwnd);
        if (w == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        queue = w->owner;
    } else {
        regLock.unlock();
        queue = Self();
        if (queue == nullptr) return 0;
        regLock.lock();
    }
    std::lock_guard lock(queue->mutex);
    auto existing = std::find_if(queue->timers.begin(), queue->timers.end(),
                                 [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (existing != queue->timers.end() && (hwnd != nullptr || id != 0)) {
        existing->period = period;
        existing->proc = timerProc;
        existing->due = due;
    } else {
        if (hwnd == nullptr) id = ++reg.lastThreadTimer;
        queue->timers.push_back(Timer{hwnd, id, period, timerProc, due});
    }
    queue->wake.notify_all();
    return id != 0 ? id : 1;
}

UINT GetTimerPeriod(HWND hwnd, UINT_PTR id) {
    auto& reg = Reg();
    std::lock_guard regLock(reg.mutex);
    Window* w = Find(reg, hwnd);
    if (w == nullptr) return 0;
    std::lock_guard lock(w->owner->mutex);
    for (const Timer& t : w->owner->timers) {
        if (t.hwnd == hwnd && t.id == id)
            return static_cast<UINT>(std::chrono::duration_cast<std::chrono::milliseconds>(t.period).count());
    }
    return 0;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    auto& reg = Reg();
    std::shared_ptr<ThreadQueue> queue;
    std::unique_lock regLock(reg.mutex);
    if (hwnd != nullptr) {
        Window* w = Find(reg, hwnd);
        if (w == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue = w->owner;
    } else {
        regLock.unlock();
        queue = Self();
        if (queue == nullptr) return FALSE;
    }
    std::lock_guard lock(queue->mutex);
    auto removed = std::erase_if(queue->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (removed == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

BOOL ShowWindow(HWND hwnd, int cmd) {
    return WithWindow(hwnd, BOOL{FALSE}, [cmd](Window& w) {
        BOOL wasVisible = (w.style & WS_VISIBLE) != 0 ? TRUE : FALSE;
        if (cmd == SW_HIDE) {
            w.style &= ~WS_VISIBLE;
            return wasVisible;
        }
        w.style |= WS_VISIBLE;
        if (cmd == SW_MINIMIZE || cmd == SW_SHOWMINIMIZED) w.style |= WS_MINIMIZE;
        if (cmd == SW_RESTORE || cmd == SW_SHOWNORMAL) w.style &= ~WS_MINIMIZE;
        return wasVisible;
    });
}

BOOL IsIconic(HWND hwnd) {
    return WithWindow(hwnd, BOOL{FALSE}, [](Window& w) { return (w.style & WS_MINIMIZE) != 0 ? TRUE : FALSE; });
}

BOOL IsWindowVisible(HWND hwnd) {
    return WithWindow(hwnd, BOOL{FALSE}, [](Window& w) { return (w.style & WS_VISIBLE) != 0 ? TRUE : FALSE; });
}

BOOL SetWindowTextW(HWND hwnd, const wchar_t* text) {
    return WithWindow(hwnd, BOOL{FALSE}, [text](Window& w) {
        w.title = text != nullptr ? text : L"";
        return TRUE;
    });
}

int GetWindowTextW(HWND hwnd, wchar_t* buffer, int maxCount) {
    if (buffer == nullptr || maxCount <= 0) return 0;
    buffer[0] = L'\0';
    return WithWindow(hwnd, 0, [&](Window& w) {
        auto n = std::min(w.title.size(), static_cast<std::size_t>(maxCount - 1));
        std::copy_n(w.title.data(), n, buffer);
        buffer[n] = L'\0';
        return static_cast<int>(n);
    });
}

int GetWindowTextLengthW(HWND hwnd) {
    return WithWindow(hwnd, 0, [](Window& w) { return static_cast<int>(w.title.size()); });
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
    return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER);
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    WINDOWPOS pos{hwnd, insertAfter, x, y, cx, cy, flags};
    // What the flags leave out reaches the handler as it is now.
    const bool known = WithWindow(hwnd, false, [&pos](Window& w) {
        if ((pos.flags & SWP_NOMOVE) != 0) {
            pos.x = static_cast<int>(w.x);
            pos.y = static_cast<int>(w.y);
        }
        if ((pos.flags & SWP_NOSIZE) != 0) {
            pos.cx = static_cast<int>(w.width);
            pos.cy = static_cast<int>(w.height);
        }
        return true;
    });
    if (!known) return FALSE;
    if ((flags & SWP_NOSENDCHANGING) == 0) SendMessageW(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    const char* zChange = nullptr;
    const BOOL applied = WithWindow(hwnd, BOOL{FALSE}, [&](Window& w) {
        zChange = ApplyPosition(hwnd, w, pos);
        return TRUE;
    });
    if (zChange != nullptr) Trace("[z-order] %p %s", static_cast<void*>(hwnd), zChange);
    return applied;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
    if (rect == nullptr) return FALSE;
    return WithWindow(hwnd, BOOL{FALSE}, [rect](Window& w) {
        *rect = RECT{w.x, w.y, w.x + w.width, w.y + w.height};
        return TRUE;
    });
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
    if (rect == nullptr) return FALSE;
    return WithWindow(hwnd, BOOL{FALSE}, [rect](Window& w) {
        *rect = RECT{0, 0, w.width, w.height};
        return TRUE;
    });
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
    if (point == nullptr) return FALSE;
    return WithWindow(hwnd, BOOL{FALSE}, [point](Window& w) {
        point->x -= w.x;
        point->y -= w.y;
        return TRUE;
    });
}

BOOL SetForegroundWindow(HWND hwnd) {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    if (Find(reg, hwnd) == nullptr) return FALSE;
    reg.foreground = reg.active = hwnd;
    return TRUE;
}

HWND GetForegroundWindow() {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    return reg.foreground;
}

HWND SetActiveWindow(HWND hwnd) {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    if (hwnd != nullptr && Find(reg, hwnd) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    HWND previous = reg.active;
    reg.active = hwnd;
    return previous;
}

HWND GetActiveWindow() {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    return reg.active;
}

BOOL UpdateWindow(HWND hwnd) { return IsWindow(hwnd); }

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL) { return IsWindow(hwnd); }

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    return WithWindow(hwnd, BOOL{FALSE}, [enable](Window& w) {
        BOOL wasDisabled = (w.style & WS_DISABLED) != 0 ? TRUE : FALSE;
        if (enable) {
            w.style &= ~WS_DISABLED;
        } else {
            w.style |= WS_DISABLED;
        }
        return wasDisabled;
    });
}

BOOL IsWindowEnabled(HWND hwnd) {
    return WithWindow(hwnd, BOOL{FALSE}, [](Window& w) { return (w.style & WS_DISABLED) == 0 ? TRUE : FALSE; });
}

int GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSCREEN:
        return g_screenWidth.load();
    case SM_CYSCREEN:
        return g_screenHeight.load();
    default:
        return 0;
    }
}

void SetScreenSize(int width, int height) {
    g_screenWidth = width;
    g_screenHeight = height;
}

HWND FindWindowW(const wchar_t* className, const wchar_t* title) {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    std::wstring classKey;
    if (className != nullptr) {
        if (IsAtom(className)) {
            if (FindClass(reg, className, &classKey) == nullptr) return nullptr;
        } else {
            classKey = Lower(className);
        }
    }
    for (auto it = reg.windows.rbegin(); it != reg.windows.rend(); ++it) {
        const Window& w = it->second;
        if (w.parent != nullptr) continue;
        if (className != nullptr && w.classKey != classKey) continue;
        if (title != nullptr && w.title != title) continue;
        return Handle(it->first);
    }
    return nullptr;
}

HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight) {
    return new (std::nothrow) HRGN__{RECT{left, top, right, bottom}, ellipseWidth, ellipseHeight};
}

BOOL DeleteObject(HRGN region) {
    if (region == nullptr) return FALSE;
    delete region;
    return TRUE;
}

int SetWindowRgn(HWND hwnd, HRGN region, BOOL) {
    const std::unique_ptr<HRGN__> owned(region);  // the system's once handed over, even on failure
    return WithWindow(hwnd, 0, [&owned](Window& w) {
        if (owned) {
            w.region = *owned;
        } else {
            w.region.reset();
        }
        return 1;
    });
}

bool GetWindowRegion(HWND hwnd, HRGN__* out) {
    return WithWindow(hwnd, false, [out](Window& w) {
        if (!w.region) return false;
        if (out != nullptr) *out = *w.region;
        return true;
    });
}

HWND GetWindow(HWND hwnd, UINT cmd) {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    const Window* w = Find(reg, hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (!IsTopLevel(*w)) return nullptr;
    const auto order = ZOrder(reg);
    const auto at = std::find_if(order.begin(), order.end(), [hwnd](const auto& e) { return e.first == hwnd; });
    const auto sameBand = [w](const auto& e) { return IsTopmost(*e.second) == IsTopmost(*w); };
    switch (cmd) {
        case GW_HWNDFIRST:
            return std::find_if(order.begin(), order.end(), sameBand)->first;  // hwnd is in its own band
        case GW_HWNDLAST:
            return std::find_if(order.rbegin(), order.rend(), sameBand)->first;
        case GW_HWNDNEXT:
            return at + 1 != order.end() ? (at + 1)->first : nullptr;
        case GW_HWNDPREV:
            return at != order.begin() ? (at - 1)->first : nullptr;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
    }
}

BOOL SystemParametersInfoW(UINT action, UINT, void* pvParam, UINT) {
    auto* rect = static_cast<RECT*>(pvParam);
    if (action == SPI_GETWORKAREA && rect != nullptr) {
        auto& reg = Reg();
        std::lock_guard lock(reg.mutex);
        *rect = reg.workArea.value_or(RECT{0, 0, g_screenWidth.load(), g_screenHeight.load()});
        return TRUE;
    }
    const bool usable = rect == nullptr || (rect->right > rect->left && rect->bottom > rect->top);
    if (action != SPI_SETWORKAREA || !usable) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto same = [](const std::optional<RECT>& a, const RECT* b) {
        if (!a || b == nullptr) return !a && b == nullptr;
        return a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
    };
    {
        auto& reg = Reg();
        std::lock_guard lock(reg.mutex);
        if (same(reg.workArea, rect)) return TRUE;
        reg.workArea = rect != nullptr ? std::optional<RECT>(*rect) : std::nullopt;
    }
    if (rect != nullptr) {
        Trace("[work area] %ld,%ld,%ld,%ld", rect->left, rect->top, rect->right, rect->bottom);
    } else {
        Trace("[work area] %s", "the screen");
    }
    return TRUE;
}

BOOL GetCursorPos(POINT* point) {
    if (point == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Hooks().cursorPos(*point);
    return TRUE;
}

BOOL PtInRect(const RECT* rect, POINT point) {
    if (rect == nullptr) return FALSE;
    return point.x >= rect->left && point.x < rect->right && point.y >= rect->top && point.y < rect->bottom ? TRUE
                                                                                                          : FALSE;
}

BOOL TrackMouseEvent(TRACKMOUSEEVENT* track) {
    if (track == nullptr || track->cbSize != sizeof(TRACKMOUSEEVENT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    constexpr DWORD kSystemHoverMs = 400;
    DWORD armed = 0;
    DWORD hoverMs = 0;
    const BOOL ok = WithWindow(track->hwndTrack, BOOL{FALSE}, [&](Window& w) {
        const DWORD kinds = track->dwFlags & (TME_HOVER | TME_LEAVE);
        if ((track->dwFlags & TME_QUERY) != 0) {
            track->dwFlags = w.trackFlags;
            track->dwHoverTime = w.hoverTime;
        } else if ((track->dwFlags & TME_CANCEL) != 0) {
            w.trackFlags &= ~kinds;
        } else {
            w.trackFlags |= kinds;
            if ((kinds & TME_HOVER) != 0)
                w.hoverTime = track->dwHoverTime == HOVER_DEFAULT ? kSystemHoverMs : track->dwHoverTime;
            armed = kinds;
            hoverMs = w.hoverTime;
        }
        return TRUE;
    });
    if ((armed & TME_HOVER) != 0) {
        Trace("[mouse tracking] %p hover %u ms%s", static_cast<void*>(track->hwndTrack), static_cast<unsigned>(hoverMs),
              (armed & TME_LEAVE) != 0 ? ", leave" : "");
    } else if (armed != 0) {
        Trace("[mouse tracking] %p leave", static_cast<void*>(track->hwndTrack));
    }
    return ok;
}

namespace {
bool CallingThreadOwnsWindows() {
    const DWORD self = GetCurrentThreadId();
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    return std::any_of(reg.windows.begin(), reg.windows.end(),
                       [self](const auto& entry) { return entry.second.ownerThread == self; });
}
}  // namespace

void DispatchPendingMessages() {
    if (!CallingThreadOwnsWindows()) return;
    // Bounded, so a handler that posts again cannot keep the waiting caller here.
    constexpr int kMostPerCall = 64;
    MSG msg{};
    for (int i = 0; i < kMostPerCall && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void ServeSentUntil(std::chrono::steady_clock::time_point until) {
    const std::shared_ptr<ThreadQueue> self = t_ending ? nullptr : t_state.queue;
    if (!self) {
        std::this_thread::sleep_until(until);  // nothing can be sent to a thread without a queue
        return;
    }
    std::unique_lock lock(self->mutex);
    if (ServeOneSent(*self, lock)) return;
    self->wake.wait_until(lock, until);
    ServeOneSent(*self, lock);
}

HoldWindowEnds::HoldWindowEnds() { ++t_endsHeld; }

HoldWindowEnds::~HoldWindowEnds() {
    if (--t_endsHeld != 0) return;
    // Each end may run page code that holds and asks for ends of its own: those follow.
    while (!t_heldEnds.empty()) {
        const HWND hwnd = t_heldEnds.front();
        t_heldEnds.erase(t_heldEnds.begin());
        bool held = false;
        {
            auto& reg = Reg();
            std::lock_guard lock(reg.mutex);
            if (Window* w = Find(reg, hwnd)) held = std::exchange(w->endHeld, false);
        }
        if (held) Destroy(hwnd, false);
    }
}

void AfterTheAnswer(std::function<void()> work) {
    if (t_serving == 0) {
        work();
        return;
    }
    t_afterAnswer.push_back(std::move(work));
}
