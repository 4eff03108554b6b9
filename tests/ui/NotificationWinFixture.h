// A notification window on a loop of its own, which stands in for the main window's that
// serves it in the program; the full-screen setting and the work area restored after each
// test, and the window's page calls read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Config.h"
#include "UiTestSupport.h"
#include "global.h"

template <class Win>
class NotificationWinTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        savedNotify_ = g_Config.m_config.NotifyMessageFullScreen;
    }
    void TearDown() override {
        UiTest::TearDown();
        win_.reset();
        g_bFullScreen = false;
        g_Config.m_config.NotifyMessageFullScreen = savedNotify_;
        SystemParametersInfoW(SPI_SETWORKAREA, 0, nullptr, 0);
    }

    void StartWindow(std::unique_ptr<Win> win) {
        win_ = std::move(win);
        win_->m_cs.ownThread = true;
        ASSERT_EQ(win_->Start(), 0);
        ASSERT_TRUE(WaitFor([this] { return win_->GetState() == CSciterWindow::kStateReady; }));
        hwnd_ = win_->GetHwnd();
        // Ready comes before the making ends with the window hidden; once its thread
        // answers a message, it has ended.
        SendMessageW(hwnd_, WM_NULL, 0, 0);
    }

    // This window's page calls after `after`, as "Name argument-as-JSON".
    std::vector<std::wstring> Calls(std::uint64_t after = 0) const {
        std::vector<std::wstring> calls;
        for (const auto& call : uie::test::PageHost::Calls()) {
            if (call.seq <= after || call.hwnd != hwnd_) continue;
            std::wstring line = text::FromUtf8(call.name);
            if (!call.args.empty()) line += L" " + call.args.front().to_json();
            calls.push_back(line);
        }
        return calls;
    }
    bool WaitForCalls(std::size_t count, std::uint64_t after = 0) const {
        return WaitFor([&] { return Calls(after).size() >= count; });
    }
    void ClickClose() const {
        const HELEMENT close = uie::test::Find(hwnd_, closeSelector_);
        ASSERT_NE(close, nullptr);
        uie::test::RunInPage(hwnd_,
                             [close] { uie::test::SendEvent(close, HANDLE_BEHAVIOR_EVENT, BUTTON_CLICK); });
    }

    std::unique_ptr<Win> win_;
    HWND hwnd_ = nullptr;
    const char* closeSelector_ = "#window-close";

private:
    bool savedNotify_ = true;
};
