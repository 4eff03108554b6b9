#include "MainFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Alert.h"
#include "AlertExpiredWin.h"
#include "AlertMessageWin.h"
#include "CSqliteDB.h"
#include "CSqliteQuery.h"
#include "Config.h"
#include "DefaultDatabase.h"
#include "DeviceBroadcast.h"
#include "FloatBarWin.h"
#include "HealthElementSourceType.h"
#include "HealthResources.h"
#include "Hooks.h"
#include "LogReader.h"
#include "LoginWin.h"
#include "LoopbackPacketServer.h"
#include "MessageWin.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "TrayIcon.h"
#include "UiTestSupport.h"
#include "UserOperation.h"
#include "bloodPressureWin.h"
#include "pedometerWin.h"

namespace test = uie::test;
using uie::value;

namespace {

// Stands in for the health resources: records what the main window hands it and
// gives out the values a test queued.
class HealthProbe : public CHealthResources {
public:
    int SetElementValueNo(const std::wstring& id, int valueNo, bool record, bool queue) override {
        std::lock_guard guard(lock_);
        values_.push_back(id + L"," + std::to_wstring(valueNo) + L"," + (record ? L"1" : L"0") + L"," +
                          (queue ? L"1" : L"0"));
        return 0;
    }
    value PopElementListMsg() override { return Pop(lists_); }
    value PopPageMsg() override { return Pop(pageValues_); }
    int DevChangeProc(int vendorID, int productID, int arrived) override {
        std::lock_guard guard(lock_);
        devices_.push_back({vendorID, productID, arrived});
        return 1;
    }

    void QueueList(value v) {
        std::lock_guard guard(lock_);
        lists_.push_back(std::move(v));
    }
    void QueuePageValue(value v) {
        std::lock_guard guard(lock_);
        pageValues_.push_back(std::move(v));
    }
    std::vector<std::wstring> Values() {
        std::lock_guard guard(lock_);
        return values_;
    }
    std::vector<std::vector<int>> Devices() {
        std::lock_guard guard(lock_);
        return devices_;
    }

private:
    value Pop(std::deque<value>& queue) {
        std::lock_guard guard(lock_);
        if (queue.empty()) return {};
        value v = std::move(queue.front());
        queue.pop_front();
        return v;
    }

    std::mutex lock_;
    std::vector<std::wstring> values_;
    std::vector<std::vector<int>> devices_;
    std::deque<value> lists_;
    std::deque<value> pageValues_;
};

class UserOpProbe : public CUserOperation {
public:
    int RecordUserOpertion() override {
        ++records;
        return 0;
    }
    std::atomic<int> records{0};
};

class AlertProbe : public CAlert {
public:
    int ReadAlertFormDB() override {
        ++reads;
        return 1;
    }
    std::atomic<int> reads{0};
};

// A source dictionary in which the pedometer 122 and the monitor 1002 are plugged in.
class PresentSources : public CHealthElementSourceType {
public:
    PresentSources() {
        pedometer.sourceNo = 122;
        monitor.sourceNo = 1002;
    }
    struHealthElementSourceTypeW* FindPresentDevice(int base) override {
        if (base == CPedometerWin::kFirstSource) return &pedometer;
        return base == CBloodPressureWin::kFirstSource ? &monitor : nullptr;
    }
    struHealthElementSourceTypeW pedometer;
    struHealthElementSourceTypeW monitor;
};

// A device window that records the device reads started on it, "sourceNo,start".
template <class Win>
class ReadProbe : public Win {
public:
    int DevChangeProc(const struHealthElementSourceTypeW* source, int start) override {
        std::lock_guard guard(lock_);
        reads_.push_back(std::to_string(source->sourceNo) + "," + std::to_string(start));
        return 0;
    }
    std::vector<std::string> Reads() {
        std::lock_guard guard(lock_);
        return reads_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> reads_;
};

class TestFrame : public CMainFrame {
public:
    using CMainFrame::OnHitTest;
    using CMainFrame::OnTimer;
};

class MainFrameTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        savedConfig_ = g_Config.m_config;
        savedRunMode_ = g_nRunMode;
        g_nRunMode = 0;
        struConfig& c = g_Config.m_config;
        c.popPage = c.alertPopPage = c.commonMessagePage = c.expiredAlertPage = ScrambledPage("window.htm");
        c.TipSeconds.fill(0);  // no band tip unless a test arms one
        c.FloatBarInfo = {0, -1, -1};
        Hooks().exitProcess = [this](int code) { exitCode_ = code; };
        Hooks().messageBox = [this](const std::wstring& text, const std::wstring& caption, UINT type) {
            std::lock_guard guard(lock_);
            boxes_.push_back(text + L"|" + caption + L"|" + std::to_wstring(type));
            return boxAnswer_.load();
        };
        Hooks().openDocument = [this](const std::wstring& target) {
            std::lock_guard guard(lock_);
            opened_.push_back(target);
            return true;
        };
        for (const wchar_t* page : {L"/main-frame.htm", L"/main-frame-bare.htm"})
            test::PageHost::RegisterForPage(page, "Settled", [](const test::PageCall&) { return value(); });
        g_pHealthResources = &health_;
        g_pUserOperation = &userOp_;
        g_pAlert = &alert_;
    }
    void TearDown() override {
        UiTest::TearDown();
        frame_.reset();
        g_pMainFrame = nullptr;
        g_pLoginWin = nullptr;
        g_pHealthResources = nullptr;
        g_pUserOperation = nullptr;
        g_pAlert = nullptr;
        g_pPedometer = nullptr;
        g_pBloodPressure = nullptr;
        g_pHealthElementSourceType = nullptr;
        g_Config.m_config = savedConfig_;
        g_nRunMode = savedRunMode_;
    }

