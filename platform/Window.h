// Headless windows, per-thread message queues and timers. Nothing is drawn: a window
// is a procedure plus plain state (text, position, visibility) that callers can read.
// Each window belongs to the thread that created it; its procedure only ever runs
// there, whether a message is posted, sent from another thread or produced by a timer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "LastError.h"
#include "WinTypes.h"

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;  // the same type as HMODULE
struct HMENU__;
using HMENU = HMENU__*;
using ATOM = WORD;
using LONG_PTR = std::intptr_t;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
};

struct RECT {
    long left;
    long top;
    long right;
    long bottom;
};

struct POINT {
    long x;
    long y;
};

// A window region. The program only ever makes rounded rectangles, so that is all a
// region holds here.
struct HRGN__ {
    RECT box;
    int ellipseWidth;
    int ellipseHeight;
};
using HRGN = HRGN__*;

// Icons, cursors, brushes and menus are accepted and ignored.
struct WNDCLASSEXW {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    void* hIcon;
    void* hCursor;
    void* hbrBackground;
    const wchar_t* lpszMenuName;
    const wchar_t* lpszClassName;
    void* hIconSm;
};

// What WM_CREATE's lParam points at; valid only during that call.
struct CREATESTRUCTW {
    void* lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    long style;
    const wchar_t* lpszName;
    const wchar_t* lpszClass;
    DWORD dwExStyle;
};

constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
// Position and size both become 0.
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-2));
inline const HWND HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-3));

constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_HINSTANCE = -6;
constexpr int GWLP_HWNDPARENT = -8;
constexpr int GWLP_ID = -12;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWLP_USERDATA = -21;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;

constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

// Timers shorter than this run at this period, as on Windows.
constexpr UINT USER_TIMER_MINIMUM = 10;

constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_WINDOW_OF_OTHER_THREAD = 1408;
constexpr DWORD ERROR_TIMEOUT = 1460;

// A small number, stable for the thread's life and never reused; not the pthread id.
DWORD GetCurrentThreadId();

// A class name may also be given as an atom (a value below 0x10000), as Windows allows.
// Names compare without regard to case.
ATOM RegisterClassExW(const WNDCLASSEXW* wc);
BOOL UnregisterClassW(const wchar_t* className, HINSTANCE instance);

// Calls the procedure with WM_CREATE before returning; a WM_CREATE result of -1 destroys
// the window again and gives null.
HWND CreateWindowExW(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param);
// Owner thread only (ERROR_WINDOW_OF_OTHER_THREAD otherwise). Sends WM_DESTROY, destroys
// the window's children, sends WM_NCDESTROY; then the handle is dead for good, its timers
// are gone and sends still waiting for it return 0. Under a HoldWindowEnds (below) all this
// waits until the thread's outermost hold goes, and TRUE is returned at once.
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
HWND GetParent(HWND hwnd);
// The owner thread's id (0 for no window); *processId gets the process id.
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);
LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);

// Posts to the owner thread's queue; a null hwnd posts to the calling thread.
BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Fails with ERROR_INVALID_THREAD_ID for a thread that has no queue (or has ended).
BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Runs the procedure on the owner thread and returns its result. While waiting the
// caller serves messages sent to its own windows, so mutual sends cannot deadlock.
// 0 when the window is invalid, is destroyed meanwhile, or its thread has ended. The
// caller's script-call lock is given up while it waits (ThreadWait.h).
LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
constexpr UINT SMTO_NORMAL = 0x0000;
// SendMessageW that waits at most timeoutMs for another thread's answer: 0 with
// ERROR_TIMEOUT past it (the message stays queued and is still served), else non-zero with
// the procedure's result in *result. The flags are accepted and ignored.
LRESULT SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeoutMs,
                            DWORD_PTR* result);

// Filters: hwnd null takes every message of the thread, (HWND)-1 only thread messages;
// min = max = 0 takes every number. Sent messages are served first and never returned.
// Returns 0 for WM_QUIT, -1 when the calling thread is ending, non-zero otherwise.
BOOL GetMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* msg);
// WM_TIMER with a non-zero lParam calls that TIMERPROC instead of the window procedure.
LRESULT DispatchMessageW(const MSG* msg);

// WM_TIMER comes to the owner thread when due, after any posted messages, at most one
// pending per timer. With a null hwnd the id is chosen here unless it names one of the
// calling thread's timers. Returns the id (1 when hwnd is given with id 0), 0 on failure.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC timerProc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);
// The layer's own query (tests read what a window armed): the period of the window's
// timer in milliseconds, 0 when it is not armed.
UINT GetTimerPeriod(HWND hwnd, UINT_PTR id);

// Returns whether the window was visible before. SW_HIDE hides; any other command shows,
// SW_MINIMIZE minimised and SW_RESTORE or SW_SHOWNORMAL no longer minimised.
BOOL ShowWindow(HWND hwnd, int cmd);
BOOL IsIconic(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
BOOL SetWindowTextW(HWND hwnd, const wchar_t* text);
// Copies at most maxCount - 1 characters and a terminating NUL; returns those copied.
int GetWindowTextW(HWND hwnd, wchar_t* buffer, int maxCount);
int GetWindowTextLengthW(HWND hwnd);
// Both send WM_WINDOWPOSCHANGING first (see below).
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
// Honours SWP_NOSIZE, SWP_NOMOVE, SWP_NOZORDER, SWP_SHOWWINDOW, SWP_HIDEWINDOW and
// SWP_NOSENDCHANGING; the z-order is kept among top-level windows.
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL GetWindowRect(HWND hwnd, RECT* rect);
BOOL GetClientRect(HWND hwnd, RECT* rect);
// Windows have no frame here: the client area starts at the window's position.
BOOL ScreenToClient(HWND hwnd, POINT* point);
BOOL SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();
// Returns the window that was active before.
HWND SetActiveWindow(HWND hwnd);
HWND GetActiveWindow();
BOOL UpdateWindow(HWND hwnd);
// Nothing is drawn: TRUE for a live window, whose page repaints on its own.
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
// Returns whether the window was disabled before.
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);
int GetSystemMetrics(int index);
// The screen size GetSystemMetrics reports; 1920x1080 until changed.
void SetScreenSize(int width, int height);
// A top-level window with this class and title; null matches anything. The newest wins.
HWND FindWindowW(const wchar_t* className, const wchar_t* title);

