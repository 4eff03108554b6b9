#include "SciterWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "Hooks.h"
#include "LogReader.h"
#include "UiTestSupport.h"

namespace test = uie::test;

namespace {

using SciterWindowTest = UiTest;

// What a held page and its test share; the probe keeps it too, as its Hold may still be
// looking as the test's body returns.
struct Holding {
    std::atomic<bool> holding{false};
    std::atomic<bool> letGo{false};
};

// The native "probe" of window-hold.htm: its Hold does not return until let go.
std::shared_ptr<uie::NativeObjectDef> HoldingProbe(const std::shared_ptr<Holding>& hold) {
    auto probe = std::make_shared<uie::NativeObjectDef>();
    probe->methods = {{"Hold", [hold](HVM, const uie::NativeArgs&) {
                           hold->holding = true;
                           WaitFor([&hold] { return hold->letGo.load(); }, std::chrono::seconds(30));
                           return uie::value();
                       }}};
    return probe;
}

TEST_F(SciterWindowTest, OwnThreadWindowHasCommBeforeItsPageLoads) {
    CommScope scope;
    scope.comm.SetStatusText(L"正在登录");
    SetScreenSize(1280, 800);
    ProbeWindow& w = Ready("window.htm");
    SetScreenSize(1920, 1080);
    const HWND hwnd = w.GetHwnd();
    EXPECT_TRUE(w.commBeforeLoad);
    EXPECT_EQ(w.inits, 1);
    ASSERT_EQ(g_UiThreads.GetCount(), 1);
    EXPECT_EQ(g_UiThreads.GetThread(0), w.m_cs.hThread);
    EXPECT_EQ(g_UiThreads.GetWindow(0), hwnd);

    test::CallResult status;
    test::RunInPage(hwnd, [&] { status = test::GetProperty(w.IsReady(), "comm", "loginRet_retMsg"); });
    EXPECT_EQ(status.result.get_string(), L"正在登录");

    // Sized to the page's minimum and centred; hidden without show-on-create.
    RECT rc{};
    ASSERT_TRUE(GetWindowRect(hwnd, &rc));
    EXPECT_EQ(rc.left, 440);
    EXPECT_EQ(rc.top, 250);
    EXPECT_EQ(test::LastMinHeightWidth(hwnd), 600u);
    EXPECT_FALSE(IsWindowVisible(hwnd));
}

TEST_F(SciterWindowTest, CommandFromAWorkerRunsOnTheWindowsThread) {
    ProbeWindow& w = Ready("window.htm");
    const HWND hwnd = w.GetHwnd();
    std::thread([&] { PostMessageW(hwnd, WM_COMMAND, 0x8010, 0); }).join();
    ASSERT_TRUE(WaitFor([&] { return w.lastCommand == 0x8010u; }));
    EXPECT_EQ(w.commandThread, GetWindowThreadProcessId(hwnd, nullptr));
    EXPECT_NE(w.commandThread, GetCurrentThreadId());

    // A device configuration change shares the destroy command's number but keeps the window.
    SendMessageW(hwnd, WM_DEVICECHANGE, ID_CMD_DESTROY_WINDOW, 0);
    EXPECT_TRUE(IsWindow(hwnd));
    SendMessageW(hwnd, WM_COMMAND, ID_CMD_DESTROY_WINDOW, 0);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(SciterWindowTest, MissingPageLeavesState1AndSkipsInit) {
    const std::wstring page = ScrambledPage(text::ToUtf8(Unique(L"no-such-page")) + ".htm");
    ProbeWindow& w = Make(page, true);
    ASSERT_EQ(w.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return CountLogLines(L"SciterLoadFile[0][" + page + L"]") == 1; }));
    EXPECT_EQ(w.GetState(), CSciterWindow::kStateStarted);
    EXPECT_EQ(w.inits, 0);
    EXPECT_EQ(CountLogLines(L"on_data_loaded[file://" + page + L"]=[404]"), 1);
}

