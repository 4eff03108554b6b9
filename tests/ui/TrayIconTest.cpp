#include "TrayIcon.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AlertExpiredWin.h"
#include "Config.h"
#include "Hooks.h"
#include "LoopbackPacketServer.h"
#include "UiTestSupport.h"

namespace test = uie::test;

namespace {

class ExpiredProbe : public CAlertExpiredWin {
public:
    void ShowAlertExpired(int unused, bool show) override {
        std::lock_guard guard(lock);
        calls.push_back(std::to_wstring(unused) + (show ? L",true" : L",false"));
    }
    std::mutex lock;
    std::vector<std::wstring> calls;
};

class TrayIconTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        saved_ = g_Config.m_config;
    }
    void TearDown() override {
        UiTest::TearDown();
        g_pTrayIcon = nullptr;
        g_pAlertExpiredWin = nullptr;
        g_pCommunication = nullptr;
        g_Config.m_config = saved_;
    }

    // The icon as the notification area shows it (resource number) and as the owner's
    // small icon; 0 when there is none.
    WORD Shown() const {
        NotifyIconState state;
        return GetNotifyIconState(owner_, CTrayIcon::kIconId, &state) ? GetIconResourceId(state.icon) : 0;
    }
    WORD OwnerIcon() const {
        return GetIconResourceId(reinterpret_cast<HICON>(SendMessageW(owner_, WM_GETICON, ICON_SMALL, 0)));
    }
    // The owner window, made and served on this thread, and the icon made for it.
    void MakeOnThisThread() {
        ProbeWindow& w = Make(ScrambledPage("window.htm"), false, L"TrayOwner");
        ASSERT_EQ(w.Start(), 0);
        owner_ = w.GetHwnd();
        tray_.Create(nullptr, owner_);
    }

    struConfig saved_;
    HWND owner_ = nullptr;
    CTrayIcon tray_;
};

TEST_F(TrayIconTest, BlinksThroughFourIconsAndStopsOnTheNormalOrOfflineOne) {
    g_Config.m_config.ShowMessageBox = true;
    MakeOnThisThread();
    ASSERT_TRUE(tray_.IsAdded());
    EXPECT_EQ(GetTimerPeriod(owner_, CTrayIcon::kBlinkTimer), CTrayIcon::kBlinkMs);
    tray_.SetBlink(true);
    std::vector<WORD> shown;
    for (int tick = 0; tick < 5; ++tick) {
        tray_.OnTimer();
        EXPECT_EQ(OwnerIcon(), Shown());
        shown.push_back(Shown());
    }
    EXPECT_EQ(shown, (std::vector<WORD>{143, 130, 131, 132, 143}));

    // Switched off while the server cannot be reached: the offline icon at once.
    CCommunication comm;
    comm.SetSocketThreadCount(1);
    comm.SetServer(L"127.0.0.1", std::to_wstring(LoopbackPacketServer::ClosedPort()), 1, 500);
    comm.m_nUserNo = 1;
    comm.UserLogout_syn();
    ASSERT_FALSE(comm.IsOnline());
    g_pCommunication = &comm;
    tray_.SetBlink(false);
    EXPECT_EQ(Shown(), 135);
    EXPECT_EQ(OwnerIcon(), 135);
    tray_.OnTimer();
    EXPECT_EQ(Shown(), 135);
    g_pCommunication = nullptr;

    // Without ShowMessageBox the alerts cannot make it blink, nor stop it.
    g_Config.m_config.ShowMessageBox = false;
    tray_.SetBlink(true);
    tray_.OnTimer();
    EXPECT_FALSE(tray_.GetBlink());
    EXPECT_EQ(Shown(), 135);

    tray_.Notify(CTrayIcon::kNotifyDelete);
    EXPECT_FALSE(tray_.IsAdded());
}