    TestFrame& Start(const std::string& page = "main-frame.htm") {
        g_Config.m_config.mainPage = ScrambledPage(page);
        frame_ = std::make_unique<TestFrame>();
        g_pMainFrame = frame_.get();
        EXPECT_EQ(frame_->Start(), 0);
        EXPECT_TRUE(WaitFor([this] { return frame_->GetState() == CSciterWindow::kStateReady; }));
        hwnd_ = frame_->GetHwnd();
        Settle();  // the start's own refresh is done
        return *frame_;
    }

    // The main window's page calls after `after`, as "name@page file".
    std::vector<std::string> FrameCalls(std::uint64_t after = 0) const {
        std::vector<std::string> calls;
        for (const auto& call : test::PageHost::Calls()) {
            if (call.seq <= after || call.hwnd != hwnd_ || call.name == "Settled") continue;
            const std::string uri = text::ToUtf8(call.uri);
            calls.push_back(call.name + "@" + uri.substr(uri.rfind('/') + 1));
        }
        return calls;
    }
    // Posts a command and waits for the page call it makes.
    std::optional<test::PageCallRecord> PostAndWait(WORD id, const char* call) {
        const std::uint64_t seq = test::PageHost::LastSeq();
        EXPECT_TRUE(PostMessageW(hwnd_, WM_COMMAND, id, 0));
        return test::PageHost::WaitForCall(call, std::chrono::seconds(3), seq);
    }
    // Returns once the window has handled everything posted to it before.
    void Settle() {
        const std::uint64_t seq = test::PageHost::LastSeq();
        ASSERT_EQ(frame_->PostScriptCall(dom::element::root_element(hwnd_), "Settled"), 0);
        ASSERT_TRUE(test::PageHost::WaitForCall("Settled", std::chrono::seconds(3), seq));
    }
    dom::element FrameDocument(const char* frameId) const {
        return dom::element(test::Find(hwnd_, frameId)).child(0);
    }
    std::vector<std::wstring> Opened() {
        std::lock_guard guard(lock_);
        return opened_;
    }
    std::vector<std::wstring> Boxes() {
        std::lock_guard guard(lock_);
        return boxes_;
    }

    HookScope hooks_;
    HealthProbe health_;
    UserOpProbe userOp_;
    AlertProbe alert_;
    struConfig savedConfig_;
    int savedRunMode_ = 0;
    std::unique_ptr<TestFrame> frame_;
    HWND hwnd_ = nullptr;
    std::mutex lock_;
    std::vector<std::wstring> boxes_;
    std::vector<std::wstring> opened_;
    std::atomic<int> boxAnswer_{IDCANCEL};
    std::atomic<int> exitCode_{-100};
};

// ---- start-up -------------------------------------------------------------------------------

