#include "LoginWin.h"

#include <gtest/gtest.h>

#include "UiTestSupport.h"

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
