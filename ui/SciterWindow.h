// The base of every page window: a window whose page the engine shows, created in a
// thread of its own or in the thread that starts it. The engine sees every message
// first; the window procedure routes the rest to the virtual operations below. Other
// threads reach a window only by posting WM_COMMAND with a command id (CommandIds.h).
#pragma once

#include <atomic>
#include <string>

#include "CommandIds.h"
#include "EngineSdk.h"
#include "Window.h"

// How a window is made; set before Start.
struct struWindowCreateInfo {
    bool ownThread = false;    // a user-interface thread of its own
    void* param = nullptr;     // the creation parameter
    HANDLE hThread = nullptr;  // the own thread, once started
    std::atomic<DWORD> threadId{0};
    std::wstring name;         // for log lines
    std::wstring page;         // the page file
    DWORD style = 0;
    DWORD exStyle = 0;
    bool showOnCreate = false;  // shown once the page is loaded, else left hidden
};

class CSciterWindow : public sciter::event_handler, public sciter::notification_handler<CSciterWindow> {
public:
    static constexpr int kStateConstructed = 0;
    static constexpr int kStateStarted = 1;
    static constexpr int kStateReady = 2;  // Init done: the page is loaded
    static constexpr UINT_PTR kHideTimerId = 20;
    // The small always-on-top windows of the bottom-right corner: the floating bar, its
    // pop-ups, the message and alert windows (WS_POPUP | WS_VISIBLE | WS_SYSMENU |
    // WS_MINIMIZEBOX; WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_LAYERED).
    static constexpr DWORD kCornerStyle = 0x900A0000;
    static constexpr DWORD kCornerExStyle = 0x00080088;

    CSciterWindow();
    // Ends a window that still exists; the window's thread leaves its loop.
    ~CSciterWindow() override;
    CSciterWindow(const CSciterWindow&) = delete;
    CSciterWindow& operator=(const CSciterWindow&) = delete;

    // State 1, then the window in its own thread (0, or -1 when no thread could be
    // made) or in the calling thread (0, or -1 when the window or its page failed).
    int Start();
    int StartThread();
    // The own thread's body: Create, then the message loop until WM_QUIT or run state 4;
    // it ends at once when the window or its page failed.
    static DWORD RunThread(CSciterWindow* window);
    static LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND GetHwnd() const { return m_hWnd.load(); }
    int GetState() const { return m_nState.load(); }
    // Waits (at most a few seconds) until a window started on its own thread is made or
    // its thread gave up: before that nothing can ask the thread to end, and it goes on
    // using this object. An owner calls it before deleting a window it may have just
    // started; the destructor calls it too.
    void WaitUntilMade() const;
    // The page's script VM; non-null once the window exists.
    HVM IsReady() const { return m_hVM.load(); }

    void SetTitle(const wchar_t* title);
    // Rounds the window's corners with circles of that diameter.
    void SetRoundRegion(int diameter);
    // PlaceWindow, then shown; or hidden.
    void ShowWin(bool show);
    // Sizes the window to the page's minimum size, centred on the screen.
    void CenterToContent();
    HELEMENT GetRootElement() const;
    // Arms mouse tracking (TME_* flags) unless it is armed already; false when it could
    // not be armed. A hover or leave notice ends the tracking.
    bool TrackMouse(DWORD flags, DWORD hoverTimeMs);
    void SetHideTimer();
    void KillHideTimer();

    // Page functions, run on the thread of the page's window under its VM's script-call lock
    // (ThreadWait.h). A failed call is logged and gives an undefined value.
    static sciter::value callScript(HELEMENT he, const char* name);
    static sciter::value callElementFunction(HELEMENT he, const char* name, const sciter::value& arg);
    static sciter::value callScriptArgs(HELEMENT he, const wchar_t* name, const sciter::value& arg);
    // The end of a cross-page call routed to `target`: funcName without argument
    // (paraFlag 0) or with para as text, its result read as an integer (0 for none). A
    // missing element or name calls nothing: -1 and "pageID=[%s],funcName=[%s]." under
    // `caller`.
    static int CallRoutedFunction(const wchar_t* caller, const dom::element& target, const std::wstring& rootID,
                                  const std::wstring& funcName, int paraFlag, const std::wstring& para);
    // Element-level script calls every page may make: "debug" and "shell-exec".
    bool on_script_call(HELEMENT he, const char* name, UINT argc, const sciter::value* argv,
                        sciter::value& result) override;

    UINT on_load_data(uie::LoadDataNotice* notice) override;
    UINT on_data_loaded(uie::DataLoadedNotice* notice) override;

    struWindowCreateInfo m_cs;

protected:
    // Client area (1) everywhere; windows with a caption answer 2 over it.
    virtual LRESULT OnHitTest(int x, int y);
    virtual void PlaceWindow() {}
    // Once, after the page has loaded; overrides call it last (state 2).
    virtual void Init();
    // Command 18 destroys the window and answers 1; other commands answer 0.
    virtual LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);
    virtual LRESULT OnTimer(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);
    virtual LRESULT OnWindowPosChanging(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);
    virtual LRESULT OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);
    virtual LRESULT OnLButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);
    virtual LRESULT OnLButtonUp(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);
    virtual LRESULT OnMouseHover(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);
    virtual LRESULT OnMouseLeave(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);
    virtual LRESULT OnRButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);

    // Makes the window and loads its page, in the calling thread; false when either failed.
    bool Create();

    // Whether a client point lies on the element's box (right and bottom edges outside);
    // false for an element the page lacks.
    static bool ElementContains(const dom::element& element, POINT clientPoint);
    // HTCAPTION over the caption element, so it drags the window, else HTCLIENT; x and y
    // are screen coordinates, as OnHitTest gets them.
    LRESULT CaptionHitTest(const dom::element& caption, int x, int y) const;
    // The bottom-right corner: x = screen width - width - 20, y = work-area height -
    // height. The height, not the bottom: with the task bar at the top the window sits
    // that much above the screen's bottom, as the program always placed it.
    void PlaceAtCorner();

    std::atomic<bool> m_bContextMenu{true};  // false: right clicks never reach the page
    bool m_bTrackMouse = true;                // nothing armed; window thread only

private:
    std::atomic<HWND> m_hWnd{nullptr};
    std::atomic<HVM> m_hVM{nullptr};
    std::atomic<int> m_nState{kStateConstructed};
};
