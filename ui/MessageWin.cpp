#include "MessageWin.h"

#include "CxLog.h"

std::atomic<CMessageWin*> g_pMessageWin{nullptr};

namespace {

// A key holds exactly this number; texts and other kinds never match.
bool HoldsNumber(const sciter::value& v, int number) {
    if (v.is_int()) return v.get_int() == number;
    return v.is_float() && v.get_double() == number;
}

bool IsAlert(const sciter::value& message, int alertNo, int no) {
    const sciter::value keys = CNotificationWin::Keys(message);
    return HoldsNumber(keys.get_item(sciter::value(L"alertNo")), alertNo) &&
           HoldsNumber(keys.get_item(sciter::value(L"no")), no);
}

// Sets the key where Keys reads it, so the page gets the message in its queued shape.
void SetKey(sciter::value& message, const wchar_t* key, const std::wstring& text) {
    if (!message.is_array()) {
        message.set_item(sciter::value(key), sciter::value(text));
        return;
    }
    sciter::value keys = message.nth(0);
    keys.set_item(sciter::value(key), sciter::value(text));
    message.set_nth(0, std::move(keys));
}

}  // namespace

CMessageWin::CMessageWin(const std::wstring& page) : CNotificationWin(L"MessageWin", page) {}

void CMessageWin::AddMessage(const sciter::value& message, int) {
    {
        std::lock_guard lock(m_lock);
        m_messages.push_back(message);
    }
    PostShowCommand(ID_CMD_MESSAGEWIN_SHOW);
}

int CMessageWin::SetAdditionalMessage(int alertNo, int no, const std::wstring& text) {
    {
        std::lock_guard lock(m_lock);
        for (sciter::value& message : m_messages) {
            if (!IsAlert(message, alertNo, no)) continue;
            SetKey(message, L"additionalMessage", text);
            return 1;
        }
        m_additional = AdditionalText{alertNo, no, text};
    }
    PostCommand(ID_CMD_UPDATE_ALERTMSG);
    return 0;
}

std::vector<AdditionalText> CMessageWin::GetAdditionalMessages() const {
    std::lock_guard lock(m_lock);
    if (!m_additional) return {};
    return {*m_additional};
}

LRESULT CMessageWin::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    if (msg == WM_COMMAND && LOWORD(wParam) == ID_CMD_MESSAGEWIN_SHOW) {
        ShowStep();
        return 0;
    }
    if (msg == WM_COMMAND && LOWORD(wParam) == ID_CMD_UPDATE_ALERTMSG) {
        UpdateAlertMessage();
        return 0;
    }
    return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
}

void CMessageWin::ShowStep() {
    std::optional<sciter::value> front;
    {
        std::lock_guard lock(m_lock);
        if (!m_messages.empty()) {
            front = std::move(m_messages.front());
            m_messages.pop_front();
        }
    }
    if (!front) {
        ShowWindow(GetHwnd(), SW_HIDE);
        if (Root().is_valid()) callScript(Root(), "CloseWinAfterProc");
        return;
    }
    CallItemFunction(*front, L"BandCommonMessage");
    ShowUnlessFullScreen();
}

void CMessageWin::CloseStep() {
    bool queued = false;
    {
        std::lock_guard lock(m_lock);
        queued = !m_messages.empty();
    }
    if (queued) {
        ShowStep();
    } else {
        ShowWindow(GetHwnd(), SW_HIDE);
    }
}

void CMessageWin::UpdateAlertMessage() {
    if (!Root().is_valid()) return;
    std::wstring text;
    {
        std::lock_guard lock(m_lock);
        if (m_additional) text = m_additional->text;
    }
    std::optional<sciter::value> parsed = sciter::value::from_json(text);
    if (!parsed) {
        LOGF(LOG_WARNING, L"CMessageWin::OnCommand", L"additional message is no JSON, passed as text:[%s]",
             text.c_str());
        parsed = sciter::value(text);
    }
    callElementFunction(Root(), "UpdateAlertMessage", *parsed);
}
