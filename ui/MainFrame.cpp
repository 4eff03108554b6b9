#include "MainFrame.h"

#include "Communication.h"
#include "TrayIcon.h"
#include "Window.h"

CMainFrame* g_pMainFrame = nullptr;

BOOL CMainFrame::PostCommand(WORD id) {
    const HWND hwnd = m_hWnd.load();
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
