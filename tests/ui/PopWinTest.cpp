#include "PopWin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FloatBarTestFixture.h"

namespace test = uie::test;

namespace {

using PopWinTest = FloatBarTest;

// The user picks an item of the pop-up's pin menu.
bool PickMenuItem(HWND hwnd, const char* item) {
    bool handled = false;
    test::RunInPage(hwnd, [&] {
        handled = test::SendEvent(test::Find(hwnd, item), HANDLE_BEHAVIOR_EVENT, MENU_ITEM_CLICK);
    });
    return handled;
}

TEST_F(PopWinTest, EachWrapperRunsItsPageFunctionOnThePopupsThread) {
    StartBar();
    const std::uint64_t start = test::PageHost::LastSeq();
    for (const Popup which : {CFloatBarWin::kNote, CFloatBarWin::kSurround}) {
        CPopWin& pop = Pop(which);
        pop.PostFloatUserEnvRealWeather();
        pop.PostFloatUserEnvLifeIndex();
        pop.PostFloatUserEnvWeatherForecast();
        pop.PostFloatNavigationArticle();
        pop.PostFloatUserOpInfo();
        pop.PostFloatAlertTodayAlertInfo();
        pop.PostShowNavigationTip();
        pop.PostFloatLoadFlashTrend();  // no chart player: nothing
    }
    Hooks().flashInstalled = true;
    Pop(CFloatBarWin::kNote).PostFloatLoadFlashTrend();
    Settle(CFloatBarWin::kNote);
    Settle(CFloatBarWin::kSurround);

    std::vector<std::string> posted{"FloatUserEnvRealWeather", "FloatUserEnvLifeIndex", "FloatUserEnvWeatherForecast",
                                    "FloatNavigationArticle",  "FloatUserenvUserOpInfo", "FloatAlertTodayAlertInfo",
                                    "ShowNavigationTip"};
    EXPECT_EQ(CallsIn(PopHwnd(CFloatBarWin::kSurround), start), posted);
    posted.push_back("LoadFlashTrend");
    EXPECT_EQ(CallsIn(PopHwnd(CFloatBarWin::kNote), start), posted);
    // The note pop-up has a thread of its own; the others share the bar's.
    const DWORD barThread = GetWindowThreadProcessId(barHwnd_, nullptr);
    EXPECT_EQ(GetWindowThreadProcessId(PopHwnd(CFloatBarWin::kSurround), nullptr), barThread);
    for (const auto& call : test::PageHost::Calls()) {
        if (call.seq <= start) continue;
        EXPECT_EQ(call.thread, GetWindowThreadProcessId(call.hwnd, nullptr)) << call.name;
        EXPECT_EQ(call.thread == barThread, call.hwnd != PopHwnd(CFloatBarWin::kNote)) << call.name;
    }
}

TEST_F(PopWinTest, LockKeepsItOpenBelowEverythingAndCancelLockHidesItWithItsStyleBack) {
    StartBar();
    HoverAt(60);
    const HWND pop = PopHwnd(CFloatBarWin::kSurround);
    ASSERT_TRUE(PickMenuItem(pop, "#lock"));
    EXPECT_EQ(Pop(CFloatBarWin::kSurround).GetPinState(), CPopWin::kPinBottom);
    EXPECT_EQ(GetWindow(pop, GW_HWNDLAST), pop);
    // Neither the bar's hide nor the next pop-up closes it.
    test::RunInPage(barHwnd_, [this] { bar_->ShowPopup(&Pop(CFloatBarWin::kSurround), false); });
    HoverAt(100);
    test::RunInPage(barHwnd_, [this] { bar_->ShowPopup(nullptr, false); });
    EXPECT_TRUE(IsWindowVisible(pop));
    EXPECT_FALSE(Shown(CFloatBarWin::kNavigate));

    ASSERT_TRUE(PickMenuItem(pop, "#mosttop"));
    EXPECT_EQ(Pop(CFloatBarWin::kSurround).GetPinState(), CPopWin::kPinTopmost);
    EXPECT_EQ(GetWindow(pop, GW_HWNDFIRST), pop);
    ASSERT_TRUE(PickMenuItem(pop, "#cancellock"));
    EXPECT_FALSE(IsWindowVisible(pop));
    EXPECT_EQ(Pop(CFloatBarWin::kSurround).GetPinState(), CPopWin::kPinFree);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(pop, GWL_EXSTYLE)), CSciterWindow::kCornerExStyle);
    EXPECT_FALSE(PickMenuItem(pop, "#window-caption"));
}

