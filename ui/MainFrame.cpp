#include "MainFrame.h"

#include <new>

#include "Communication.h"
#include "Config.h"
#include "Hooks.h"
#include "Quorvix.h"
#include "TrayIcon.h"
#include "Value.h"
#include "Window.h"
#include "global.h"

CMainFrame* g_pMainFrame = nullptr;

CMainFrame::CMainFrame() {
    m_cs.ownThread = true;
    m_cs.name = L"Main";
    m_cs.page = g_Config.m_config.mainPage;
    m_cs.style = WS_POPUP | WS_SYSMENU;
    m_cs.showOnCreate = g_nRunMode != 1;  // started with the session: stays hidden
}

CMainFrame::~CMainFrame() = default;

BOOL CMainFrame::PostCommand(WORD id, LPARAM lParam) {
    const HWND hwnd = GetHwnd();
    // A null handle would post to the calling thread instead.
    if (hwnd == nullptr || !IsWindow(hwnd)) return FALSE;
    return PostMessageW(hwnd, WM_COMMAND, id, lParam);
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

void CMainFrame::PostBandUserInfo() { PostCommand(ID_CMD_BAND_USERINFO); }

void CMainFrame::PostAssessRecentAssess() { PostCommand(ID_CMD_ASSESS_RECENT); }

void CMainFrame::PostHomePageLastAssess() { PostCommand(ID_CMD_HOMEPAGE_LASTASSESS); }

void CMainFrame::PostLoadFlashTrend() {
    if (IsFlashInstalled()) PostCommand(ID_CMD_LOAD_FLASHTREND);
}

int CMainFrame::PostRefreshElementValue(const std::wstring& elementID, int valueNo, bool recordFlag,
                                        bool displayFlag) {
    const HWND hwnd = GetHwnd();
    if (hwnd == nullptr || !IsWindow(hwnd)) return -1;
    std::unique_ptr<uie::value> map;
    try {
        map = std::make_unique<uie::value>(uie::value::make_map());
        map->set_item(uie::value(L"elementID"), uie::value(elementID));
        map->set_item(uie::value(L"valueNo"), uie::value(valueNo));
        map->set_item(uie::value(L"bRecordData"), uie::value(recordFlag));
        map->set_item(uie::value(L"bRefashDisp"), uie::value(displayFlag));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (!PostCommand(ID_CMD_REFRESH_ELEMENT, reinterpret_cast<LPARAM>(map.get()))) return -1;
    map.release();  // the command handler owns it now
    return 0;
}

CHomePageAssessGraph* CMainFrame::GetHomePageAssessGraph() const {
    std::lock_guard lock(m_chartLock);
    return m_pHomePageAssessGraph.get();
}

CHomePageAssessGraph* CMainFrame::CreateHomePageAssessGraph() {
    std::lock_guard lock(m_chartLock);
    if (!m_pHomePageAssessGraph)
        m_pHomePageAssessGraph = std::make_unique<CHomePageAssessGraph>("../graph/homePageAssess/homePageAssess.swf",
                                                                        "../graph/homePageAssess/data.xml");
    return m_pHomePageAssessGraph.get();
}

LRESULT CMainFrame::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    if (msg == WM_COMMAND && LOWORD(wParam) == ID_CMD_REFRESH_ELEMENT) {
        // Posted by PostRefreshElementValue: freed here in every case; the health
        // elements have no refresh to hand it to yet.
        const std::unique_ptr<uie::value> map(reinterpret_cast<uie::value*>(lParam));
        return 0;
    }
    return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
}

void CMainFrame::Exit() {
    g_Config.SaveConfig();
    if (g_pCommunication != nullptr) g_pCommunication->UserLogout_syn();
    Sleep(500);
    const HWND hwnd = GetHwnd();
    // Only the window's own thread may destroy it: the base command handler does.
    if (hwnd != nullptr && IsWindow(hwnd)) SendMessageW(hwnd, WM_COMMAND, ID_CMD_DESTROY_WINDOW, 0);
}
