#include "LoginWin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "UiTestSupport.h"
#include "WaitFor.h"

namespace test = uie::test;

namespace {

class LoginWinTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        test::PageHost::RegisterForPage(L"/login.htm", "UpdateLoginStatusInfo",
                                        [](const test::PageCall&) { return uie::value(); });
        login_.m_cs.page = ScrambledPage("login.htm");
        login_.m_cs.showOnCreate = true;
        ASSERT_EQ(login_.Start(), 0);
        ASSERT_TRUE(WaitFor([this] { return login_.GetState() == CSciterWindow::kStateReady; }));
    }
    void TearDown() override {
        UiTest::TearDown();
        g_nRunState = 1;
    }

    void ClickClose() {
        const HELEMENT close = test::Find(login_.GetHwnd(), "#window-close");
        ASSERT_NE(close, nullptr);
        test::RunInPage(login_.GetHwnd(), [close] { test::SendEvent(close, HANDLE_BEHAVIOR_EVENT, BUTTON_CLICK); });
    }

    CommScope scope_;
    CLoginWin login_;
};

// The page reads comm.login_State when the status notice arrives, and the window is
// shown just before the notice is posted: whoever sees either must already read
// "failed", or the page keeps waiting for a login that has ended.
TEST_F(LoginWinTest, AFailedLoginIsFailedByTheTimeThePageHearsOfIt) {
    std::mutex lock;
    std::vector<int> heard;
    test::PageHost::RegisterForPage(L"/login.htm", "UpdateLoginStatusInfo", [&](const test::PageCall&) {
        std::lock_guard guard(lock);
        heard.push_back(scope_.comm.m_nLoginState.load());
        return uie::value();
    });
    auto heardCount = [&] {
        std::lock_guard guard(lock);
        return heard.size();
    };
    const HWND hwnd = login_.GetHwnd();
    g_pLoginWin = &login_;
    std::vector<int> seenShown;
    // Without a worker every login fails at once.
    constexpr std::size_t kLogins = 20;
    for (std::size_t i = 1; i <= kLogins; ++i) {
        ShowWindow(hwnd, SW_HIDE);
        scope_.comm.m_nLoginState = 1;  // as the page shows a login in progress
        std::atomic<int> atShow{-1};
        std::atomic<bool> watching{false};
        // Spins, so that it reads the state the moment the window is shown.
        std::thread watcher([&] {
            const auto end = std::chrono::steady_clock::now() + kGenerousWait;
            watching = true;
            while (!IsWindowVisible(hwnd) && std::chrono::steady_clock::now() < end) {
            }
            atShow = scope_.comm.m_nLoginState.load();
        });
        while (!watching) std::this_thread::yield();
        scope_.comm.UserLogin_syn(L"demo", L"pw");
        watcher.join();
        seenShown.push_back(atShow);
        ASSERT_TRUE(WaitFor([&] { return heardCount() == i; }));
    }
    g_pLoginWin = nullptr;
    EXPECT_EQ(seenShown, std::vector<int>(kLogins, 3));
    std::lock_guard guard(lock);
    EXPECT_EQ(heard, std::vector<int>(kLogins, 3));
}

TEST_F(LoginWinTest, DestroyCommandEndsTheWindowAndAnswersZero) {
    EXPECT_EQ(SendMessageW(login_.GetHwnd(), WM_COMMAND, ID_CMD_DESTROY_WINDOW, 0), 0);
    EXPECT_FALSE(IsWindow(login_.GetHwnd()));
}

TEST_F(LoginWinTest, StatusCommandHandsTheStatusTextToThePage) {
    wchar_t title[64] = {};
    GetWindowTextW(login_.GetHwnd(), title, 64);
    EXPECT_STREQ(title, L"Quorvix---登录");

    scope_.comm.SetStatusText(L"加载用户基本信息...");
    const auto after = test::PageHost::LastSeq();
    ASSERT_TRUE(login_.PostUpdateLoginStatus());
    const auto call = test::PageHost::WaitForCall("UpdateLoginStatusInfo", std::chrono::seconds(3), after);
    ASSERT_TRUE(call.has_value());
    ASSERT_EQ(call->args.size(), 1u);
    EXPECT_EQ(call->args[0].get_string(), L"加载用户基本信息...");
    EXPECT_EQ(call->thread, GetWindowThreadProcessId(login_.GetHwnd(), nullptr));
}

TEST_F(LoginWinTest, CloseBeforeLoginEndsEveryUiThread) {
    ProbeWindow& other = Ready("window.htm");
    scope_.comm.m_nLoginState = 3;
    ClickClose();
    EXPECT_EQ(g_nRunState, 4);
    // Both threads were waiting for a message; nothing but the close woke them.
    EXPECT_TRUE(g_UiThreads.WaitThread(login_.m_cs.hThread, 3000));
    EXPECT_TRUE(g_UiThreads.WaitThread(other.m_cs.hThread, 3000));
    EXPECT_FALSE(IsWindow(login_.GetHwnd()));
}

TEST_F(LoginWinTest, CloseAfterLoginOnlyHides) {
    scope_.comm.m_nLoginState = 2;
    ASSERT_TRUE(IsWindowVisible(login_.GetHwnd()));
    ClickClose();
    EXPECT_FALSE(IsWindowVisible(login_.GetHwnd()));
    EXPECT_TRUE(IsWindow(login_.GetHwnd()));
    EXPECT_EQ(g_nRunState, 1);
    EXPECT_FALSE(g_UiThreads.WaitThread(login_.m_cs.hThread, 0));
}

}  // namespace