TEST_F(MainFrameTest, StartUpRefreshesThePanelsInOrderAndTakesOverFromTheLoginWindow) {
    CommScope comm;
    CLoginWin login;
    login.m_cs.page = ScrambledPage("login.htm");
    ASSERT_EQ(login.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return login.GetState() == CSciterWindow::kStateReady; }));
    g_pLoginWin = &login;

    TestFrame& frame = Start();
    ASSERT_TRUE(test::PageHost::WaitForCall("HomePageArticleToday", std::chrono::seconds(3)));
    Settle();
    EXPECT_EQ(FrameCalls(), (std::vector<std::string>{
                                "ShowNavigationTip@mf-home.htm", "QuorvixBottomUserInfo@main-frame.htm",
                                "HomePageLastAssess@mf-home.htm", "HomePageUserInfo@mf-home.htm",
                                "HomePageRealWeather@mf-home.htm", "HomePageLifeIndex@mf-home.htm",
                                "HomePageUserEnv@mf-home.htm", "HomePageUserOpData@mf-home.htm",
                                "HomePageAlertToday@mf-home.htm", "HomePageArticleToday@mf-home.htm"}));

    EXPECT_EQ(GetTimerPeriod(hwnd_, CMainFrame::kPluseCheckTimer), 30000u);
    EXPECT_EQ(GetTimerPeriod(hwnd_, CMainFrame::kUserOpTimer), 180000u);
    const DWORD mainThread = GetWindowThreadProcessId(hwnd_, nullptr);
    for (const CSciterWindow* child : std::initializer_list<const CSciterWindow*>{
             g_pFloatBarWin, g_pAlertMessageWin, g_pMessageWin, g_pAlertExpiredWin}) {
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(GetWindowThreadProcessId(child->GetHwnd(), nullptr), mainThread) << text::ToUtf8(child->m_cs.name);
    }
    EXPECT_TRUE(g_UiThreads.WaitThread(login.m_cs.hThread, 3000)) << "the login window's thread still runs";
    EXPECT_EQ(comm.comm.GetStatusText(), L"加载完成...");

    EXPECT_TRUE(IsWindowVisible(hwnd_));
    EXPECT_NE(GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_MINIMIZEBOX, 0);
    wchar_t title[16] = {};
    GetWindowTextW(hwnd_, title, 16);
    EXPECT_STREQ(title, L"Quorvix");
    HRGN__ region{};
    ASSERT_TRUE(GetWindowRegion(hwnd_, &region));
    EXPECT_EQ(region.ellipseWidth, 6);
    EXPECT_EQ(region.box.right, 1000);
    ASSERT_NE(g_pTrayIcon, nullptr);
    EXPECT_TRUE(g_pTrayIcon.load()->IsAdded());
    EXPECT_EQ(g_pTrayIcon.load()->GetOwner(), hwnd_);
    EXPECT_EQ(g_pTrayIcon.load()->GetBalloonTitle(), L"");

    // The timers' own work, and none once the program is ending.
    frame.OnTimer(WM_TIMER, CMainFrame::kUserOpTimer, 0, nullptr);
    frame.OnTimer(WM_TIMER, CMainFrame::kTrayTimer, 0, nullptr);
    g_nRunState = 4;
    frame.OnTimer(WM_TIMER, CMainFrame::kUserOpTimer, 0, nullptr);
    g_nRunState = 1;
    EXPECT_EQ(userOp_.records, 1);
    EXPECT_EQ(g_pTrayIcon.load()->GetTimerTicks(), 1);

    frame.SetBandTipTimer(5, 2);
    frame.KillAllTimers();
    for (const UINT_PTR id : {CMainFrame::kPluseCheckTimer, CMainFrame::kUserOpTimer, CMainFrame::kBandTipTimerFirst + 5})
        EXPECT_EQ(GetTimerPeriod(hwnd_, id), 0u) << id;
    EndUiThreads();  // a window the frame started may still be in the making, reading g_pCommunication
}

// The windows the main frame makes are published once they are made: a thread that finds
// one in its global uses it at once.
TEST_F(MainFrameTest, ItsWindowsArePublishedOnlyOnceTheyAreMade) {
    std::atomic<bool> started{false};
    std::atomic<int> unmade{0};
    std::thread watcher([&] {
        auto made = [&unmade](const CSciterWindow* w) {
            if (w != nullptr && w->GetState() != CSciterWindow::kStateReady) ++unmade;
            return w != nullptr;
        };
        bool seen[4] = {};
        const auto end = std::chrono::steady_clock::now() + kGenerousWait;
        while ((!started || !(seen[0] && seen[1] && seen[2] && seen[3])) && std::chrono::steady_clock::now() < end) {
            seen[0] = seen[0] || made(g_pFloatBarWin);
            seen[1] = seen[1] || made(g_pAlertMessageWin);
            seen[2] = seen[2] || made(g_pMessageWin);
            seen[3] = seen[3] || made(g_pAlertExpiredWin);
        }
    });
    Start();
    started = true;
    watcher.join();
    EXPECT_EQ(unmade, 0);
}

