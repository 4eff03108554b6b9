#include "SciterWindow.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <string_view>
#include <vector>

#include "Communication.h"
#include "CxLog.h"
#include "DatabaseScriptObject.h"
#include "FloatBarWin.h"
#include "Hooks.h"
#include "MyDatabase.h"
#include "Quorvix.h"
#include "Tabs.h"
#include "TelmarScript.h"
#include "Text.h"
#include "TrayIcon.h"
#include "UiThreadManager.h"
#include "global.h"

namespace {

constexpr const wchar_t* kClassName = L"QuorvBaseWindow";
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT MB_TOPMOST = 0x00040000;
constexpr WPARAM kAppBarFullScreen = 2;
constexpr int kDefaultContentWidth = 300;
constexpr UINT kMeasureWidth = 600;
constexpr std::size_t kDebugArgChars = 2048;
constexpr std::size_t kHomeUrlChars = MAX_PATH;
constexpr int kCornerGap = 20;
constexpr DWORD kMadePollMs = 2;
constexpr std::chrono::seconds kMadeWait{10};  // between a corner window and the screen's right edge

void RegisterWindowClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = CSciterWindow::WindowProc;
    wc.hbrBackground = reinterpret_cast<void*>(static_cast<std::uintptr_t>(6));  // COLOR_WINDOW + 1
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);  // a second registration fails harmlessly
}

// "file://" + current directory + "../content/", the engine's base for pages without one.
std::wstring HomeUrl() {
    std::error_code ec;
    std::wstring cwd = text::FromUtf8(std::filesystem::current_path(ec).string());
    if (cwd.size() > kHomeUrlChars) cwd.resize(kHomeUrlChars);
    std::wstring url = L"file://" + cwd + L"../content/";
    if (url.size() > kHomeUrlChars) url.resize(kHomeUrlChars);
    return url;
}

// The scrambled file that stands for a requested page or script; empty for any other request.
std::wstring ScrambledPath(std::wstring_view uri) {
    if (uri.size() < 4) return {};
    const std::wstring_view ext = uri.substr(uri.size() - 4);
    const wchar_t* stored = ext == L".htm" ? L".uih" : ext == L".tis" ? L".uis" : nullptr;
    if (stored == nullptr) return {};
    std::wstring path(uri.substr(0, uri.size() - 4));
    path += stored;
    constexpr std::wstring_view kScheme = L"file://";
    if (path.starts_with(kScheme)) path.erase(0, kScheme.size());
    return path;
}

// What the engine reports about the page's scripts (one that fails, a page function that
// cannot run) goes to the program's log.
void LogPageOutput(void*, UINT, UINT severity, const wchar_t* text, UINT length) {
    const std::wstring line = text != nullptr ? std::wstring(text, length) : std::wstring();
    LOGF(severity >= OUTPUT_SEVERITY_ERROR ? LOG_ERROR : LOG_WARNING, L"CSciterWindow::DebugOutput", L"%s",
         line.c_str());
}

bool ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > static_cast<std::uintmax_t>(INT_MAX)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
    return in.gcount() == static_cast<std::streamsize>(size);
}

sciter::value CallPage(const wchar_t* where, HELEMENT he, const char* name, const sciter::value* argv,
                       UINT argc) {
    sciter::value result;
    bool ok = false;
    try {
        // Made on the thread of the page's window, under its script-call lock (the engine's).
        ok = name != nullptr && SciterCallScriptingFunction(he, name, argv, argc, &result) != FALSE;
    } catch (...) {
        ok = false;
    }
    if (ok) return result;
    const std::wstring wideName = text::FromAnsi(name != nullptr ? name : "");
    LOGF(LOG_ERROR, where, L"call_function[%x][%s]", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(he)),
         wideName.c_str());
    return {};
}

}  // namespace

CSciterWindow::CSciterWindow() = default;

