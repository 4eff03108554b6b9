// The floating bar with its five pop-ups on test pages, in the thread of a host window as
// the main window's thread serves them; the work area is 1920 x 1040 and the mouse
// pointer is the test's.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Config.h"
#include "FloatBarWin.h"
#include "Hooks.h"
#include "Shell.h"
#include "UiTestSupport.h"
#include "global.h"

class FloatBarTest : public UiTest {
protected:
    using Popup = CFloatBarWin::Popup;
    static constexpr long kWorkRight = 1920;
    static constexpr long kWorkBottom = 1040;
    static constexpr const char* kMarker = "FloatUserEnvUserEnv";  // posted only to settle

    void SetUp() override {
        UiTest::SetUp();
        savedConfig_ = g_Config.m_config;
        savedSound_ = GetNotificationSound(0);
        struConfig& c = g_Config.m_config;
        c.popPage = ScrambledPage("bar-floatbar.htm");
        c.floatHealthNotePage = c.floatUserEnvPage = c.floatNavigationPage = c.floatUserOpPage = c.floatAlertPage =
            ScrambledPage("pop-popup.htm");
        c.FloatBarInfo = {1, -1, -1};
        c.CloseAllSound = c.CloseSwitchItemSound = false;
        c.AutoHideFullScreen = true;
        SetNotificationSound(134, &soundModule_, 0, FALSE);
        RECT work{0, 0, kWorkRight, kWorkBottom};
        SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, 0);
        Hooks().cursorPos = [this](POINT& at) { at = POINT{cursorX_.load(), cursorY_.load()}; };
    }

    void TearDown() override {
        g_pFloatBarWin = nullptr;
        UiTest::TearDown();  // the host's and the note pop-up's threads end, with their windows
        bar_.reset();
        g_Config.m_config = savedConfig_;
        const NotificationSound& s = savedSound_;
        const BOOL async = (s.flags & SND_ASYNC) != 0;
        if (s.flags == 0) SetNotificationSound(nullptr, nullptr, 0, FALSE);
        else if (s.fileName.empty()) SetNotificationSound(s.resource, s.module, 0, async);
        else SetNotificationSound(s.fileName.c_str(), s.module, 0, async);
        SystemParametersInfoW(SPI_SETWORKAREA, 0, nullptr, 0);
        g_bFullScreen = false;
    }

    // The bar shown, its pop-ups made and every page loaded.
    void StartBar() {
        host_ = Ready("window.htm", L"BarHost").GetHwnd();
        bar_ = std::make_unique<CFloatBarWin>();
        g_pFloatBarWin = bar_.get();
        uie::test::RunInPage(host_, [this] { bar_->Start(); });
        barHwnd_ = bar_->GetHwnd();
        CPopWin* note = bar_->GetPopup(CFloatBarWin::kNote);
        ASSERT_TRUE(note != nullptr && WaitFor([note] { return note->GetState() == CSciterWindow::kStateReady; }));
    }

    CPopWin& Pop(Popup which) const { return *bar_->GetPopup(which); }
    HWND PopHwnd(Popup which) const { return Pop(which).GetHwnd(); }
    bool Shown(Popup which) const { return IsWindowVisible(PopHwnd(which)) != FALSE; }
    static LPARAM At(int x, int y) { return static_cast<LPARAM>(MAKELONG(static_cast<WORD>(x), static_cast<WORD>(y))); }
    // The mouse resting on the bar's button at x (40 pixels each: logo, surround,
    // navigate, app, notify, note).
    void HoverAt(int x) { SendMessageW(barHwnd_, WM_MOUSEHOVER, 0, At(x, 20)); }
    void PointAt(long x, long y) {
        cursorX_ = x;
        cursorY_ = y;
    }
    static std::vector<long> Rect(HWND hwnd) {
        RECT r{};
        GetWindowRect(hwnd, &r);
        return {r.left, r.top, r.right, r.bottom};
    }

    // Returns once the pop-up's thread has run everything posted to it before.
    void Settle(Popup which) {
        const std::uint64_t seq = uie::test::PageHost::LastSeq();
        ASSERT_TRUE(PostMessageW(PopHwnd(which), WM_COMMAND, ID_CMD_FLOAT_USERENV, 0));
        ASSERT_TRUE(uie::test::PageHost::WaitForCall(kMarker, std::chrono::seconds(3), seq));
    }
    static std::vector<std::string> CallsIn(HWND hwnd, std::uint64_t after) {
        std::vector<std::string> names;
        for (const auto& call : uie::test::PageHost::Calls()) {
            if (call.seq > after && call.hwnd == hwnd && call.name != kMarker) names.push_back(call.name);
        }
        return names;
    }

    HookScope hooks_;
    struConfig savedConfig_;
    NotificationSound savedSound_{};
    int soundModule_ = 0;
    std::atomic<long> cursorX_{0};
    std::atomic<long> cursorY_{0};
    std::unique_ptr<CFloatBarWin> bar_;
    HWND host_ = nullptr;
    HWND barHwnd_ = nullptr;
};