TEST_F(MainFrameTest, StartedWithTheSessionItStaysHiddenWithTheWelcomeBalloonAndNoTip) {
    g_nRunMode = 1;
    Start();
    ASSERT_TRUE(test::PageHost::WaitForCall("HomePageArticleToday", std::chrono::seconds(3)));
    Settle();
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    const auto calls = FrameCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "ShowNavigationTip@mf-home.htm"), 0);
    EXPECT_EQ(calls.front(), "QuorvixBottomUserInfo@main-frame.htm");
    ASSERT_NE(g_pTrayIcon, nullptr);
    EXPECT_EQ(g_pTrayIcon.load()->GetBalloonTitle(), L"欢迎使用Quorvix");
    EXPECT_EQ(g_pTrayIcon.load()->GetBalloonText(), L"  点击这里图标打开主界面。\r\n  鼠标右键打开功能菜单。");

    // Asked for by command, the tip is shown even now.
    for (int frame = 0; frame < CMainFrame::kFrameCount; ++frame)
        PostMessageW(hwnd_, WM_COMMAND, ID_CMD_NAVIGATION_TIP_FIRST + frame, 0);
    Settle();
    std::vector<std::string> tips;
    for (const std::string& call : FrameCalls())
        if (call.starts_with("ShowNavigationTip")) tips.push_back(call);
    EXPECT_EQ(tips, (std::vector<std::string>{"ShowNavigationTip@mf-home.htm", "ShowNavigationTip@mf-assess.htm",
                                              "ShowNavigationTip@mf-monitor.htm", "ShowNavigationTip@mf-archives.htm",
                                              "ShowNavigationTip@mf-article.htm",
                                              "ShowNavigationTip@mf-assistant.htm"}));
}

TEST_F(MainFrameTest, DevicesPluggedInBeforeTheStartAreReadInTheirWindows) {
    ReadProbe<CPedometerWin> pedometer;
    ReadProbe<CBloodPressureWin> monitor;
    for (CSciterWindow* window : std::initializer_list<CSciterWindow*>{&pedometer, &monitor}) {
        window->m_cs.ownThread = false;
        window->m_cs.page = ScrambledPage("window.htm");
        ASSERT_EQ(window->Start(), 0);
    }
    g_pPedometer = &pedometer;
    g_pBloodPressure = &monitor;
    PresentSources sources;
    g_pHealthElementSourceType = &sources;
    Start();
    EXPECT_EQ(pedometer.Reads(), std::vector<std::string>{"122,1"});
    EXPECT_EQ(monitor.Reads(), std::vector<std::string>{"1002,1"});
    // The frame's pages register the objects above while it ends: it ends before they go.
    frame_.reset();
    g_pMainFrame = nullptr;
}

// ---- band tips ------------------------------------------------------------------------------

TEST_F(MainFrameTest, TheBandTipsAnswerSetsTheNextTipOrStopsThem) {
    auto answer = std::make_shared<std::mutex>();
    auto next = std::make_shared<value>();
    test::PageHost::RegisterForPage(L"/mf-home.htm", "HomePageBandTips", [answer, next](const test::PageCall&) {
        std::lock_guard guard(*answer);
        return *next;
    });
    TestFrame& frame = Start();
    auto tipsAnswer = [&](value v, UINT period) {
        {
            std::lock_guard guard(*answer);
            *next = std::move(v);
        }
        frame.PostBandTips(0);
        return WaitFor([&] { return GetTimerPeriod(hwnd_, CMainFrame::kBandTipTimerFirst) == period; });
    };
    EXPECT_TRUE(tipsAnswer(value(12), 12000));
    EXPECT_TRUE(tipsAnswer(value(L"x"), 0));
    EXPECT_TRUE(tipsAnswer(value(12), 12000));
    EXPECT_TRUE(tipsAnswer(value(0), 0));
    EXPECT_TRUE(tipsAnswer(value(-3), 0));

    const int refused = CountLogLines(L"band-tip index[6] out of range");
    frame.SetBandTipTimer(6, 5);
    EXPECT_GT(CountLogLines(L"band-tip index[6] out of range"), refused);
    EXPECT_EQ(GetTimerPeriod(hwnd_, CMainFrame::kBandTipTimerFirst + 6), 0u);
}

TEST_F(MainFrameTest, WithoutAHomeFrameTheHomeBandTipsStop) {
    TestFrame& frame = Start("main-frame-bare.htm");
    frame.SetBandTipTimer(0, 7);
    EXPECT_EQ(GetTimerPeriod(hwnd_, CMainFrame::kBandTipTimerFirst), 7000u);
    frame.PostBandTips(0);
    EXPECT_TRUE(WaitFor([&] { return GetTimerPeriod(hwnd_, CMainFrame::kBandTipTimerFirst) == 0; }));
    EXPECT_EQ(g_Config.m_config.TipSeconds[0], 0);
}

