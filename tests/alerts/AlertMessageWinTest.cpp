#include "AlertMessageWin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "../ui/NotificationWinFixture.h"
#include "Config.h"
#include "global.h"

namespace test = uie::test;
using uie::value;
using namespace std::chrono_literals;

namespace {

value PopupAlert(int alertNo, int no, const wchar_t* message) {
    value m = value::make_map();
    m.set_item(value(L"title"), value(L"Quorv提醒"));
    m.set_item(value(L"alertNo"), value(alertNo));
    m.set_item(value(L"no"), value(no));
    m.set_item(value(L"message"), value(message));
    return m;
}

class AlertMessageWinTest : public NotificationWinTest<CAlertMessageWin> {
protected:
    void SetUp() override {
        NotificationWinTest::SetUp();
        savedPage_ = g_Config.m_config.alertPopPage;
        g_Config.m_config.alertPopPage = ScrambledPage("alert-popwin.htm");
        closeSelector_ = "window-close";
    }
    void TearDown() override {
        NotificationWinTest::TearDown();
        g_Config.m_config.alertPopPage = savedPage_;
    }

    void Start() { StartWindow(std::make_unique<CAlertMessageWin>()); }
    // Everything posted to the window before has run: posted commands run in order, and
    // an added text for no queued alert ends with a page call.
    void Drain() const {
        const std::uint64_t seq = test::PageHost::LastSeq();
        ASSERT_EQ(win_->SetAdditionalMessage(-7, -7, L"drain"), 0);
        ASSERT_TRUE(test::PageHost::WaitForCall("UpdateAlertMessage", 3s, seq).has_value());
    }

    std::wstring savedPage_;
};

TEST_F(AlertMessageWinTest, SitsAtTheCornerOfTheWorkAreaDragsByItsCaptionAndNeverFades) {
    const RECT work{0, 40, 1920, 1080};  // the task bar at the top
    SystemParametersInfoW(SPI_SETWORKAREA, 0, const_cast<RECT*>(&work), 0);
    Start();
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(hwnd_, &rect));
    EXPECT_EQ(rect.left, 1920 - 300 - 20);
    EXPECT_EQ(rect.top, (1080 - 40) - 200);
    EXPECT_EQ(rect.right - rect.left, 300);
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    const auto hitTest = [this, &rect](int x, int y) {
        const DWORD at = MAKELONG(static_cast<WORD>(rect.left + x), static_cast<WORD>(rect.top + y));
        return SendMessageW(hwnd_, WM_NCHITTEST, 0, static_cast<LPARAM>(at));
    };
    EXPECT_EQ(hitTest(10, 10), 2);   // caption
    EXPECT_EQ(hitTest(280, 10), 1);  // close element
    EXPECT_EQ(hitTest(10, 100), 1);

    // Nothing sets a fade total, so a stray fade tick ends the timer and hides nothing.
    ShowWindow(hwnd_, SW_SHOW);
    ASSERT_NE(SetTimer(hwnd_, CAlertMessageWin::kFadeTimer, 100000, nullptr), 0u);
    SendMessageW(hwnd_, WM_TIMER, CAlertMessageWin::kFadeTimer, 0);
    EXPECT_FALSE(KillTimer(hwnd_, CAlertMessageWin::kFadeTimer));
    EXPECT_TRUE(IsWindowVisible(hwnd_));
}

TEST_F(AlertMessageWinTest, AlertsOfOneMinuteAreShownInTurnEachUntilItIsClosedOrAnswered) {
    Start();
    value own = PopupAlert(3, 1, L"third");
    own.set_item(value(L"funcName"), value(L"ShowOwnAlert"));
    win_->AddAlert(PopupAlert(1, 1, L"first"));
    win_->AddAlert(PopupAlert(2, 1, L"second"));
    win_->AddAlert(own);
    ASSERT_TRUE(WaitForCalls(1));
    // The later show requests show the same front again: nothing moves on by itself.
    ASSERT_TRUE(WaitFor([this] { return Calls().size() == 3; }));
    for (const std::wstring& call : Calls()) {
        EXPECT_EQ(call, L"AlertPopwinBandAlertInfo {\"title\":\"Quorv提醒\",\"alertNo\":1,\"no\":1,\"message\":\"first\"}");
    }
    EXPECT_TRUE(IsWindowVisible(hwnd_));
    EXPECT_EQ(win_->GetQueue().size(), 3u);

    // Closed on the page: the next one.
    std::uint64_t seq = test::PageHost::LastSeq();
    ClickClose();
    ASSERT_TRUE(WaitForCalls(1, seq));
    EXPECT_EQ(Calls(seq).front(),
              L"AlertPopwinBandAlertInfo {\"title\":\"Quorv提醒\",\"alertNo\":2,\"no\":1,\"message\":\"second\"}");
    // Answered from another page's thread: the next one, through its own function.
    seq = test::PageHost::LastSeq();
    std::async(std::launch::async, [this] { win_->ShowNext(); }).get();
    ASSERT_TRUE(WaitForCalls(1, seq));
    EXPECT_EQ(Calls(seq).front().rfind(L"ShowOwnAlert {", 0), 0u);
    EXPECT_TRUE(IsWindowVisible(hwnd_));

    // The last one gone: hidden, and the page is not called again.
    seq = test::PageHost::LastSeq();
    win_->ShowNext();
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    EXPECT_TRUE(win_->GetQueue().empty());
    win_->ShowNext();  // nothing queued: stays hidden
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_ALERTMSGWIN_SHOW, 0);
    Drain();
    EXPECT_EQ(Calls(seq), (std::vector<std::wstring>{L"UpdateAlertMessage \"drain\""}));
    EXPECT_FALSE(IsWindowVisible(hwnd_));
}

