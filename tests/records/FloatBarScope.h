// A floating bar with its pop-ups on a plain page, as the main frame's thread serves it in
// the program, for tests that read what is posted to the pop-ups. The configuration and
// the bar global are restored when it goes.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "Config.h"
#include "FloatBarWin.h"
#include "Text.h"
#include "UiThreadManager.h"
#include "WaitFor.h"

class FloatBarScope {
public:
    explicit FloatBarScope(const std::filesystem::path& dir)
        : savedConfig_(g_Config.m_config), savedBar_(g_pFloatBarWin) {
        std::ofstream(dir / "pop.htm") << "<html><body></body></html>";
        const std::wstring page = text::FromUtf8((dir / "pop.htm").string());
        struConfig& c = g_Config.m_config;
        c.popPage = c.floatUserEnvPage = c.floatHealthNotePage = c.floatUserOpPage = c.floatNavigationPage =
            c.floatAlertPage = page;
        c.FloatBarInfo = {0, -1, -1};
        bar_ = std::make_unique<CFloatBarWin>();
        g_pFloatBarWin = bar_.get();
        bar_->Start();
        // The note pop-up loads its page on a thread of its own; it must be up before it can end.
        const CPopWin* note = bar_->GetPopup(CFloatBarWin::kNote);
        EXPECT_TRUE(note != nullptr && WaitFor([note] { return note->GetState() == CSciterWindow::kStateReady; }));
    }
    ~FloatBarScope() {
        g_pFloatBarWin = savedBar_;
        // Its thread ends and is waited for before the pop-up it runs is freed.
        if (const CPopWin* note = bar_->GetPopup(CFloatBarWin::kNote)) SendMessageW(note->GetHwnd(), WM_QUIT, 0, 0);
        while (g_UiThreads.GetCount() > 0) {
            const int ended = g_UiThreads.WaitAnyEnded(3000);
            if (ended < 0) break;
            g_UiThreads.RemoveThread(ended);
        }
        bar_.reset();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        g_Config.m_config = savedConfig_;
    }
    // The commands posted to the surroundings pop-up.
    std::vector<WORD> SurroundCommands() const {
        std::vector<WORD> ids;
        const CPopWin* surround = bar_->GetPopup(CFloatBarWin::kSurround);
        MSG msg;
        while (surround != nullptr && PeekMessageW(&msg, surround->GetHwnd(), WM_COMMAND, WM_COMMAND, PM_REMOVE))
            ids.push_back(LOWORD(msg.wParam));
        return ids;
    }

private:
    struConfig savedConfig_;
    CFloatBarWin* savedBar_;
    std::unique_ptr<CFloatBarWin> bar_;
};
