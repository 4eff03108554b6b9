// The main window: the page with the caption bar, the bottom bar and six frames. When its
// page has loaded it makes the other long-lived windows and the tray icon, arms its
// timers and has every panel refreshed; afterwards it turns the notices other threads
// post into calls of its pages' functions, and it ends the program's windows in order.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "BmiTool.h"
#include "HealthElementDataGraph.h"
#include "HomePageAssessGraph.h"
#include "SciterWindow.h"
#include "UserOpPopGraph.h"

class CAlertExpiredWin;
class CAlertMessageWin;
class CFloatBarWin;
class CMessageWin;
class CTrayIcon;

class CMainFrame : public CSciterWindow {
public:
    // Without WS_VISIBLE: the window shows itself at the end of Init, or stays hidden
    // when the program started with the session.
    static constexpr DWORD kStyle = WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU;
    static constexpr int kFrameCount = 6;  // home, assessment, monitoring, archives, article, assistant
    static constexpr UINT_PTR kTrayTimer = 1;
    static constexpr UINT_PTR kPluseCheckTimer = 30;
    static constexpr UINT kPluseCheckMs = 30000;
    static constexpr UINT_PTR kUserOpTimer = 50;
    static constexpr UINT_PTR kBandTipTimerFirst = 60;  // one per frame, to 65
    // The user asked to end: the server's goodbye is not worth more than this.
    static constexpr std::chrono::seconds kLogoutAtExit{5};
    // How long Exit waits for the main window's own thread to end it: the whole end's bound
    // (the logout's and 3 s more), past which the exit's watch ends the process anyway.
    static constexpr std::chrono::seconds kExitEndBound = kLogoutAtExit + std::chrono::seconds(3);

    CMainFrame();
    ~CMainFrame() override;

    // Post wrappers, from any thread: each has the page function of its command run.
    void PostHomePageLastAssess();
    void PostHomePageUserInfo();
    void PostHomePageRealWeather();
    void PostHomePageLifeIndex();
    void PostHomePageUserEnv();
    void PostHomePageUserOpData();  // then the program-type chart
    void PostHomePageAlertToday();
    void PostHomePageArticleToday();
    void PostArticleNewArticleSummary();
    void PostAssessRecentAssess();
    void PostBottomUserInfo();
    // Brings the tray icon up to date with the online flag (0 online, 4 offline), then
    // has the main page refresh its network-state line.
    void PostBottomNetState();
    void PostAssistantAlertToday();
    void PostAssistantAlertConfigList();
    void PostBandUserInfo();
    // The two charts reload only when the chart player is installed.
    void PostLoadFlashTrend();
    void PostLoadApptypeFlash();
    void PostBandArticleFocus();
    void PostBandArticle();
    void PostBandTips(int index);
    void PostShowNavigationTip();
    void PostPageInit();
    // Has the main page set one health element's value: posts a heap map ("elementID",
    // "valueNo", "bRecordData", "bRefashDisp") that the window's command handler owns
    // and frees. 0 when posted; -1 (nothing posted, nothing kept) when the window does
    // not exist or the map could not be made.
    int PostRefreshElementValue(const std::wstring& elementID, int valueNo, bool recordFlag, bool displayFlag);
    // Has the function `name` called without argument in the element's document; the
    // element stays usable until the call is done. 0 when posted, -1 when not.
    int PostScriptCall(HELEMENT element, const char* name);
    int PostScriptCallW(HELEMENT element, const wchar_t* name);

    // Timers: the keep-alive poll, the band tips of each frame, the computer-use record.
    void StartTimers();
    // Seconds of the frame's band-tip timer; 0 or less stops it. An index outside 0-5
    // is refused (logged).
    void SetBandTipTimer(int index, int seconds);
    void SetUserOpTimer();
    void KillUserOpTimer();
    void KillAllTimers();

