#include "PopWin.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "FloatBarWin.h"
#include "global.h"

namespace {


// The commands each have one page function of the pop-up's page run, without argument.
struct PageCommand {
    WORD id;
    const char* function;
};
constexpr PageCommand kPageCommands[] = {
    {ID_CMD_FLOAT_REALWEATHER, "FloatUserEnvRealWeather"},
    {ID_CMD_FLOAT_LIFEINDEX, "FloatUserEnvLifeIndex"},
    {ID_CMD_FLOAT_WEATHERFORECAST, "FloatUserEnvWeatherForecast"},
    {ID_CMD_FLOAT_USERENV, "FloatUserEnvUserEnv"},
    {ID_CMD_FLOAT_NAVARTICLE, "FloatNavigationArticle"},
    {ID_CMD_FLOAT_USEROPINFO, "FloatUserenvUserOpInfo"},
    {ID_CMD_FLOAT_ALERTTODAY, "FloatAlertTodayAlertInfo"},
    {ID_CMD_FLOAT_NAVTIP, "ShowNavigationTip"},
    {ID_CMD_FLOAT_FLASHTREND, "LoadFlashTrend"},
};

constexpr UINT kKeepPlace = SWP_NOMOVE | SWP_NOSIZE;

}  // namespace

CPopWin::CPopWin(std::wstring name, std::wstring page, bool ownThread, CFloatBarWin* bar)
    : m_pBar(bar), m_savedExStyle(kCornerExStyle) {
    m_cs.name = std::move(name);
    m_cs.page = std::move(page);
    m_cs.ownThread = ownThread;
    m_cs.style = kCornerStyle;
    m_cs.exStyle = m_savedExStyle;
    m_cs.showOnCreate = false;
}

// ---- post wrappers ---------------------------------------------------------------------

void CPopWin::PostCommand(WORD id) {
    const HWND hwnd = GetHwnd();
    // A null handle would post to the calling thread instead.
    if (hwnd != nullptr) PostMessageW(hwnd, WM_COMMAND, id, 0);
}

void CPopWin::PostFloatUserEnvRealWeather() { PostCommand(ID_CMD_FLOAT_REALWEATHER); }
void CPopWin::PostFloatUserEnvLifeIndex() { PostCommand(ID_CMD_FLOAT_LIFEINDEX); }
void CPopWin::PostFloatUserEnvWeatherForecast() { PostCommand(ID_CMD_FLOAT_WEATHERFORECAST); }
void CPopWin::PostFloatUserEnvUserEnv() { PostCommand(ID_CMD_FLOAT_USERENV); }
void CPopWin::PostFloatNavigationArticle() { PostCommand(ID_CMD_FLOAT_NAVARTICLE); }
void CPopWin::PostFloatUserOpInfo() { PostCommand(ID_CMD_FLOAT_USEROPINFO); }
void CPopWin::PostFloatAlertTodayAlertInfo() { PostCommand(ID_CMD_FLOAT_ALERTTODAY); }
void CPopWin::PostShowNavigationTip() { PostCommand(ID_CMD_FLOAT_NAVTIP); }

void CPopWin::PostFloatLoadFlashTrend() {
    if (IsFlashInstalled()) PostCommand(ID_CMD_FLOAT_FLASHTREND);
}

// ---- placement -----------------------------------------------------------------------------

