// The main window: the page with the program's frames, the notices other threads post
// to it, and the orderly end of the window.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "HomePageAssessGraph.h"
#include "SciterWindow.h"

class CMainFrame : public CSciterWindow {
public:
    CMainFrame();
    ~CMainFrame() override;

    // Brings the tray icon up to date with the online flag (0 online, 4 offline), then
    // has the main page refresh its network-state line.
    void PostBottomNetState();
    // Have the pages read the user's profile again: the bottom bar and the home page.
    void PostBottomUserInfo();
    void PostHomePageUserInfo();
    // The bound user information, after the extended profile changed.
    void PostBandUserInfo();
    // The assessment frame's recent assessment and the home page's last assessment.
    void PostAssessRecentAssess();
    void PostHomePageLastAssess();
    // The main page reloads its trend chart; only when the chart player is installed.
    void PostLoadFlashTrend();
    // Has the main page set one health element's value: posts a heap map ("elementID",
    // "valueNo", "bRecordData", "bRefashDisp") that the window's command handler owns
    // and frees. 0 when posted; -1 (nothing posted, nothing kept) when the window does
    // not exist or the map could not be made.
    int PostRefreshElementValue(const std::wstring& elementID, int valueNo, bool recordFlag, bool displayFlag);

    // The home page's assessment chart: null until created. The main frame's own
    // initialisation creates it; until that exists, whoever sets the frame up does.
    CHomePageAssessGraph* GetHomePageAssessGraph() const;
    // Creates the chart once; later calls return the same object.
    CHomePageAssessGraph* CreateHomePageAssessGraph();

    // Settings saved, the user logged out and the main window destroyed on its own thread.
    void Exit();

protected:
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

private:
    // Posts WM_COMMAND with the id and lParam 0, only while the window exists.
    BOOL PostCommand(WORD id, LPARAM lParam = 0);

    mutable std::mutex m_chartLock;  // the chart pointer: made on one thread, read on others
    std::unique_ptr<CHomePageAssessGraph> m_pHomePageAssessGraph;
};

// Null until start-up makes the main frame.
extern CMainFrame* g_pMainFrame;