TEST_F(PopWinTest, MovesStayTwoPixelsInsideTheWorkAreaAndTheCaptionDrags) {
    StartBar();
    for (const Popup which : {CFloatBarWin::kNavigate, CFloatBarWin::kNote}) {
        const HWND pop = PopHwnd(which);
        MoveWindow(pop, -50, 300, 200, 150, FALSE);
        EXPECT_EQ(Rect(pop), (std::vector<long>{2, 300, 202, 450}));
        MoveWindow(pop, 1800, 1000, 200, 150, FALSE);
        EXPECT_EQ(Rect(pop), (std::vector<long>{kWorkRight - 202, kWorkBottom - 152, kWorkRight - 2, kWorkBottom - 2}));
        // Larger than the work area: it keeps its left and top edges in.
        MoveWindow(pop, 100, 300, 2000, 1100, FALSE);
        EXPECT_EQ(Rect(pop), (std::vector<long>{2, 2, 2002, 1102}));
        EXPECT_EQ(SendMessageW(pop, WM_WINDOWPOSCHANGING, 0, 0), 0);  // no record: nothing to keep in
    }
    MoveWindow(barHwnd_, -50, -50, 280, 40, FALSE);
    EXPECT_EQ(Rect(barHwnd_), (std::vector<long>{2, 2, 282, 42}));

    const HWND pop = PopHwnd(CFloatBarWin::kApp);
    MoveWindow(pop, 400, 300, 200, 150, FALSE);
    EXPECT_EQ(SendMessageW(pop, WM_NCHITTEST, 0, At(450, 310)), 2);
    EXPECT_EQ(SendMessageW(pop, WM_NCHITTEST, 0, At(450, 330)), 1);
}

TEST_F(PopWinTest, OpensAboveTheBarOrBelowItWhenThereIsNoRoom) {
    StartBar();
    MoveWindow(barHwnd_, 500, 100, 280, 40, FALSE);
    HoverAt(140);
    EXPECT_EQ(Rect(PopHwnd(CFloatBarWin::kApp)), (std::vector<long>{500, 144, 700, 294}));
    MoveWindow(barHwnd_, 500, 700, 280, 40, FALSE);
    HoverAt(180);
    EXPECT_EQ(Rect(PopHwnd(CFloatBarWin::kNotify)), (std::vector<long>{500, 546, 700, 696}));
}

TEST_F(PopWinTest, TheHideTimerClosesItOnceTheMouseIsOverNeitherItNorTheBar) {
    StartBar();
    HoverAt(60);
    const HWND pop = PopHwnd(CFloatBarWin::kSurround);
    SendMessageW(pop, WM_MOUSEMOVE, 0, At(10, 10));
    EXPECT_EQ(GetTimerPeriod(pop, CSciterWindow::kHideTimerId), 200u);
    const std::vector<long> bar = Rect(barHwnd_);
    PointAt(bar[0] + 5, bar[1] + 5);
    SendMessageW(pop, WM_TIMER, CSciterWindow::kHideTimerId, 0);
    EXPECT_TRUE(IsWindowVisible(pop));
    PointAt(0, 0);
    SendMessageW(pop, WM_TIMER, CSciterWindow::kHideTimerId, 0);
    EXPECT_FALSE(IsWindowVisible(pop));
    EXPECT_EQ(bar_->GetCurrentPopup(), nullptr);
    EXPECT_EQ(GetTimerPeriod(pop, CSciterWindow::kHideTimerId), 0u);

    // The timer of a pop-up the bar switched away from leaves the new one open.
    HoverAt(60);
    SendMessageW(pop, WM_MOUSEMOVE, 0, At(10, 10));
    HoverAt(100);
    const std::vector<long> next = Rect(PopHwnd(CFloatBarWin::kNavigate));
    PointAt(next[0] + 5, next[1] + 5);
    SendMessageW(pop, WM_TIMER, CSciterWindow::kHideTimerId, 0);
    EXPECT_TRUE(Shown(CFloatBarWin::kNavigate));
    EXPECT_EQ(GetTimerPeriod(pop, CSciterWindow::kHideTimerId), 0u);

    // Without a bar the timer only stops.
    CPopWin orphan(L"Orphan", ScrambledPage("pop-popup.htm"), true, nullptr);
    ASSERT_EQ(orphan.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return orphan.GetState() == CSciterWindow::kStateReady; }));
    SendMessageW(orphan.GetHwnd(), WM_MOUSEMOVE, 0, At(1, 1));
    SendMessageW(orphan.GetHwnd(), WM_TIMER, CSciterWindow::kHideTimerId, 0);
    EXPECT_EQ(GetTimerPeriod(orphan.GetHwnd(), CSciterWindow::kHideTimerId), 0u);
}

}  // namespace
