#include "FloatBarWin.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <new>

#include "Config.h"
#include "CxLog.h"
#include "DynamicLibrary.h"
#include "MainFrame.h"
#include "Quorvix.h"
#include "Shell.h"
#include "Text.h"
#include "ThreadWait.h"
#include "global.h"

std::atomic<CFloatBarWin*> g_pFloatBarWin{nullptr};

namespace {

constexpr WORD kMenuResource = 147;
constexpr DWORD kTracking = TME_HOVER | TME_LEAVE;

// What makes each pop-up, in the order of CFloatBarWin::Popup.
struct PopupSpec {
    const wchar_t* name;
    std::wstring struConfig::*page;
    const char* button;     // on the bar's page
    const wchar_t* rootID;  // its name in page calls
    WORD toggle;            // the bar menu's command that pins it open or closes it
};
constexpr PopupSpec kPopups[CFloatBarWin::kPopupCount] = {
    {L"NoteWin", &struConfig::floatHealthNotePage, "#float_td_healthnote", L"popWin_note", ID_CMD_FLOATBAR_NOTE},
    {L"SurroundWin", &struConfig::floatUserEnvPage, "#float_td_surround", L"popWin_surround",
     ID_CMD_FLOATBAR_SURROUND},
    {L"NavigateWin", &struConfig::floatNavigationPage, "#float_td_navigate", L"popWin_navigate",
     ID_CMD_FLOATBAR_NAVIGATE},
    {L"AppWin", &struConfig::floatUserOpPage, "#float_td_app", L"popWin_app", ID_CMD_FLOATBAR_APP},
    {L"NotifyWin", &struConfig::floatAlertPage, "#float_td_notify", L"popWin_notify", ID_CMD_FLOATBAR_NOTIFY},
};

// The signed point of a mouse message, relative to the window.
POINT ClientPoint(LPARAM lParam) {
    const auto bits = static_cast<std::uintptr_t>(lParam);
    return POINT{static_cast<std::int16_t>(LOWORD(bits)), static_cast<std::int16_t>(HIWORD(bits))};
}

bool IsShown(const CSciterWindow* window) { return window != nullptr && IsWindowVisible(window->GetHwnd()); }

// What `read` gives once the window it names is made and published. The main window's thread
// makes the bar and its pop-ups, so a caller there has it or never will; any other caller
// waits for it.
template <class Read>
auto WhenMade(Read read, const wchar_t* caller, const wchar_t* what) {
    auto made = read();
    if (made != nullptr) return made;
    const CMainFrame* frame = g_pMainFrame;
    const HWND main = frame != nullptr ? frame->GetHwnd() : nullptr;
    if (main == nullptr || GetWindowThreadProcessId(main, nullptr) != GetCurrentThreadId()) {
        threadwait::WaitForOtherThread([&] { return (made = read()) != nullptr || g_nRunState == 4; },
                                       CFloatBarWin::kMadeWait);
    }
    if (made == nullptr) LOGF(LOG_ERROR, caller, L"[%s] is not made: the call is not made", what);
    return made;
}

}  // namespace

CFloatBarWin::CFloatBarWin() {
    m_cs.name = L"FloatBar";
    m_cs.page = g_Config.m_config.popPage;
    m_cs.style = kCornerStyle;
    m_cs.exStyle = kCornerExStyle;
    m_cs.showOnCreate = g_Config.m_config.FloatBarInfo[0] == 1;
}

CFloatBarWin::~CFloatBarWin() {
    for (auto& published : m_published) published = nullptr;
    m_pCurrent = nullptr;
    // Each pop-up ends before the bar it points at: the note pop-up's thread may
    // otherwise still reach the bar from its timer or page.
    for (auto& popup : m_popups) {
        if (popup) popup->WaitUntilMade();  // while the whole pop-up object still stands
        popup.reset();
    }
}

CPopWin* CFloatBarWin::GetPopup(Popup which) const {
    if (which < 0 || which >= kPopupCount) return nullptr;
    return m_published[which].load();
}

CFloatBarWin* CFloatBarWin::Made(const wchar_t* caller) {
    return WhenMade([] { return g_pFloatBarWin.load(); }, caller, L"FloatBar");
}

void CFloatBarWin::StoreShownFlag(bool shown) {
    g_Config.SetConfigDBKeyValue(L"FloatBarInfo", shown ? L"1,-1,-1" : L"0,-1,-1");
    // What is stored now, so the next change starts from the right value.
    g_Config.m_config.FloatBarInfo[0] = shown ? 1 : 0;
}

// ---- start-up ------------------------------------------------------------------------------

void CFloatBarWin::Init() {
    PlaceAtCorner();
    CreatePopups();
    BindButtons();
    CSciterWindow::Init();
}

void CFloatBarWin::CreatePopups() {
    for (int i = 0; i < kPopupCount; ++i) {
        if (m_popups[i]) continue;
        const PopupSpec& spec = kPopups[i];
        m_popups[i].reset(new (std::nothrow) CPopWin(spec.name, g_Config.m_config.*spec.page, i == kNote, this));
        if (!m_popups[i]) {
            LOGF(LOG_ERROR, L"CFloatBarWin::Init", L"%s == NULL!!!", spec.name);
            continue;
        }
        m_popups[i]->Start();
        m_popups[i]->Place();
        m_published[i] = m_popups[i].get();
    }
}