CSciterWindow::~CSciterWindow() {
    WaitUntilMade();
    const HWND hwnd = GetHwnd();
    if (hwnd == nullptr || !IsWindow(hwnd)) return;
    if (GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
        DestroyWindow(hwnd);
        return;
    }
    // The window's thread takes the quit and leaves its loop; until it has, it may still be
    // inside a method of this object. Neither wait is for good: a page that never ends is
    // logged instead.
    const auto deadline = std::chrono::steady_clock::now() + UiThreadManager::kEndBound;
    if (!UiThreadManager::SendEnd(hwnd, WM_QUIT, 0, m_cs.name, UiThreadManager::kEndBound) || !m_cs.ownThread)
        return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!g_UiThreads.WaitThread(m_cs.hThread, static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(left.count(), 0))))
        LOGF(LOG_ERROR, L"CSciterWindow::~CSciterWindow", L"window [%s]: its thread did not end in time",
             m_cs.name.c_str());
}

void CSciterWindow::WaitUntilMade() const {
    const HANDLE thread = m_cs.hThread;
    if (!m_cs.ownThread || thread == nullptr) return;
    const auto deadline = std::chrono::steady_clock::now() + kMadeWait;
    while (GetState() < kStateReady && !g_UiThreads.WaitThread(thread, kMadePollMs)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            LOGF(LOG_ERROR, L"CSciterWindow::WaitUntilMade", L"[%s] not made in time", m_cs.name.c_str());
            return;
        }
    }
}

// ---- start and thread ------------------------------------------------------------

int CSciterWindow::Start() {
    m_nState = kStateStarted;
    if (m_cs.ownThread) return StartThread();
    return Create() ? 0 : -1;
}

int CSciterWindow::StartThread() {
    DWORD error = 0;
    HANDLE thread = g_UiThreads.StartThread([this] { return RunThread(this); },
                                            [this](HANDLE registered) { m_cs.hThread = registered; }, &error);
    if (thread != nullptr) return 0;
    m_cs.hThread = nullptr;
    std::wstring message;
    text::FormatW(message, 512, L"ERROR: Cannot create thread[%s][%d]!!!", m_cs.name.c_str(),
                  static_cast<int>(error));
    LOGF(LOG_WARNING, L"CSciterWindow::StartThread", L"%s", message.c_str());
    MessageBoxW(nullptr, message.c_str(), L"quorvix", MB_TOPMOST);
    return -1;
}