TEST_F(TrayIconTest, AStopRacingABlinkStepEndsOnTheNormalIcon) {
    g_Config.m_config.ShowMessageBox = true;
    tray_.Create(nullptr, nullptr);
    std::atomic<bool> done{false};
    std::thread steps([&] {
        while (!done) tray_.OnTimer();
    });
    ASSERT_TRUE(WaitFor([this] { return tray_.GetTimerTicks() > 0; }));
    int blinkFrames = 0;
    for (int i = 0; i < 100000; ++i) {
        tray_.SetBlink(true);
        tray_.SetBlink(false);
        blinkFrames += tray_.GetShownIndex() != CTrayIcon::kNormalIcon;
    }
    done = true;
    steps.join();
    EXPECT_EQ(blinkFrames, 0);
}

TEST_F(TrayIconTest, TipAndBalloonAreCutToTheirFields) {
    g_Config.m_config.trayIconHint = std::wstring(120, L'h') + std::wstring(80, L'i');
    MakeOnThisThread();
    tray_.ShowBalloon(std::wstring(70, L't'), std::wstring(300, L'x'));
    NotifyIconState state;
    ASSERT_TRUE(GetNotifyIconState(owner_, CTrayIcon::kIconId, &state));
    EXPECT_EQ(state.tip, std::wstring(120, L'h') + std::wstring(7, L'i'));
    EXPECT_EQ(state.infoTitle, std::wstring(63, L't'));
    EXPECT_EQ(state.info, std::wstring(255, L'x'));
    EXPECT_EQ(state.timeout, 10000u);
    EXPECT_EQ(state.infoFlags, NIIF_INFO);
    EXPECT_EQ(state.callbackMessage, WM_TRAYICON_NOTIFY);
    tray_.Notify(CTrayIcon::kNotifyDelete);
}

TEST_F(TrayIconTest, TheMenuAndTheMouseReachTheOwnerWindow) {
    // The owner runs its own loop, as the main window does, which routes the icon's
    // callback message to g_pTrayIcon.
    std::mutex lock;
    std::vector<WPARAM> commands;
    ProbeWindow& w = Make(ScrambledPage("window.htm"), true, L"TrayOwner");
    w.onCommand = [&](WPARAM id) {
        std::lock_guard guard(lock);
        commands.push_back(id);
    };
    ASSERT_EQ(w.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return w.GetState() == CSciterWindow::kStateReady; }));
    owner_ = w.GetHwnd();
    test::RunInPage(owner_, [this] { tray_.Create(nullptr, owner_); });
    g_pTrayIcon = &tray_;
    ExpiredProbe expired;
    g_pAlertExpiredWin = &expired;

    HookScope hooks;
    UINT defaultItem = 0;
    std::wstring pick = L"退出(&X)";
    Hooks().trackPopupMenu = [&](HWND, HMENU menu) {
        defaultItem = GetMenuDefaultItem(menu, FALSE, 0);
        return FindMenuCommand(menu, pick);
    };
    SendMessageW(owner_, WM_TRAYICON_NOTIFY, CTrayIcon::kIconId, WM_RBUTTONDOWN);
    pick = L"天气资讯";  // the floating bar's item, not the tray's
    SendMessageW(owner_, WM_TRAYICON_NOTIFY, CTrayIcon::kIconId, WM_RBUTTONDOWN);
    PostMessageW(owner_, WM_COMMAND, 0x1234, 0);  // all that came before has been handled
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard guard(lock);
        return !commands.empty() && commands.back() == 0x1234;
    }));
    EXPECT_EQ(commands, (std::vector<WPARAM>{105, 0x1234}));  // the exit question
    EXPECT_EQ(defaultItem, 0x8004u);
    EXPECT_EQ(GetForegroundWindow(), owner_);

    ShowWindow(owner_, SW_MINIMIZE);
    SendMessageW(owner_, WM_TRAYICON_NOTIFY, CTrayIcon::kIconId, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(owner_));
    EXPECT_FALSE(IsIconic(owner_));

    for (const UINT mouse : {WM_MOUSEHOVER, WM_MOUSELEAVE, WM_MOUSEMOVE, WM_RBUTTONUP})
        SendMessageW(owner_, WM_TRAYICON_NOTIFY, CTrayIcon::kIconId, mouse);
    EXPECT_EQ(expired.calls, (std::vector<std::wstring>{L"-1,true", L"-1,true"}));
    test::RunInPage(owner_, [this] { tray_.Notify(CTrayIcon::kNotifyDelete); });
}

}  // namespace
