#include "NotificationWin.h"

#include <utility>

#include "Config.h"
#include "global.h"

CNotificationWin::CNotificationWin(const wchar_t* name, const std::wstring& page) {
    m_cs.name = name;
    m_cs.page = page;
    m_cs.style = kCornerStyle;
    m_cs.exStyle = kCornerExStyle;
}

sciter::value CNotificationWin::Keys(const sciter::value& item) { return item.is_array() ? item.nth(0) : item; }

void CNotificationWin::PlaceWindow() { PlaceAtCorner(); }

LRESULT CNotificationWin::OnHitTest(int x, int y) { return CaptionHitTest(m_caption, x, y); }

void CNotificationWin::Init() {
    m_root = dom::element(GetRootElement());
    if (m_root.is_valid()) {
        m_caption = m_root.find_first("#window-caption");
        m_close = m_root.find_first("#window-close");
    }
    PlaceWindow();
    // Last: whoever waits for the window to be ready may queue on it at once.
    CSciterWindow::Init();
    WORD owed = 0;
    {
        std::lock_guard lock(m_showLock);
        m_bInitDone = true;
        owed = std::exchange(m_owedShow, WORD{0});
    }
    if (owed != 0) PostCommand(owed);
}

bool CNotificationWin::on_event(HELEMENT, HELEMENT target, UINT type, UINT_PTR) {
    if (type == (BUTTON_CLICK | SINKING) && m_close.is_valid() && target == static_cast<HELEMENT>(m_close)) {
        CloseStep();
    }
    return true;
}

void CNotificationWin::CallItemFunction(const sciter::value& item, const wchar_t* defaultFunc) const {
    if (!m_root.is_valid()) return;
    const sciter::value name = Keys(item).get_item(sciter::value(L"funcName"));
    const std::wstring func = name.is_string() && !name.get_string().empty() ? name.get_string() : defaultFunc;
    callScriptArgs(m_root, func.c_str(), item);
}

void CNotificationWin::ShowUnlessFullScreen() const {
    if (g_bFullScreen && !g_Config.m_config.NotifyMessageFullScreen) return;
    ShowWindow(GetHwnd(), SW_SHOW);
}

void CNotificationWin::PostShowCommand(WORD id) {
    if (PostCommand(id)) return;
    std::lock_guard lock(m_showLock);
    // Init has run since the post failed: the window exists now (or no more, harmless).
    if (m_bInitDone) {
        PostCommand(id);
    } else {
        m_owedShow = id;
    }
}

bool CNotificationWin::PostCommand(WORD id) const {
    const HWND hwnd = GetHwnd();
    // A null handle would post to the calling thread instead.
    if (hwnd == nullptr || !IsWindow(hwnd)) return false;
    return PostMessageW(hwnd, WM_COMMAND, id, 0) != FALSE;
}
