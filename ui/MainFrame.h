// The main window: the page with the program's frames, the notices other threads post
// to it, and the orderly end of the window.
#pragma once

#include "SciterWindow.h"

class CMainFrame : public CSciterWindow {
public:
    CMainFrame();

    // Brings the tray icon up to date with the online flag (0 online, 4 offline), then
    // has the main page refresh its network-state line.
    void PostBottomNetState();
    // Have the pages read the user's profile again: the bottom bar and the home page.
    void PostBottomUserInfo();
    void PostHomePageUserInfo();

    // Settings saved and the main window destroyed on its own thread.
    void Exit();

private:
    // Posts WM_COMMAND with the id and lParam 0, only while the window exists.
    BOOL PostCommand(WORD id);
};

// Null until start-up makes the main frame.
extern CMainFrame* g_pMainFrame;