DWORD CSciterWindow::RunThread(CSciterWindow* window) {
    // Nothing of the object is used once the loop ends: its owner may delete it as
    // soon as the window is gone.
    const std::wstring name = window->m_cs.name;
    window->m_cs.threadId = GetCurrentThreadId();
    MSG msg{};
    try {
        // A window without its page shows nothing and can never be closed: end instead,
        // so that whoever waits for the window learns it failed.
        const bool created = window->Create();
        const HWND hwnd = window->GetHwnd();
        if (!created)
            LOGF(LOG_ERROR, L"CSciterWindow::RunThread", L"CSciterWindow::RunThread[%s] no page, ends", name.c_str());
        // The run state is read before every wait too, so a wake-up posted just
        // before the wait is not needed to notice it.
        while (created && g_nRunState != 4 && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        LOGF(LOG_WARNING, L"CSciterWindow::RunThread", L"CSciterWindow::RunThread[%s] exit...", name.c_str());
        // A window that outlives its loop would keep the engine pointing at the object.
        if (hwnd != nullptr && IsWindow(hwnd)) DestroyWindow(hwnd);
        if (g_nRunState == 4) Sleep(50);
        LOGF(LOG_WARNING, L"CSciterWindow::RunThread", L"CSciterWindow::RunThread[%s] exit over.", name.c_str());
    } catch (...) {
        LOGF(LOG_ERROR, L"CSciterWindow::RunThread", L"RunThread try...");
    }
    return static_cast<DWORD>(msg.wParam);
}

bool CSciterWindow::Create() {
    sciter::tabs::Instance();  // the behaviour is known before any page asks for it
    RegisterWindowClass();
    const HWND hwnd = CreateWindowExW(m_cs.exStyle, kClassName, nullptr, m_cs.style, -1, -1, -1, -1, nullptr,
                                      nullptr, nullptr, m_cs.param);
    if (hwnd == nullptr) {
        LOGF(LOG_MESSAGE, L"CSciterWindow::Create", L"CreateWin[%s] fail!", m_cs.page.c_str());
        return false;
    }
    m_hWnd = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (m_cs.ownThread) g_UiThreads.SetThreadWindow(m_cs.hThread, hwnd, m_cs.name);
    const HVM vm = SciterGetVM(hwnd);
    m_hVM = vm;

    // The page's natives exist before the page loads. Windows sharing another
    // window's thread see that thread's VM and register nothing themselves.
    if (m_cs.ownThread) {
        RegisterScriptObjects(vm);
        if (g_pMyDatabase != nullptr) RegisterDatabaseScriptObject(vm);
        if (g_pCommunication != nullptr) g_pCommunication->RegisterScriptObject(vm);
    }

    setup_callback(hwnd);
    SciterSetupDebugOutput(hwnd, nullptr, &LogPageOutput);
    SciterWindowAttachEventHandler(hwnd, this, HANDLE_ALL);
    SciterSetHomeURL(hwnd, HomeUrl().c_str());
    const BOOL loaded = SciterLoadFile(hwnd, m_cs.page.c_str());
    if (!loaded) {
        LOGF(LOG_MESSAGE, L"CSciterWindow::Create", L"SciterLoadFile[%d][%s].....................", loaded,
             m_cs.page.c_str());
        return false;
    }
    CenterToContent();
    Init();
    ShowWindow(hwnd, m_cs.showOnCreate ? SW_SHOW : SW_HIDE);
    return true;
}

// ---- window procedure --------------------------------------------------------------

LRESULT CSciterWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CSciterWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if ((msg == WM_RBUTTONDOWN || msg == WM_RBUTTONUP) && self != nullptr && !self->m_bContextMenu) return 1;

    BOOL handled = FALSE;
    const LRESULT engine = SciterProcND(hwnd, msg, wParam, lParam, &handled);
    if (handled) return engine;

    switch (msg) {
        case WM_DESTROY:
        case WM_QUIT:
            DestroyWindow(hwnd);
            PostQuitMessage(0);
            return 1;
        case WM_CLOSE:
            ShowWindow(hwnd, SW_HIDE);  // closing never destroys a window
            return engine;
        case WM_WINDOWPOSCHANGING:
            return self ? self->OnWindowPosChanging(msg, wParam, lParam, &handled) : engine;
        case WM_NCHITTEST:
            return self ? self->OnHitTest(static_cast<std::int16_t>(LOWORD(static_cast<std::uintptr_t>(lParam))),
                                          static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(lParam))))
                        : engine;
        case WM_COMMAND:
        case WM_DEVICECHANGE:
            return self ? self->OnCommand(msg, wParam, lParam, &handled) : engine;
        case WM_TIMER:
            return self ? self->OnTimer(msg, wParam, lParam, &handled) : engine;
        case WM_MOUSEMOVE:
            return self ? self->OnMouseMove(msg, wParam, lParam, &handled) : engine;
        case WM_LBUTTONDOWN:
            return self ? self->OnLButtonDown(msg, wParam, lParam, &handled) : engine;
        case WM_LBUTTONUP:
            return self ? self->OnLButtonUp(msg, wParam, lParam, &handled) : engine;
        case WM_RBUTTONDOWN:
            return self ? self->OnRButtonDown(msg, wParam, lParam, &handled) : engine;
        case WM_MOUSEHOVER:
            if (self == nullptr) return engine;
            self->m_bTrackMouse = true;  // the notice ended the tracking: it may be armed again
            return self->OnMouseHover(msg, wParam, lParam, &handled);
        case WM_MOUSELEAVE:
            if (self == nullptr) return engine;
            self->m_bTrackMouse = true;
            return self->OnMouseLeave(msg, wParam, lParam, &handled);
        case WM_APPBAR_NOTIFY:
            if (wParam == kAppBarFullScreen) {
                g_bFullScreen = lParam == 1;
                if (CFloatBarWin* const bar = g_pFloatBarWin) bar->OnFullScreen(lParam == 1);
            }
            return engine;
        case WM_TRAYICON_NOTIFY:
            if (CTrayIcon* const tray = g_pTrayIcon) tray->OnNotify(wParam, lParam);
            return engine;
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

LRESULT CSciterWindow::OnHitTest(int, int) { return HTCLIENT; }