void CPopWin::Place() {
    const HWND hwnd = GetHwnd();
    RECT bar{};
    RECT self{};
    if (m_pBar == nullptr || !GetWindowRect(m_pBar->GetHwnd(), &bar) || !GetWindowRect(hwnd, &self)) return;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const long height = self.bottom - self.top;
    long top = bar.top - kBarGap - height;
    if (top < work.top + kMargin) top = bar.bottom + kBarGap;
    SetWindowPos(hwnd, nullptr, static_cast<int>(bar.left), static_cast<int>(top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CPopWin::KeepInWorkArea(WINDOWPOS* pos) {
    if (pos == nullptr) return;
    RECT work{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return;
    pos->x = static_cast<int>(std::min<long>(pos->x, work.right - kMargin - pos->cx));
    pos->y = static_cast<int>(std::min<long>(pos->y, work.bottom - kMargin - pos->cy));
    pos->x = static_cast<int>(std::max<long>(pos->x, work.left + kMargin));
    pos->y = static_cast<int>(std::max<long>(pos->y, work.top + kMargin));
}

bool CPopWin::IsCursorOver(HWND hwnd) {
    POINT cursor{};
    RECT rect{};
    return hwnd != nullptr && GetCursorPos(&cursor) && GetWindowRect(hwnd, &rect) && PtInRect(&rect, cursor);
}

LRESULT CPopWin::OnWindowPosChanging(UINT, WPARAM, LPARAM lParam, BOOL*) {
    KeepInWorkArea(reinterpret_cast<WINDOWPOS*>(lParam));
    return 0;
}

// ---- start-up, hit test and page events ----------------------------------------------------

void CPopWin::Init() {
    SetRoundRegion(kCornerDiameter);
    m_nPinState = kPinFree;
    m_root = dom::element(GetRootElement());
    if (m_root.is_valid()) {
        m_caption = m_root.find_first("#window-caption");
        m_lock = m_root.find_first("#lock");
        m_cancelLock = m_root.find_first("#cancellock");
        m_mostTop = m_root.find_first("#mosttop");
    }
    CSciterWindow::Init();  // ready once its elements are known
}

LRESULT CPopWin::OnHitTest(int x, int y) { return CaptionHitTest(m_caption, x, y); }

bool CPopWin::on_event(HELEMENT, HELEMENT target, UINT type, UINT_PTR) {
    if (type == POPUP_DISMISSED) return true;
    if (type != MENU_ITEM_CLICK || target == nullptr) return false;
    if (m_lock.is_valid() && target == static_cast<HELEMENT>(m_lock)) {
        Pin(HWND_BOTTOM, kPinBottom);
        return true;
    }
    if (m_mostTop.is_valid() && target == static_cast<HELEMENT>(m_mostTop)) {
        Pin(HWND_TOPMOST, kPinTopmost);
        return true;
    }
    if (m_cancelLock.is_valid() && target == static_cast<HELEMENT>(m_cancelLock)) {
        Unpin();
        return true;
    }
    return false;
}

void CPopWin::Pin(HWND insertAfter, int state) {
    // A pinned pop-up is no longer the bar's: the bar shows and hides the others past it.
    if (m_pBar != nullptr) m_pBar->ClearCurrentPopup();
    SetWindowPos(GetHwnd(), insertAfter, 0, 0, 0, 0, kKeepPlace);
    m_nPinState = state;
}

void CPopWin::Unpin() {
    const HWND hwnd = GetHwnd();
    SetWindowLongPtrW(hwnd, GWL_EXSTYLE, static_cast<LONG_PTR>(m_savedExStyle));
    SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, kKeepPlace);
    ShowWindow(hwnd, SW_HIDE);
    m_nPinState = kPinFree;
}

// ---- commands, mouse and timer --------------------------------------------------------------

LRESULT CPopWin::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    const WORD id = LOWORD(wParam);
    const auto command = std::find_if(std::begin(kPageCommands), std::end(kPageCommands),
                                      [id](const PageCommand& c) { return c.id == id; });
    if (msg == WM_COMMAND && command != std::end(kPageCommands)) {
        if (m_root.is_valid()) callScript(m_root, command->function);
        return 0;
    }
    CSciterWindow::OnCommand(msg, wParam, lParam, handled);
    return 0;
}

LRESULT CPopWin::OnMouseMove(UINT, WPARAM, LPARAM, BOOL*) {
    if (m_nPinState == kPinFree && !m_bHover) {
        m_bHover = true;
        SetHideTimer();
    }
    return 0;
}

void CPopWin::StopHideTimer() {
    KillHideTimer();
    m_bHover = false;
}

LRESULT CPopWin::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL*) {
    if (wParam != kHideTimerId) return 0;
    if (m_nPinState != kPinFree || m_pBar == nullptr) {
        StopHideTimer();
        return 0;
    }
    CPopWin* current = m_pBar->GetCurrentPopup();
    // Another pop-up took over: this one is hidden already, and the mouse over the new
    // one must not close it.
    if (current != this) {
        StopHideTimer();
        return 0;
    }
    if (!IsCursorOver(GetHwnd()) && !IsCursorOver(m_pBar->GetHwnd())) {
        m_pBar->ShowPopup(nullptr, false);
        StopHideTimer();
    }
    return 0;
}