TEST_F(SciterWindowTest, AFailedCallIsCaughtAndItsThreadGoesOn) {
    std::atomic<int> done{0};
    test::PageHost::RegisterForPage(L"/window.htm", "Count", [&](const test::PageCall&) {
        ++done;
        return uie::value(1);
    });
    const std::string missing = text::ToUtf8(Unique(L"NoSuchFunction"));
    ProbeWindow& w = Make(ScrambledPage("window.htm"), true);
    w.onCommand = [&w, &missing](WPARAM id) {
        if (id == 0x8010) CSciterWindow::callScript(w.GetRootElement(), "Count");
        if (id == 0x8011) CSciterWindow::callElementFunction(w.GetRootElement(), missing.c_str(), 1);
    };
    ASSERT_EQ(w.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return w.GetState() == 2; }));
    // A missing function in the one-argument form is logged and its thread goes on.
    PostMessageW(w.GetHwnd(), WM_COMMAND, 0x8011, 0);
    PostMessageW(w.GetHwnd(), WM_COMMAND, 0x8010, 0);
    ASSERT_TRUE(WaitFor([&] { return done == 1; }));
    EXPECT_EQ(CountLogLines(L"][" + text::FromUtf8(missing) + L"]"), 1);
}

// A page whose timer never ends holds its own window's thread only: another window's page
// is still called meanwhile, from native code under that page's script-call lock.
TEST_F(SciterWindowTest, APageThatNeverEndsHoldsOnlyItsOwnWindow) {
    const auto hold = std::make_shared<Holding>();
    const auto probe = HoldingProbe(hold);
    ProbeWindow& stuck = Ready("window-hold.htm", L"Stuck");
    ProbeWindow& other = Ready("window-hold.htm", L"Other");
    ASSERT_TRUE(uie::DefineNativeObject(stuck.IsReady(), "probe", probe));
    CSciterWindow::callScript(stuck.GetRootElement(), "Arm");
    ASSERT_TRUE(WaitFor([&] { return hold->holding.load(); }));

    auto called = std::async(std::launch::async, [&other] {
        return CSciterWindow::callScript(other.GetRootElement(), "Count");
    });
    const bool answered = called.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
    hold->letGo = true;
    EXPECT_TRUE(answered) << "the other window's page call waited for the page that never ends";
    EXPECT_EQ(called.get(), uie::value(1));
}

// A page finalizer that never ends holds no one who closes its window: the quit the closer
// sends is answered before the window's end runs, and the closer's wait for the window's
// thread ends at its bound, naming the window.
TEST_F(SciterWindowTest, AWindowWhoseFinalizerNeverEndsHoldsNoCloser) {
    const auto hold = std::make_shared<Holding>();
    const auto probe = HoldingProbe(hold);
    auto w = std::make_unique<ProbeWindow>(ScrambledPage("window-hold.htm"), true, Unique(L"Finalizing"));
    ASSERT_EQ(w->Start(), 0);
    ASSERT_TRUE(WaitFor([&w] { return w->GetState() == CSciterWindow::kStateReady; }));
    ASSERT_TRUE(uie::DefineNativeObject(w->IsReady(), "probe", probe));
    ASSERT_EQ(CSciterWindow::callScript(w->GetRootElement(), "KeepUntilTheEnd"), uie::value(1));
    const HANDLE thread = w->m_cs.hThread;
    const std::wstring name = w->m_cs.name;
    auto closed = std::async(std::launch::async, [&w] { w.reset(); });
    const bool returned = closed.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    hold->letGo = true;
    closed.wait();
    EXPECT_TRUE(returned) << "the closer waited for the finalizer";
    EXPECT_TRUE(hold->holding);
    EXPECT_EQ(CountLogLines(L"window [" + name + L"]: its thread did not end in time"), 1);
    EXPECT_TRUE(g_UiThreads.WaitThread(thread, 10000));
}

// A page function that never returns holds only its own VM's script-call lock: native code
// calling another window's page meanwhile has that page's lock at once, every time.
TEST_F(SciterWindowTest, APageCallThatNeverReturnsStopsCallsIntoItsOwnWindowOnly) {
    std::atomic<bool> holding{false};
    std::atomic<bool> letGo{false};
    test::PageHost::RegisterForPage(L"/window.htm", "Hold", [&](const test::PageCall&) {
        holding = true;
        WaitFor([&] { return letGo.load(); }, std::chrono::seconds(30));
        return uie::value(1);
    });
    test::PageHost::RegisterForPage(L"/window.htm", "Count", [](const test::PageCall&) { return uie::value(1); });
    ProbeWindow& stuck = Ready("window.htm", L"Stuck");
    ProbeWindow& other = Ready("window.htm", L"Other");
    const HELEMENT stuckRoot = stuck.GetRootElement();
    auto held = std::async(std::launch::async, [&stuck, stuckRoot] {
        test::RunInPage(stuck.GetHwnd(), [stuckRoot] { CSciterWindow::callScript(stuckRoot, "Hold"); });
    });
    ASSERT_TRUE(WaitFor([&] { return holding.load(); }));
    int answered = 0;
    for (int i = 0; i < 3; ++i) {
        test::RunInPage(other.GetHwnd(), [&] { answered += uie::as_int_or0(CSciterWindow::callScript(other.GetRootElement(), "Count")); });
    }
    letGo = true;
    held.wait();
    EXPECT_EQ(answered, 3);
}