void CFloatBarWin::BindButtons() {
    const dom::element root(GetRootElement());
    if (!root.is_valid()) return;
    for (int i = 0; i < kPopupCount; ++i) m_buttons[i] = root.find_first(kPopups[i].button);
}

// ---- pop-ups -------------------------------------------------------------------------------

void CFloatBarWin::ShowPopup(CPopWin* popup, bool show) {
    if (popup != nullptr && popup->GetPinState() != CPopWin::kPinFree) return;
    if (!show) {
        CPopWin* target = popup != nullptr ? popup : m_pCurrent.load();
        if (target != nullptr && target->GetPinState() == CPopWin::kPinFree && IsShown(target))
            ShowWindow(target->GetHwnd(), SW_HIDE);
        m_pCurrent = nullptr;
        return;
    }
    if (popup == nullptr) return;
    CPopWin* current = m_pCurrent.load();
    if (current != popup) {
        if (current != nullptr && current->GetPinState() == CPopWin::kPinFree) ShowWindow(current->GetHwnd(), SW_HIDE);
        popup->Place();
        ShowWindow(popup->GetHwnd(), SW_SHOW);
        popup->PostShowNavigationTip();
        PlaySwitchSound();
        m_pCurrent = popup;
    } else if (!IsShown(popup)) {
        popup->Place();
        ShowWindow(popup->GetHwnd(), SW_SHOW);
        PlaySwitchSound();
    }
    PostOpeningRefresh(popup);
}

void CFloatBarWin::PostOpeningRefresh(CPopWin* popup) {
    if (popup == GetPopup(kSurround)) {
        popup->PostFloatUserEnvRealWeather();
        popup->PostFloatUserEnvLifeIndex();
        popup->PostFloatUserEnvWeatherForecast();
    } else if (popup == GetPopup(kNavigate)) {
        popup->PostFloatNavigationArticle();
    } else if (popup == GetPopup(kApp)) {
        popup->PostFloatUserOpInfo();
        popup->PostFloatLoadFlashTrend();
    } else if (popup == GetPopup(kNotify)) {
        popup->PostFloatAlertTodayAlertInfo();
    }
}

void CFloatBarWin::PlaySwitchSound() const {
    const struConfig& config = g_Config.m_config;
    if (!config.CloseAllSound && !config.CloseSwitchItemSound) PlayNotificationSound(0);
}

CPopWin* CFloatBarWin::PopupAt(LPARAM clientPoint) const {
    const POINT pt = ClientPoint(clientPoint);
    for (int i = 0; i < kPopupCount; ++i) {
        if (ElementContains(m_buttons[i], pt)) return GetPopup(static_cast<Popup>(i));
    }
    return nullptr;
}

void CFloatBarWin::ShowPopupAt(LPARAM clientPoint) {
    CPopWin* popup = PopupAt(clientPoint);
    ShowPopup(popup, popup != nullptr);
}

// ---- mouse, timer and menu ---------------------------------------------------------------------

LRESULT CFloatBarWin::OnHitTest(int, int) { return HTCLIENT; }

LRESULT CFloatBarWin::OnWindowPosChanging(UINT, WPARAM, LPARAM lParam, BOOL*) {
    CPopWin::KeepInWorkArea(reinterpret_cast<WINDOWPOS*>(lParam));
    return 0;
}

LRESULT CFloatBarWin::OnMouseMove(UINT, WPARAM, LPARAM, BOOL*) {
    TrackMouse(kTracking, kHoverMs);
    return 0;
}

LRESULT CFloatBarWin::OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL*) {
    ShowPopupAt(lParam);
    return 0;
}

LRESULT CFloatBarWin::OnMouseHover(UINT, WPARAM, LPARAM lParam, BOOL*) {
    ShowPopupAt(lParam);
    TrackMouse(kTracking, kReHoverMs);
    return 0;
}

LRESULT CFloatBarWin::OnMouseLeave(UINT, WPARAM, LPARAM, BOOL*) {
    if (CPopWin::IsCursorOver(GetHwnd())) {
        TrackMouse(kTracking, kReHoverMs);
    } else {
        SetHideTimer();
    }
    return 0;
}

LRESULT CFloatBarWin::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL*) {
    if (wParam != kHideTimerId) return 0;
    KillHideTimer();
    const CPopWin* current = m_pCurrent.load();
    if (current != nullptr && !CPopWin::IsCursorOver(GetHwnd()) && !CPopWin::IsCursorOver(current->GetHwnd()))
        ShowPopup(nullptr, false);
    return 0;
}