// Regions. The caller owns a new region until SetWindowRgn hands it to the window.
HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight);
BOOL DeleteObject(HRGN region);
// The window owns the region afterwards; a null region removes the window's. 0 for a dead window.
int SetWindowRgn(HWND hwnd, HRGN region, BOOL redraw);
// The layer's own query: a copy of the window's region; false when it has none.
bool GetWindowRegion(HWND hwnd, HRGN__* out);

// ---- Placement, z-order, work area and mouse tracking ----
// A change of the z-order or of the work area, and armed mouse tracking, each also write
// a line on standard error.

constexpr DWORD WS_EX_LAYERED = 0x00080000;
inline const HWND HWND_BOTTOM = reinterpret_cast<HWND>(static_cast<std::intptr_t>(1));
constexpr UINT SWP_NOSENDCHANGING = 0x0400;

// What SetWindowPos and MoveWindow send with WM_WINDOWPOSCHANGING (lParam), synchronously
// on the owner thread. The handler may change it; what it leaves is applied, the flags
// included. A field the flags exclude (SWP_NOMOVE, SWP_NOSIZE) holds the current value.
struct WINDOWPOS {
    HWND hwnd;
    HWND hwndInsertAfter;
    int x;
    int y;
    int cx;
    int cy;
    UINT flags;
};

// Top-level windows are ordered: the topmost band (WS_EX_TOPMOST) above the others, a
// new window on top of its band. HWND_TOPMOST and HWND_NOTOPMOST move a window into a
// band, HWND_BOTTOM makes it the lowest (no longer topmost), a window handle puts it
// just below that window.
constexpr UINT GW_HWNDFIRST = 0;
constexpr UINT GW_HWNDLAST = 1;
constexpr UINT GW_HWNDNEXT = 2;
constexpr UINT GW_HWNDPREV = 3;
// The highest or lowest window of the band of hwnd, or the one below or above it; null
// at either end and for child windows.
HWND GetWindow(HWND hwnd, UINT cmd);

// The work area is the screen unless set; set, it stays until set again.
constexpr UINT SPI_SETWORKAREA = 0x002F;
constexpr UINT SPI_GETWORKAREA = 0x0030;
// Only the work area: SPI_GETWORKAREA fills the RECT pvParam points at; SPI_SETWORKAREA
// takes one (a null pvParam gives the whole screen again; an empty one is refused).
BOOL SystemParametersInfoW(UINT action, UINT uiParam, void* pvParam, UINT winIni);

// Where the mouse pointer is, from the hooks (Hooks.h).
BOOL GetCursorPos(POINT* point);
// Left and top edges inside, right and bottom outside.
BOOL PtInRect(const RECT* rect, POINT point);

constexpr DWORD TME_HOVER = 0x00000001;
constexpr DWORD TME_LEAVE = 0x00000002;
constexpr DWORD TME_QUERY = 0x40000000;
constexpr DWORD TME_CANCEL = 0x80000000;
constexpr DWORD HOVER_DEFAULT = 0xFFFFFFFF;

struct TRACKMOUSEEVENT {
    DWORD cbSize;
    DWORD dwFlags;
    HWND hwndTrack;
    DWORD dwHoverTime;
};
// Arms (or with TME_CANCEL disarms) hover and leave tracking of a window; TME_QUERY
// fills the record with what is armed. No pointer moves headless, so nothing fires by
// itself: whoever stands in for the mouse sends WM_MOUSEHOVER or WM_MOUSELEAVE, and
// their delivery ends the tracking as on Windows (hover its own, leave all of it).
BOOL TrackMouseEvent(TRACKMOUSEEVENT* track);

// The layer's own: serves the calling thread's pending messages (sent, posted and due
// timers) and returns, as a wait loop on Windows pumps its thread's messages. A thread
// that owns no window is left alone: no queue is made for it. A WM_QUIT met is posted
// again for the thread's own loop.
void DispatchPendingMessages();

// The layer's own, for the waits of ThreadWait.h: serves what other threads send to the
// calling thread's windows until `until`, returning once it has served one. A thread that
// has never had a queue only waits.
void ServeSentUntil(std::chrono::steady_clock::time_point until);

// The layer's own. While one lives on a thread, the ends its windows are asked for
// (DestroyWindow, and so WM_CLOSE, WM_QUIT and the rest that end one) are held back; they
// are carried out, in the order asked, when the thread's outermost hold goes. The engine
// holds them while page code runs, so a send served inside the page's wait can end its
// window, but never under the page code, its document or its script heap.
class HoldWindowEnds {
public:
    HoldWindowEnds();
    ~HoldWindowEnds();
    HoldWindowEnds(const HoldWindowEnds&) = delete;
    HoldWindowEnds& operator=(const HoldWindowEnds&) = delete;
};

// The layer's own: runs `work` on the calling thread once the message it is serving for
// another thread has been answered, so that whatever it runs (a window's end: its pages'
// finalizers) never holds the sender; at once when the thread serves no such message.
void AfterTheAnswer(std::function<void()> work);
