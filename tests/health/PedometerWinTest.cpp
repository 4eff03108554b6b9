#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "PedometerWinFixture.h"
#include "UiThreadManager.h"
#include "share.h"

namespace {

using Calls = std::vector<std::string>;

LPARAM ScreenPoint(const RECT& window, int x, int y) {
    return static_cast<LPARAM>(MAKELONG(static_cast<WORD>(window.left + x), static_cast<WORD>(window.top + y)));
}

TEST_F(PedometerWinTest, IsARoundedPopUpWithItsTitleWhosePageIsStartedDraggedByItsCaptionAndOnlyHidden) {
    EXPECT_TRUE(pedometer_->m_cs.ownThread);
    EXPECT_EQ(pedometer_->m_cs.name, L"PedometerWin");
    EXPECT_EQ(pedometer_->m_cs.page, g_Config.m_config.pedometerPage);
    EXPECT_EQ(pedometer_->m_cs.style, 0x90080000u);
    EXPECT_EQ(pedometer_->m_cs.exStyle, 0u);
    EXPECT_TRUE(pedometer_->m_cs.showOnCreate);

    StartPage();
    wchar_t title[64] = {};
    GetWindowTextW(hwnd_, title, 64);
    EXPECT_STREQ(title, L"运动跟踪---计步器");
    HRGN__ region{};
    ASSERT_TRUE(GetWindowRegion(hwnd_, &region));
    EXPECT_EQ(region.ellipseWidth, 6);
    EXPECT_EQ(region.ellipseHeight, 6);
    EXPECT_EQ(region.box.right - region.box.left, 600);
    EXPECT_EQ(PageCalls(), Calls{"PageInit 1"});  // posted by Init, so the page is whole first

    RECT rect{};
    ASSERT_TRUE(GetWindowRect(hwnd_, &rect));
    EXPECT_EQ(SendMessageW(hwnd_, WM_NCHITTEST, 0, ScreenPoint(rect, 10, 10)), 2);
    EXPECT_EQ(SendMessageW(hwnd_, WM_NCHITTEST, 0, ScreenPoint(rect, 580, 10)), 1);  // the close button
    EXPECT_EQ(SendMessageW(hwnd_, WM_NCHITTEST, 0, ScreenPoint(rect, 10, 200)), 1);

    // The close button only hides the window and leaves the click to the page.
    EXPECT_FALSE(uie::test::SendEvent(uie::test::Find(hwnd_, "#window-caption"), HANDLE_BEHAVIOR_EVENT, BUTTON_CLICK));
    EXPECT_TRUE(IsWindowVisible(hwnd_));
    EXPECT_FALSE(uie::test::SendEvent(uie::test::Find(hwnd_, "#window-close"), HANDLE_BEHAVIOR_EVENT, BUTTON_CLICK));
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    EXPECT_TRUE(IsWindow(hwnd_));
}

TEST_F(PedometerWinTest, EachPostCallsItsPageFunctionOnTheWindowsThread) {
    EXPECT_FALSE(pedometer_->PostDeviceData());  // no window yet: nothing posted anywhere
    StartPage();
    const std::uint64_t after = uie::test::PageHost::LastSeq() + 1;  // PageInit stays out
    Pump();
    EXPECT_TRUE(pedometer_->PostRefreshPedoData(7));
    EXPECT_TRUE(pedometer_->PostDeviceData());
    EXPECT_TRUE(pedometer_->PostOpenSettingsWin());
    EXPECT_TRUE(pedometer_->PostPageInit());
    EXPECT_TRUE(pedometer_->PostBandPedoRankInfo());
    PostMessageW(hwnd_, WM_COMMAND, 0x8089, 0);  // not the window's: the base, which ignores it
    EXPECT_EQ(PageCalls(after), (Calls{"RefreshPedoData 7", "DeviceData", "OpenSettingsWin 1", "PageInit 1",
                                       "BandPedoRankInfo"}));
    for (const auto& call : uie::test::PageHost::Calls()) {
        if (call.hwnd != hwnd_) continue;
        EXPECT_EQ(call.thread, GetCurrentThreadId());
    }
}

// The server's ranking: fields 3..14 are 1..12.
PacketReply RankReply(const PacketRequest&) {
    return PacketReply::Fields({"0", "ok", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"});
}

TEST_F(PedometerWinTest, TheRankingIsAskedBeforeAnyReplyAndThenOnlyOnceItIsOlderThanTenMinutes) {
    StartPage();
    server_.OnCommand(0x1180, RankReply);
    EXPECT_EQ(pedometer_->QuestPedoRank(), 0);
    ASSERT_TRUE(PumpUntil([this] { return pedometer_->GetPedoRank().diff_avg_rankRate == 12; }));
    ASSERT_TRUE(PumpUntil([this] { return !PageCalls().empty() && PageCalls().back() == "BandPedoRankInfo"; }));
    EXPECT_EQ(server_.Requests().at(0).fields, (std::vector<std::string>{"-1"}));

    clock_ += 600000;
    EXPECT_EQ(pedometer_->QuestPedoRank(), 0);
    EXPECT_EQ(RankRequests(), 1u);
    clock_ += 1;
    EXPECT_EQ(pedometer_->QuestPedoRank(), 0);
    EXPECT_TRUE(server_.WaitForRequests(2));
    EXPECT_EQ(RankRequests(), 2u);
}

TEST_F(PedometerWinTest, ARefusedRankingChangesNothingSoTheNextOpeningAsksAgain) {
    StartPage();
    clock_ = 0;  // a first reply at tick 0 is still a reply
    EXPECT_EQ(pedometer_->BussDataProc_PedoRank(L"-5\x02no\x02" L"1\x02" L"2\x02"), -5);
    const struPedoRank start;
    EXPECT_EQ(pedometer_->GetPedoRank().all_rank, start.all_rank);
    EXPECT_EQ(pedometer_->GetPedoRank().diff_avg_rankRate, -99999999);
    EXPECT_EQ(PageCalls(), Calls{"PageInit 1"});  // no ranking to show
    EXPECT_EQ(pedometer_->QuestPedoRank(), 0);
    EXPECT_TRUE(server_.WaitForRequests(1));

    // Short, empty, or without a numeric code: failures that change nothing either.
    const std::wstring figures = L"1\x02" L"2\x02" L"3\x02" L"4\x02" L"5\x02" L"6\x02" L"7\x02" L"8\x02" L"9\x02"
                                 L"10\x02" L"11\x02" L"12\x02";
    for (const std::wstring& reply : {std::wstring(L"0\x02ok\x02" L"4\x02"), std::wstring(),
                                      L"ok\x02ok\x02" + figures, L"0\x02ok\x02" + figures.substr(0, figures.size() - 3)})
        EXPECT_EQ(pedometer_->BussDataProc_PedoRank(reply), -1) << text::ToUtf8(reply);
    EXPECT_EQ(pedometer_->GetPedoRank().all_rank, start.all_rank);
    EXPECT_EQ(pedometer_->QuestPedoRank(), 0);
    EXPECT_TRUE(server_.WaitForRequests(2));

    EXPECT_EQ(pedometer_->BussDataProc_PedoRank(L"0\x02ok\x02" + figures), 0);
    EXPECT_EQ(pedometer_->QuestPedoRank(), 0);  // within the ten minutes of tick 0
    clock_ = 600001;
    EXPECT_EQ(pedometer_->QuestPedoRank(), 0);
    EXPECT_TRUE(server_.WaitForRequests(3));
    EXPECT_EQ(PageCalls(), (Calls{"PageInit 1", "BandPedoRankInfo"}));
}

}  // namespace

namespace {

// Waits for the UI threads of the windows the test deleted and removes them, as
// start-up's wait does.
void EndUiThreads() {
    while (g_UiThreads.GetCount() > 0) {
        const int ended = g_UiThreads.WaitAnyEnded(3000);
        ASSERT_GE(ended, 0) << "a UI thread did not end";
        g_UiThreads.RemoveThread(ended);
    }
}

TEST_F(PedometerWinTest, OpeningMakesTheWindowOnItsOwnThreadWithThePedometerObjectAndAsksTheRanking) {
    StartPage();  // only for its page file
    const std::wstring page = pedometer_->m_cs.page;
    struct Restore {
        ~Restore() {
            g_pPedometer = window;
            g_Config.m_config.pedometerPage = page;
            EndUiThreads();
        }
        CPedometerWin* window;
        std::wstring page;
    } restore{g_pPedometer.exchange(nullptr), std::exchange(g_Config.m_config.pedometerPage, page)};

    server_.OnCommand(0x1180, [](const PacketRequest&) {
        PacketReply none;  // no reply may reach the window the test deletes
        none.noReply = true;
        return none;
    });
    const std::uint64_t before = uie::test::PageHost::LastSeq();
    ASSERT_TRUE(OpenPedometerWin(2));
    std::unique_ptr<CPedometerWin> opened(g_pPedometer.load());  // made for the program's life
    ASSERT_NE(opened, nullptr);
    ASSERT_TRUE(WaitFor([&opened] { return opened->GetState() == CSciterWindow::kStateReady; }));
    const auto init = uie::test::PageHost::WaitForCall("PageInit", std::chrono::seconds(3), before);
    ASSERT_TRUE(init.has_value());
    EXPECT_EQ(init->hwnd, opened->GetHwnd());
    EXPECT_NE(init->thread, GetCurrentThreadId());
    const std::vector<std::string> natives = uie::NativeNames(opened->IsReady());
    EXPECT_NE(std::find(natives.begin(), natives.end(), "pedometer"), natives.end());
    EXPECT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(RankRequests(), 1u);
}

}  // namespace
