#include "AlertMessageWin.h"

#include "Config.h"

std::atomic<CAlertMessageWin*> g_pAlertMessageWin{nullptr};

namespace {

bool HoldsInt(const sciter::value& alert, const wchar_t* key, int number) {
    const sciter::value v = alert.get_item(sciter::value(key));
    return v.is_int() && v.get_int() == number;
}

}  // namespace

CAlertMessageWin::CAlertMessageWin() : CNotificationWin(L"AlertMessageWin", g_Config.m_config.alertPopPage) {}

void CAlertMessageWin::AddAlert(const sciter::value& alert, int) {
    {
        std::lock_guard lock(m_lock);
        m_alerts.push_back(alert);
    }
    PostShowCommand(ID_CMD_ALERTMSGWIN_SHOW);
}

void CAlertMessageWin::ShowNext() {
    bool empty = false;
    {
        std::lock_guard lock(m_lock);
        if (!m_alerts.empty()) m_alerts.pop_front();
        empty = m_alerts.empty();
    }
    if (empty) {
        ShowWin(false);
        return;
    }
    // The page is called on the window's own thread only.
    PostCommand(ID_CMD_ALERTMSGWIN_SHOW);
}

int CAlertMessageWin::SetAdditionalMessage(int alertNo, int no, const std::wstring& text) {
    bool queued = false;
    bool onShow = false;  // the front is the alert the page shows
    {
        std::lock_guard lock(m_lock);
        for (auto it = m_alerts.begin(); it != m_alerts.end() && !queued; ++it) {
            if (!HoldsInt(*it, L"alertNo", alertNo) || !HoldsInt(*it, L"no", no)) continue;
            it->set_item(sciter::value(L"additionalMessage"), sciter::value(text));
            queued = true;
            onShow = it == m_alerts.begin();
        }
        if (!queued) m_additional = AdditionalText{alertNo, no, text};
    }
    if (!queued) {
        PostCommand(ID_CMD_UPDATE_ALERTMSG);
        return 0;
    }
    if (onShow) PostCommand(ID_CMD_ALERTMSGWIN_SHOW);  // drawn again, with the text
    return 1;
}

std::vector<AdditionalText> CAlertMessageWin::GetAdditionalMessages() const {
    std::lock_guard lock(m_lock);
    if (!m_additional) return {};
    return {*m_additional};
}

std::vector<sciter::value> CAlertMessageWin::GetQueue() const {
    std::lock_guard lock(m_lock);
    return {m_alerts.begin(), m_alerts.end()};
}

LRESULT CAlertMessageWin::OnHitTest(int x, int y) { return CaptionHitTest(m_caption, x, y); }

void CAlertMessageWin::Init() {
    const dom::element root(GetRootElement());
    if (root.is_valid()) {
        m_close = root.find_first("window-close");
        m_caption = root.find_first("#caption");
    }
    // Binds the root, places the window and marks it ready, last.
    CNotificationWin::Init();
}

bool CAlertMessageWin::on_event(HELEMENT, HELEMENT target, UINT type, UINT_PTR) {
    if (type == (BUTTON_CLICK | SINKING) && m_close.is_valid() && target == static_cast<HELEMENT>(m_close)) {
        ShowNext();
    }
    return true;
}

LRESULT CAlertMessageWin::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    if (msg == WM_COMMAND && LOWORD(wParam) == ID_CMD_ALERTMSGWIN_SHOW) {
        ShowFront();
        return 0;
    }
    if (msg == WM_COMMAND && LOWORD(wParam) == ID_CMD_UPDATE_ALERTMSG) {
        UpdateAlertMessage();
        return 0;
    }
    return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
}

void CAlertMessageWin::ShowFront() {
    std::optional<sciter::value> front;
    {
        std::lock_guard lock(m_lock);
        if (!m_alerts.empty()) front = m_alerts.front();
    }
    if (!front) {
        ShowWin(false);
        return;
    }
    CallItemFunction(*front, L"AlertPopwinBandAlertInfo");
    PlaceWindow();
    ShowUnlessFullScreen();
}

void CAlertMessageWin::UpdateAlertMessage() {
    if (!Root().is_valid()) return;
    std::wstring text;
    {
        std::lock_guard lock(m_lock);
        if (m_additional) text = m_additional->text;
    }
    callElementFunction(Root(), "UpdateAlertMessage", sciter::value(text));
}

LRESULT CAlertMessageWin::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL*) {
    if (wParam != kFadeTimer) return 0;
    if (m_fadeTotal <= 0 || m_fadeTotal % kFadeStep != 0) {
        KillTimer(GetHwnd(), kFadeTimer);
        return 0;
    }
    m_fadeStep += kFadeStep;
    if (m_fadeStep >= m_fadeTotal) {
        KillTimer(GetHwnd(), kFadeTimer);
        m_fadeStep = 0;
        ShowWin(false);
    }
    // No layered-window call here to set the alpha with.
    return 0;
}