// ---- commands -------------------------------------------------------------------------------

TEST_F(MainFrameTest, ElementValueMapsAreReadWithTheirDefaultsAndFreed) {
    TestFrame& frame = Start();
    auto partial = std::make_unique<value>(value::make_map());
    partial->set_item(value(L"elementID"), value(L"w"));
    ASSERT_TRUE(PostMessageW(hwnd_, WM_COMMAND, ID_CMD_REFRESH_ELEMENT, reinterpret_cast<LPARAM>(partial.get())));
    partial.release();  // the window frees it
    EXPECT_EQ(frame.PostRefreshElementValue(L"h", 5, false, true), 0);
    auto odd = std::make_unique<value>(value::make_map());
    odd->set_item(value(L"valueNo"), value(L"12"));  // not a number
    odd->set_item(value(L"bRecordData"), value(0));  // not a boolean
    ASSERT_TRUE(PostMessageW(hwnd_, WM_COMMAND, ID_CMD_REFRESH_ELEMENT, reinterpret_cast<LPARAM>(odd.get())));
    odd.release();
    Settle();
    EXPECT_EQ(health_.Values(), (std::vector<std::wstring>{L"w,-29999,1,1", L"h,5,0,1", L",-29999,1,1"}));
}

TEST_F(MainFrameTest, QueuedValuesReachTheMonitoringPageAndEmptyOnesNothing) {
    Start();
    const std::uint64_t start = test::PageHost::LastSeq();
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_REFRESH_ELEMENTLIST, 0);  // nothing queued
    PostMessageW(hwnd_, WM_COMMAND, ID_MODULE_HISTLIST_DATA, 0);
    health_.QueuePageValue(value(L""));
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_MONITOR_FLASHTREND, 0);
    Settle();
    EXPECT_TRUE(FrameCalls(start).empty());

    value list = value::make_array();
    list.append(value(L"sex"));
    health_.QueueList(list);
    const auto refreshed = PostAndWait(ID_CMD_REFRESH_ELEMENTLIST, "RefashElementList");
    ASSERT_TRUE(refreshed);
    EXPECT_TRUE(refreshed->uri.ends_with(L"mf-monitor.htm"));
    EXPECT_EQ(refreshed->args, std::vector<value>{list});

    // Its length is logged; one this test alone uses.
    const std::wstring histories(4000 + static_cast<std::size_t>(std::random_device{}() % 4000), L'h');
    const std::wstring logged = L"ID_MODULE_HISTLIST_DATA:[" + std::to_wstring(histories.size()) + L"]";
    health_.QueuePageValue(value(histories));
    const auto history = PostAndWait(ID_MODULE_HISTLIST_DATA, "TsvOpenDeviceHistoricalData");
    ASSERT_TRUE(history);
    EXPECT_EQ(history->args, std::vector<value>{value(histories)});
    EXPECT_EQ(CountLogLines(logged), 1);

    health_.QueuePageValue(value(L"trend"));
    const auto trend = PostAndWait(ID_CMD_MONITOR_FLASHTREND, "LoadFlashTrend");
    ASSERT_TRUE(trend);
    EXPECT_TRUE(trend->uri.ends_with(L"mf-monitor.htm"));
}

TEST_F(MainFrameTest, ExitQuestionEndsTheProgramOnlyOnOk) {
    Start();
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_EXIT, 0);
    Settle();
    ASSERT_EQ(Boxes(), std::vector<std::wstring>{L"您要退出Quorvix程序吗?|请确认|262193"});
    EXPECT_EQ(exitCode_, -100);
    EXPECT_TRUE(IsWindow(hwnd_));

    const int exits = CountLogLines(L"AppExit...");
    boxAnswer_ = IDOK;
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_EXIT, 0);
    ASSERT_TRUE(WaitFor([&] { return exitCode_ == 0; }));
    EXPECT_GT(CountLogLines(L"AppExit..."), exits);
    EXPECT_FALSE(IsWindow(hwnd_));
}