    // A page's call of a function of another page of this window, on the calling page's
    // thread: the function's result read as a number, or -1 when nothing was called.
    int RemoteCall(const std::wstring& rootID, const std::wstring& funcName, int paraFlag, const std::wstring& para);
    // A USB device arrived (changeType 1) or went (0): its vendor and product ids, read
    // from the device path, go to the health resources.
    void DeviceChange(const std::wstring& deviceName, int changeType);

    // The charts: null until Init makes them, which it does only while the chart
    // player is installed; until then the assessment chart may be made on its own.
    CHomePageAssessGraph* GetHomePageAssessGraph() const;
    CHomePageAssessGraph* CreateHomePageAssessGraph();
    CUserOpPopGraph* GetUserOpPopGraph() const;
    CHealthElementDataGraph* GetHealthElementDataGraph() const;
    CBmiTool* GetBmiTool() const;

    // Once, from any thread: settings saved, the expired-alert window closed, the user
    // logged out, then on the window's own thread the timers stopped, the tray icon
    // removed and the window destroyed, which ends the window's thread.
    void Exit();

    bool on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR reason) override;

protected:
    void Init() override;
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    LRESULT OnTimer(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    // 2 (drag) over the caption and the bottom bar, except over their buttons; else 1.
    LRESULT OnHitTest(int x, int y) override;

private:
    // The page's elements that the window uses; frames stand for their loaded documents.
    enum Elem {
        kRoot,
        kCaption,
        kChangeSkin,
        kBottom,
        kIcor1,
        kMinSize,
        kClose,
        kUserDevice,
        kFrameFirst,  // six frames in the order of kFrameCount
        kManager = kFrameFirst + kFrameCount,  // the monitoring frame's document again
        kElementTree,
        kFlashTrend,
        kUserOp,
        kShowFrameFirst,  // six tabs
        kCurrentShowFrame = kShowFrameFirst + kFrameCount,
        kElemCount
    };

    BOOL PostCommand(WORD id, LPARAM lParam = 0);
    // Posts a heap record as lParam; the record is freed when the post fails.
    template <class T>
    int PostOwned(WORD id, std::unique_ptr<T> record);

    void BindElements();
    dom::element Element(int which) const;
    dom::element FrameDoc(int frame) const { return Element(kFrameFirst + frame); }
    bool IsVisible() const;
    bool CreateChildWindows();
    void CreateCharts();
    bool CreateTrayIcon(bool visible);
    void EndLoginWindow();
    void FirstRefresh();
    void OpenPresentDevices();
    // The end of Exit, on the window's own thread.
    void EndWindow();

    // The commands, by kind.
    bool RunPageCommand(WORD id);
    void RunFloatBarCommand();
    void OpenSitePage(const wchar_t* path);
    void RunScriptCallCommand(LPARAM lParam);
    void RunRefreshElementCommand(LPARAM lParam);
    void RunQueuedValueCommand(WORD id);
    void RunBandTipsCommand(int index);
    void RunChartCommand(const char* function, int chartElem);
    void OnDeviceBroadcast(WPARAM event, LPARAM record);

    mutable std::mutex m_elementLock;  // bound on the window's thread, read by pages' threads
    std::array<dom::element, kElemCount> m_elements;

    std::atomic<bool> m_bExited{false};

    // What Init made; the globals point at these while they live.
    std::unique_ptr<CFloatBarWin> m_pFloatBarWin;
    std::unique_ptr<CAlertMessageWin> m_pAlertMessageWin;
    std::unique_ptr<CMessageWin> m_pMessageWin;
    std::unique_ptr<CAlertExpiredWin> m_pAlertExpiredWin;
    std::unique_ptr<CTrayIcon> m_pTrayIcon;

    mutable std::mutex m_chartLock;  // the chart pointers: made on one thread, read on others
    std::unique_ptr<CHomePageAssessGraph> m_pHomePageAssessGraph;
    std::unique_ptr<CUserOpPopGraph> m_pUserOpPopGraph;
    std::unique_ptr<CHealthElementDataGraph> m_pHealthElementDataGraph;
    std::unique_ptr<CBmiTool> m_pBmiTool;
};

// Null until start-up makes the main frame.
extern CMainFrame* g_pMainFrame;