LRESULT CFloatBarWin::OnRButtonDown(UINT, WPARAM, LPARAM, BOOL* handled) {
    if (handled != nullptr) *handled = TRUE;
    const HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMenuResource));
    const HMENU items = menu != nullptr ? GetSubMenu(menu, 0) : nullptr;
    if (items == nullptr) {
        LOGF(LOG_ERROR, L"CFloatBarWin::OnRButtonDown", L"menu[%d] not loaded", static_cast<int>(kMenuResource));
        if (menu != nullptr) DestroyMenu(menu);
        return 0;
    }
    POINT at{};
    GetCursorPos(&at);
    TrackPopupMenu(items, TPM_RIGHTBUTTON, static_cast<int>(at.x), static_cast<int>(at.y), 0, GetHwnd(), nullptr);
    DestroyMenu(menu);
    return 0;
}

// ---- commands ----------------------------------------------------------------------------------

LRESULT CFloatBarWin::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL*) {
    if (msg != WM_COMMAND) return 0;
    const WORD id = LOWORD(wParam);
    const auto toggled = std::find_if(std::begin(kPopups), std::end(kPopups),
                                      [id](const PopupSpec& spec) { return spec.toggle == id; });
    if (toggled != std::end(kPopups)) {
        TogglePopup(static_cast<Popup>(toggled - std::begin(kPopups)));
        return 0;
    }
    switch (id) {
        case ID_CMD_FLOATBAR_DOCK:
            DockBelow(reinterpret_cast<const CSciterWindow*>(lParam));
            break;
        case ID_CMD_FLOATBAR_CLEAR_POPUP:
            ClearCurrentPopup();
            break;
        case ID_CMD_FLOATBAR_HIDE:
            ToggleBar();
            break;
        case ID_CMD_FLOATBAR_CLOSE:
            if (g_Config.m_config.FloatBarInfo[0] == 1) StoreShownFlag(false);
            ToggleBar();
            break;
        case ID_CMD_FLOAT_NAVTIP: {
            const dom::element root(GetRootElement());
            if (root.is_valid()) callScript(root, "ShowNavigationTip");
            break;
        }
        default:
            break;  // the bar has no other command, not even the base's
    }
    return 0;
}

void CFloatBarWin::TogglePopup(Popup which) {
    CPopWin* popup = GetPopup(which);
    if (popup == nullptr) return;
    if (IsShown(popup)) {
        popup->SetPinState(CPopWin::kPinFree);
        ShowWindow(popup->GetHwnd(), SW_HIDE);
    } else {
        popup->SetPinState(CPopWin::kPinBottom);
        ShowWindow(popup->GetHwnd(), SW_SHOW);
    }
}

void CFloatBarWin::ToggleBar() {
    // From now on the user decides, not the end of a full-screen program.
    m_bHiddenForFullScreen = false;
    const HWND hwnd = GetHwnd();
    ShowWindow(hwnd, IsWindowVisible(hwnd) ? SW_HIDE : SW_SHOW);
}

void CFloatBarWin::DockBelow(const CSciterWindow* window) {
    RECT above{};
    RECT self{};
    if (window == nullptr || !GetWindowRect(window->GetHwnd(), &above) || !GetWindowRect(GetHwnd(), &self)) return;
    const int width = static_cast<int>(self.right - self.left);
    MoveWindow(GetHwnd(), static_cast<int>(above.right) - width, static_cast<int>(above.bottom) + CPopWin::kBarGap,
               width, static_cast<int>(self.bottom - self.top), FALSE);
    ClearCurrentPopup();
}

// ---- full screen and page calls ----------------------------------------------------------------

void CFloatBarWin::OnFullScreen(bool fullScreen) {
    const HWND hwnd = GetHwnd();
    if (hwnd == nullptr) return;
    if (fullScreen) {
        if (g_Config.m_config.AutoHideFullScreen && IsWindowVisible(hwnd)) {
            m_bHiddenForFullScreen = true;
            ShowWindow(hwnd, SW_HIDE);
        }
    } else if (m_bHiddenForFullScreen.exchange(false)) {
        // The mark goes with the showing: a bar hidden later stays hidden after the next one.
        ShowWindow(hwnd, SW_SHOW);
    }
}

int CFloatBarWin::RemoteCall(const std::wstring& rootID, const std::wstring& funcName, int paraFlag,
                             const std::wstring& para) {
    constexpr const wchar_t* kFn = L"CFloatBarWin::RemoteCall";
    const CSciterWindow* target = this;
    if (rootID != L"popWin") {
        const auto spec = std::find_if(std::begin(kPopups), std::end(kPopups),
                                       [&rootID](const PopupSpec& s) { return rootID == s.rootID; });
        if (spec == std::end(kPopups)) {
            LOGF(LOG_MESSAGE, kFn, L"rootID=[%s]", rootID.c_str());
            return -1;
        }
        const auto which = static_cast<Popup>(spec - std::begin(kPopups));
        target = WhenMade([this, which] { return GetPopup(which); }, kFn, spec->name);
    }
    if (target != nullptr && funcName == L"ShowNavigationTip" && !IsShown(target)) return -1;
    const dom::element root = target != nullptr ? dom::element(target->GetRootElement()) : dom::element();
    return CallRoutedFunction(kFn, root, rootID, funcName, paraFlag, para);
}
