// The main window as the communication layer sees it: a window handle and the
// notices posted to it. The page-window base takes over the window later.
#pragma once

#include <atomic>

#include "WinTypes.h"

// WM_COMMAND ids the main window's command handler answers.
constexpr WORD ID_CMD_BOTTOM_NETSTATE = 0x8035;

class CMainFrame {
public:
    void SetHwnd(HWND hwnd) { m_hWnd = hwnd; }
    HWND GetHwnd() const { return m_hWnd.load(); }

    // Brings the tray icon up to date with the online flag (0 online, 4 offline), then
    // has the main page refresh its network-state line.
    void PostBottomNetState();

private:
    // Posts WM_COMMAND with the id and lParam 0, only while the window exists.
    BOOL PostCommand(WORD id);

    std::atomic<HWND> m_hWnd{nullptr};
};

// Null until start-up makes the main frame.
extern CMainFrame* g_pMainFrame;