TEST_F(MainFrameTest, ShowingTheFloatingBarStoresItsShownFlagOnce) {
    TempDir dir;
    MakeDefaultDatabase(dir / "user.db");
    g_Config.m_config.userDBName = text::FromUtf8((dir / "user.db").string());
    Start();
    ASSERT_NE(g_pFloatBarWin, nullptr);
    EXPECT_FALSE(IsWindowVisible(g_pFloatBarWin.load()->GetHwnd()));
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_SHOW_FLOATBAR, 0);
    Settle();
    EXPECT_TRUE(IsWindowVisible(g_pFloatBarWin.load()->GetHwnd()));
    auto stored = [&] {
        CSqliteDB db;
        db.open(g_Config.m_config.userDBName);
        CSqliteQuery q = db.execQuery(L"select value from tConfig2 where ID='FloatBarInfo'");
        return q.eof() ? std::wstring(L"<none>") : q.getStringField(0);
    };
    EXPECT_EQ(stored(), L"1,-1,-1");
    EXPECT_EQ(g_Config.m_config.FloatBarInfo[0], 1);
}

TEST_F(MainFrameTest, SitePagesOpenOnTheServiceHostOnly) {
    g_Config.m_config.HttpServiceAddr = L"http://portal.test:8080/service/api";
    Start();
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_HELP_CENTER, 0);
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_ABOUT, 0);
    Settle();
    EXPECT_EQ(Opened(), (std::vector<std::wstring>{L"http://portal.test:8080/portal.php?mod=view&aid=1",
                                                   L"http://portal.test:8080/about.html"}));
    g_Config.m_config.HttpServiceAddr = L"";
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_ABOUT, 0);
    Settle();
    EXPECT_EQ(Opened().size(), 2u);
}

TEST_F(MainFrameTest, PostedScriptCallsAndTheAlertReloadRunOnTheWindowsThread) {
    TestFrame& frame = Start();
    const dom::element home = FrameDocument("#quorvix_frame_homepage");
    const std::uint64_t start = test::PageHost::LastSeq();
    EXPECT_EQ(frame.PostScriptCall(home, "HomePageUserEnv"), 0);
    EXPECT_EQ(frame.PostScriptCallW(home, L"LoadFlashTrend"), 0);
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_ALERT_REFRESH, 0);
    Settle();
    EXPECT_EQ(FrameCalls(start), (std::vector<std::string>{"HomePageUserEnv@mf-home.htm", "LoadFlashTrend@mf-home.htm"}));
    EXPECT_EQ(alert_.reads, 1);
}

TEST_F(MainFrameTest, ShowAddDeviceAndComputerUseCommandsReachTheirTargets) {
    TestFrame& frame = Start();
    const HELEMENT userOp = FrameDocument("#quorvix_frame_homepage").find_first("#homepage_div_userop");
    ASSERT_NE(userOp, nullptr);
    const unsigned updates = test::ElementUpdateCount(userOp);
    Hooks().flashInstalled = true;
    const std::uint64_t start = test::PageHost::LastSeq();
    frame.PostHomePageUserOpData();  // with its chart while the player is installed
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_USERDEVICE_ADD, 0);
    Settle();
    EXPECT_EQ(FrameCalls(start), (std::vector<std::string>{"HomePageUserOpData@mf-home.htm",
                                                           "LoadApptypeFlash@mf-home.htm",
                                                           "userDeviceAdd@main-frame.htm"}));
    EXPECT_EQ(test::ElementUpdateCount(userOp), updates + 1) << "a shown chart is repainted at once";

    ShowWindow(hwnd_, SW_MINIMIZE);
    ASSERT_TRUE(SetForegroundWindow(g_pFloatBarWin.load()->GetHwnd()));
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_SHOW_MAINWIN, 0);
    Settle();
    EXPECT_FALSE(IsIconic(hwnd_));
    EXPECT_EQ(GetForegroundWindow(), hwnd_);
}

// ---- page events and hit test ----------------------------------------------------------------

TEST_F(MainFrameTest, BarsDragTheWindowExceptOverTheirButtonsWhichMinimiseAndHide) {
    TestFrame& frame = Start("main-frame-bare.htm");
    RECT window{};
    GetWindowRect(hwnd_, &window);
    auto at = [&](int x, int y) { return frame.OnHitTest(window.left + x, window.top + y); };
    EXPECT_EQ(at(500, 20), 2);   // caption
    EXPECT_EQ(at(980, 20), 1);   // close
    EXPECT_EQ(at(130, 20), 1);   // a tab
    EXPECT_EQ(at(500, 620), 2);  // bottom bar
    EXPECT_EQ(at(50, 620), 1);   // its device button
    EXPECT_EQ(at(500, 300), 1);  // the page

    auto click = [&](const char* id) {
        const HELEMENT button = test::Find(hwnd_, id);
        ASSERT_NE(button, nullptr);
        test::RunInPage(hwnd_, [button] { test::SendEvent(button, HANDLE_BEHAVIOR_EVENT, BUTTON_CLICK); });
    };
    click("#quorvix_div_minsize");
    EXPECT_TRUE(IsIconic(hwnd_));
    click("#quorvix_div_close");
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(hwnd_); }));
    EXPECT_TRUE(IsWindow(hwnd_));
}

