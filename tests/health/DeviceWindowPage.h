// A device window on the test thread with a small page of its own: the commands posted to
// it are read back, or run by pumping its queue and the page functions they called read back.
#pragma once

#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EngineTest.h"
#include "SciterWindow.h"
#include "Text.h"
#include "WaitFor.h"

// Makes `window` on the test thread with a page holding only its caption and close button.
inline void StartBareWindow(CSciterWindow& window, const std::filesystem::path& file) {
    std::ofstream(file) << "<html><body><div id=\"window-caption\"></div>"
                           "<button id=\"window-close\"></button></body></html>";
    window.m_cs.ownThread = false;
    window.m_cs.page = text::FromUtf8(file.string());
    ASSERT_EQ(window.Start(), 0);
}

// The commands posted to `hwnd` since the last call, "8090:1" (id:lParam).
inline std::vector<std::wstring> TakeWindowCommands(HWND hwnd) {
    std::vector<std::wstring> out;
    MSG msg;
    while (PeekMessageW(&msg, hwnd, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
        wchar_t entry[32];
        std::swprintf(entry, 32, L"%04X:%ld", LOWORD(msg.wParam), static_cast<long>(msg.lParam));
        out.push_back(entry);
    }
    return out;
}

class DeviceWindowPage {
protected:
    // Writes `file` declaring `functions` (script text), with a caption and a close button,
    // and makes `window` on the test thread with it.
    void OpenPage(CSciterWindow* window, const std::filesystem::path& file, const char* functions) {
        std::ofstream(file) << "<html data-min-width=\"600\" data-min-height=\"400\"><head>"
                               "<script type=\"text/tiscript\">\n"
                            << functions
                            << "</script></head><body>\n"
                               "<div id=\"window-caption\" data-rect=\"0,0,560,30\">caption</div>\n"
                               "<button id=\"window-close\" data-rect=\"560,0,600,30\">x</button>\n</body></html>";
        window->m_cs.ownThread = false;
        window->m_cs.page = text::FromUtf8(file.string());
        ASSERT_EQ(window->Start(), 0);
        hwnd_ = window->GetHwnd();
    }
    // Runs what was posted to the window (the page calls of its commands).
    void Pump() {
        MSG msg;
        while (hwnd_ != nullptr && PeekMessageW(&msg, hwnd_, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    // The page calls since `after`, "Name" or "Name arg".
    std::vector<std::string> PageCalls(std::uint64_t after = 0) {
        Pump();
        std::vector<std::string> out;
        for (const auto& call : uie::test::PageHost::Calls()) {
            if (call.seq <= after || call.hwnd != hwnd_) continue;
            std::string line = call.name;
            if (!call.args.empty()) line += " " + text::ToUtf8(call.args.front().to_json());
            out.push_back(line);
        }
        return out;
    }
    // Waits, running the window's commands, until the condition holds.
    bool PumpUntil(const std::function<bool()>& done) {
        return WaitFor([&] {
            Pump();
            return done();
        });
    }

    HWND hwnd_ = nullptr;
};