int CSciterWindow::CallRoutedFunction(const wchar_t* caller, const dom::element& target, const std::wstring& rootID,
                                      const std::wstring& funcName, int paraFlag, const std::wstring& para) {
    const std::string name = text::ToAnsi(funcName);
    if (!target.is_valid() || name.empty()) {
        LOGF(LOG_MESSAGE, caller, L"pageID=[%s],funcName=[%s].", rootID.c_str(), funcName.c_str());
        return -1;
    }
    const sciter::value result = paraFlag == 0 ? callScript(target, name.c_str())
                                               : callElementFunction(target, name.c_str(), sciter::value(para));
    return uie::as_int_or0(result);
}

bool CSciterWindow::ElementContains(const dom::element& element, POINT clientPoint) {
    if (!element.is_valid()) return false;
    const RECT box = element.get_location();
    return PtInRect(&box, clientPoint) != FALSE;
}

LRESULT CSciterWindow::CaptionHitTest(const dom::element& caption, int x, int y) const {
    POINT pt{x, y};
    ScreenToClient(GetHwnd(), &pt);
    return ElementContains(caption, pt) ? HTCAPTION : HTCLIENT;
}

void CSciterWindow::PlaceAtCorner() {
    const HWND hwnd = GetHwnd();
    RECT window{};
    RECT work{};
    if (!GetWindowRect(hwnd, &window) || !SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return;
    const int x = GetSystemMetrics(SM_CXSCREEN) - (window.right - window.left) - kCornerGap;
    const int y = (work.bottom - work.top) - (window.bottom - window.top);
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSciterWindow::Init() { m_nState = kStateReady; }

LRESULT CSciterWindow::OnCommand(UINT msg, WPARAM wParam, LPARAM, BOOL*) {
    // WM_DEVICECHANGE shares this handler, and its wParam 0x18 is a configuration
    // change that must not destroy the window.
    if (msg == WM_COMMAND && LOWORD(wParam) == ID_CMD_DESTROY_WINDOW) {
        DestroyWindow(GetHwnd());
        return 1;
    }
    return 0;
}

LRESULT CSciterWindow::OnTimer(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CSciterWindow::OnWindowPosChanging(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CSciterWindow::OnMouseMove(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CSciterWindow::OnLButtonDown(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CSciterWindow::OnLButtonUp(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CSciterWindow::OnMouseHover(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CSciterWindow::OnMouseLeave(UINT, WPARAM, LPARAM, BOOL*) { return 0; }

LRESULT CSciterWindow::OnRButtonDown(UINT, WPARAM, LPARAM, BOOL* handled) {
    if (handled != nullptr) *handled = TRUE;
    return 0;
}

// ---- window helpers ------------------------------------------------------------------

void CSciterWindow::SetTitle(const wchar_t* title) {
    if (title != nullptr) SetWindowTextW(GetHwnd(), title);
}

void CSciterWindow::SetRoundRegion(int diameter) {
    const HWND hwnd = GetHwnd();
    RECT rect{};
    if (!GetWindowRect(hwnd, &rect)) return;
    SetWindowRgn(hwnd, CreateRoundRectRgn(0, 0, rect.right - rect.left, rect.bottom - rect.top, diameter, diameter),
                 TRUE);
}

void CSciterWindow::ShowWin(bool show) {
    if (show) {
        PlaceWindow();
        ShowWindow(GetHwnd(), SW_SHOW);
    } else {
        ShowWindow(GetHwnd(), SW_HIDE);
    }
}

void CSciterWindow::CenterToContent() {
    const HWND hwnd = GetHwnd();
    UINT width = SciterGetMinWidth(hwnd);
    if (width == 0) width = kDefaultContentWidth;
    const UINT height = SciterGetMinHeight(hwnd, kMeasureWidth);
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (height == 0 || screenWidth <= 0 || screenHeight <= 0) return;
    if (width >= static_cast<UINT>(screenWidth) || height >= static_cast<UINT>(screenHeight)) return;
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    MoveWindow(hwnd, (screenWidth - w) / 2, (screenHeight - h) / 2, w, h, FALSE);
}

HELEMENT CSciterWindow::GetRootElement() const {
    HELEMENT root = nullptr;
    SciterGetRootElement(GetHwnd(), &root);
    return root;
}

bool CSciterWindow::TrackMouse(DWORD flags, DWORD hoverTimeMs) {
    if (!m_bTrackMouse) return true;
    TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), flags, GetHwnd(), hoverTimeMs};
    if (!TrackMouseEvent(&track)) return false;
    m_bTrackMouse = false;
    return true;
}

void CSciterWindow::SetHideTimer() { SetTimer(GetHwnd(), kHideTimerId, 200, nullptr); }

void CSciterWindow::KillHideTimer() { KillTimer(GetHwnd(), kHideTimerId); }

// ---- page loading ----------------------------------------------------------------------

UINT CSciterWindow::on_load_data(uie::LoadDataNotice* notice) {
    if (notice == nullptr || notice->uri == nullptr) return LOAD_DEFAULT;
    const std::wstring path = ScrambledPath(notice->uri);
    if (path.empty()) return LOAD_DEFAULT;
    const std::filesystem::path file(text::ToUtf8(path));
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return LOAD_DEFAULT;  // the engine reads the plain file

    std::vector<std::uint8_t> stored;
    std::vector<std::uint8_t> plain;
    try {
        if (!ReadWholeFile(file, stored)) {
            LOGF(LOG_ERROR, L"CSciterWindow::on_load_data", L"open encodeFile[%s]fail!", path.c_str());
            return LOAD_DEFAULT;
        }
        plain.resize(stored.size());
    } catch (const std::bad_alloc&) {
        LOGF(LOG_ERROR, L"CSciterWindow::on_load_data", L"new decodeBuff[%s]fail!", path.c_str());
        return LOAD_DEFAULT;
    }
    const int size = static_cast<int>(stored.size());
    const int decoded = TelmarScriptDecode(stored.data(), size, plain.data());
    if (decoded != size - kScrambleTrailer) {
        LOGF(LOG_ERROR, L"CSciterWindow::on_load_data", L"TelmarScriptDecode len[%d][%s]fail!", size, path.c_str());
        return LOAD_DEFAULT;
    }
    SciterDataReady(notice->hwnd, notice->uri, plain.data(), static_cast<UINT>(decoded));
    return LOAD_DEFAULT;
}

UINT CSciterWindow::on_data_loaded(uie::DataLoadedNotice* notice) {
    if (notice != nullptr && notice->status != 0) {
        LOGF(LOG_ERROR, L"CSciterWindow::on_data_loaded", L"on_data_loaded[%s]=[%d]",
             notice->uri != nullptr ? notice->uri : L"", static_cast<int>(notice->status));
    }
    return 0;
}

// ---- script bridge ------------------------------------------------------------------------

sciter::value CSciterWindow::callScript(HELEMENT he, const char* name) {
    return CallPage(L"CSciterWindow::callScript", he, name, nullptr, 0);
}

sciter::value CSciterWindow::callElementFunction(HELEMENT he, const char* name, const sciter::value& arg) {
    return CallPage(L"CSciterWindow::callElementFunction", he, name, &arg, 1);
}

sciter::value CSciterWindow::callScriptArgs(HELEMENT he, const wchar_t* name, const sciter::value& arg) {
    const std::string narrow = text::ToAnsi(name != nullptr ? name : L"");
    return callElementFunction(he, narrow.c_str(), arg);
}

bool CSciterWindow::on_script_call(HELEMENT, const char* name, UINT argc, const sciter::value* argv,
                                   sciter::value&) {
    if (name == nullptr) return false;
    const std::string_view call(name);
    if (call == "debug") {
        std::string line;
        for (UINT i = 0; i < argc; ++i) {
            std::wstring item = argv[i].to_string() + L" ";
            if (item.size() > kDebugArgChars) item.resize(kDebugArgChars);
            line += text::ToUtf8(item);
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        return true;
    }
    if (call == "shell-exec" && argc >= 1) {
        // Opened as one target with the desktop's handler, never through a shell.
        const std::wstring target = argv[0].to_string();
        ShellExecuteW(GetHwnd(), L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return true;
    }
    return false;
}