TEST_F(AlertMessageWinTest, FullScreenWithoutNotifyingStillCallsThePageButStaysHidden) {
    Start();
    g_bFullScreen = true;
    g_Config.m_config.NotifyMessageFullScreen = false;
    win_->AddAlert(PopupAlert(1, 1, L"quiet"));
    ASSERT_TRUE(WaitForCalls(1));
    Drain();
    EXPECT_FALSE(IsWindowVisible(hwnd_));

    g_Config.m_config.NotifyMessageFullScreen = true;
    win_->ShowNext();
    win_->AddAlert(PopupAlert(2, 1, L"shown"));
    ASSERT_TRUE(WaitForCalls(2));
    ASSERT_TRUE(WaitFor([this] { return IsWindowVisible(hwnd_) != FALSE; }));
}

TEST_F(AlertMessageWinTest, AnAddedTextGoesToItsQueuedAlertElseToThePageAsText) {
    // The first alert stays on the page until released, so the queue is read meanwhile.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> showing{false};
    test::PageHost::RegisterForPage(L"/alert-popwin.htm", "AlertPopwinBandAlertInfo", [&](const test::PageCall&) {
        showing = true;
        released.wait_for(3s);
        return value();
    });
    Start();
    win_->AddAlert(PopupAlert(5, 1, L"shown"));
    ASSERT_TRUE(WaitFor([&] { return showing.load(); }));
    win_->AddAlert(PopupAlert(6, 2, L"waiting"));

    // Answered while the page is still busy: the queue is not held across a page call.
    auto matched = std::async(std::launch::async, [this] { return win_->SetAdditionalMessage(6, 2, L"更多"); });
    ASSERT_EQ(matched.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(matched.get(), 1);
    EXPECT_EQ(win_->GetQueue().at(1).get_item(value(L"additionalMessage")).get_string(), L"更多");
    EXPECT_TRUE(win_->GetAdditionalMessages().empty());
    // No queued alert has these numbers: the page gets the text as it stands, JSON or not.
    EXPECT_EQ(win_->SetAdditionalMessage(6, 3, L"{\"note\":1}"), 0);
    release.set_value();
    const auto update = test::PageHost::WaitForCall("UpdateAlertMessage", 3s);
    ASSERT_TRUE(update.has_value());
    ASSERT_EQ(update->args.size(), 1u);
    EXPECT_EQ(update->args[0].get_string(), L"{\"note\":1}");
    ASSERT_EQ(win_->GetAdditionalMessages().size(), 1u);
    EXPECT_EQ(win_->GetAdditionalMessages()[0].no, 3);

    // The waiting alert reaches the page with the text it took.
    const std::uint64_t seq = test::PageHost::LastSeq();
    win_->ShowNext();
    ASSERT_TRUE(WaitForCalls(1, seq));
    EXPECT_NE(Calls(seq).front().find(L"\"additionalMessage\":\"更多\""), std::wstring::npos);

    // A text for the alert on show redraws it with the text.
    const std::uint64_t shown = test::PageHost::LastSeq();
    EXPECT_EQ(win_->SetAdditionalMessage(6, 2, L"再多"), 1);
    ASSERT_TRUE(WaitForCalls(1, shown));
    EXPECT_NE(Calls(shown).front().find(L"\"additionalMessage\":\"再多\""), std::wstring::npos);
}

}  // namespace
