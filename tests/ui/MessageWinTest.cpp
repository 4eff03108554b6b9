#include "MessageWin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Config.h"
#include "NotificationWinFixture.h"
#include "UiTestSupport.h"
#include "global.h"

namespace test = uie::test;
using uie::value;
using namespace std::chrono_literals;

namespace {

value Message(const wchar_t* text) {
    value m = value::make_map();
    m.set_item(value(L"text"), value(text));
    return m;
}

value Alert(value alertNo, int no, const wchar_t* text) {
    value m = Message(text);
    m.set_item(value(L"alertNo"), std::move(alertNo));
    m.set_item(value(L"no"), value(no));
    return m;
}

class MessageWinTest : public NotificationWinTest<CMessageWin> {
protected:
    void Start() { StartWindow(std::make_unique<CMessageWin>(ScrambledPage("msg-window.htm"))); }
};

TEST_F(MessageWinTest, SitsAtTheCornerAboveATopTaskBarAndDragsByItsCaption) {
    const RECT work{0, 40, 1920, 1080};  // the task bar at the top
    SystemParametersInfoW(SPI_SETWORKAREA, 0, const_cast<RECT*>(&work), 0);
    Start();
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(hwnd_, &rect));
    EXPECT_EQ(rect.left, 1920 - 260 - 20);
    EXPECT_EQ(rect.top, (1080 - 40) - 180);
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    const auto hitTest = [this, &rect](int x, int y) {
        const DWORD at = MAKELONG(static_cast<WORD>(rect.left + x), static_cast<WORD>(rect.top + y));
        return SendMessageW(hwnd_, WM_NCHITTEST, 0, static_cast<LPARAM>(at));
    };
    EXPECT_EQ(hitTest(10, 10), 2);   // caption
    EXPECT_EQ(hitTest(240, 10), 1);  // close button
    EXPECT_EQ(hitTest(10, 100), 1);
}

TEST_F(MessageWinTest, QueuedMessagesReachThePageInOrderOnceEachAndTheLastCloseHides) {
    Start();
    value wrapped = value::make_array();  // the shape the public messages and self-tests queue
    wrapped.append(Message(L"b"));
    win_->AddMessage(Message(L"a"));
    win_->AddMessage(wrapped);
    win_->AddMessage(Message(L"c"));
    ASSERT_TRUE(WaitForCalls(3));
    EXPECT_EQ(Calls(), (std::vector<std::wstring>{L"BandCommonMessage {\"text\":\"a\"}",
                                                  L"BandCommonMessage [{\"text\":\"b\"}]",
                                                  L"BandCommonMessage {\"text\":\"c\"}"}));
    EXPECT_TRUE(IsWindowVisible(hwnd_));

    // A message may name its own page function, also inside an array.
    value named = Message(L"d");
    named.set_item(value(L"funcName"), value(L"ShowAlert"));
    wrapped.set_nth(0, named);
    win_->AddMessage(wrapped);
    ASSERT_TRUE(WaitForCalls(4));
    EXPECT_EQ(Calls().back(), L"ShowAlert [{\"text\":\"d\",\"funcName\":\"ShowAlert\"}]");

    // None left: the close button hides the window and calls nothing.
    const std::uint64_t seq = test::PageHost::LastSeq();
    ClickClose();
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    // A show request with nothing queued hides too, and tells the page.
    ShowWindow(hwnd_, SW_SHOW);
    PostMessageW(hwnd_, WM_COMMAND, ID_CMD_MESSAGEWIN_SHOW, 0);
    ASSERT_TRUE(WaitForCalls(1, seq));
    EXPECT_EQ(Calls(seq), (std::vector<std::wstring>{L"CloseWinAfterProc"}));
    EXPECT_FALSE(IsWindowVisible(hwnd_));
}

TEST_F(MessageWinTest, AMessageQueuedBeforeTheWindowExistsIsShownOnceItDoes) {
    auto win = std::make_unique<CMessageWin>(ScrambledPage("msg-window.htm"));
    win->AddMessage(Message(L"early"));  // published, not made yet: nothing to post to
    StartWindow(std::move(win));
    ASSERT_TRUE(WaitForCalls(1));
    EXPECT_EQ(Calls(), (std::vector<std::wstring>{L"BandCommonMessage {\"text\":\"early\"}"}));
    EXPECT_TRUE(WaitFor([this] { return IsWindowVisible(hwnd_) != FALSE; }));
}

TEST_F(MessageWinTest, AnAddedTextGoesToItsQueuedMessageElseToTheMessageShown) {
    // The first message stays on the page until released, so the others wait in the queue.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> showing{false};
    test::PageHost::RegisterForPage(L"/msg-window.htm", "BandCommonMessage", [&](const test::PageCall&) {
        showing = true;
        released.wait_for(3s);
        return value();
    });
    Start();
    win_->AddMessage(Message(L"first"));
    ASSERT_TRUE(WaitFor([&] { return showing.load(); }));
    win_->AddMessage(Alert(value(5), 1, L"queued"));
    win_->AddMessage(Alert(value(L"6"), 1, L"text number"));

    // Answered while the page is still busy: the queue is not held across a page call.
    auto matched = std::async(std::launch::async, [this] { return win_->SetAdditionalMessage(5, 1, L"更多"); });
    ASSERT_EQ(matched.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(matched.get(), 1);
    EXPECT_EQ(win_->SetAdditionalMessage(9, 9, L"{\"note\":\"n\"}"), 0);
    release.set_value();
    ASSERT_TRUE(test::PageHost::WaitForCall("UpdateAlertMessage", 3s));
    ASSERT_TRUE(WaitForCalls(4));
    EXPECT_EQ(Calls(), (std::vector<std::wstring>{
                           L"BandCommonMessage {\"text\":\"first\"}",
                           L"BandCommonMessage {\"text\":\"queued\",\"alertNo\":5,\"no\":1,"
                           L"\"additionalMessage\":\"更多\"}",
                           L"BandCommonMessage {\"text\":\"text number\",\"alertNo\":\"6\",\"no\":1}",
                           L"UpdateAlertMessage {\"note\":\"n\"}"}));

    // A number written as text never matches; a text that is no JSON reaches the page as text.
    const std::uint64_t seq = test::PageHost::LastSeq();
    EXPECT_EQ(win_->SetAdditionalMessage(6, 1, L"plain words"), 0);
    ASSERT_TRUE(WaitForCalls(1, seq));
    EXPECT_EQ(Calls(seq), (std::vector<std::wstring>{L"UpdateAlertMessage \"plain words\""}));
}

TEST_F(MessageWinTest, FullScreenWithoutNotifyingStillCallsThePageButStaysHidden) {
    Start();
    g_bFullScreen = true;
    g_Config.m_config.NotifyMessageFullScreen = false;
    win_->AddMessage(Message(L"quiet"));
    ASSERT_TRUE(WaitForCalls(1));
    SendMessageW(hwnd_, WM_NULL, 0, 0);  // the show step has ended once the thread answers
    EXPECT_FALSE(IsWindowVisible(hwnd_));

    g_Config.m_config.NotifyMessageFullScreen = true;
    win_->AddMessage(Message(L"shown"));
    ASSERT_TRUE(WaitForCalls(2));
    EXPECT_TRUE(IsWindowVisible(hwnd_));
}

}  // namespace
