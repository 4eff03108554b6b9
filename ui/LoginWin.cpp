#include "LoginWin.h"

#include "Communication.h"
#include "Config.h"
#include "Quorvix.h"
#include "UiThreadManager.h"

CLoginWin* g_pLoginWin = nullptr;

namespace {
constexpr int kLoggedIn = 2;
}  // namespace

CLoginWin::CLoginWin() {
    m_cs.ownThread = true;
    m_cs.name = L"Login";
    m_cs.page = g_Config.m_config.loginPage;
    m_cs.style = kStyle;
    m_cs.exStyle = kExStyle;
    m_cs.showOnCreate = false;
    m_bContextMenu = false;
}

BOOL CLoginWin::PostUpdateLoginStatus() {
    const HWND hwnd = GetHwnd();
    // A null handle would post to the calling thread instead.
    if (hwnd == nullptr) return FALSE;
    return PostMessageW(hwnd, WM_COMMAND, ID_CMD_LOGIN_STATUS, 0);
}

void CLoginWin::Init() {
    m_root = dom::element(GetRootElement());
    if (m_root.is_valid()) {
        m_caption = m_root.find_first("#window-caption");
        m_close = m_root.find_first("#window-close");
    }
    SetTitle(L"Quorvix---登录");
    CSciterWindow::Init();
}

LRESULT CLoginWin::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    if (msg == WM_COMMAND && LOWORD(wParam) == ID_CMD_LOGIN_STATUS) {
        if (m_root.is_valid()) {
            const std::wstring status = g_pCommunication != nullptr ? g_pCommunication->GetStatusText() : L"";
            callElementFunction(m_root, "UpdateLoginStatusInfo", sciter::value(status));
        }
        return 0;
    }
    CSciterWindow::OnCommand(msg, wParam, lParam, handled);
    return 0;
}

bool CLoginWin::on_event(HELEMENT, HELEMENT target, UINT type, UINT_PTR) {
    if (type != (BUTTON_CLICK | SINKING) || !m_close.is_valid() || target != static_cast<HELEMENT>(m_close)) {
        return false;
    }
    const int loginState = g_pCommunication != nullptr ? g_pCommunication->m_nLoginState.load() : 0;
    if (loginState == kLoggedIn) {
        ShowWindow(GetHwnd(), SW_HIDE);
        return true;
    }
    g_nRunState = 4;
    // Every UI thread waiting for a message, this one too, wakes and sees the run state.
    g_UiThreads.WakeAll();
    PostMessageW(GetHwnd(), WM_NULL, 0, 0);
    return true;
}

LRESULT CLoginWin::OnHitTest(int, int) { return HTCLIENT; }
