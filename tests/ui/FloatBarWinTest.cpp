#include "FloatBarWin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CSqliteDB.h"
#include "CSqliteQuery.h"
#include "DefaultDatabase.h"
#include "FloatBarTestFixture.h"
#include "LogReader.h"
#include "TempDir.h"

namespace test = uie::test;
using uie::value;

namespace {

using FloatBarWinTest = FloatBarTest;

std::vector<DWORD> Tracking(HWND hwnd) {
    TRACKMOUSEEVENT query{sizeof query, TME_QUERY, hwnd, 0};
    TrackMouseEvent(&query);
    return {query.dwFlags, query.dwHoverTime};
}

TEST_F(FloatBarWinTest, HoverOpensWithOneSoundSwitchesWithAnotherAndRepeatsNoTip) {
    StartBar();
    // 20 pixels from the screen's right edge, 2 pixels inside the work area's bottom.
    EXPECT_EQ(Rect(barHwnd_),
              (std::vector<long>{kWorkRight - 300, kWorkBottom - 42, kWorkRight - 20, kWorkBottom - 2}));
    const HWND surround = PopHwnd(CFloatBarWin::kSurround);
    const HWND navigate = PopHwnd(CFloatBarWin::kNavigate);
    SendMessageW(barHwnd_, WM_MOUSEMOVE, 0, At(60, 20));
    EXPECT_EQ(Tracking(barHwnd_), (std::vector<DWORD>{TME_HOVER | TME_LEAVE, CFloatBarWin::kHoverMs}));

    std::uint64_t seq = test::PageHost::LastSeq();
    const std::uint64_t sounds = GetPlaySoundCount();
    HoverAt(60);
    Settle(CFloatBarWin::kSurround);
    EXPECT_EQ(CallsIn(surround, seq),
              (std::vector<std::string>{"ShowNavigationTip", "FloatUserEnvRealWeather", "FloatUserEnvLifeIndex",
                                        "FloatUserEnvWeatherForecast"}));
    EXPECT_EQ(GetPlaySoundCount(), sounds + 1);
    EXPECT_EQ(Tracking(barHwnd_), (std::vector<DWORD>{TME_HOVER | TME_LEAVE, CFloatBarWin::kReHoverMs}));

    seq = test::PageHost::LastSeq();
    HoverAt(100);
    Settle(CFloatBarWin::kNavigate);
    EXPECT_FALSE(IsWindowVisible(surround));
    EXPECT_TRUE(IsWindowVisible(navigate));
    EXPECT_EQ(CallsIn(navigate, seq), (std::vector<std::string>{"ShowNavigationTip", "FloatNavigationArticle"}));
    EXPECT_EQ(GetPlaySoundCount(), sounds + 2);
    seq = test::PageHost::LastSeq();
    HoverAt(100);
    Settle(CFloatBarWin::kNavigate);
    EXPECT_EQ(CallsIn(navigate, seq), std::vector<std::string>{"FloatNavigationArticle"});
    EXPECT_EQ(GetPlaySoundCount(), sounds + 2);

    HoverAt(20);  // the logo opens nothing and closes what is open
    EXPECT_FALSE(IsWindowVisible(navigate));
    g_Config.m_config.CloseSwitchItemSound = true;
    SendMessageW(barHwnd_, WM_LBUTTONDOWN, 0, At(140, 20));
    EXPECT_TRUE(Shown(CFloatBarWin::kApp));
    EXPECT_EQ(GetPlaySoundCount(), sounds + 2);
}

TEST_F(FloatBarWinTest, LeavingTheBarStartsTheHideTimerUnlessTheMouseIsStillOnIt) {
    StartBar();
    HoverAt(60);
    const std::vector<long> bar = Rect(barHwnd_);
    PointAt(bar[0] + 5, bar[1] + 5);
    SendMessageW(barHwnd_, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(GetTimerPeriod(barHwnd_, CSciterWindow::kHideTimerId), 0u);
    EXPECT_EQ(Tracking(barHwnd_)[1], CFloatBarWin::kReHoverMs);
    PointAt(0, 0);
    SendMessageW(barHwnd_, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(GetTimerPeriod(barHwnd_, CSciterWindow::kHideTimerId), 200u);
    SendMessageW(barHwnd_, WM_TIMER, CSciterWindow::kHideTimerId, 0);
    EXPECT_FALSE(Shown(CFloatBarWin::kSurround));
    EXPECT_EQ(GetTimerPeriod(barHwnd_, CSciterWindow::kHideTimerId), 0u);
}

TEST_F(FloatBarWinTest, TheMenusWeatherItemPinsTheSurroundingsOpenAndAgainClosesThem) {
    Hooks().trackPopupMenu = [](HWND, HMENU menu) { return FindMenuCommand(menu, L"天气资讯"); };
    StartBar();
    SendMessageW(barHwnd_, WM_RBUTTONDOWN, 0, At(10, 10));
    ASSERT_TRUE(WaitFor([this] { return Shown(CFloatBarWin::kSurround); }));
    EXPECT_EQ(Pop(CFloatBarWin::kSurround).GetPinState(), CPopWin::kPinBottom);
    HoverAt(100);  // another pop-up opens beside it
    EXPECT_TRUE(Shown(CFloatBarWin::kSurround));
    SendMessageW(barHwnd_, WM_RBUTTONDOWN, 0, At(10, 10));
    ASSERT_TRUE(WaitFor([this] { return !Shown(CFloatBarWin::kSurround); }));
    EXPECT_EQ(Pop(CFloatBarWin::kSurround).GetPinState(), CPopWin::kPinFree);
}

TEST_F(FloatBarWinTest, NotShownAgainHidesTheBarAndStoresItsFlagOnce) {
    TempDir dir;
    MakeDefaultDatabase(dir / "user.db");
    g_Config.m_config.userDBName = text::FromUtf8((dir / "user.db").string());
    auto stored = [] {
        CSqliteDB db;
        db.open(g_Config.m_config.userDBName);
        return db.execQuery(L"select value from tConfig2 where ID='FloatBarInfo'").getStringField(0);
    };
    Hooks().trackPopupMenu = [](HWND, HMENU menu) { return FindMenuCommand(menu, L"不再显示悬浮窗"); };
    StartBar();
    SendMessageW(barHwnd_, WM_RBUTTONDOWN, 0, At(10, 10));
    ASSERT_TRUE(WaitFor([this] { return !IsWindowVisible(barHwnd_); }));
    EXPECT_EQ(stored(), L"0,-1,-1");
    EXPECT_EQ(g_Config.m_config.FloatBarInfo[0], 0);

    CSqliteDB db;
    db.open(g_Config.m_config.userDBName);
    db.execDML(L"update tConfig2 set value='untouched' where ID='FloatBarInfo'");
    SendMessageW(barHwnd_, WM_COMMAND, ID_CMD_FLOATBAR_HIDE, 0);  // shown again for now
    EXPECT_TRUE(IsWindowVisible(barHwnd_));
    SendMessageW(barHwnd_, WM_COMMAND, ID_CMD_FLOATBAR_CLOSE, 0);
    EXPECT_FALSE(IsWindowVisible(barHwnd_));
    EXPECT_EQ(stored(), L"untouched");
}

TEST_F(FloatBarWinTest, FullScreenHidesTheBarMeanwhileButNotOneTheUserHid) {
    StartBar();
    auto fullScreen = [this](LPARAM opened) { SendMessageW(host_, WM_APPBAR_NOTIFY, 2, opened); };
    fullScreen(1);
    EXPECT_TRUE(GetFullScreenFlag());
    EXPECT_FALSE(IsWindowVisible(barHwnd_));
    fullScreen(0);
    EXPECT_FALSE(GetFullScreenFlag());
    EXPECT_TRUE(IsWindowVisible(barHwnd_));

    SendMessageW(barHwnd_, WM_COMMAND, ID_CMD_FLOATBAR_HIDE, 0);
    fullScreen(1);
    fullScreen(0);
    EXPECT_FALSE(IsWindowVisible(barHwnd_));
    // Shown by the user during the next one and hidden again before it ends.
    SendMessageW(barHwnd_, WM_COMMAND, ID_CMD_FLOATBAR_HIDE, 0);
    fullScreen(1);
    SendMessageW(barHwnd_, WM_COMMAND, ID_CMD_FLOATBAR_HIDE, 0);
    SendMessageW(barHwnd_, WM_COMMAND, ID_CMD_FLOATBAR_HIDE, 0);
    fullScreen(0);
    EXPECT_FALSE(IsWindowVisible(barHwnd_));

    g_Config.m_config.AutoHideFullScreen = false;
    SendMessageW(barHwnd_, WM_COMMAND, ID_CMD_FLOATBAR_HIDE, 0);
    fullScreen(1);
    EXPECT_TRUE(IsWindowVisible(barHwnd_));
}

TEST_F(FloatBarWinTest, RemoteCallsReachTheNamedPopupOnly) {
    test::PageHost::RegisterForPage(L"/pop-popup.htm", "F", [](const test::PageCall& call) {
        return call.args.empty() ? value(L"none") : value(5);
    });
    StartBar();
    const std::uint64_t start = test::PageHost::LastSeq();
    const std::wstring unknown = Unique(L"popWin_x");
    EXPECT_EQ(bar_->RemoteCall(unknown, L"F", 0, L""), -1);
    EXPECT_EQ(CountLogLines(L"rootID=[" + unknown + L"]"), 1);
    EXPECT_EQ(test::PageHost::LastSeq(), start) << "nothing was called";

    EXPECT_EQ(bar_->RemoteCall(L"popWin_app", L"F", 1, L"p"), 5);
    ASSERT_EQ(test::PageHost::LastSeq(), start + 1);
    EXPECT_EQ(test::PageHost::Calls().back().hwnd, PopHwnd(CFloatBarWin::kApp));
    EXPECT_EQ(test::PageHost::Calls().back().args, std::vector<value>{value(L"p")});
    EXPECT_EQ(bar_->RemoteCall(L"popWin_note", L"F", 0, L"dropped"), 0);  // "none" is no number

    // The tip only where it can be seen: the bar is, its pop-ups are not.
    EXPECT_EQ(bar_->RemoteCall(L"popWin_surround", L"ShowNavigationTip", 0, L""), -1);
    EXPECT_EQ(bar_->RemoteCall(L"popWin", L"ShowNavigationTip", 0, L""), 0);
    EXPECT_EQ(CallsIn(barHwnd_, start), std::vector<std::string>{"ShowNavigationTip"});
    EXPECT_EQ(test::PageHost::LastSeq(), start + 3);

    EXPECT_EQ(bar_->RemoteCall(L"popWin_notify", L"", 1, L"p"), -1);
    CFloatBarWin idle;  // its pop-ups are not made yet
    const std::wstring function = Unique(L"F");
    EXPECT_EQ(idle.RemoteCall(L"popWin_navigate", function, 1, L"p"), -1);
    EXPECT_EQ(CountLogLines(L"pageID=[popWin_navigate],funcName=[" + function + L"]."), 1);
}

}  // namespace
