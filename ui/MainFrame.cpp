#include "MainFrame.h"

#include "Communication.h"
#include "Config.h"
#include "Hooks.h"
#include "Quorvix.h"
#include "TrayIcon.h"
#include "Window.h"

CMainFrame* g_pMainFrame = nullptr;

CMainFrame::CMainFrame() {
    m_cs.ownThread = true;
    m_cs.name = L"Main";
    m_cs.page = g_Config.m_config.mainPage;
    m_cs.style = WS_POPUP | WS_SYSMENU;
    m_cs.showOnCreate = g_nRunMode != 1;  // started with the session: stays hidden
}

BOOL CMainFrame::PostCommand(WORD id) {
    const HWND hwnd = GetHwnd();
    // A null handle would post to the calling thread instead.
    if (hwnd == nullptr || !IsWindow(hwnd)) return FALSE;
    return PostMessageW(hwnd, WM_COMMAND, id, 0);
}

void CMainFrame::PostBottomNetState() {
    if (g_pTrayIcon) {
        const bool offline = g_pCommunication && !g_pCommunication->IsOnline();
        g_pTrayIcon->SetIconIndex(offline ? CTrayIcon::kOfflineIcon : CTrayIcon::kNormalIcon);
        g_pTrayIcon->Notify(CTrayIcon::kNotifyModify);
    }
    PostCommand(ID_CMD_BOTTOM_NETSTATE);
}

void CMainFrame::PostBottomUserInfo() { PostCommand(ID_CMD_BOTTOM_USERINFO); }

void CMainFrame::PostHomePageUserInfo() { PostCommand(ID_CMD_HOMEPAGE_USERINFO); }

void CMainFrame::Exit() {
    g_Config.SaveConfig();
    Sleep(500);
    const HWND hwnd = GetHwnd();
    // Only the window's own thread may destroy it: the base command handler does.
    if (hwnd != nullptr && IsWindow(hwnd)) SendMessageW(hwnd, WM_COMMAND, ID_CMD_DESTROY_WINDOW, 0);
}