TEST_F(SciterWindowTest, ShellExecOpensOneTargetAndDebugCutsLongTexts) {
    HookScope hooks;
    std::vector<std::wstring> opened;
    Hooks().openDocument = [&](const std::wstring& target) { return opened.push_back(target), true; };
    Hooks().startProgram = [](const std::wstring&, const std::vector<std::wstring>&) { return false; };
    const HELEMENT root = Ready("window.htm").GetRootElement();

    testing::internal::CaptureStderr();
    EXPECT_TRUE(test::PageScriptCall(root, "debug", {L"a", 1, std::wstring(3000, L'x')}).handled);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "a 1 " + std::string(2048, 'x') + "\n");

    const std::wstring target = L"http://example.invalid/a b;rm -rf ~ && echo";
    EXPECT_TRUE(test::PageScriptCall(root, "shell-exec", {target}).handled);
    EXPECT_FALSE(test::PageScriptCall(root, "shell-exec", {}).handled);
    EXPECT_EQ(opened, std::vector<std::wstring>{target});
}

TEST(UiThreadManagerTest, SixtyFourthThreadIsRefusedAndRemovingKeepsPairs) {
    UiThreadManager registry;
    auto thread = [](int i) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x10 * (i + 1))); };
    auto window = [](int i) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x7000 + i)); };
    for (int i = 0; i < UiThreadManager::kMaxThreads; ++i) ASSERT_TRUE(registry.AddThread(thread(i)));
    const int refusals = CountLogLines(L"thread registry full[63]");
    EXPECT_FALSE(registry.AddThread(thread(100)));
    EXPECT_EQ(CountLogLines(L"thread registry full[63]"), refusals + 1);

    for (int i : {1, 2, 62}) registry.SetThreadWindow(thread(i), window(i));
    EXPECT_TRUE(registry.RemoveThread(1));
    EXPECT_EQ(registry.GetCount(), 62);
    EXPECT_EQ(registry.GetThread(1), thread(2));
    EXPECT_EQ(registry.GetWindow(1), window(2));
    EXPECT_EQ(registry.GetWindow(61), window(62));
    EXPECT_EQ(registry.GetThread(62), nullptr);
}

TEST_F(SciterWindowTest, QuitAllEndsEveryUiThreadAndTheRegistryEmpties) {
    const std::wstring names[] = {Unique(L"QuitAllA"), Unique(L"QuitAllB"), Unique(L"QuitAllC")};
    for (const auto& name : names) Ready("window.htm", name);
    ASSERT_EQ(g_UiThreads.GetCount(), 3);

    // One window ends alone: the later entry moves down with its window.
    SendMessageW(windows_[1]->GetHwnd(), WM_QUIT, 0, 0);
    ASSERT_EQ(g_UiThreads.WaitAnyEnded(3000), 1);
    ASSERT_TRUE(g_UiThreads.RemoveThread(1));
    EXPECT_EQ(g_UiThreads.GetThread(1), windows_[2]->m_cs.hThread);
    EXPECT_EQ(g_UiThreads.GetWindow(1), windows_[2]->GetHwnd());

    g_UiThreads.QuitAll();
    EXPECT_EQ(g_nRunState, 4);
    EndUiThreads();  // waits for each entry's thread to end, then removes it
    EXPECT_EQ(g_UiThreads.GetCount(), 0);
    for (const auto& name : names) {
        EXPECT_EQ(CountLogLines(L"CSciterWindow::RunThread[" + name + L"] exit over."), 1);
    }
}

}  // namespace

// An owner may delete an own-thread window right after starting it; the thread must
// never reach the freed object (AddressSanitizer watches), and the thread ends. A plain
// window: a derived one's overrides are gone before the base's destructor waits.
TEST_F(SciterWindowTest, AWindowDeletedRightAfterItsStartEndsItsThreadFirst) {
    for (int i = 0; i < 5; ++i) {
        auto w = std::make_unique<CSciterWindow>();
        w->m_cs.page = ScrambledPage("window.htm");
        w->m_cs.ownThread = true;
        w->m_cs.name = L"ProbeWindow";
        ASSERT_EQ(w->Start(), 0);
        const HANDLE thread = w->m_cs.hThread;
        w.reset();
        EXPECT_TRUE(g_UiThreads.WaitThread(thread, 5000));
    }
}
