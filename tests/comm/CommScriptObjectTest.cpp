// The "comm" object as a page sees it: the login values and the Login method.
#include <gtest/gtest.h>

#include "Communication.h"
#include "EngineTest.h"
#include "Text.h"
#include "WaitFor.h"
#include "Window.h"

namespace {

using uie::test::CallNative;
using uie::test::GetProperty;

class CommScriptObjectTest : public ::testing::Test {
protected:
    CommScriptObjectTest() {
        g_pCommunication = &comm_;
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = L"CommScriptObjectTestWindow";
        RegisterClassExW(&wc);
        hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        vm_ = SciterGetVM(hwnd_);
        comm_.RegisterScriptObject(vm_);
    }
    ~CommScriptObjectTest() override {
        DestroyWindow(hwnd_);
        g_pCommunication = nullptr;
    }

    uie::value Prop(const char* name) { return GetProperty(vm_, "comm", name).result; }
    static uie::value Record(const std::wstring& account, uie::value remember) {
        uie::value record = uie::value::make_map();
        record.set_item(uie::value(L"LoginAccount"), uie::value(account));
        record.set_item(uie::value(L"LoginPassword"), uie::value(L"pw"));
        record.set_item(uie::value(L"RememberPassword"), remember);
        record.set_item(uie::value(L"AutoLoginWhenRun"), uie::value(L"1"));
        return uie::value::make_array({record});
    }
    uie::value Login(const std::wstring& account, uie::value remember = uie::value(L"1")) {
        return CallNative(vm_, "comm", "Login", {Record(account, std::move(remember))}).result;
    }

    CCommunication comm_;
    HWND hwnd_ = nullptr;
    HVM vm_ = nullptr;
};

TEST_F(CommScriptObjectTest, BeforeAnyLoginShowsOnlineAndNoLogin) {
    EXPECT_EQ(Prop("net_State").get_int(-99), 1);
    EXPECT_EQ(Prop("login_State").get_int(-99), 0);
    for (const char* name : {"login_account", "login_password", "loginRet_retMsg", "loginRet_ipAddrNote"})
        EXPECT_TRUE(Prop(name).is_string()) << name;
    for (const char* name : {"login_rememberPassword", "login_autoLoginWhenRun", "loginRet_retCode",
                             "loginRet_userNo", "loginRet_areaNo", "loginRet_areaCodeNo"})
        EXPECT_TRUE(Prop(name).is_int()) << name;
}

TEST_F(CommScriptObjectTest, LoginStartsWithTheRecordAndOnlyTextOneSwitchesOn) {
    EXPECT_EQ(Login(L"ann").get_int(-99), 0);
    EXPECT_NE(Prop("login_State").get_int(), 0);  // running, or already failed without a server
    EXPECT_EQ(Prop("login_account").get_string(), L"ann");
    EXPECT_EQ(Prop("login_password").get_string(), L"pw");
    EXPECT_EQ(Prop("login_rememberPassword").get_int(-99), 1);
    EXPECT_EQ(Prop("login_autoLoginWhenRun").get_int(-99), 1);

    for (uie::value remember : {uie::value(L"true"), uie::value(1), uie::value(true)}) {
        comm_.m_nLoginState = 3;
        EXPECT_EQ(Login(L"bob", remember).get_int(-99), 0);
        EXPECT_EQ(Prop("login_rememberPassword").get_int(-99), 0) << text::ToUtf8(remember.to_string());
    }
}

TEST_F(CommScriptObjectTest, LoginWhileOneRunsStartsNothing) {
    comm_.SetLoginAccount(L"ann");
    comm_.m_bRememberPassword = true;
    comm_.m_nLoginState = 1;  // a login in progress
    const uie::value again = Login(L"bob", uie::value(L"0"));
    EXPECT_FALSE(again.is_int() && again.get_int() == 0);
    EXPECT_EQ(Prop("login_account").get_string(), L"ann");
    EXPECT_EQ(Prop("login_rememberPassword").get_int(), 1);
    EXPECT_EQ(Prop("login_State").get_int(), 1);
}

TEST_F(CommScriptObjectTest, AfterAFailureThePageReadsStateThreeAndTheTextAndMayRetry) {
    ASSERT_EQ(Login(L"ann").get_int(-99), 0);
    ASSERT_TRUE(WaitFor([this] { return comm_.m_nLoginState.load() == 3; }));  // no server answers
    // What the failed login leaves behind.
    comm_.m_nRetCode = -1;
    comm_.SetStatusText(L"登录失败---通讯失败。");
    comm_.m_nLoginState = 3;

    EXPECT_EQ(Prop("login_State").get_int(), 3);
    EXPECT_EQ(Prop("loginRet_retCode").get_int(), -1);
    EXPECT_EQ(Prop("loginRet_retMsg").get_string(), L"登录失败---通讯失败。");

    EXPECT_EQ(Login(L"ann2").get_int(-99), 0);
    EXPECT_EQ(Prop("login_account").get_string(), L"ann2");
}

TEST_F(CommScriptObjectTest, LoginWithoutArgumentIsAScriptErrorAndStartsNothing) {
    const auto outcome = CallNative(vm_, "comm", "Login");
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.error.empty());
    EXPECT_EQ(Prop("login_State").get_int(), 0);
}

}  // namespace
