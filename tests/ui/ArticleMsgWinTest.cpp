#include "ArticleMsgWin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "UiTestSupport.h"

namespace test = uie::test;
using uie::value;
using namespace std::chrono_literals;

namespace {

value Article(int id) {
    value a = value::make_map();
    a.set_item(value(L"funcName"), value(L"BandArticleSyncMessage"));
    a.set_item(value(L"ID"), value(id));
    return a;
}

class ArticleMsgWinTest : public UiTest {
protected:
    void TearDown() override {
        UiTest::TearDown();
        g_pArticleMsgWin.store(nullptr);
    }

    // The article IDs the window's page was handed, in order.
    static std::vector<int> Shown(HWND hwnd) {
        std::vector<int> ids;
        for (const auto& call : test::PageHost::Calls()) {
            if (call.hwnd == hwnd && call.name == "BandArticleSyncMessage" && !call.args.empty())
                ids.push_back(call.args.front().get_item(value(L"ID")).get_int());
        }
        return ids;
    }

    static void Click(HWND hwnd) {
        const HELEMENT close = test::Find(hwnd, "#window-close");
        ASSERT_NE(close, nullptr);
        test::RunInPage(hwnd, [close] { test::SendEvent(close, HANDLE_BEHAVIOR_EVENT, BUTTON_CLICK); });
    }

    const std::wstring page_ = ScrambledPage("msg-article.htm");
};

TEST_F(ArticleMsgWinTest, TheLastCloseEndsTheWindowAndItsThreadAndTheNextArticleMakesANewOne) {
    ASSERT_TRUE(CArticleMsgWin::Deliver(page_, Article(1)));
    ASSERT_TRUE(CArticleMsgWin::Deliver(page_, Article(2)));
    std::shared_ptr<CArticleMsgWin> first = g_pArticleMsgWin.load();
    ASSERT_NE(first, nullptr);
    const HWND hwnd = first->GetHwnd();
    const HANDLE thread = first->m_cs.hThread;
    EXPECT_NE(GetWindowThreadProcessId(hwnd, nullptr), GetCurrentThreadId());
    // Shown once its page has the article: the page is handed it first.
    ASSERT_TRUE(WaitFor([&] { return Shown(hwnd).size() == 1 && IsWindowVisible(hwnd); }));

    // The close button shows the next one, which stayed queued behind the first.
    Click(hwnd);
    ASSERT_TRUE(WaitFor([&] { return Shown(hwnd).size() == 2; }));
    EXPECT_EQ(Shown(hwnd), (std::vector<int>{1, 2}));

    // The page's own close call (from the share object) ends it after the last one.
    first->ShowNextArticle();
    EXPECT_EQ(g_pArticleMsgWin.load(), nullptr);
    EXPECT_TRUE(g_UiThreads.WaitThread(thread, kGenerousWait.count()));
    EXPECT_FALSE(IsWindow(hwnd));
    first->ShowNextArticle();  // a late second close changes nothing
    EXPECT_FALSE(first->AddArticle(Article(9)));
    // Deleted once its thread has let go of it and the last holder drops it.
    const std::weak_ptr<CArticleMsgWin> ended = first;
    first.reset();
    EXPECT_TRUE(WaitFor([&] { return ended.expired(); }));

    ASSERT_TRUE(CArticleMsgWin::Deliver(page_, Article(3)));
    std::shared_ptr<CArticleMsgWin> second = g_pArticleMsgWin.load();
    ASSERT_NE(second, nullptr);
    const HWND next = second->GetHwnd();
    const HANDLE nextThread = second->m_cs.hThread;
    EXPECT_NE(next, hwnd);
    // Closed with nobody else holding it: the click must not delete the window under itself.
    second.reset();
    ASSERT_TRUE(WaitFor([&] { return Shown(next).size() == 1; }));
    Click(next);
    EXPECT_TRUE(g_UiThreads.WaitThread(nextThread, kGenerousWait.count()));
    EXPECT_EQ(g_pArticleMsgWin.load(), nullptr);
    EXPECT_EQ(Shown(next), (std::vector<int>{3}));
    EXPECT_EQ(Shown(hwnd), (std::vector<int>{1, 2}));
}

TEST_F(ArticleMsgWinTest, AnArticleQueuedBeforeTheWindowIsMadeIsShownOnceItIs) {
    const auto window = std::make_shared<CArticleMsgWin>(page_);
    ASSERT_TRUE(window->AddArticle(Article(1)));  // not made yet: nothing to post to
    ASSERT_EQ(window->Start(), 0);
    EXPECT_TRUE(WaitFor([&] { return window->GetHwnd() != nullptr && Shown(window->GetHwnd()).size() == 1; }));
    const HANDLE thread = window->m_cs.hThread;
    window->ShowNextArticle();
    EXPECT_TRUE(g_UiThreads.WaitThread(thread, kGenerousWait.count()));
}

TEST_F(ArticleMsgWinTest, AWindowWhosePageFailsIsNotWaitedForForever) {
    EXPECT_FALSE(CArticleMsgWin::Deliver(ScrambledPage("msg-no-such-page.htm"), Article(1)));
    EXPECT_EQ(g_pArticleMsgWin.load(), nullptr);
}

}  // namespace
