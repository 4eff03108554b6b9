#include "Shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "Hooks.h"
#include "Text.h"

namespace {

// A plain window of the test thread, and the commands posted to it.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        static const ATOM registered = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = DefWindowProcW;
            wc.lpszClassName = L"QuorvShellTestWindow";
            return RegisterClassExW(&wc);
        }();
        ASSERT_NE(registered, 0);
        hwnd_ = CreateWindowExW(0, L"QuorvShellTestWindow", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd_, nullptr);
    }
    void TearDown() override {
        DestroyWindow(hwnd_);
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    std::vector<WPARAM> Commands() {
        std::vector<WPARAM> ids;
        MSG msg{};
        while (PeekMessageW(&msg, hwnd_, WM_COMMAND, WM_COMMAND, PM_REMOVE)) ids.push_back(msg.wParam);
        return ids;
    }

    NOTIFYICONDATAW Icon(UINT flags) const {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof data;
        data.hWnd = hwnd_;
        data.uID = 7;
        data.uFlags = flags;
        return data;
    }

    HWND hwnd_ = nullptr;
};

TEST_F(ShellTest, NotifyIconsKeepOnlyWhatTheFlagsNameAndNeverReadPastTheirFields) {
    NOTIFYICONDATAW data = Icon(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uCallbackMessage = 0x8064;
    data.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(143));
    text::CopyW(data.szTip, std::size(data.szTip), L"tip");
    EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &data));  // not added yet
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &data));

    // Only the tip changes; a tip that fills its field without an end is read to 127.
    NOTIFYICONDATAW tip = Icon(NIF_TIP);
    std::fill(std::begin(tip.szTip), std::end(tip.szTip), L'x');
    ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &tip));
    NOTIFYICONDATAW balloon = Icon(NIF_INFO);
    std::fill(std::begin(balloon.szInfoTitle), std::end(balloon.szInfoTitle), L't');
    text::CopyW(balloon.szInfo, std::size(balloon.szInfo), L"text");
    balloon.uTimeout = 10000;
    balloon.dwInfoFlags = NIIF_INFO;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &balloon));

    NotifyIconState state;
    ASSERT_TRUE(GetNotifyIconState(hwnd_, 7, &state));
    EXPECT_EQ(state.callbackMessage, 0x8064u);
    EXPECT_EQ(GetIconResourceId(state.icon), 143);
    EXPECT_EQ(state.tip, std::wstring(127, L'x'));
    EXPECT_EQ(state.infoTitle, std::wstring(63, L't'));
    EXPECT_EQ(state.info, L"text");
    EXPECT_EQ(state.timeout, 10000u);
    EXPECT_EQ(state.infoFlags, NIIF_INFO);

    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &tip));
    EXPECT_FALSE(GetNotifyIconState(hwnd_, 7, &state));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &tip));
}

TEST_F(ShellTest, WindowIconsAreKeptPerWindowAndOnlyTheProgramsIconsLoad) {
    const HICON offline = LoadIconW(nullptr, MAKEINTRESOURCEW(135));
    ASSERT_NE(offline, nullptr);
    EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(999)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(LoadIconW(nullptr, L"named"), nullptr);

    EXPECT_EQ(SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(offline)), 0);
    EXPECT_EQ(SendMessageW(hwnd_, WM_GETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(offline));
    EXPECT_EQ(SendMessageW(hwnd_, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_EQ(SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(offline));
}

TEST_F(ShellTest, MenusAreTheProgramsAndOnlyTheirOwnChoiceReachesTheOwner) {
    const HMENU tray = LoadMenuW(nullptr, MAKEINTRESOURCEW(109));
    ASSERT_NE(tray, nullptr);
    const HMENU file = GetSubMenu(tray, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_NE(GetSubMenu(tray, 1), nullptr);
    EXPECT_EQ(GetSubMenu(tray, 2), nullptr);
    EXPECT_EQ(FindMenuCommand(file, L"退出(&X)"), 105u);
    EXPECT_EQ(FindMenuCommand(file, L"关于(&A) ..."), 0u);  // the other pop-up's
    EXPECT_EQ(FindMenuCommand(tray, L"关于(&A) ..."), 0x68u);
    EXPECT_EQ(GetMenuDefaultItem(file, FALSE, 0), static_cast<UINT>(-1));
    EXPECT_TRUE(SetMenuDefaultItem(file, 0x8004, FALSE));
    EXPECT_FALSE(SetMenuDefaultItem(file, 0x8012, FALSE));
    EXPECT_EQ(GetMenuDefaultItem(file, FALSE, 0), 0x8004u);
    EXPECT_EQ(GetMenuDefaultItem(file, TRUE, 0), 0u);

    // The real default: nobody picks anything.
    EXPECT_TRUE(TrackPopupMenu(file, TPM_RIGHTBUTTON, 5, 5, 0, hwnd_, nullptr));
    EXPECT_TRUE(Commands().empty());
    {
        HookScope scope;
        UINT pick = 0;
        Hooks().trackPopupMenu = [&pick](HWND, HMENU) { return pick; };
        pick = FindMenuCommand(file, L"退出(&X)");
        EXPECT_TRUE(TrackPopupMenu(file, TPM_RIGHTBUTTON, 5, 5, 0, hwnd_, nullptr));
        pick = 0x8012;  // the floating bar's command, not this menu's
        EXPECT_TRUE(TrackPopupMenu(file, TPM_RIGHTBUTTON, 5, 5, 0, hwnd_, nullptr));
        pick = 0x68;  // the other pop-up's
        EXPECT_TRUE(TrackPopupMenu(file, TPM_RIGHTBUTTON, 5, 5, 0, hwnd_, nullptr));
        EXPECT_EQ(Commands(), (std::vector<WPARAM>{105}));
        EXPECT_FALSE(TrackPopupMenu(file, TPM_RIGHTBUTTON, 5, 5, 0, nullptr, nullptr));
    }

    const HMENU bar = LoadMenuW(nullptr, MAKEINTRESOURCEW(147));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(FindMenuCommand(GetSubMenu(bar, 0), L"天气资讯"), 0x8012u);
    EXPECT_EQ(LoadMenuW(nullptr, MAKEINTRESOURCEW(110)), nullptr);

    // Destroying a menu takes its pop-ups with it; their handles are refused afterwards.
    EXPECT_TRUE(DestroyMenu(tray));
    EXPECT_FALSE(DestroyMenu(tray));
    EXPECT_EQ(GetSubMenu(tray, 0), nullptr);
    EXPECT_FALSE(TrackPopupMenu(file, TPM_RIGHTBUTTON, 5, 5, 0, hwnd_, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_MENU_HANDLE);
    EXPECT_TRUE(DestroyMenu(bar));
}

TEST_F(ShellTest, SoundsAreCountedNotPlayed) {
    const std::uint64_t before = GetPlaySoundCount();
    EXPECT_TRUE(PlaySoundW(MAKEINTRESOURCEW(134), nullptr, SND_RESOURCE | SND_NODEFAULT));
    EXPECT_TRUE(PlaySoundW(L"ding.wav", nullptr, SND_FILENAME));
    // A number with the file flag is still a number, never read as a name.
    EXPECT_TRUE(PlaySoundW(MAKEINTRESOURCEW(134), nullptr, SND_FILENAME));
    EXPECT_TRUE(PlaySoundW(nullptr, nullptr, 0));  // stops sounds: nothing is played
    EXPECT_EQ(GetPlaySoundCount() - before, 3u);
}

}  // namespace
