#include "share.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "../comm/CommFixture.h"
#include "ArticleMsgWin.h"
#include "Config.h"
#include "FloatBarWin.h"
#include "MainFrame.h"
#include "MessageWin.h"
#include "MyDatabase.h"
#include "UiTestSupport.h"
#include "WaitFor.h"
#include "bloodPressureWin.h"
#include "pedometerWin.h"

namespace {

using uie::value;
namespace test = uie::test;

// What "share" reaches in other windows: the main window with its floating bar and
// pop-ups, and the device windows it opens, called from a page of a window of its own.
// The ranking requests go to a loopback server, which answers them with a failure, so
// only the test decides when a ranking arrived.
class ShareWindowsTest : public CommTest {
protected:
    ShareWindowsTest() : savedConfig_(g_Config.m_config) {
        test::PageHost::Reset();
        struConfig& c = g_Config.m_config;
        c.mainPage = ScrambledPage("main-frame-bare.htm");
        c.popPage = ScrambledPage("bar-floatbar.htm");
        c.floatHealthNotePage = c.floatUserEnvPage = c.floatNavigationPage = c.floatUserOpPage = c.floatAlertPage =
            ScrambledPage("pop-popup.htm");
        c.alertPopPage = c.commonMessagePage = c.expiredAlertPage = ScrambledPage("window.htm");
        c.pedometerPage = c.bloodPressurePage = ScrambledPage("window.htm");
        c.FloatBarInfo = {0, -1, -1};
        c.TipSeconds.fill(0);
        Hooks().messageBox = [](const std::wstring&, const std::wstring&, UINT) { return IDOK; };
        Hooks().openDocument = [](const std::wstring&) { return true; };
        server_.OnCommand(COMMAND_PEDORANK_QUEST,
                          [](const PacketRequest&) { return PacketReply::Fields({"-1", "x"}); });
    }
    ~ShareWindowsTest() override {
        // A device window a test opened may still be starting, reading the globals below.
        if (CPedometerWin* pedometer = g_pPedometer) pedometer->WaitUntilMade();
        EndWorkers();  // no reply reaches a window below any more
        EndUiThreads();
        caller_.reset();
        frame_.reset();
        g_pMainFrame = nullptr;
        std::unique_ptr<CPedometerWin>(g_pPedometer.exchange(nullptr)).reset();
        std::unique_ptr<CBloodPressureWin>(g_pBloodPressure.exchange(nullptr)).reset();
        g_pArticleMsgWin.store(nullptr);
        g_pMyDatabase = nullptr;
        g_Config.m_config = savedConfig_;
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    void StartMainWindow() {
        frame_ = std::make_unique<CMainFrame>();
        g_pMainFrame = frame_.get();
        ASSERT_EQ(frame_->Start(), 0);
        ASSERT_TRUE(WaitFor([this] { return frame_->GetState() == CSciterWindow::kStateReady; }));
        ASSERT_NE(g_pFloatBarWin, nullptr);
        const CPopWin* note = g_pFloatBarWin.load()->GetPopup(CFloatBarWin::kNote);
        ASSERT_TRUE(note != nullptr && WaitFor([note] { return note->GetState() == CSciterWindow::kStateReady; }));
    }
    // A page window of its own thread, from whose page the test calls "share".
    HWND StartCaller() {
        caller_ = std::make_unique<ProbeWindow>(ScrambledPage("window.htm"), true, L"ShareCaller");
        EXPECT_EQ(caller_->Start(), 0);
        EXPECT_TRUE(WaitFor([this] { return caller_->GetState() == CSciterWindow::kStateReady; }));
        return caller_->GetHwnd();
    }
    // share.method(args) as the caller's page makes the call, on its thread.
    test::CallResult CallFromPage(const char* method, std::vector<value> args = {}) {
        test::CallResult result;
        const HWND hwnd = caller_->GetHwnd();
        test::RunInPage(hwnd, [&] { result = test::CallNative(SciterGetVM(hwnd), "share", method, args); });
        return result;
    }
    static value Record(const wchar_t* rootID, const wchar_t* funcName, int flag, const wchar_t* para) {
        value record = value::make_map();
        record.set_item(value(L"rootID"), value(rootID));
        record.set_item(value(L"funcName"), value(funcName));
        record.set_item(value(L"funcParaFlag"), value(flag));
        record.set_item(value(L"funcPara"), value(para));
        return record;
    }
    // The page calls of these names after `after`, as "name(args) in window".
    static std::vector<std::pair<std::string, HWND>> CallsAfter(std::uint64_t after) {
        std::vector<std::pair<std::string, HWND>> calls;
        for (const auto& call : test::PageHost::Calls()) {
            if (call.seq <= after || (call.name != "Main" && call.name != "Note")) continue;
            const std::string args = text::ToUtf8(value::make_array(call.args).to_json());
            calls.emplace_back(call.name + args, call.hwnd);
        }
        return calls;
    }

    struConfig savedConfig_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<ProbeWindow> caller_;
};

TEST_F(ShareWindowsTest, APageGetsShareFirstAndTheDatabaseObjectsBeforeComm) {
    CMyDatabase db;
    g_pMyDatabase = &db;
    const HWND hwnd = StartCaller();
    EXPECT_EQ(uie::NativeNames(SciterGetVM(hwnd)),
              (std::vector<std::string>{"share", "DB", "Recordset", "quorvDb", "comm"}));
}

TEST_F(ShareWindowsTest, RemoteCallReachesTheMainWindowAndTheBarsPopUpsByPrefix) {
    for (const char* name : {"Main", "Note"}) {
        const std::wstring page = std::string(name) == "Main" ? L"/main-frame-bare.htm" : L"/pop-popup.htm";
        test::PageHost::RegisterForPage(page, name, [](const test::PageCall&) { return value(1); });
    }
    StartMainWindow();
    StartCaller();

    std::uint64_t seq = test::PageHost::LastSeq();
    EXPECT_TRUE(CallFromPage("RemoteCall", {value::make_array()}).ok);
    EXPECT_TRUE(CallsAfter(seq).empty());

    const value records = value::make_array({
        Record(L"quorvix", L"Main", 0, L"dropped"),  // flag 0: no argument, whatever funcPara holds
        Record(L"popWin_note", L"Note", 1, L"q"),
        Record(L"Quorvix", L"Main", 1, L"case"),  // the prefixes are case-sensitive
        Record(L"popWin_note", L"", 1, L"unnamed"),
        value(L"not a record"),
    });
    seq = test::PageHost::LastSeq();
    const auto call = CallFromPage("RemoteCall", {records});
    EXPECT_TRUE(call.ok);
    EXPECT_TRUE(call.result.is_undefined());
    const HWND note = g_pFloatBarWin.load()->GetPopup(CFloatBarWin::kNote)->GetHwnd();
    EXPECT_EQ(CallsAfter(seq), (std::vector<std::pair<std::string, HWND>>{{"Main[]", frame_->GetHwnd()},
                                                                          {"Note[\"q\"]", note}}));
}

// A call into the bar's pop-ups from another thread before the main window has published
// the bar waits for it: the bar is published meanwhile by a send the wait serves.
TEST_F(ShareWindowsTest, ACallIntoAPopUpBeforeTheBarIsPublishedWaitsForIt) {
    test::PageHost::RegisterForPage(L"/pop-popup.htm", "Note", [](const test::PageCall&) { return value(1); });
    StartMainWindow();
    CFloatBarWin* const bar = g_pFloatBarWin.exchange(nullptr);  // as before the main window's Init is over
    constexpr WPARAM kPublish = 0x8FF0;
    caller_ = std::make_unique<ProbeWindow>(ScrambledPage("window.htm"), true, L"ShareCaller");
    caller_->onCommand = [bar](WPARAM id) {
        if (id == kPublish) g_pFloatBarWin = bar;
    };
    ASSERT_EQ(caller_->Start(), 0);
    ASSERT_TRUE(WaitFor([this] { return caller_->GetState() == CSciterWindow::kStateReady; }));
    std::atomic<bool> calling{false};
    std::thread publisher([&] {
        WaitFor([&] { return calling.load(); });
        SendMessageW(caller_->GetHwnd(), WM_COMMAND, kPublish, 0);  // served inside the call's wait, or after it
    });
    const std::uint64_t seq = test::PageHost::LastSeq();
    const HWND hwnd = caller_->GetHwnd();
    test::RunInPage(hwnd, [&] {
        calling = true;
        test::CallNative(SciterGetVM(hwnd), "share", "RemoteCall",
                         {value::make_array({Record(L"popWin_note", L"Note", 0, L"")})});
    });
    publisher.join();
    EXPECT_EQ(CallsAfter(seq), (std::vector<std::pair<std::string, HWND>>{{"Note[]", bar->GetPopup(CFloatBarWin::kNote)->GetHwnd()}}));
}

// The main page's timer calls into the note pop-up while the pop-up's thread runs a page
// function that calls into the main page: each call runs on its page's thread, which serves
// the other's while it waits for its own, so the two threads cannot wait for each other.
TEST_F(ShareWindowsTest, APageTimerAndAPopUpCallingEachOtherBothEnd) {
    g_Config.m_config.mainPage = ScrambledPage("main-frame-cross.htm");
    g_Config.m_config.floatHealthNotePage = ScrambledPage("pop-cross.htm");
    StartMainWindow();
    const CPopWin* note = g_pFloatBarWin.load()->GetPopup(CFloatBarWin::kNote);
    // Both page functions meet here first, so that each holds what it holds before it calls
    // across; one that comes alone goes on after a while.
    std::mutex lock;
    std::condition_variable met;
    int arrived = 0;
    std::atomic<int> done{0};
    auto probe = std::make_shared<uie::NativeObjectDef>();
    probe->methods = {
        {"Meet",
         [&](HVM, const uie::NativeArgs&) {
             std::unique_lock held(lock);
             ++arrived;
             met.notify_all();
             met.wait_for(held, std::chrono::milliseconds(250), [&] { return arrived >= 2; });
             return value();
         }},
        {"Done", [&done](HVM, const uie::NativeArgs&) { return value(++done); }},
    };
    ASSERT_TRUE(uie::DefineNativeObject(SciterGetVM(frame_->GetHwnd()), "probe", probe));
    ASSERT_TRUE(uie::DefineNativeObject(SciterGetVM(note->GetHwnd()), "probe", probe));

    CSciterWindow::callScript(frame_->GetRootElement(), "Arm");
    std::thread command([note] {
        test::RunInPage(note->GetHwnd(), [note] { CSciterWindow::callScript(note->GetRootElement(), "Cross"); });
    });
    if (!WaitFor([&done] { return done == 2; }, std::chrono::seconds(5))) {
        ADD_FAILURE() << "the two threads wait for each other";
        std::_Exit(1);  // they never end: joining would hold the whole program
    }
    command.join();
}

// A page of a window of its own thread shows a window of the main window's thread (placing
// it is a send) while the main window's thread calls its own page: each call has its own
// page's script-call lock, so both go on.
TEST_F(ShareWindowsTest, APageShowingAMainThreadWindowWhileTheMainPageIsCalledHoldsNeitherThread) {
    std::atomic<bool> placing{false};
    std::atomic<bool> mainWaiting{false};
    test::PageHost::RegisterForPage(L"/window.htm", "Place", [&](const test::PageCall&) {
        placing = true;
        WaitFor([&] { return mainWaiting.load(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // into its own page call
        g_pMessageWin.load()->ShowWin(true);
        return value(1);
    });
    test::PageHost::RegisterForPage(L"/main-frame-bare.htm", "Main", [](const test::PageCall&) { return value(1); });
    StartMainWindow();
    const HWND caller = StartCaller();
    const HWND main = frame_->GetHwnd();
    const HELEMENT callerRoot = caller_->GetRootElement();
    const HELEMENT mainRoot = frame_->GetRootElement();
    auto placed = std::async(std::launch::async, [caller, callerRoot] {
        test::RunInPage(caller, [callerRoot] { CSciterWindow::callScript(callerRoot, "Place"); });
    });
    ASSERT_TRUE(WaitFor([&] { return placing.load(); }));
    auto called = std::async(std::launch::async, [&mainWaiting, main, mainRoot] {
        test::RunInPage(main, [&mainWaiting, mainRoot] {
            mainWaiting = true;
            CSciterWindow::callScript(mainRoot, "Main");
        });
    });
    const auto deadline = std::chrono::steady_clock::now() + kGenerousWait;
    if (placed.wait_until(deadline) != std::future_status::ready ||
        called.wait_until(deadline) != std::future_status::ready) {
        ADD_FAILURE() << "the two threads wait for each other";
        std::_Exit(1);  // they never end: joining would hold the whole program
    }
    EXPECT_TRUE(IsWindowVisible(g_pMessageWin.load()->GetHwnd()));
}

TEST_F(ShareWindowsTest, CloseMsgWinShowsTheNextSynchronisedArticle) {
    StartCaller();
    const std::wstring page = ScrambledPage("msg-article.htm");
    for (int id : {1, 2}) {
        value article = value::make_map();
        article.set_item(value(L"funcName"), value(L"BandArticleSyncMessage"));
        article.set_item(value(L"ID"), value(id));
        ASSERT_TRUE(CArticleMsgWin::Deliver(page, article));
    }
    const HWND window = g_pArticleMsgWin.load()->GetHwnd();
    auto shown = [window] {
        std::vector<int> ids;
        for (const auto& call : test::PageHost::Calls())
            if (call.hwnd == window && call.name == "BandArticleSyncMessage" && !call.args.empty())
                ids.push_back(call.args.front().get_item(value(L"ID")).get_int());
        return ids;
    };
    ASSERT_TRUE(WaitFor([&] { return shown().size() == 1; }));
    EXPECT_EQ(CallFromPage("CloseMsgWin", {value(0)}).result, value(0));
    ASSERT_TRUE(WaitFor([&] { return shown().size() == 2; }));
    EXPECT_EQ(shown(), (std::vector<int>{1, 2}));
}

TEST_F(ShareWindowsTest, OpenPedometerWinMakesOneWindowInFrontAndAsksForTheRankingOncePerPeriod) {
    const HWND caller = StartCaller();
    const int threads = g_UiThreads.GetCount();

    ASSERT_EQ(CallFromPage("OpenPedometerWin").result, value(true));
    CPedometerWin* const window = g_pPedometer;
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(g_UiThreads.GetCount(), threads + 1);
    EXPECT_EQ(GetForegroundWindow(), window->GetHwnd());
    EXPECT_NE(window->GetHwnd(), nullptr);
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(server_.Requests()[0].fields, std::vector<std::string>{"-1"});

    // A ranking arrives; within the period the window is only brought forward again.
    EXPECT_EQ(window->BussDataProc_PedoRank(L"0\x02ok\x02" L"1\x02" L"2\x02" L"3\x02" L"4\x02" L"5\x02" L"6\x02" L"7\x02"
                                            L"8\x02" L"9\x02" L"10\x02" L"11\x02" L"12\x02"),
              0);
    tick_ += CPedometerWin::kRankRefreshMs - 1;
    SetForegroundWindow(caller);
    ASSERT_EQ(CallFromPage("OpenPedometerWin").result, value(true));
    EXPECT_EQ(g_pPedometer.load(), window);
    EXPECT_EQ(g_UiThreads.GetCount(), threads + 1);
    EXPECT_EQ(GetForegroundWindow(), window->GetHwnd());
    // The one worker sends in order: a marker sent now arrives right after anything
    // the second opening would have sent.
    ASSERT_EQ(comm_->QuestPedoRank_asyn(77), 0);
    ASSERT_TRUE(server_.WaitForRequests(2));
    EXPECT_EQ(server_.Requests()[1].fields, std::vector<std::string>{"77"});

    tick_ += 1;  // the period is over
    ASSERT_EQ(CallFromPage("OpenPedometerWin").result, value(true));
    ASSERT_TRUE(server_.WaitForRequests(3));
    EXPECT_EQ(server_.Requests()[2].fields, std::vector<std::string>{"-1"});

    // A failed ranking reply leaves the period as it was: the next opening asks again.
    EXPECT_EQ(window->BussDataProc_PedoRank(L"-3\x02no\x02"), -3);
    ASSERT_EQ(CallFromPage("OpenPedometerWin").result, value(true));
    ASSERT_TRUE(server_.WaitForRequests(4));
}

TEST_F(ShareWindowsTest, OpenersRacingFromTwoPagesMakeOneWindow) {
    const int threads = g_UiThreads.GetCount();
    std::atomic<bool> go{false};
    std::atomic<int> opened{0};
    auto open = [&] {
        while (!go) std::this_thread::yield();
        if (OpenBloodPressureWin(2)) ++opened;
    };
    std::thread first(open);
    std::thread second(open);
    go = true;
    first.join();
    second.join();
    EXPECT_EQ(opened, 2);
    ASSERT_NE(g_pBloodPressure.load(), nullptr);
    EXPECT_EQ(g_UiThreads.GetCount(), threads + 1);
    EXPECT_TRUE(WaitFor([] { return g_pBloodPressure.load()->GetState() == CSciterWindow::kStateReady; }));
    EXPECT_TRUE(IsWindowVisible(g_pBloodPressure.load()->GetHwnd()));
}

}  // namespace