// ---- cross-page calls ------------------------------------------------------------------------

TEST_F(MainFrameTest, RemoteCallsReachTheNamedDocumentOnly) {
    auto seen = std::make_shared<std::vector<std::size_t>>();
    test::PageHost::RegisterForPage(L"/main-frame.htm", "Echo", [seen](const test::PageCall& call) {
        seen->push_back(call.args.size());
        return call.args.empty() ? value(L"x") : value(7.9);
    });
    test::PageHost::RegisterForPage(L"/mf-monitor.htm", "Count", [](const test::PageCall&) { return value(12); });
    TestFrame& frame = Start();

    EXPECT_EQ(frame.RemoteCall(L"quorvix", L"Echo", 0, L"dropped"), 0);  // "x" is no number
    EXPECT_EQ(frame.RemoteCall(L"quorvix", L"Echo", 2, L"kept"), 7);
    EXPECT_EQ(*seen, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(frame.RemoteCall(L"quorvix_frame_manager", L"Count", 0, L""), 12);
    EXPECT_EQ(frame.RemoteCall(L"quorvix_frame_monitor", L"Count", 0, L""), 12);
    EXPECT_EQ(frame.RemoteCall(L"quorvix_frame_homepage", L"Count", 0, L""), 0);  // not in that page

    const std::wstring unknown = Unique(L"quorvix_frame_homepageX");
    EXPECT_EQ(frame.RemoteCall(unknown, L"ShowNavigationTip", 0, L""), -1);
    EXPECT_EQ(CountLogLines(L"rootID=[" + unknown + L"]"), 1);
    const int unnamed = CountLogLines(L"pageID=[quorvix_frame_assess],funcName=[].");
    EXPECT_EQ(frame.RemoteCall(L"quorvix_frame_assess", L"", 1, L"p"), -1);
    EXPECT_GT(CountLogLines(L"pageID=[quorvix_frame_assess],funcName=[]."), unnamed);

    const std::uint64_t before = test::PageHost::LastSeq();
    ShowWindow(hwnd_, SW_HIDE);
    EXPECT_EQ(frame.RemoteCall(L"quorvix_frame_homepage", L"ShowNavigationTip", 0, L""), -1);
    EXPECT_TRUE(FrameCalls(before).empty());
    ShowWindow(hwnd_, SW_SHOW);
    EXPECT_EQ(frame.RemoteCall(L"quorvix_frame_homepage", L"ShowNavigationTip", 0, L""), 0);
    EXPECT_EQ(FrameCalls(before), std::vector<std::string>{"ShowNavigationTip@mf-home.htm"});
}

// ---- device broadcasts -----------------------------------------------------------------------

// A device-interface broadcast with the name given, its size covering `nameChars`
// characters of it (all of it and the NUL by default).
std::vector<std::uint8_t> Broadcast(const std::wstring& name, DWORD type = DBT_DEVTYP_DEVICEINTERFACE,
                                    std::optional<std::size_t> nameChars = std::nullopt) {
    constexpr std::size_t kNameAt = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    std::vector<std::uint8_t> bytes(kNameAt + (name.size() + 1) * sizeof(wchar_t), 0);
    std::memcpy(bytes.data() + kNameAt, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    DEV_BROADCAST_HDR header{static_cast<DWORD>(kNameAt + nameChars.value_or(name.size() + 1) * sizeof(wchar_t)),
                             type, 0};
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

TEST_F(MainFrameTest, DeviceBroadcastsGiveTheVendorAndProductOfTheMixedCaseName) {
    Start();
    auto send = [&](WPARAM event, std::vector<std::uint8_t> record) {
        SendMessageW(hwnd_, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record.data()));
    };
    send(DBT_DEVICEARRIVAL, Broadcast(L"\\\\?\\USB#Vid_0c45&Pid_70c1#1"));
    send(DBT_DEVICEREMOVECOMPLETE, Broadcast(L"\\\\?\\USB#VID_1A2B&PID_00FF#2"));
    send(DBT_DEVICEARRIVAL, Broadcast(L"\\\\?\\usb#vid_0c45&pid_70c1#3"));  // lower case only
    send(DBT_DEVICEARRIVAL, Broadcast(L"\\\\?\\USB#VID_1111&PID_2222#Vid_0c45&Pid_70c1#4"));
    send(DBT_DEVICEARRIVAL, Broadcast(L"\\\\?\\USB#Vid_0c45&Pid_70c1#5", 3));  // not a device interface
    send(0x0007, Broadcast(L"\\\\?\\USB#Vid_0c45&Pid_70c1#6"));                // not an arrival or removal
    send(DBT_DEVICEARRIVAL, Broadcast(L"\\\\?\\USB#Vid_0c45&Pid_#7"));          // no product number
    // Read only as far as the record says: the product id ends after "70".
    send(DBT_DEVICEARRIVAL, Broadcast(L"\\\\?\\USB#Vid_0c45&Pid_70c1#8", DBT_DEVTYP_DEVICEINTERFACE, 23));
    std::vector<std::uint8_t> shortRecord = Broadcast(L"\\\\?\\USB#Vid_0c45&Pid_70c1#9");
    DEV_BROADCAST_HDR header{20, DBT_DEVTYP_DEVICEINTERFACE, 0};  // shorter than the record's name offset
    std::memcpy(shortRecord.data(), &header, sizeof header);
    send(DBT_DEVICEARRIVAL, shortRecord);
    SendMessageW(hwnd_, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    EXPECT_EQ(health_.Devices(), (std::vector<std::vector<int>>{
                                     {0x0C45, 0x70C1, 1}, {0x1A2B, 0x00FF, 0}, {0x0C45, 0x70C1, 1}, {0x0C45, 0x70, 1}}));

    EndUiThreads();  // the windows the frame started read g_pHealthResources while they are made
    g_pHealthResources = nullptr;  // nobody to tell: nothing is parsed
    send(DBT_DEVICEARRIVAL, Broadcast(L"\\\\?\\USB#Vid_0c45&Pid_70c1#10"));
    EXPECT_EQ(health_.Devices().size(), 4u);
}

// ---- the end ---------------------------------------------------------------------------------

// The main window logged in to a loopback server as user 1001.
class MainFrameExitTest : public MainFrameTest {
protected:
    void SetUp() override {
        MainFrameTest::SetUp();
        comm_ = std::make_unique<CCommunication>();
        g_pCommunication = comm_.get();
        comm_->SetSocketThreadCount(1);
        comm_->SetServer(L"127.0.0.1", server_.PortText(), 1, 1000);
        comm_->m_nUserNo = 1001;
    }
    void TearDown() override {
        MainFrameTest::TearDown();
        comm_.reset();
        g_pCommunication = nullptr;
    }
    std::size_t Count(std::uint16_t command) const {
        std::size_t n = 0;
        for (const auto& r : server_.Requests()) n += r.commandId == command;
        return n;
    }
    void ExpectEnded(const TestFrame& frame) {
        EXPECT_EQ(Count(0x1021), 1u);
        EXPECT_FALSE(IsWindow(hwnd_));
        ASSERT_NE(g_pTrayIcon, nullptr);
        EXPECT_FALSE(g_pTrayIcon.load()->IsAdded());
        EXPECT_TRUE(g_UiThreads.WaitThread(frame.m_cs.hThread, 3000)) << "the main window's thread still runs";
    }

    LoopbackPacketServer server_;
    std::unique_ptr<CCommunication> comm_;
};

TEST_F(MainFrameExitTest, ExitFromAnotherThreadLogsOutOnceAndEndsTheWindowOnItsOwnThread) {
    TestFrame& frame = Start();
    frame.Exit();
    frame.Exit();
    ExpectEnded(frame);
}

TEST_F(MainFrameExitTest, ExitOnTheWindowsOwnThreadEndsItThere) {
    TestFrame& frame = Start();
    test::RunInPage(hwnd_, [&frame] { frame.Exit(); });
    frame.Exit();
    ExpectEnded(frame);
}

TEST_F(MainFrameExitTest, TheKeepAliveTimerPollsUntilTheProgramIsEnding) {
    TestFrame& frame = Start();
    ASSERT_TRUE(WaitFor([&] { return Count(0x1010) == 1; }));  // the start's own poll
    frame.OnTimer(WM_TIMER, CMainFrame::kPluseCheckTimer, 0, nullptr);
    ASSERT_TRUE(WaitFor([&] { return Count(0x1010) == 2; }));
    ASSERT_TRUE(WaitFor([&] { return comm_->GetFreeContextCount() == comm_->GetMaxContexts(); }));
    g_nRunState = 4;
    frame.OnTimer(WM_TIMER, CMainFrame::kPluseCheckTimer, 0, nullptr);
    EXPECT_EQ(comm_->GetFreeContextCount(), comm_->GetMaxContexts()) << "a poll was queued";
    g_nRunState = 1;
    EXPECT_EQ(Count(0x1010), 2u);
}

}  // namespace
