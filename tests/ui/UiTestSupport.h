// Page windows for tests: a window that records what reached it, the test pages, and
// a fixture that ends every UI thread after each test as start-up does at exit.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Communication.h"
#include "EngineTest.h"
#include "Quorvix.h"
#include "SciterWindow.h"
#include "Text.h"
#include "UiThreadManager.h"
#include "WaitFor.h"

// A test page as the build stored it (scrambled .uih only, no plain .htm beside it).
inline std::wstring ScrambledPage(const std::string& name) {
    return text::FromUtf8(std::string(QUORV_UI_SCRAMBLED_PAGES) + "/" + name);
}

// A name no earlier run wrote to the shared log file.
inline std::wstring Unique(const std::wstring& base) {
    static const unsigned run = std::random_device{}();
    static std::atomic<unsigned> counter{0};
    return base + L"-" + std::to_wstring(run) + L"-" + std::to_wstring(++counter);
}

class ProbeWindow : public CSciterWindow {
public:
    ProbeWindow(std::wstring page, bool ownThread, std::wstring name) {
        m_cs.page = std::move(page);
        m_cs.ownThread = ownThread;
        m_cs.name = std::move(name);
    }

    std::function<void(WPARAM)> onCommand;  // set before Start; runs on the window's thread
    std::atomic<int> inits{0}, loads{0};
    std::atomic<bool> commBeforeLoad{false};
    std::atomic<WPARAM> lastCommand{0};
    std::atomic<DWORD> commandThread{0};

protected:
    void Init() override {
        ++inits;
        CSciterWindow::Init();
    }
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override {
        commandThread = GetCurrentThreadId();
        if (onCommand) onCommand(wParam);
        lastCommand = wParam;
        return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
    }
    UINT on_load_data(uie::LoadDataNotice* notice) override {
        if (loads++ == 0) commBeforeLoad = uie::HasNative(SciterGetVM(notice->hwnd), "comm");
        return CSciterWindow::on_load_data(notice);
    }
};

// g_pCommunication for the length of a test.
struct CommScope {
    CommScope() { g_pCommunication = &comm; }
    ~CommScope() { g_pCommunication = nullptr; }
    CCommunication comm;
};

// Ends every registered UI thread and removes it, as start-up's wait does at exit.
inline void EndUiThreads() {
    g_UiThreads.QuitAll();
    while (g_UiThreads.GetCount() > 0) {
        const int ended = g_UiThreads.WaitAnyEnded(3000);
        ASSERT_GE(ended, 0) << "a UI thread did not end";
        g_UiThreads.RemoveThread(ended);
    }
    g_nRunState = 1;
}

class UiTest : public ::testing::Test {
protected:
    void SetUp() override { uie::test::PageHost::Reset(); }
    void TearDown() override {
        EndUiThreads();
        windows_.clear();
        // A window destroyed on this thread leaves its quit message here.
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    ProbeWindow& Make(const std::wstring& page, bool ownThread, const std::wstring& name = L"ProbeWindow") {
        windows_.push_back(std::make_unique<ProbeWindow>(page, ownThread, name));
        return *windows_.back();
    }
    // Starts an own-thread window and waits until its page is loaded.
    ProbeWindow& Ready(const std::string& page, const std::wstring& name = L"ProbeWindow") {
        ProbeWindow& w = Make(ScrambledPage(page), true, name);
        EXPECT_EQ(w.Start(), 0);
        EXPECT_TRUE(WaitFor([&w] { return w.GetState() == CSciterWindow::kStateReady; }));
        return w;
    }

    std::vector<std::unique_ptr<ProbeWindow>> windows_;
};
